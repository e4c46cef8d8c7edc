#include <gtest/gtest.h>

#include <optional>

#include "FakeDialogs.h"
#include "RegistryTestSupport.h"
#include "platform/linux/SqliteRegistry.h"
#include "settings/RegistryValues.h"

namespace orvel::settings {
namespace {

using platform::HKEY_LOCAL_MACHINE;

const std::string kKey = "SOFTWARE\\Quarlen\\Corvane\\Network";

RegistryVariant Text(std::string text) {
    return RegistryVariant(std::move(text));
}

class RegistryValuesTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_TRUE(dialogs.ScriptDone()); }

    // Stores bytes exactly as given, bypassing the helpers.
    void PutRaw(const std::string& key, const std::string& name, platform::DWORD type,
                std::string_view bytes) {
        fakes::Seed(registry, HKEY_LOCAL_MACHINE, key, name, type, bytes);
    }
    RegistryVariant Get(const std::string& name, std::int16_t type,
                        const RegistryVariant& fallback = {}) {
        return functGetRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, name, type, fallback);
    }
    RegistryVariant Write(const std::string& name, std::int16_t type, const RegistryVariant& value,
                          const RegistryVariant& fallback = {}) {
        return functWriteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, name, type, value,
                                       fallback);
    }

    platform::SqliteRegistry registry{":memory:"};
    fakes::FakeDialogs dialogs;
    RegistryContext context{registry, dialogs};
};

// Stored bytes read as the kind asked for, whatever type they were stored
// with: text without its one NUL (and whole without it), double words from four
// bytes; the default for what is missing. (Writes read back the other kinds.)
TEST_F(RegistryValuesTest, StoredBytesAreReadAsTheAskedKind) {
    struct Case {
        const char* name;
        std::optional<std::string> stored;  // nullopt: no such value
        platform::DWORD storedType;
        std::int16_t asked;
        RegistryVariant expected;
    };
    const Case cases[] = {
        {"missing key", std::nullopt, 1, 1, Text("default")},
        {"bare", "abc", 1, 1, Text("abc")},
        {"terminated", fakes::Sz("abc"), 1, 1, Text("abc")},
        {"empty", "", 1, 1, Text("")},
        {"number as text", std::string("\x01\x02\0\0", 4), 4, 1,
         Text(std::string("\x01\x02\0", 3))},
        {"number", std::string("\x01\x02\0\0", 4), 4, 4, std::int32_t{0x0201}},
        {"no bytes", "", 3, 3, Text("default")},
        {"missing value", std::nullopt, 1, 4, Text("default")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored) PutRaw(kKey, c.name, c.storedType, *c.stored);
        EXPECT_EQ(Get(c.name, c.asked, Text("default")), c.expected);
    }
}

// A write answers what reads back: numbers and texts converted as the old
// runtime did; what cannot be converted is not written and gives the default.
TEST_F(RegistryValuesTest, WritesCreateTheKeyConvertAndReadBack) {
    struct Case {
        const char* name;  // "" is the key's default value
        std::int16_t type;
        RegistryVariant value;
        RegistryVariant answer;  // with "default" as the default
        RegistryVariant stored;  // read afterwards, "absent" as the default
    };
    const std::vector<std::uint8_t> bytes{0, 1, 254, 255};
    const std::string list("ncacn_ip_tcp\0ncadg_ip_udp\0\0", 27);
    const Case cases[] = {
        {"text", 1, Text("10.0.0.1"), Text("10.0.0.1"), Text("10.0.0.1")},
        {"", 1, std::int32_t{12}, Text("12"), Text("12")},
        {"negative", 4, std::int32_t{-5}, std::int32_t{-5}, std::int32_t{-5}},
        {"half", 4, Text("2.5"), std::int32_t{2}, std::int32_t{2}},
        {"no number", 4, Text("abc"), Text("default"), Text("absent")},
        {"bytes", 3, bytes, bytes, bytes},
        {"no bytes", 3, std::vector<std::uint8_t>{}, RegistryVariant(), Text("absent")},
        {"1023", 1, Text(std::string(1023, 'a')), Text(std::string(1023, 'a')),
         Text(std::string(1023, 'a'))},
        {"1024", 1, Text(std::string(1024, 'b')), Text("ERRROR"), Text("absent")},
        {"multi-string", 7, Text(list), Text(list), Text(list)},
        {"empty multi-string", 7, Text(""), Text(""), Text("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Write(c.name, c.type, c.value, Text("default")), c.answer);
        EXPECT_EQ(Get(c.name, c.type, Text("absent")), c.stored);
    }

    // Deleting what is not there is quiet.
    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "text");
    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "text");
    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "text");
    EXPECT_EQ(Get("text", 1, Text("gone")), Text("gone"));
}

TEST_F(RegistryValuesTest, UnsupportedTypesShowParameterError) {
    dialogs.ExpectBox("Parameter Error").ExpectBox("Parameter Error");
    EXPECT_EQ(functGetRegistryValue(context, HKEY_LOCAL_MACHINE, "SOFTWARE", "x", 2, Text("d")),
              Text("d"));
    EXPECT_EQ(Write("x", 5, Text("v"), std::int32_t{3}), RegistryVariant(std::int32_t{3}));
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[0].text, "functGetRegistryValue: 2");
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbInformation);
    EXPECT_EQ(dialogs.boxes[1].text, "functWriteRegistryValue: 5");
    EXPECT_EQ(Get("x", 1, Text("none")), Text("none"));
}

// A user without write rights (the store's side is tested with the store): the
// write gives its default after one box, the delete is quiet, the value stays.
TEST_F(RegistryValuesTest, WritingWithoutRightsShowsRegistryAccess) {
    Write("Base", 1, Text("old"));
    fakes::ReadOnlyStore readOnly(registry);
    RegistryContext readOnlyContext{readOnly, dialogs};
    dialogs.ExpectBox("Registry Access");
    EXPECT_EQ(functWriteRegistryValue(readOnlyContext, HKEY_LOCAL_MACHINE, kKey, "Base", 1,
                                      Text("new"), Text("d")),
              Text("d"));
    EXPECT_EQ(dialogs.boxes[0].text,
              "Unable To Access Registry\r\rYou May not be able to Access OrvelServers");
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbCritical);
    functDeleteRegistryValue(readOnlyContext, HKEY_LOCAL_MACHINE, kKey, "Base");
    EXPECT_EQ(Get("Base", 1), Text("old"));
}

TEST_F(RegistryValuesTest, InstallFoldersEndWithASlash) {
    const std::string suiteKey = "SOFTWARE\\Quarlen\\Corvane Network Suite\\1.00.000";
    PutRaw(suiteKey, "OrvelPATH", 1, std::string_view("/srv/orvel/\0", 12));
    EXPECT_EQ(functGetOrvelPath(registry), "/srv/orvel//");
    PutRaw(suiteKey, "OrvelPATH", 1, "/srv/bare");
    EXPECT_EQ(functGetOrvelPath(registry), "/srv/bare/");
    PutRaw(suiteKey, "OrvelPATH", 2, std::string_view("/srv/expand\0", 12));
    EXPECT_EQ(functGetOrvelPath(registry), "/opt/Quarlen/Corvane Network Suite/");
    PutRaw(suiteKey, "OrvelPATH", 1, std::string_view("\0", 1));
    EXPECT_EQ(functGetOrvelPath(registry), "/opt/Quarlen/Corvane Network Suite/");
    PutRaw(suiteKey, "OrvelPATH", 1, std::string(300, 'p'));  // larger than the buffer
    EXPECT_EQ(functGetOrvelPath(registry), "/opt/Quarlen/Corvane Network Suite/");
    PutRaw("SOFTWARE\\Quarlen\\Corvane\\Path", "Root", 1, std::string_view("/srv/corvane\0", 13));
    EXPECT_EQ(functGetCorvanePath(registry), "/srv/corvane/");
}

}  // namespace
}  // namespace orvel::settings

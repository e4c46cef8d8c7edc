#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ChildAsNobody.h"
#include "FakeDialogs.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"
#include "settings/RegistryValues.h"

namespace orvel::settings {
namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;

const std::string kKey = "SOFTWARE\\Quarlen\\Corvane\\Network";

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

TEST_F(RegistryValuesTest, MissingKeysAndValuesGiveTheDefault) {
    EXPECT_EQ(Get("Base", 1, std::string("Not Found")), RegistryVariant(std::string("Not Found")));
    EXPECT_EQ(Get("Base", 4), RegistryVariant());
    PutRaw(kKey, "Other", 1, std::string_view("x", 2));
    EXPECT_EQ(Get("Base", 1, std::string("Not Found")), RegistryVariant(std::string("Not Found")));
    EXPECT_EQ(Get("Base", 3, std::int32_t{7}), RegistryVariant(std::int32_t{7}));
}

TEST_F(RegistryValuesTest, WritesCreateTheKeyPathAndReadBack) {
    EXPECT_EQ(Write("Base", 1, std::string("10.0.0.1")), RegistryVariant(std::string("10.0.0.1")));
    EXPECT_EQ(Get("base", 1), RegistryVariant(std::string("10.0.0.1")));
    // The default value of a key, addressed by an empty name.
    EXPECT_EQ(Write("", 1, std::int32_t{12}), RegistryVariant(std::string("12")));

    EXPECT_EQ(Write("Port", 4, std::int32_t{-5}), RegistryVariant(std::int32_t{-5}));
    EXPECT_EQ(Write("Port", 4, std::string("2.5")), RegistryVariant(std::int32_t{2}));
    // A value that cannot be converted ends the write with the default.
    EXPECT_EQ(Write("Port", 4, std::string("abc"), std::string("d")),
              RegistryVariant(std::string("d")));
    EXPECT_EQ(Get("Port", 4), RegistryVariant(std::int32_t{2}));

    std::vector<std::uint8_t> bytes{0, 1, 254, 255};
    EXPECT_EQ(Write("Blob", 3, bytes), RegistryVariant(bytes));
    // An empty binary value cannot be cut to size: the read-back default.
    EXPECT_EQ(Write("Blob", 3, std::vector<std::uint8_t>{}), RegistryVariant());
    EXPECT_EQ(Get("Blob", 3, std::string("empty")), RegistryVariant(std::string("empty")));

    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "Base");
    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "Base");
    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "Base");
    EXPECT_EQ(Get("Base", 1, std::string("gone")), RegistryVariant(std::string("gone")));
    // Classes root is the machine's SOFTWARE\Classes.
    functWriteRegistryValue(context, HKEY_CLASSES_ROOT, "AppID\\{X}", "RunAs", 1,
                            std::string("Interactive User"));
    EXPECT_EQ(functGetRegistryValue(context, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\AppID\\{X}",
                                    "RunAs", 1),
              RegistryVariant(std::string("Interactive User")));
}

TEST_F(RegistryValuesTest, StringsUpTo1023CharactersFitTheBuffer) {
    std::string fits(1023, 'a');
    std::string tooLong(1024, 'b');
    EXPECT_EQ(Write("Text", 1, fits), RegistryVariant(fits));
    EXPECT_EQ(Write("Text", 1, tooLong, std::string("kept")),
              RegistryVariant(std::string("ERRROR")));
    EXPECT_EQ(Get("Text", 1, std::string("default")), RegistryVariant(std::string("default")));
}

TEST_F(RegistryValuesTest, StringWithoutItsNulIsReadWhole) {
    PutRaw(kKey, "Bare", 1, "abc");
    PutRaw(kKey, "Terminated", 1, std::string_view("abc\0", 4));
    PutRaw(kKey, "Empty", 1, "");
    EXPECT_EQ(Get("Bare", 1), RegistryVariant(std::string("abc")));
    EXPECT_EQ(Get("Terminated", 1), RegistryVariant(std::string("abc")));
    EXPECT_EQ(Get("Empty", 1, std::string("x")), RegistryVariant(std::string()));
    // The stored type is not compared with the asked one.
    PutRaw(kKey, "Number", 4, std::string_view("\x01\x02\0\0", 4));
    EXPECT_EQ(Get("Number", 1), RegistryVariant(std::string("\x01\x02\0", 3)));
    EXPECT_EQ(Get("Number", 4), RegistryVariant(std::int32_t{0x0201}));
}

TEST_F(RegistryValuesTest, MultiStringsKeepTheirNuls) {
    const std::string list("ncacn_ip_tcp\0ncadg_ip_udp\0\0", 27);
    EXPECT_EQ(Write("Protocols", 7, list), RegistryVariant(list));
    EXPECT_EQ(Get("Protocols", 7), RegistryVariant(list));
    EXPECT_EQ(Write("Protocols", 7, std::string()), RegistryVariant(std::string()));
}

TEST_F(RegistryValuesTest, UnsupportedTypesShowParameterError) {
    dialogs.ExpectBox("Parameter Error").ExpectBox("Parameter Error");
    EXPECT_EQ(
        functGetRegistryValue(context, HKEY_LOCAL_MACHINE, "SOFTWARE", "x", 2, std::string("d")),
        RegistryVariant(std::string("d")));
    EXPECT_EQ(Write("x", 5, std::string("v"), std::int32_t{3}), RegistryVariant(std::int32_t{3}));
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[0].text, "functGetRegistryValue: 2");
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbInformation);
    EXPECT_EQ(dialogs.boxes[1].text, "functWriteRegistryValue: 5");
    EXPECT_EQ(Get("x", 1, std::string("none")), RegistryVariant(std::string("none")));
}

TEST_F(RegistryValuesTest, InstallFoldersEndWithASlash) {
    EXPECT_EQ(functGetOrvelPath(registry), "/opt/Quarlen/Corvane Network Suite/");
    EXPECT_EQ(functGetCorvanePath(registry), "/opt/Quarlen/Corvane/");
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

// What a process that may not write the store sees: 0 when all is as it
// should be, else the number of the first check that failed.
int CheckReadOnlyStore(const std::string& store) {
    platform::SqliteRegistry readOnly(store);
    fakes::FakeDialogs dialogs;
    dialogs.AllowUnexpected(true);
    RegistryContext context{readOnly, dialogs};
    RegistryVariant result = functWriteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "Base", 1,
                                                     std::string("new"), std::string("d"));
    if (result != RegistryVariant(std::string("d"))) return 1;
    if (dialogs.boxes.size() != 1) return 2;
    if (dialogs.boxes[0].title != "Registry Access" ||
        dialogs.boxes[0].text !=
            "Unable To Access Registry\r\rYou May not be able to Access OrvelServers" ||
        dialogs.boxes[0].style != platform::vbCritical) {
        return 3;
    }
    functDeleteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "Base");  // silent
    if (dialogs.boxes.size() != 1) return 4;
    if (functGetRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "Base", 1) !=
        RegistryVariant(std::string("old"))) {
        return 5;
    }
    return 0;
}

TEST(RegistryValuesReadOnly, WritingWithoutRightsShowsRegistryAccess) {
    fakes::TempDir temp{"orvel-regvalues"};
    const std::string folder = temp.str();
    const std::string store = temp.str("registry.db");
    {
        platform::SqliteRegistry writable(store);
        fakes::FakeDialogs dialogs;
        RegistryContext context{writable, dialogs};
        functWriteRegistryValue(context, HKEY_LOCAL_MACHINE, kKey, "Base", 1, std::string("old"));
    }
    // Readable by all, writable by nobody but the administrator; the check
    // runs in a child that, started as the administrator, becomes "nobody".
    const bool administrator = fakes::CanSwitchUser();
    mode_t fileMode = administrator ? 0644 : 0444;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ::chmod(entry.path().c_str(), fileMode);
    }
    ::chmod(folder.c_str(), administrator ? 0755 : 0555);
    EXPECT_EQ(fakes::ChildAsNobody([&] { return CheckReadOnlyStore(store); }), 0)
        << "first failed check";
}

}  // namespace
}  // namespace orvel::settings

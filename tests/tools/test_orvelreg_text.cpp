// orvel-reg's text side: command lines, typed data and the .reg layout.

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <tuple>
#include <vector>

#include "tools/orvelreg/RegText.h"

namespace orvel::tools {
namespace {

using namespace platform;

std::optional<Command> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string ignored;
    return ParseCommandLine(args, error != nullptr ? error : &ignored);
}

// UTF-8 text as UTF-16 little-endian after its byte-order mark, as the
// registry editor writes by default.
std::string Utf16(std::string utf8) {
    std::string bytes(2 + 4 * utf8.size(), '\0');
    char* in = utf8.data();
    char* out = bytes.data() + 2;
    std::size_t inLeft = utf8.size();
    std::size_t outLeft = bytes.size() - 2;
    const iconv_t convert = ::iconv_open("UTF-16LE", "UTF-8");
    EXPECT_NE(::iconv(convert, &in, &inLeft, &out, &outLeft), static_cast<std::size_t>(-1));
    ::iconv_close(convert);
    bytes.resize(bytes.size() - outLeft);
    return bytes.replace(0, 2, "\xFF\xFE");
}

// The name, type, removal and bytes of each value, to compare whole lists.
std::vector<std::tuple<std::string, DWORD, bool, std::string>> Fields(
    const std::vector<RegValueEntry>& values) {
    std::vector<std::tuple<std::string, DWORD, bool, std::string>> fields;
    for (const RegValueEntry& value : values)
        fields.emplace_back(value.name, value.type, value.remove, value.data);
    return fields;
}

TEST(OrvelRegCommandLine, AcceptsTheFormsOfReg) {
    auto command = Parse(
        {"add", "HKLM\\SOFTWARE\\Quarlen\\", "/v", "Port", "/T", "reg_dword", "-d", "0x10", "/F"});
    ASSERT_TRUE(command);
    EXPECT_EQ(command->verb, Verb::Add);
    EXPECT_EQ(command->key.FullName(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarlen");
    EXPECT_EQ(command->valueName, "Port");
    EXPECT_EQ(command->type, REG_DWORD);
    EXPECT_EQ(command->data, "0x10");
    EXPECT_TRUE(command->force);

    command = Parse({"query", "HKEY_CLASSES_ROOT", "/ve", "/s"});
    ASSERT_TRUE(command);
    EXPECT_EQ(command->key.FullName(), "HKEY_CLASSES_ROOT");
    EXPECT_EQ(command->valueName, "");
    EXPECT_TRUE(command->subtree);

    command = Parse({"add", "hkcr\\X", "/v", "/odd name", "/d", "-1"});
    ASSERT_TRUE(command) << "the words after /v and /d are taken as they are";
    EXPECT_EQ(command->valueName, "/odd name");

    for (const char* help : {"--help", "/?", "-h"}) {
        EXPECT_TRUE(Parse({help}) && Parse({help})->verb == Verb::Help) << help;
    }
}

TEST(OrvelRegCommandLine, RefusesWhatItCannotMean) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"list", "HKLM"},
        {"query"},
        {"query", "HKCU\\Software"},
        {"query", "SOFTWARE\\Quarlen"},
        {"query", "HKLM\\A\\\\B"},
        {"query", "HKLM", "extra"},
        {"query", "HKLM", "/v"},
        {"query", "HKLM", "/v", "a", "/ve"},
        {"query", "HKLM", "/f"},
        {"add", "HKLM\\X", "/d", "text"},
        {"add", "HKLM\\X", "/v", "a", "/t", "REG_QWORD"},
        {"add", "HKLM\\X", "/v", "a", "/s", ","},
        {"add", "HKLM\\X", "/v", "a", "/f", "/f"},
        {"delete", "HKLM\\X", "/va", "/v", "a"},
        {"export", "HKLM\\X"},
        {"import"},
        {"import", "a.reg", "b.reg"},
    };
    for (const auto& args : wrong) {
        SCOPED_TRACE("case " + std::to_string(&args - wrong.data()));
        std::string error;
        EXPECT_FALSE(Parse(args, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(OrvelRegData, EncodesEachType) {
    std::string error;
    EXPECT_EQ(EncodeData(REG_SZ, "abc", '\0', &error), std::string("abc\0", 4));
    EXPECT_EQ(EncodeData(REG_EXPAND_SZ, "", '\0', &error), std::string("\0", 1));
    EXPECT_EQ(EncodeData(REG_MULTI_SZ, "a\\0bc", '\0', &error), std::string("a\0bc\0\0", 6));
    EXPECT_EQ(EncodeData(REG_MULTI_SZ, "a,bc", ',', &error), std::string("a\0bc\0\0", 6));
    EXPECT_EQ(EncodeData(REG_MULTI_SZ, "", '\0', &error), std::string("\0", 1));
    EXPECT_EQ(EncodeData(REG_DWORD, "10", '\0', &error), std::string("\x0a\0\0\0", 4));
    EXPECT_EQ(EncodeData(REG_DWORD, "0xDEADbeef", '\0', &error), std::string("\xef\xbe\xad\xde"));
    EXPECT_EQ(EncodeData(REG_DWORD, "4294967295", '\0', &error), std::string("\xff\xff\xff\xff"));
    EXPECT_EQ(EncodeData(REG_BINARY, "00ff10", '\0', &error), std::string("\0\xff\x10", 3));
    EXPECT_EQ(EncodeData(REG_BINARY, "", '\0', &error), std::string());

    for (const char* bad : {"4294967296", "-1", "0x", "0x123456789", "12a", ""}) {
        error.clear();
        EXPECT_FALSE(EncodeData(REG_DWORD, bad, '\0', &error)) << bad;
        EXPECT_NE(error, "") << bad;
    }
    EXPECT_FALSE(EncodeData(REG_BINARY, "abc", '\0', &error));
    EXPECT_FALSE(EncodeData(REG_BINARY, "zz", '\0', &error));
    EXPECT_FALSE(EncodeData(REG_MULTI_SZ, "a\\0\\0b", '\0', &error));

    EXPECT_EQ(DisplayData(REG_MULTI_SZ, std::string("a\0bc\0\0", 6)), "a\\0bc");
    EXPECT_EQ(DisplayData(REG_DWORD, std::string("\x0a\0\0\0", 4)), "0xa");
    EXPECT_EQ(DisplayData(REG_BINARY, std::string("\0\xff", 2)), "00FF");
    EXPECT_EQ(DisplayData(REG_SZ, std::string("x\0", 2)), "x");
}

// As UTF-8 with its byte-order mark, and as UTF-16: the text is taken as
// UTF-8 (surrogate pairs included), hex lists keep their bytes.
TEST(OrvelRegFile, ReadsRegeditLayout) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gr\xC3\xBC\xC3\x9F\\Network]\r\n"
        "\"BaseIP \xE2\x82\xAC\"=\"10.0.0.1\"\r\n"
        "@=\"say \\\"\xF0\x9F\x98\x80\\\" \\\\ there\"\r\n"
        "\"Port\"=dword:0000ABCD\r\n"
        "\"List\"=hex(7):61,00,62,\\\r\n"
        "  00,00\r\n"
        "\"Gone\"=-\r\n"
        "\r\n"
        "[-HKEY_CLASSES_ROOT\\AppID\\{X}]\r\n";
    for (const std::string& file : {"\xEF\xBB\xBF" + text, Utf16(text)}) {
        std::vector<RegKeyEntry> keys;
        std::string error;
        ASSERT_TRUE(ParseRegFile(file, &keys, &error)) << error;
        ASSERT_EQ(keys.size(), 2u);
        EXPECT_EQ(keys[0].key.path, "SOFTWARE\\Gr\xC3\xBC\xC3\x9F\\Network");
        EXPECT_EQ(
            Fields(keys[0].values),
            Fields({{"BaseIP \xE2\x82\xAC", false, REG_SZ, std::string("10.0.0.1\0", 9)},
                    {"", false, REG_SZ, std::string("say \"\xF0\x9F\x98\x80\" \\ there\0", 19)},
                    {"Port", false, REG_DWORD, std::string("\xcd\xab\0\0", 4)},
                    {"List", false, REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
                    {"Gone", true, REG_NONE, ""}}));
        EXPECT_TRUE(keys[1].remove);
        EXPECT_EQ(keys[1].key.root, HKEY_CLASSES_ROOT);
    }
}

TEST(OrvelRegFile, NamesTheLineOfAFault) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKLM\\X]\n";
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"REGEDIT5\n", "start"},
        {"", "empty"},
        {head + "\"a\"=dword:123456789\n", "line 4"},
        {head + "\"a\"=hex:0g\n", "line 4"},
        {head + "\"a\"=hex:01,,02\n", "line 4"},
        {head + "\"a\"=hex:01,\n", "line 4"},
        {head + "\"a\"\n", "line 4"},
        {head + "\"a\"=\"open\n\n", "quote"},
        {head + "\"a\"=\"x\" trailing\n", "line 4"},
        {head + "\n[HKCU\\Software]\n", "line 5"},
        {head + "[HKLM\\Y\n", "line 4"},
        {head + "junk\n", "line 4"},
        {"Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", "outside"},
        {Utf16("Windows Registry Editor Version 5.00\n") + "x", "middle of a character"},
        {Utf16(head + "\"a\"=\"") + std::string("\x00\xD8\"\x00\n\x00", 6), "line 4"},
        {"\xFE\xFF", "big-endian"},
    };
    for (const auto& [text, mention] : faults) {
        std::vector<RegKeyEntry> keys;
        std::string error;
        EXPECT_FALSE(ParseRegFile(text, &keys, &error)) << text;
        EXPECT_NE(error.find(mention), std::string::npos) << error << "\n" << text;
    }
}

TEST(OrvelRegFile, WritesEveryValueSoThatItReadsBackTheSame) {
    RegKeyEntry key{KeyName{HKEY_LOCAL_MACHINE, "SOFTWARE\\Odd"}, false, {}};
    const std::vector<RegValueEntry> values = {
        {"plain", false, REG_SZ, std::string("text\0", 5)},
        {"", false, REG_SZ, std::string("default\0", 8)},
        {"quote\"back\\slash", false, REG_SZ, std::string("a\"b\\c\0", 6)},
        {"line\nbreak", false, REG_SZ, std::string("x\r\ny\0", 5)},
        {"no nul", false, REG_SZ, "abc"},
        {"inner nul", false, REG_SZ, std::string("a\0b\0", 4)},
        {"empty sz", false, REG_SZ, ""},
        {"short dword", false, REG_DWORD, std::string("\1\2", 2)},
        {"dword", false, REG_DWORD, std::string("\1\2\3\4", 4)},
        {"qword", false, 11, std::string("\1\2\3\4\5\6\7\x8", 8)},
        {"none", false, REG_NONE, ""},
        {"expand", false, REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
        {"long", false, REG_BINARY, std::string(300, '\xa5')},
        {"high bytes \xe9", false, REG_SZ, std::string("caf\xe9\0", 5)},
    };
    key.values = values;
    const std::string text = FormatRegFile({key});
    std::vector<RegKeyEntry> parsed;
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, &parsed, &error)) << error << "\n" << text;
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(Fields(parsed[0].values), Fields(values));
    EXPECT_EQ(FormatRegFile(parsed), text);
    EXPECT_NE(text.find("\"no nul\"=hex(1):61,62,63\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"dword\"=dword:04030201\n"), std::string::npos);
    EXPECT_NE(text.find("\"qword\"=hex(b):01,02"), std::string::npos);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        EXPECT_LE(end - start, 80u) << "long hex lists are wrapped";
    }
}

// No key deeper than the registry allows, from a file or a command line.
TEST(OrvelRegFile, RefusesKeysDeeperThan512Levels) {
    std::string path = "HKCR";
    for (int level = 3; level <= 512; ++level) path += "\\k";
    std::vector<RegKeyEntry> keys;
    std::string error;
    const std::string head = "Windows Registry Editor Version 5.00\n\n";
    EXPECT_TRUE(ParseRegFile(head + "[" + path + "]\n", &keys, &error)) << error;
    EXPECT_FALSE(ParseRegFile(head + "[HKLM\\A]\n[" + path + "\\x]\n", &keys, &error));
    EXPECT_NE(error.find("line 4: the key lies deeper than 512 levels"), std::string::npos)
        << error.substr(0, 200);
    EXPECT_TRUE(Parse({"add", path}, &error));
    EXPECT_FALSE(Parse({"add", path + "\\x"}, &error));
    EXPECT_NE(error.find("deeper than 512"), std::string::npos);
}

}  // namespace
}  // namespace orvel::tools

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
        {"add", "HKLM\\X", "/v", "a", "/t", "REG_WORD"},
        {"query", "HKLM\\X", "/windows"},
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
    EXPECT_EQ(EncodeData(REG_QWORD, "18446744073709551615", '\0', &error), std::string(8, '\xff'));
    EXPECT_EQ(EncodeData(REG_QWORD, "0x100000000", '\0', &error),
              std::string("\0\0\0\0\1\0\0\0", 8));
    EXPECT_FALSE(EncodeData(REG_QWORD, "18446744073709551616", '\0', &error));
    EXPECT_FALSE(EncodeData(REG_QWORD, "0x10000000000000000", '\0', &error));

    EXPECT_EQ(DisplayData(REG_MULTI_SZ, std::string("a\0bc\0\0", 6)), "a\\0bc");
    EXPECT_EQ(DisplayData(REG_DWORD, std::string("\x0a\0\0\0", 4)), "0xa");
    EXPECT_EQ(DisplayData(REG_BINARY, std::string("\0\xff", 2)), "00FF");
    EXPECT_EQ(DisplayData(REG_SZ, std::string("x\0", 2)), "x");
    EXPECT_EQ(DisplayData(REG_QWORD, std::string("\xef\xcd\xab\x89\x67\x45\x23\x01", 8)),
              "0x123456789abcdef");
}

// As UTF-8 with its byte-order mark, and as UTF-16: the text is taken as
// UTF-8 (surrogate pairs included). The hex(7) list here is no UTF-16 (an odd
// count), so it keeps its bytes in either file; StoresTheTextOfHexListsAsUtf8
// has the lists that are converted.
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
        {head + "[HKLM\\Y] junk\n", "line 4"},
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
        {"line break", false, REG_SZ, std::string("x\r\ny\0", 5)},
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
    std::string error;
    const std::string text = FormatRegFile({key}, RegFileForm::Utf8, &error).value_or(error);
    std::vector<RegKeyEntry> parsed;
    ASSERT_TRUE(ParseRegFile(text, &parsed, &error)) << error << "\n" << text;
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(Fields(parsed[0].values), Fields(values));
    EXPECT_EQ(FormatRegFile(parsed, RegFileForm::Utf8, &error), text);
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

// The file's encoding decides what the bytes of hex(1), hex(2) and hex(7)
// are: UTF-16 in a UTF-16 file; in a REGEDIT4 file UTF-16 where plainly so,
// else ANSI (UTF-8, or Windows-1252); in orvel-reg's own UTF-8 file the bytes.
TEST(OrvelRegFile, StoresTheTextOfHexListsAsUtf8) {
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n";
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n" + key;
    const std::string v4 = "REGEDIT4\r\n\r\n" + key;
    const std::string dcom =
        "hex(7):6e,00,63,00,61,00,63,00,6e,00,5f,00,69,00,70,00,5f,00,\\\r\n"
        "  74,00,63,00,70,00,00,00,00,00";
    struct Case {
        std::string file;
        DWORD type;
        std::string stored;
    };
    const Case cases[] = {
        {Utf16(v5 + "\"a\"=" + dcom + "\r\n"), REG_MULTI_SZ, std::string("ncacn_ip_tcp\0\0", 14)},
        {Utf16(v5 + "\"a\"=hex(2):2f,00,78,00,20,00,ac,20,00,00\r\n"), REG_EXPAND_SZ,
         std::string("/x \xE2\x82\xAC\0", 7)},
        {Utf16(v5 + "\"a\"=hex(2):00,00\r\n"), REG_EXPAND_SZ, std::string(1, '\0')},
        {Utf16(v5 + "\"a\"=hex(1):3d,d8,00,de,0a,00,00,00\r\n"), REG_SZ,
         std::string("\xF0\x9F\x98\x80\n\0", 6)},
        {Utf16(v5 + "\"a\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00\r\n"), REG_MULTI_SZ,
         std::string("a\0\0b\0\0", 6)},
        // Not text in UTF-16 (odd, a lone surrogate) or not a text type: the bytes.
        {Utf16(v5 + "\"a\"=hex(2):41,00,00\r\n"), REG_EXPAND_SZ, std::string("A\0\0", 3)},
        {Utf16(v5 + "\"a\"=hex(2):00,d8,00,00\r\n"), REG_EXPAND_SZ, std::string("\0\xd8\0\0", 4)},
        {Utf16(v5 + "\"a\"=hex:41,00,00,00\r\n"), REG_BINARY, std::string("A\0\0\0", 4)},
        // REGEDIT4: UTF-16 or ANSI lists, Windows-1252 text.
        {v4 + "\"a\"=" + dcom + "\r\n", REG_MULTI_SZ, std::string("ncacn_ip_tcp\0\0", 14)},
        {v4 + "\"a\"=hex(2):25,50,25,00\r\n", REG_EXPAND_SZ, std::string("%P%\0", 4)},
        {v4 + "\"a\"=hex(7):61,62,00,00\r\n", REG_MULTI_SZ, std::string("ab\0\0", 4)},
        {v4 + "\"a\"=hex(2):80,e9,00\r\n", REG_EXPAND_SZ, std::string("\xE2\x82\xAC\xC3\xA9\0", 6)},
        {v4 + "\"a\"=\"Gr\xFC\xDF \x80\"\r\n", REG_SZ,
         std::string("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\0", 11)},
        {v4 + "\"a\"=\"Gr\xC3\xBC\xC3\x9F\"\r\n", REG_SZ, std::string("Gr\xC3\xBC\xC3\x9F\0", 7)},
        // orvel-reg's own UTF-8 form keeps every byte.
        {v5 + "\"a\"=hex(2):61,62,00,00\r\n", REG_EXPAND_SZ, std::string("ab\0\0", 4)},
        {"\xEF\xBB\xBF" + v5 + "\"a\"=hex(7):61,00,00,00,00,00\r\n", REG_MULTI_SZ,
         std::string("a\0\0\0\0\0", 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<RegKeyEntry> keys;
        std::string error;
        ASSERT_TRUE(ParseRegFile(c.file, &keys, &error)) << error;
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(Fields(keys[0].values), Fields({{"a", false, c.type, c.stored}}));
    }
}

// A ; comment may follow a key or value on its line; a key's name ends at the
// first ']' that only blanks or a comment follow.
TEST(OrvelRegFile, ReadsCommentsAfterKeysAndValues) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App] ; see [docs]\n"
        "\"a\"=\"x\" ; the first\n"
        "\"b\"=dword:00000001\t; the second\n"
        "\"c\"=hex:01,02 ; the third\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old] ; from [v5]\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]B]\n";
    std::vector<RegKeyEntry> keys;
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, &keys, &error)) << error;
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].key.path, "SOFTWARE\\App");
    EXPECT_EQ(Fields(keys[0].values), Fields({{"a", false, REG_SZ, std::string("x\0", 2)},
                                              {"b", false, REG_DWORD, std::string("\1\0\0\0", 4)},
                                              {"c", false, REG_BINARY, "\1\2"}}));
    EXPECT_TRUE(keys[1].remove);
    EXPECT_EQ(keys[1].key.path, "SOFTWARE\\Old");
    EXPECT_EQ(keys[2].key.path, "SOFTWARE\\A]B");
}

// Byte for byte what Windows' editor writes: UTF-16 after its byte-order
// mark, CR LF, text types as UTF-16 hex lists wrapped at its width.
TEST(OrvelRegFile, WritesTheFileWindowsEditorWrites) {
    std::string blob;
    for (char c = 0; c < 50; ++c) blob += c;
    const std::vector<RegKeyEntry> keys = {
        {KeyName{HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Rpc"},
         false,
         {{"DCOM Protocols", false, REG_MULTI_SZ, std::string("ncacn_ip_tcp\0\0", 14)}}},
        {KeyName{HKEY_LOCAL_MACHINE, "SOFTWARE\\Gr\xC3\xBC\xC3\x9F"},
         false,
         {{"", false, REG_SZ, std::string("say \"\xE2\x82\xAC\" C:\\\0", 14)},
          {"Run", false, REG_EXPAND_SZ, std::string("%P%\0", 4)},
          {"Two\xC2\xA0lines", false, REG_SZ, std::string("a\nb\0", 4)},
          {"Zero", false, REG_DWORD, std::string(4, '\0')},
          {"Max", false, REG_QWORD, std::string(8, '\xff')},
          {"None", false, REG_NONE, ""},
          {"Blob", false, REG_BINARY, blob}}},
        {KeyName{HKEY_CLASSES_ROOT, "AppID\\{X}"}, true, {}},
    };
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Rpc]\r\n"
        "\"DCOM Protocols\"=hex(7):6e,00,63,00,61,00,63,00,6e,00,5f,00,69,00,70,00,5f,00,\\\r\n"
        "  74,00,63,00,70,00,00,00,00,00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gr\xC3\xBC\xC3\x9F]\r\n"
        "@=\"say \\\"\xE2\x82\xAC\\\" C:\\\\\"\r\n"
        "\"Run\"=hex(2):25,00,50,00,25,00,00,00\r\n"
        "\"Two\xC2\xA0lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
        "\"Zero\"=dword:00000000\r\n"
        "\"Max\"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff\r\n"
        "\"None\"=hex(0):\r\n"
        "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
        "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
        "  2f,30,31\r\n"
        "\r\n"
        "[-HKEY_CLASSES_ROOT\\AppID\\{X}]\r\n"
        "\r\n";
    std::string error;
    EXPECT_EQ(FormatRegFile(keys, RegFileForm::Windows, &error), Utf16(expected)) << error;

    std::vector<RegKeyEntry> parsed;
    ASSERT_TRUE(ParseRegFile(Utf16(expected), &parsed, &error)) << error;
    ASSERT_EQ(parsed.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(parsed[i].key.FullName(), keys[i].key.FullName());
        EXPECT_EQ(Fields(parsed[i].values), Fields(keys[i].values));
    }
}

// No value may start a line of its own: a name with a line break, or a key
// name that would read back as another, is refused with its name; a file for
// Windows carries UTF-8 text only.
TEST(OrvelRegFile, RefusesNamesAndTextAFormCannotCarry) {
    auto keyWith = [](std::string path, RegValueEntry value) {
        return std::vector<RegKeyEntry>{
            {KeyName{HKEY_LOCAL_MACHINE, std::move(path)}, false, {value}}};
    };
    const RegValueEntry plain{"v", false, REG_SZ, std::string("x\0", 2)};
    struct Case {
        std::vector<RegKeyEntry> keys;
        RegFileForm form;
        const char* mention;
    };
    const Case cases[] = {
        {keyWith("SOFTWARE\\A\n[HKEY_LOCAL_MACHINE\\B", plain), RegFileForm::Utf8, "line break"},
        {keyWith("SOFTWARE\\A", {"v\nroot::0:0::/:/bin/sh", false, REG_SZ, "\0"}),
         RegFileForm::Utf8, "line break in its name"},
        {keyWith("SOFTWARE\\A] ;x", plain), RegFileForm::Utf8, "']' before a ';'"},
        {keyWith("SOFTWARE\\A", {"v", false, REG_EXPAND_SZ, std::string("caf\xe9\0", 5)}),
         RegFileForm::Windows, "\"v\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\A is not UTF-8"},
        {keyWith("SOFTWARE\\\xe9", plain), RegFileForm::Windows, "not UTF-8"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(FormatRegFile(c.keys, c.form, &error)) << c.mention;
        EXPECT_NE(error.find(c.mention), std::string::npos) << error;
    }
    // A value's line breaks go into a hex list, in either form.
    std::string error;
    const std::string text = *FormatRegFile(
        keyWith("SOFTWARE\\A", {"v", false, REG_SZ, std::string("x\n[HKLM\\B]\0", 11)}),
        RegFileForm::Utf8, &error);
    EXPECT_NE(text.find("\"v\"=hex(1):78,0a,5b,48"), std::string::npos) << text;
    EXPECT_EQ(text.find("\n[HKLM"), std::string::npos) << text;
}

}  // namespace
}  // namespace orvel::tools

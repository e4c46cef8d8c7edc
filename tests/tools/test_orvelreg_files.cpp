// .reg files crossing to and from Windows through orvel-reg, the files an
// export may replace, and the messages of a busy store.

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "OrvelRegRun.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelreg/RegText.h"
#include "tools/orvelreg/RegTool.h"

namespace orvel::tools {
namespace {

using namespace platform;
namespace fs = std::filesystem;
using fakes::ReadFile;

// UTF-8 text as UTF-16 little-endian, without byte-order mark.
std::string Utf16Bytes(std::string utf8) {
    std::string bytes(4 * utf8.size() + 4, '\0');
    char* in = utf8.data();
    char* out = bytes.data();
    std::size_t inLeft = utf8.size();
    std::size_t outLeft = bytes.size();
    const iconv_t convert = ::iconv_open("UTF-16LE", "UTF-8");
    EXPECT_NE(::iconv(convert, &in, &inLeft, &out, &outLeft), static_cast<std::size_t>(-1));
    ::iconv_close(convert);
    bytes.resize(bytes.size() - outLeft);
    return bytes;
}

// A .reg file as Windows' editor saves it: UTF-16 after its byte-order mark.
std::string WindowsFile(const std::string& utf8) {
    return "\xFF\xFE" + Utf16Bytes(utf8);
}

// The values of the round trips: every type, with the text that is hard to carry.
struct Sample {
    const char* what;
    std::string name;
    DWORD type;
    std::string data;
};

std::vector<Sample> Samples() {
    std::string blob(300, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    return {
        {"REG_SZ quotes, backslashes", "Path", REG_SZ, fakes::Sz("say \"hi\" C:\\dir\\")},
        {"REG_SZ non-ASCII",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         REG_SZ, fakes::Sz("\xE2\x82\xAC 5 \xC3\xA9t\xC3\xA9")},
        {"REG_SZ astral", "Astral", REG_SZ, fakes::Sz("\xF0\x9F\x98\x80 \xF0\x90\x8D\x88")},
        {"REG_SZ line break", "Lines", REG_SZ, fakes::Sz("one\r\ntwo\nthree")},
        {"REG_SZ empty", "Empty", REG_SZ, fakes::Sz("")},
        {"REG_EXPAND_SZ", "Expand", REG_EXPAND_SZ, fakes::Sz("%SystemRoot%\\system32")},
        {"REG_MULTI_SZ empty entry", "Multi", REG_MULTI_SZ, std::string("a\0\0b\xC3\xA9\0\0", 8)},
        {"REG_DWORD 0", "Zero", REG_DWORD, fakes::Dword(0)},
        {"REG_DWORD max", "Max", REG_DWORD, fakes::Dword(0xFFFFFFFF)},
        {"REG_QWORD", "Quad", REG_QWORD, std::string("\xef\xcd\xab\x89\x67\x45\x23\x01", 8)},
        {"REG_BINARY 300 bytes", "Blob", REG_BINARY, blob},
        {"REG_NONE", "None", REG_NONE, ""},
        {"REG_NONE with bytes", "None bytes", REG_NONE, std::string("\0\1", 2)},
        {"default value", "", REG_SZ, fakes::Sz("the default")},
        {"name with spaces, non-ASCII",
         "Gr\xC3\xB6\xC3\x9F"
         "e des Fensters",
         REG_DWORD, fakes::Dword(42)},
    };
}

// Ours to the file for Windows and back into an empty store: every value as it was.
TEST(OrvelRegWindowsFile, KeepsEveryValueFromOursToWindowsAndBack) {
    const std::string key =
        "SOFTWARE\\Quarlen\\Gr\xC3\xB6\xC3\x9F"
        "e";
    SqliteRegistry source(":memory:");
    for (const Sample& sample : Samples()) {
        fakes::Seed(source, HKEY_LOCAL_MACHINE, key, sample.name, sample.type, sample.data);
    }
    fakes::TempDir temp;
    const std::string file = temp.str("for-windows.reg");
    const Outcome exported = Tool(source, {"export", "HKLM\\SOFTWARE\\Quarlen", file, "/windows"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string text = ReadFile(file);
    ASSERT_EQ(text.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(text.find(Utf16Bytes("\n")), text.find(Utf16Bytes("\r\n")) + 2) << "CR LF lines";

    SqliteRegistry target(":memory:");
    const Outcome imported = Tool(target, {"import", file});
    ASSERT_EQ(imported.status, 0) << imported.err;
    for (const Sample& sample : Samples()) {
        EXPECT_EQ(fakes::Read(target, HKEY_LOCAL_MACHINE, key, sample.name),
                  (fakes::RawValue{sample.type, sample.data}))
            << sample.what;
    }
    EXPECT_EQ(fakes::TakeSnapshot(target), fakes::TakeSnapshot(source));
}

// A file as Windows' editor writes it, read into the store and written again
// for Windows: the same bytes. The store holds its text as UTF-8.
TEST(OrvelRegWindowsFile, KeepsAWindowsExportByteForByte) {
    const std::string windows =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarlen]\r\n"
        "@=\"default \\\"quoted\\\" C:\\\\dir\\\\\"\r\n"
        "\"Name with spaces \xC3\xA9\"=\"Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC\"\r\n"
        "\"Astral\"=\"\xF0\x9F\x98\x80\"\r\n"
        "\"Lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,74,00,77,00,6f,00,00,00\r\n"
        "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
        "  00,25,00,00,00\r\n"
        "\"Multi\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00\r\n"
        "\"Zero\"=dword:00000000\r\n"
        "\"Max\"=dword:ffffffff\r\n"
        "\"Quad\"=hex(b):ef,cd,ab,89,67,45,23,01\r\n"
        "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
        "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
        "  2f,30,31\r\n"
        "\"None\"=hex(0):\r\n"
        "\"Empty\"=\"\"\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarlen\\Gr\xC3\xB6\xC3\x9F"
        "e]\r\n"
        "\"DCOM Protocols\"=hex(7):6e,00,63,00,61,00,63,00,6e,00,5f,00,69,00,70,00,5f,00,\\\r\n"
        "  74,00,63,00,70,00,00,00,00,00\r\n"
        "\r\n";
    fakes::TempDir temp;
    const std::string file = temp.str("from-windows.reg");
    fakes::WriteFile(file, WindowsFile(windows));
    SqliteRegistry store(":memory:");
    const Outcome imported = Tool(store, {"import", file});
    ASSERT_EQ(imported.status, 0) << imported.err;

    const std::string key = "SOFTWARE\\Quarlen";
    const std::pair<const char*, fakes::RawValue> stored[] = {
        {"Lines", {REG_SZ, fakes::Sz("one\r\ntwo")}},
        {"Expand", {REG_EXPAND_SZ, fakes::Sz("%SystemRoot%")}},
        {"Multi", {REG_MULTI_SZ, std::string("a\0\0b\0\0", 6)}},
        {"Name with spaces \xC3\xA9",
         {REG_SZ, fakes::Sz("Gr\xC3\xBC\xC3\x9F"
                            "e \xE2\x82\xAC")}},
    };
    for (const auto& [name, value] : stored) {
        EXPECT_EQ(fakes::Read(store, HKEY_LOCAL_MACHINE, key, name), value) << name;
    }
    EXPECT_EQ(fakes::Read(store, HKEY_LOCAL_MACHINE,
                          key + "\\Gr\xC3\xB6\xC3\x9F"
                                "e",
                          "DCOM Protocols"),
              (fakes::RawValue{REG_MULTI_SZ, std::string("ncacn_ip_tcp\0\0", 14)}));

    const Outcome again = Tool(store, {"export", "HKLM\\" + key, "-", "/windows"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, WindowsFile(windows));
}

// Names and texts no .reg file can carry are refused before anything is
// written; values with line breaks never start a line of their own.
TEST(OrvelRegWindowsFile, ExportRefusesWhatItCannotWriteAndWritesNothing) {
    SqliteRegistry registry(":memory:");
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "Evil", REG_SZ,
                fakes::Sz("x\nroot::0:0::/root:/bin/sh\n[HKEY_LOCAL_MACHINE\\B]"));
    fakes::TempDir temp;
    const std::string file = temp.str("out.reg");
    ASSERT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\A", file}).status, 0);
    std::istringstream lines(ReadFile(file));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.empty() || line[0] == '[' || line[0] == '"' || line.rfind("  ", 0) == 0 ||
                    line.rfind("Windows Registry", 0) == 0)
            << line;
    }

    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "Latin-1", REG_SZ,
                std::string("caf\xe9\0", 5));
    const Outcome refused = Tool(registry, {"export", "HKLM\\SOFTWARE\\A", file, "/y", "/windows"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("\"Latin-1\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\A is not UTF-8"),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("nothing was written"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(file).substr(0, 3), "Win") << "the earlier export stays";
}

// The live store, its -wal and -shm are never replaced, however named; a link
// is replaced itself, never the file behind it.
TEST(OrvelRegExportTarget, NeverTheStoreAndNeverThroughALink) {
    fakes::TempDir root;
    const std::string store = root.str("registry.db");
    SqliteRegistry registry(store);
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "v", REG_SZ, fakes::Sz("x"));
    fs::create_directory(root.path() / "sub");
    fs::create_directory_symlink(root.path(), root.path() / "alias");
    fs::create_symlink(store, root.path() / "link-to-store");
    fs::create_hard_link(store, root.path() / "sub" / "hard-link");
    const std::string before = ReadFile(store);
    const std::string other = root.str("other/registry.db");  // a store not made yet
    fs::create_directory(root.path() / "other");
    const std::pair<std::string, std::string> targets[] = {
        {store, store},
        {store + "-wal", store},
        {root.str("sub/../registry.db-shm"), store},
        {root.str("alias/registry.db"), store},
        {root.str("link-to-store"), store},
        {root.str("sub/hard-link"), store},
        {root.str("other/./registry.db-wal"), other},
        {root.str("sub/../other/registry.db-shm"), other},
    };
    for (const auto& [target, storePath] : targets) {
        const Outcome refused = Tool(registry, {"export", "HKLM", target, "/y"}, storePath);
        EXPECT_EQ(refused.status, 1) << target;
        EXPECT_NE(refused.err.find("is the registry store " + storePath), std::string::npos)
            << refused.err;
    }
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(fakes::Read(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "v").bytes, fakes::Sz("x"));

    const fs::path victim = root.path() / "passwd";
    fakes::WriteFile(victim, "root:x:0:0::/root:/bin/sh\n");
    const fs::path link = root.path() / "backup.reg";
    fs::create_symlink(victim, link);
    EXPECT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\A", link.string()}, store).status, 1);
    EXPECT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\A", link.string(), "/y"}, store).status,
              0);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(link).substr(0, 3), "Win");
    EXPECT_EQ(ReadFile(victim), "root:x:0:0::/root:/bin/sh\n");
}

// A store whose every batch finds it busy.
struct BusyStore : fakes::StoreView {
    using StoreView::StoreView;
    LONG RegApplyBatch(const std::function<LONG()>&) override { return ERROR_BUSY; }
};

// Messages name what was asked for and the store once.
TEST(OrvelRegMessages, NameTheValueTheFileAndTheStore) {
    SqliteRegistry store(":memory:");
    fakes::Seed(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "Name", REG_SZ, fakes::Sz("x"));
    BusyStore busy(store);
    fakes::TempDir temp;
    const std::string file = temp.str("in.reg");
    fakes::WriteFile(file, "REGEDIT4\n\n[HKLM\\SOFTWARE\\B]\n");
    const std::string path = "/var/lib/orvel/registry.db";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"delete", "HKLM\\SOFTWARE\\A", "/v", "Name", "/f"},
         "ERROR: cannot delete \"Name\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\A: The requested "
         "resource is in use."},
        {{"delete", "HKLM\\SOFTWARE\\A", "/va", "/f"},
         "ERROR: cannot delete the values of HKEY_LOCAL_MACHINE\\SOFTWARE\\A: The requested"},
        {{"import", file}, "ERROR: " + file + ": The requested resource is in use."},
    };
    for (const auto& [args, message] : cases) {
        const Outcome outcome = Tool(busy, args, path);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.rfind(message, 0), 0u) << outcome.err;
    }
    EXPECT_NE(ResultText(ERROR_ACCESS_DENIED, path)
                  .find("write access to the registry store " + path + ";"),
              std::string::npos);
    EXPECT_EQ(ResultText(ERROR_BADDB, path),
              "the registry store " + path + " is damaged or unreadable");
}

// add /t REG_QWORD, and a key line's comment no longer hides the key.
TEST(OrvelRegTool, QuadWordsAndCommentedKeyLines) {
    SqliteRegistry registry(":memory:");
    EXPECT_EQ(Tool(registry, {"add", "HKLM\\SOFTWARE\\Q", "/v", "Big", "/t", "REG_QWORD", "/d",
                              "0x123456789abcdef0"})
                  .status,
              0);
    EXPECT_NE(Tool(registry, {"query", "HKLM\\SOFTWARE\\Q"})
                  .out.find("Big    REG_QWORD    0x123456789abcdef0"),
              std::string::npos);

    fakes::Seed(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Old\\Child", "v", REG_SZ, fakes::Sz("x"));
    fakes::TempDir temp;
    const std::string file = temp.str("in.reg");
    fakes::WriteFile(file,
                     "Windows Registry Editor Version 5.00\n\n"
                     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old] ; from [v5]\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App] ; see [docs]\n"
                     "\"v\"=\"1\" ; one\n"
                     "\"w\"=\"2\"\n");
    const Outcome imported = Tool(registry, {"import", file});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_FALSE(fakes::KeyExists(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Old"));
    EXPECT_EQ(fakes::Read(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "w").bytes,
              fakes::Sz("2"));
}

// Runs a built program with ORVEL_ROOT=root; its output is kept in the outcome.
Outcome RunProgram(const std::string& program, const fs::path& root,
                   const std::vector<std::string>& args) {
    std::string command = "ORVEL_ROOT='" + root.string() + "' '" ORVEL_BIN_DIR "/" + program + "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " </dev/null >'" + (root / "out.txt").string() + "' 2>'" +
               (root / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(root / "out.txt"),
            ReadFile(root / "err.txt")};
}

// A Run entry of type REG_EXPAND_SZ, as a Windows export carries it (UTF-16
// in hex(2)), starts its program.
TEST(OrvelRegWindowsFile, AnExpandStringRunEntryFromWindowsStartsItsProgram) {
    const fakes::TempDir root("orvel-reg-run");
    const fs::path program = root.path() / "Suite Folder" / "tool";
    fs::create_directories(program.parent_path());
    fakes::WriteFile(program, "#!/bin/sh\necho \"$*\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
    fs::permissions(program, fs::perms::owner_all);
    std::string hex;
    for (char byte : Utf16Bytes("\"" + program.string() + "\" --from windows") + '\0' + '\0') {
        char item[4];
        std::snprintf(item, sizeof item, "%02x", static_cast<unsigned char>(byte));
        hex += (hex.empty() ? "" : ",") + std::string(item);
    }
    fakes::WriteFile(
        root.path() / "run.reg",
        WindowsFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                    std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run") +
                    "]\r\n\"Tool\"=hex(2):" + hex + "\r\n\r\n"));
    const Outcome imported = RunProgram("orvel-reg", root.path(), {"import", root.str("run.reg")});
    ASSERT_EQ(imported.status, 0) << imported.err;
    const Outcome started = RunProgram("orvel-run", root.path(), {});
    EXPECT_EQ(started.status, 0) << started.err;

    // The program runs on its own; wait for its line (up to 30 s on a loaded machine).
    const fs::path out = program.string() + ".out";
    for (int tries = 0; tries < 3000 && !fs::exists(out); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadFile(out), "--from windows\n");
}

}  // namespace
}  // namespace orvel::tools

// orvel-reg against real stores: its operations in process, and the built
// program with a temporary installation root.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
using TempFolder = fakes::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome Tool(Registry& registry, std::vector<std::string> args, const std::string& store = {}) {
    Outcome outcome;
    std::string error;
    const std::optional<Command> command = ParseCommandLine(args, &error);
    if (!command) {
        outcome.status = 2;
        outcome.err = error;
        return outcome;
    }
    std::ostringstream out, err;
    outcome.status = RunCommand(*command, registry, out, err, store);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

void Set(Registry& registry, const std::string& path, const std::string& name, DWORD type,
         const std::string& data) {
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, path, name, type, data);
}

TEST(OrvelRegTool, AddQueryDelete) {
    SqliteRegistry registry(":memory:");
    EXPECT_EQ(
        Tool(registry, {"add", "HKCR\\AppID\\{A}", "/v", "RunAs", "/d", "Interactive User"}).status,
        0);
    Outcome query = Tool(registry, {"query", "HKLM\\SOFTWARE\\Classes\\appid\\{a}"});
    EXPECT_EQ(query.status, 0);
    EXPECT_NE(query.out.find("    RunAs    REG_SZ    Interactive User\n"), std::string::npos)
        << query.out;

    Outcome again = Tool(registry, {"add", "HKCR\\AppID\\{A}", "/v", "runas", "/d", "Other"});
    EXPECT_EQ(again.status, 1) << "an existing value is replaced only with /f";
    EXPECT_NE(again.err.find("/f"), std::string::npos);
    EXPECT_EQ(
        Tool(registry, {"add", "HKCR\\AppID\\{A}", "/v", "runas", "/d", "Other", "/f"}).status, 0);
    query = Tool(registry, {"query", "HKCR\\AppID\\{A}", "/v", "RUNAS"});
    EXPECT_NE(query.out.find("RunAs    REG_SZ    Other"), std::string::npos) << query.out;

    EXPECT_EQ(Tool(registry, {"add", "HKLM\\SOFTWARE\\T", "/v", "n", "/t", "REG_DWORD", "/d", "x"})
                  .status,
              1);
    EXPECT_EQ(Tool(registry, {"query", "HKLM\\SOFTWARE\\T", "/v", "n"}).status, 1)
        << "bad data writes nothing";

    Set(registry, "SOFTWARE\\Tree\\A\\B", "v", REG_SZ, std::string("1\0", 2));
    Set(registry, "SOFTWARE\\Tree\\C", "v", REG_SZ, std::string("2\0", 2));
    Outcome found = Tool(registry, {"query", "HKLM\\SOFTWARE\\Tree", "/v", "V", "/s"});
    EXPECT_EQ(found.status, 0);
    EXPECT_NE(found.out.find("2 match(es)"), std::string::npos) << found.out;

    EXPECT_EQ(Tool(registry, {"delete", "HKLM\\SOFTWARE\\Tree"}).status, 1) << "needs /f";
    EXPECT_EQ(Tool(registry, {"query", "HKLM\\SOFTWARE\\Tree\\A\\B"}).status, 0);
    EXPECT_EQ(Tool(registry, {"delete", "HKLM\\SOFTWARE\\Tree", "/f"}).status, 0);
    EXPECT_EQ(Tool(registry, {"query", "HKLM\\SOFTWARE\\Tree"}).status, 1);
    EXPECT_EQ(Tool(registry, {"delete", "HKLM\\SOFTWARE\\Tree", "/f"}).status, 1);
    EXPECT_EQ(Tool(registry, {"delete", "HKLM", "/f"}).status, 1);
    EXPECT_EQ(Tool(registry, {"delete", "HKCR\\AppID\\{A}", "/v", "nothing", "/f"}).status, 1);
    EXPECT_EQ(Tool(registry, {"delete", "HKCR\\AppID\\{A}", "/va", "/f"}).status, 0);
    EXPECT_EQ(Tool(registry, {"query", "HKCR\\AppID\\{A}", "/v", "RunAs"}).status, 1);
}

// Export, import into an empty store and export again: the same file, and the
// same bytes in every value, odd ones included.
TEST(OrvelRegTool, ExportImportRoundTripIsExact) {
    TempFolder temp;
    const fs::path first = temp.path() / "first.reg";
    const fs::path second = temp.path() / "second.reg";
    {
        SqliteRegistry source((temp.path() / "source.db").string());
        Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "BaseIP", REG_SZ,
            std::string("10.1.2.3\0", 9));
        Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "", REG_SZ, std::string("d\0", 2));
        Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "Port", REG_DWORD,
            std::string("\x10\x27\0\0", 4));
        Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "NoNul", REG_SZ, "abc");
        Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "Empty", REG_SZ, "");
        Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "Odd\"Name\\", 0x1234,
            std::string("\0\1\2", 3));
        Set(source, "SOFTWARE\\Microsoft\\Rpc", "DCOM Protocols", REG_MULTI_SZ,
            std::string("ncacn_ip_tcp\0ncadg_ip_udp\0\0", 27));
        Set(source, "SOFTWARE\\Microsoft\\Rpc", "Blob", REG_BINARY, std::string(200, '\x7f'));
        Set(source, "SOFTWARE\\Classes\\CLSID\\{B}\\LocalServer32", "", REG_SZ,
            std::string("/opt/suite/x y\0", 15));
        fakes::CreateKey(source, HKEY_LOCAL_MACHINE, "SOFTWARE\\EmptyKey");
        ASSERT_EQ(Tool(source, {"export", "HKLM\\SOFTWARE", first.string()}).status, 0);
        Outcome refused = Tool(source, {"export", "HKLM\\SOFTWARE", first.string()});
        EXPECT_EQ(refused.status, 1) << "an existing file is replaced only with /y";
    }
    SqliteRegistry target((temp.path() / "target.db").string());
    Outcome imported = Tool(target, {"import", first.string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    ASSERT_EQ(Tool(target, {"export", "HKLM\\SOFTWARE", second.string()}).status, 0);
    const std::string text = ReadFile(first);
    EXPECT_TRUE(text == ReadFile(second)) << text << "\n----\n" << ReadFile(second);

    SqliteRegistry source((temp.path() / "source.db").string());
    std::vector<RegKeyEntry> before, after;
    ASSERT_EQ(CollectTree(source, KeyName{HKEY_LOCAL_MACHINE, "SOFTWARE"}, &before), 0);
    ASSERT_EQ(CollectTree(target, KeyName{HKEY_LOCAL_MACHINE, "SOFTWARE"}, &after), 0);
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(before[k].key.path, after[k].key.path);
        ASSERT_EQ(before[k].values.size(), after[k].values.size()) << before[k].key.path;
        for (std::size_t v = 0; v < before[k].values.size(); ++v) {
            EXPECT_EQ(before[k].values[v].name, after[k].values[v].name);
            EXPECT_EQ(before[k].values[v].type, after[k].values[v].type);
            EXPECT_TRUE(before[k].values[v].data == after[k].values[v].data)
                << before[k].values[v].name;
        }
    }

    // A file with a fault changes nothing, even in the keys before the fault.
    const fs::path broken = temp.path() / "broken.reg";
    std::ofstream(broken) << "Windows Registry Editor Version 5.00\n\n[HKLM\\SOFTWARE\\New]\n"
                          << "\"a\"=\"b\"\n\"c\"=dword:zz\n";
    Outcome refused = Tool(target, {"import", broken.string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("line 5"), std::string::npos) << refused.err;
    EXPECT_EQ(Tool(target, {"query", "HKLM\\SOFTWARE\\New"}).status, 1);
}

// Everything of HKEY_LOCAL_MACHINE as .reg text, to compare stores.
std::string Everything(Registry& registry) {
    return Tool(registry, {"export", "HKLM", "-"}).out;
}

// A tmpfs of the given size, mounted where root may mount one.
class SmallDisk {
  public:
    SmallDisk(const fs::path& where, const std::string& size) : path(where) {
        fs::create_directories(where);
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0) {
            mounted = true;
        } else {
            why = std::strerror(errno);
        }
    }
    ~SmallDisk() {
        if (mounted) ::umount2(path.c_str(), MNT_DETACH);
    }
    // Fills what is left with one file.
    void Fill() const {
        std::ofstream filler(path / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    fs::path path;
    bool mounted = false;
    std::string why;
};

// Not one spelling of a protected key is deleted, through delete or import.
TEST(OrvelRegTool, ProtectedKeysAreRefusedInEverySpelling) {
    TempFolder temp;
    SqliteRegistry registry((temp.path() / "registry.db").string());
    Set(registry, "SOFTWARE\\Classes\\CLSID\\{B}\\LocalServer32", "", REG_SZ, fakes::Sz("/opt/b"));
    Set(registry, "SOFTWARE\\Classes\\AppID\\{B}", "RunAs", REG_SZ, fakes::Sz("Interactive User"));
    Set(registry, "SOFTWARE\\Quarlen", "Port", REG_DWORD, fakes::Dword(4000));
    const std::string before = Everything(registry);
    const fs::path file = temp.path() / "wipe.reg";
    for (const char* key : {"HKLM", "HKEY_LOCAL_MACHINE\\", "HKLM\\SOFTWARE", "hklm\\software\\",
                            "HKLM\\Software\\CLASSES", "HKCR", "hkey_classes_root", "HKCR\\clsid",
                            "HKCR\\AppID\\", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\appid"}) {
        const Outcome deleted = Tool(registry, {"delete", key, "/f"});
        EXPECT_EQ(deleted.status, 1) << key;
        EXPECT_NE(deleted.err.find("Access is denied."), std::string::npos) << deleted.err;
        std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n[HKLM\\SOFTWARE\\Fresh]\n"
                            << "\"a\"=\"b\"\n\n[-" << key << "]\n";
        const Outcome imported = Tool(registry, {"import", file.string()});
        EXPECT_EQ(imported.status, 1) << key;
        EXPECT_NE(imported.err.find("line 6: Access is denied."), std::string::npos)
            << imported.err;
        EXPECT_EQ(Everything(registry), before) << key;
    }
    EXPECT_EQ(Tool(registry, {"delete", "HKCR\\CLSID\\{B}", "/f"}).status, 0);
}

// An import that fails at its last value leaves the store as it was, and says where.
TEST(OrvelRegTool, ImportFailingHalfWayChangesNothing) {
    SqliteRegistry registry(":memory:");
    Set(registry, "SOFTWARE\\Old\\Child", "v", REG_SZ, fakes::Sz("old"));
    Set(registry, "SOFTWARE\\Keep", "v", REG_SZ, fakes::Sz("kept"));
    const std::string before = Everything(registry);
    TempFolder temp;
    const fs::path file = temp.path() / "half.reg";
    std::ofstream out(file);
    out << "Windows Registry Editor Version 5.00\n\n[-HKLM\\SOFTWARE\\Old]\n\n"
        << "[HKLM\\SOFTWARE\\Keep]\n\"v\"=\"changed\"\n\n";
    for (int i = 0; i < 50; ++i) out << "[HKLM\\SOFTWARE\\New\\K" << i << "]\n\"x\"=dword:1\n";
    out << "\"" << std::string(16384, 'n') << "\"=\"too long a name\"\n";
    out.close();
    const Outcome imported = Tool(registry, {"import", file.string()});
    EXPECT_EQ(imported.status, 1);
    EXPECT_NE(imported.err.find("line 108: cannot write"), std::string::npos) << imported.err;
    EXPECT_NE(imported.err.find("nothing was imported"), std::string::npos);
    EXPECT_EQ(Everything(registry), before);
}

// A full disk fails the whole import and the export, in Windows' words and with the store.
TEST(OrvelRegTool, FullDiskIsReportedAndChangesNothing) {
    TempFolder temp;
    const SmallDisk disk(temp.path() / "disk", "320k");
    if (!disk.mounted) GTEST_SKIP() << "no small tmpfs can be mounted here: " << disk.why;
    const std::string store = (disk.path / "registry.db").string();
    SqliteRegistry registry(store);
    Set(registry, "SOFTWARE\\Quarlen", "v", REG_SZ, fakes::Sz("before"));
    const std::string before = Everything(registry);
    const fs::path file = temp.path() / "big.reg";
    std::ofstream out(file);
    out << "Windows Registry Editor Version 5.00\n\n[HKLM\\SOFTWARE\\Quarlen]\n\"v\"=\"after\"\n";
    std::string hex = "7f";
    for (int k = 1; k < 4000; ++k) hex += ",7f";
    for (int i = 0; i < 200; ++i) out << "\"blob" << i << "\"=hex:" << hex << "\n";
    out.close();
    const Outcome imported = Tool(registry, {"import", file.string()}, store);
    EXPECT_EQ(imported.status, 1);
    EXPECT_NE(imported.err.find("There is not enough space on the disk. (registry store " + store),
              std::string::npos)
        << imported.err;
    EXPECT_EQ(Everything(registry), before);

    disk.Fill();
    const Outcome exported =
        Tool(registry, {"export", "HKLM", (disk.path / "out.reg").string()}, store);
    EXPECT_EQ(exported.status, 1);
    EXPECT_NE(exported.err.find("There is not enough space on the disk."), std::string::npos)
        << exported.err;
    for (const auto& entry : fs::directory_iterator(disk.path)) {
        EXPECT_EQ(entry.path().filename().string().find("out.reg"), std::string::npos)
            << "no half-written export is left: " << entry.path();
    }
}

// Export replaces regular files only: through a link the file behind it, never
// a folder, a pipe or a device.
TEST(OrvelRegTool, ExportWritesOnlyRegularFiles) {
    TempFolder temp;
    SqliteRegistry registry(":memory:");
    Set(registry, "SOFTWARE\\Quarlen", "v", REG_SZ, fakes::Sz("x"));
    const fs::path real = temp.path() / "real.reg";
    const fs::path link = temp.path() / "link.reg";
    std::ofstream(real) << "old";
    fs::create_symlink(real, link);
    EXPECT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\Quarlen", link.string()}).status, 1)
        << "an existing file is replaced only with /y";
    EXPECT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\Quarlen", link.string(), "/y"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real).rfind("Windows Registry Editor Version 5.00\n", 0), 0u);

    const fs::path pipe = temp.path() / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const fs::path toPipe = temp.path() / "to-pipe";
    fs::create_symlink(pipe, toPipe);
    const fs::path folder = temp.path() / "folder";
    fs::create_directory(folder);
    std::vector<fs::path> targets = {pipe, toPipe, folder};
    const fs::path device = temp.path() / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) targets.push_back(device);
    for (const fs::path& target : targets) {
        const Outcome refused =
            Tool(registry, {"export", "HKLM\\SOFTWARE\\Quarlen", target.string(), "/y"});
        EXPECT_EQ(refused.status, 1) << target;
        EXPECT_NE(refused.err.find("not a regular file"), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_directory(folder));
    if (targets.size() == 4) {
        EXPECT_TRUE(fs::is_character_file(device));
    }
}

// What the registry editor writes by default, UTF-16 with CR LF, imports as the
// same store as the ANSI file it came from.
TEST(OrvelRegTool, Utf16FileRoundTrips) {
    SqliteRegistry source(":memory:");
    Set(source,
        "SOFTWARE\\Gr\xC3\xBC\xC3\x9F"
        "e\\Net",
        "Name \xE2\x82\xAC", REG_SZ, fakes::Sz("say \"\xF0\x9F\x98\x80\""));
    Set(source,
        "SOFTWARE\\Gr\xC3\xBC\xC3\x9F"
        "e\\Net",
        "Port", REG_DWORD, fakes::Dword(7));
    Set(source,
        "SOFTWARE\\Gr\xC3\xBC\xC3\x9F"
        "e",
        "Blob", REG_BINARY, std::string(100, '\x01'));
    const std::string ansi = Tool(source, {"export", "HKLM\\SOFTWARE", "-"}).out;
    // UTF-8 to UTF-16LE with a byte-order mark and CR LF line ends.
    std::string wide = "\xFF\xFE";
    auto put = [&](std::uint32_t unit) {
        wide += static_cast<char>(unit & 0xFF);
        wide += static_cast<char>(unit >> 8);
    };
    for (std::size_t i = 0; i < ansi.size();) {
        const auto byte = static_cast<unsigned char>(ansi[i]);
        const int length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        std::uint32_t code = length == 1 ? byte : byte & (0x3F >> (length - 1));
        for (int k = 1; k < length; ++k) code = (code << 6) | (ansi[i + k] & 0x3F);
        i += length;
        if (code == '\n') put('\r');
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    TempFolder temp;
    const fs::path file = temp.path() / "wide.reg";
    fakes::WriteFile(file, wide);
    SqliteRegistry target(":memory:");
    const Outcome imported = Tool(target, {"import", file.string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(Tool(target, {"export", "HKLM\\SOFTWARE", "-"}).out, ansi);
}

// The built program, as operators and installers run it.
class OrvelRegProgram : public ::testing::Test {
  protected:
    Outcome Program(const std::vector<std::string>& args, const std::string& output = {}) {
        std::string command =
            "ORVEL_ROOT='" + temp.path().string() + "' '" ORVEL_BIN_DIR "/orvel-reg'";
        for (const std::string& arg : args) {
            std::string quoted = "'";
            for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            command += " " + quoted + "'";
        }
        const fs::path errFile = temp.path() / "stderr.txt";
        command += " 2>'" + errFile.string() + "' </dev/null";
        if (!output.empty()) command += " >'" + output + "'";
        Outcome outcome;
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        std::size_t count = 0;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            outcome.out.append(buffer, count);
        }
        const int status = ::pclose(pipe);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.err = ReadFile(errFile);
        return outcome;
    }
    TempFolder temp;
};

TEST_F(OrvelRegProgram, WorksOnTheStoreOfItsRoot) {
    Outcome help = Program({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("orvel-reg query KEY"), std::string::npos);
    EXPECT_FALSE(fs::exists(temp.path() / "registry.db")) << "help touches no store";

    Outcome usage = Program({"add"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("--help"), std::string::npos);

    EXPECT_EQ(Program({"add", "HKLM\\SOFTWARE\\Quarlen\\Corvane\\Path", "/v", "Root", "/d",
                       "/opt/it's here"})
                  .status,
              0);
    EXPECT_TRUE(fs::exists(temp.path() / "registry.db"));
    {
        SqliteRegistry registry((temp.path() / "registry.db").string());
        EXPECT_EQ(
            fakes::Read(registry, HKEY_LOCAL_MACHINE, "software\\quarlen\\corvane\\path", "Root"),
            (fakes::RawValue{REG_SZ, fakes::Sz("/opt/it's here")}));
    }
    Outcome query = Program({"query", "HKLM\\SOFTWARE\\Quarlen", "/s"});
    EXPECT_EQ(query.status, 0);
    EXPECT_NE(query.out.find("Root    REG_SZ    /opt/it's here"), std::string::npos) << query.out;
    EXPECT_EQ(Program({"query", "HKLM\\SOFTWARE\\Missing"}).status, 1);

    Outcome exported = Program({"export", "HKLM\\SOFTWARE\\Quarlen", "-"});
    EXPECT_EQ(exported.status, 0);
    EXPECT_EQ(exported.out.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
}

TEST_F(OrvelRegProgram, DamagedStoreStopsItWithTheProblem) {
    const std::string garbage = "not a registry store\n";
    std::ofstream(temp.path() / "registry.db") << garbage;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"query", "HKLM"},
          std::vector<std::string>{"add", "HKLM\\SOFTWARE\\X", "/v", "a", "/d", "b"}}) {
        Outcome outcome = Program(args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.err.find((temp.path() / "registry.db").string()), std::string::npos)
            << outcome.err;
    }
    EXPECT_EQ(ReadFile(temp.path() / "registry.db"), garbage);
}

// Reading commands make no store; input that is no .reg file and output that
// does not all go out end with a message and a failure.
TEST_F(OrvelRegProgram, RefusesWhatItCannotReadOrWrite) {
    const std::string store = (temp.path() / "registry.db").string();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"query", "HKLM"}, {"export", "HKLM\\SOFTWARE", "-"}}) {
        const Outcome missing = Program(args);
        EXPECT_EQ(missing.status, 1) << args[0];
        EXPECT_EQ(missing.err, "ERROR: store " + store + " not found\n");
    }
    EXPECT_FALSE(fs::exists(store)) << "reading made no store";

    EXPECT_EQ(Program({"add", "HKLM\\SOFTWARE\\Quarlen", "/v", "v", "/d", "x"}).status, 0);
    const Outcome folder = Program({"import", temp.path().string()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
    const Outcome endless = Program({"import", "/dev/zero"});
    EXPECT_EQ(endless.status, 1);
    EXPECT_NE(endless.err.find("more than 64 MB"), std::string::npos) << endless.err;
    const Outcome full = Program({"export", "HKLM\\SOFTWARE", "-"}, "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("There is not enough space on the disk."), std::string::npos)
        << full.err;
}

}  // namespace
}  // namespace orvel::tools

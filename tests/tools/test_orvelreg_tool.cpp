// orvel-reg's operations in process, against real stores.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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

void Set(Registry& registry, const std::string& path, const std::string& name, DWORD type,
         const std::string& data) {
    fakes::Seed(registry, HKEY_LOCAL_MACHINE, path, name, type, data);
}

// Everything of HKEY_LOCAL_MACHINE as .reg text, to compare stores.
std::string Everything(Registry& registry) {
    return Tool(registry, {"export", "HKLM", "-"}).out;
}

// Each step runs on the store the steps before it left.
TEST(OrvelRegTool, AddQueryDelete) {
    SqliteRegistry registry(":memory:");
    Set(registry, "SOFTWARE\\Tree\\A\\B", "v", REG_SZ, fakes::Sz("1"));
    Set(registry, "SOFTWARE\\Tree\\C", "v", REG_SZ, fakes::Sz("2"));
    struct Step {
        std::vector<std::string> args;
        int status;
        const char* shown;  // in the output or the error, "" for none
    };
    const Step steps[] = {
        {{"add", "HKCR\\AppID\\{A}", "/v", "RunAs", "/d", "Interactive User"}, 0, ""},
        {{"query", "HKLM\\SOFTWARE\\Classes\\appid\\{a}"},
         0,
         "    RunAs    REG_SZ    Interactive User"},
        {{"add", "HKCR\\AppID\\{A}", "/v", "runas", "/d", "Other"}, 1, "add /f to replace"},
        {{"add", "HKCR\\AppID\\{A}", "/v", "runas", "/d", "Other", "/f"}, 0, ""},
        {{"query", "HKCR\\AppID\\{A}", "/v", "RUNAS"}, 0, "RunAs    REG_SZ    Other"},
        {{"add", "HKLM\\SOFTWARE\\T", "/v", "n", "/t", "REG_DWORD", "/d", "x"}, 1, ""},
        {{"query", "HKLM\\SOFTWARE\\T", "/v", "n"}, 1, ""},  // bad data wrote nothing
        {{"query", "HKLM\\SOFTWARE\\Tree", "/v", "V", "/s"}, 0, "2 match(es)"},
        {{"delete", "HKLM\\SOFTWARE\\Tree"}, 1, "add /f"},
        {{"query", "HKLM\\SOFTWARE\\Tree\\A\\B"}, 0, ""},
        {{"delete", "HKLM\\SOFTWARE\\Tree", "/f"}, 0, ""},
        {{"query", "HKLM\\SOFTWARE\\Tree"}, 1, ""},
        {{"delete", "HKLM\\SOFTWARE\\Tree", "/f"}, 1, ""},
        {{"delete", "HKCR\\AppID\\{A}", "/v", "nothing", "/f"}, 1, ""},
        {{"delete", "HKCR\\AppID\\{A}", "/va", "/f"}, 0, ""},
        {{"query", "HKCR\\AppID\\{A}", "/v", "RunAs"}, 1, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(&step - steps));
        const Outcome outcome = Tool(registry, step.args);
        EXPECT_EQ(outcome.status, step.status) << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(step.shown), std::string::npos)
            << outcome.out << outcome.err;
    }
}

// Export, import into an empty store and export again: the same text (which
// carries every byte, see OrvelRegFile.WritesEveryValueSoThatItReadsBackTheSame).
TEST(OrvelRegTool, ExportImportRoundTripIsExact) {
    SqliteRegistry source(":memory:");
    Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "BaseIP", REG_SZ, fakes::Sz("10.1.2.3"));
    Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "", REG_SZ, fakes::Sz("d"));
    Set(source, "SOFTWARE\\Quarlen\\Corvane\\Network", "Odd\"Name\\", 0x1234, "\1\2");
    Set(source, "SOFTWARE\\Microsoft\\Rpc", "DCOM Protocols", REG_MULTI_SZ,
        std::string("ncacn_ip_tcp\0ncadg_ip_udp\0\0", 27));
    fakes::CreateKey(source, HKEY_LOCAL_MACHINE, "SOFTWARE\\EmptyKey");
    const std::string text = Tool(source, {"export", "HKLM\\SOFTWARE", "-"}).out;
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\EmptyKey]"), std::string::npos);

    fakes::TempDir temp;
    fakes::WriteFile(temp.path() / "exported.reg", text);
    SqliteRegistry target(":memory:");
    const Outcome imported = Tool(target, {"import", (temp.path() / "exported.reg").string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(Tool(target, {"export", "HKLM\\SOFTWARE", "-"}).out, text);
}

// Not one spelling of a protected key is deleted.
TEST(OrvelRegTool, ProtectedKeysAreRefusedInEverySpelling) {
    SqliteRegistry registry(":memory:");
    Set(registry, "SOFTWARE\\Classes\\CLSID\\{B}\\LocalServer32", "", REG_SZ, fakes::Sz("/opt/b"));
    Set(registry, "SOFTWARE\\Classes\\AppID\\{B}", "RunAs", REG_SZ, fakes::Sz("Interactive User"));
    const std::string before = Everything(registry);
    for (const char* key : {"HKEY_LOCAL_MACHINE\\", "hklm\\software\\", "hkey_classes_root",
                            "HKCR\\clsid", "HKLM\\SOFTWARE\\Classes\\appid"}) {
        const Outcome deleted = Tool(registry, {"delete", key, "/f"});
        EXPECT_EQ(deleted.status, 1) << key;
        EXPECT_NE(deleted.err.find("Access is denied."), std::string::npos) << deleted.err;
    }
    EXPECT_EQ(Everything(registry), before);
    EXPECT_EQ(Tool(registry, {"delete", "HKCR\\CLSID\\{B}", "/f"}).status, 0);
}

// An import that fails, wherever, leaves the store as it was and names the line.
TEST(OrvelRegTool, FailedImportNamesItsLineAndChangesNothing) {
    SqliteRegistry registry(":memory:");
    Set(registry, "SOFTWARE\\Old\\Child", "v", REG_SZ, fakes::Sz("old"));
    Set(registry, "SOFTWARE\\Keep", "v", REG_SZ, fakes::Sz("kept"));
    const std::string before = Everything(registry);
    const std::string head =
        "Windows Registry Editor Version 5.00\n\n[-HKLM\\SOFTWARE\\Old]\n\n"
        "[HKLM\\SOFTWARE\\Keep]\n\"v\"=\"changed\"\n\n";
    std::string lastValueTooLong = head;
    for (int i = 0; i < 50; ++i) {
        lastValueTooLong += "[HKLM\\SOFTWARE\\New\\K" + std::to_string(i) + "]\n\"x\"=dword:1\n";
    }
    lastValueTooLong += "\"" + std::string(16384, 'n') + "\"=\"too long a name\"\n";
    const std::pair<std::string, std::string> files[] = {
        {head + "\"c\"=dword:zz\n", "line 8"},
        {head + "[-HKCR\\AppID\\]\n", "line 8: Access is denied."},
        {lastValueTooLong, "line 108: cannot write"},
    };
    fakes::TempDir temp;
    const fs::path file = temp.path() / "import.reg";
    for (const auto& [text, mention] : files) {
        SCOPED_TRACE(mention);
        fakes::WriteFile(file, text);
        const Outcome imported = Tool(registry, {"import", file.string()});
        EXPECT_EQ(imported.status, 1);
        EXPECT_NE(imported.err.find(mention), std::string::npos) << imported.err;
        EXPECT_EQ(Everything(registry), before);
    }
}

// A full disk fails the whole import and the export, in Windows' words and with the store.
TEST(OrvelRegTool, FullDiskIsReportedAndChangesNothing) {
    fakes::TempDir temp;
    const fs::path disk = temp.path() / "disk";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=320k") != 0) {
        GTEST_SKIP() << "no small tmpfs can be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        const fs::path& disk;
        ~Unmount() { ::umount2(disk.c_str(), MNT_DETACH); }
    } unmount{disk};
    const std::string store = (disk / "registry.db").string();
    SqliteRegistry registry(store);
    Set(registry, "SOFTWARE\\Quarlen", "v", REG_SZ, fakes::Sz("before"));
    const std::string before = Everything(registry);
    const fs::path file = temp.path() / "big.reg";
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKLM\\SOFTWARE\\Quarlen]\n\"v\"=\"after\"\n";
    std::string hex = "7f";
    for (int k = 1; k < 4000; ++k) hex += ",7f";
    for (int i = 0; i < 200; ++i) text += "\"blob" + std::to_string(i) + "\"=hex:" + hex + "\n";
    fakes::WriteFile(file, text);
    const Outcome imported = Tool(registry, {"import", file.string()}, store);
    EXPECT_EQ(imported.status, 1);
    EXPECT_NE(imported.err.find("There is not enough space on the disk. (registry store " + store),
              std::string::npos)
        << imported.err;
    EXPECT_EQ(Everything(registry), before);

    std::ofstream filler(disk / "filler", std::ios::binary);  // takes what is left
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
    const Outcome exported = Tool(registry, {"export", "HKLM", (disk / "out.reg").string()}, store);
    EXPECT_EQ(exported.status, 1);
    EXPECT_NE(exported.err.find("There is not enough space on the disk."), std::string::npos)
        << exported.err;
    for (const auto& entry : fs::directory_iterator(disk)) {
        EXPECT_EQ(entry.path().filename().string().find("out.reg"), std::string::npos)
            << "no half-written export is left: " << entry.path();
    }
}

// Export replaces regular files only, and only with /y: a link itself (never
// the file behind it), never a folder, a pipe or a device.
TEST(OrvelRegTool, ExportWritesOnlyRegularFiles) {
    fakes::TempDir temp;
    SqliteRegistry registry(":memory:");
    Set(registry, "SOFTWARE\\Quarlen", "v", REG_SZ, fakes::Sz("x"));
    const fs::path real = temp.path() / "real.reg";
    const fs::path link = temp.path() / "link.reg";
    std::ofstream(real) << "old";
    fs::create_symlink(real, link);
    EXPECT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\Quarlen", link.string()}).status, 1);
    EXPECT_EQ(Tool(registry, {"export", "HKLM\\SOFTWARE\\Quarlen", link.string(), "/y"}).status, 0);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "old");

    const fs::path pipe = temp.path() / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const fs::path folder = temp.path() / "folder";
    fs::create_directory(folder);
    std::vector<fs::path> targets = {pipe, folder};
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
    EXPECT_TRUE(targets.size() < 4 || fs::is_character_file(device));
}

}  // namespace
}  // namespace orvel::tools

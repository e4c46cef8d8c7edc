// orvel-reg against real stores: its operations in process, and the built
// program with a temporary installation root.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

Outcome Tool(Registry& registry, std::vector<std::string> args) {
    Outcome outcome;
    std::string error;
    const std::optional<Command> command = ParseCommandLine(args, &error);
    if (!command) {
        outcome.status = 2;
        outcome.err = error;
        return outcome;
    }
    std::ostringstream out, err;
    outcome.status = RunCommand(*command, registry, out, err);
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

// The built program, as operators and installers run it.
class OrvelRegProgram : public ::testing::Test {
  protected:
    Outcome Program(const std::vector<std::string>& args) {
        std::string command =
            "ORVEL_ROOT='" + temp.path().string() + "' '" ORVEL_BIN_DIR "/orvel-reg'";
        for (const std::string& arg : args) {
            std::string quoted = "'";
            for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            command += " " + quoted + "'";
        }
        const fs::path errFile = temp.path() / "stderr.txt";
        command += " 2>'" + errFile.string() + "' </dev/null";
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

}  // namespace
}  // namespace orvel::tools

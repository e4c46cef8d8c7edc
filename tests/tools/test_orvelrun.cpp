// orvel-run: the command lines of the Run list, and the built program
// starting a temporary installation's registered programs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelrun/RunList.h"

namespace orvel::tools {
namespace {

namespace fs = std::filesystem;
using platform::StartResult;

TEST(OrvelRunCommands, QuotedAndUnquotedProgramsWithArguments) {
    struct Case {
        const char* line;
        std::optional<RunCommand> expected;
    };
    const Case cases[] = {
        {"\"/opt/Orvel Console/Orvel_Console\"",
         RunCommand{"/opt/Orvel Console/Orvel_Console", {}}},
        {"  \"/opt/a b/x\" -q \"two words\"  last",
         RunCommand{"/opt/a b/x", {"-q", "two words", "last"}}},
        {"/usr/bin/tool --flag", RunCommand{"/usr/bin/tool", {"--flag"}}},
        {"\"/opt/open quote", std::nullopt},
        {"   ", std::nullopt},
        {"\"\" arg", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseRunCommand(c.line);
        ASSERT_EQ(parsed.has_value(), c.expected.has_value()) << c.line;
        if (!parsed) continue;
        EXPECT_EQ(parsed->program, c.expected->program) << c.line;
        EXPECT_EQ(parsed->arguments, c.expected->arguments) << c.line;
    }
}

TEST(OrvelRunCommands, AFailureIsNamedAndTheOthersStillStart) {
    std::vector<std::string> started;
    std::ostringstream err;
    const int failures = StartRunList(
        {{"A", "/bin/a"}, {"Bad", "\"/bin/open"}, {"Gone", "/bin/gone x"}, {"C", "/bin/c"}},
        [&](const RunCommand& command) {
            started.push_back(command.program);
            if (command.program == "/bin/gone") return StartResult{0, "No such file or directory"};
            return StartResult{100, {}};
        },
        err);
    EXPECT_EQ(failures, 2);
    EXPECT_EQ(started, (std::vector<std::string>{"/bin/a", "/bin/gone", "/bin/c"}));
    EXPECT_EQ(err.str(),
              "orvel-run: Bad: cannot read the command line \"\"/bin/open\"\n"
              "orvel-run: Gone: cannot start /bin/gone: No such file or directory\n");
}

using fakes::ReadFile;

// Polls until the file holds a whole line, for at most ten seconds.
std::string AwaitLine(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = ReadFile(path);
        if (!text.empty() && text.back() == '\n') return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
}

// A program that writes its arguments and working folder into a file beside it.
void WriteRecorder(const fs::path& program) {
    fs::create_directories(program.parent_path());
    std::ofstream(program)
        << "#!/bin/sh\necho \"$* @ $(pwd)\" > \"$0.out.tmp\" && mv \"$0.out.tmp\" "
           "\"$0.out\"\n";
    ::chmod(program.c_str(), 0755);
}

TEST(OrvelRunProgram, StartsTheRegisteredProgramsAndNamesTheMissingOne) {
    const fakes::TempDir temp("orvel-run");
    const fs::path& root = temp.path();
    const fs::path spaced = root / "Suite Folder" / "first tool";
    const fs::path plain = root / "bin" / "second";
    WriteRecorder(spaced);
    WriteRecorder(plain);
    {
        platform::SqliteRegistry registry((root / "registry.db").string());
        auto put = [&](const char* name, const std::string& text) {
            fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, kRunListKey, name, platform::REG_SZ,
                        fakes::Sz(text));
        };
        put("First", "\"" + spaced.string() + "\" --one \"two words\"");
        put("Missing", "\"" + (root / "nowhere" / "third").string() + "\"");
        put("Second", plain.string());
    }
    auto run = [&](const std::string& args, std::string* err) {
        const fs::path errFile = root / "stderr.txt";
        const std::string command = "ORVEL_ROOT='" + root.string() +
                                    "' '" ORVEL_BIN_DIR "/orvel-run'" + args + " >/dev/null 2>'" +
                                    errFile.string() + "' </dev/null";
        const int status = std::system(command.c_str());
        *err = ReadFile(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string err;
    EXPECT_EQ(run("", &err), 1);
    EXPECT_NE(err.find("Missing: cannot start " + (root / "nowhere" / "third").string()),
              std::string::npos)
        << err;
    EXPECT_EQ(AwaitLine(spaced.string() + ".out"),
              "--one two words @ " + spaced.parent_path().string() + "\n");
    EXPECT_EQ(AwaitLine(plain.string() + ".out"), " @ " + plain.parent_path().string() + "\n");

    EXPECT_EQ(run(" --help", &err), 0);
    EXPECT_EQ(run(" --now", &err), 2);
    EXPECT_NE(err.find("Usage: orvel-run"), std::string::npos) << err;

    // Without a store it says so and makes none.
    fs::remove(root / "registry.db");
    EXPECT_EQ(run("", &err), 1);
    EXPECT_EQ(err, "orvel-run: store " + (root / "registry.db").string() + " not found\n");
    EXPECT_FALSE(fs::exists(root / "registry.db"));
}

}  // namespace
}  // namespace orvel::tools

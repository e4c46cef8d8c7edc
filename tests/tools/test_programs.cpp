// The built tools, as operators, installers and log-ons run them, each on the
// registry store of a temporary installation root; and orvel-run's work in
// process: the command lines of the Run list and starting them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelrun/LogOnUser.h"
#include "tools/orvelrun/RunList.h"

namespace orvel::tools {
namespace {

namespace fs = std::filesystem;
using fakes::ReadFile;
using platform::StartResult;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program of the build with ORVEL_ROOT=root; its standard output goes
// to output, or is kept in the outcome when output is "".
Outcome RunProgram(const std::string& program, const fs::path& root,
                   const std::vector<std::string>& args, const std::string& output = {}) {
    std::string command = "ORVEL_ROOT='" + root.string() + "' '" ORVEL_BIN_DIR "/" + program + "'";
    for (const std::string& arg : args) {
        std::string quoted = "'";
        for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += " " + quoted + "'";
    }
    const fs::path outFile = root / "stdout.txt";
    const fs::path errFile = root / "stderr.txt";
    command += " </dev/null 2>'" + errFile.string() + "' >'" +
               (output.empty() ? outFile.string() : output) + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output.empty() ? ReadFile(outFile) : "",
            ReadFile(errFile)};
}

// Help, usage and reading commands make no store; a damaged store (named),
// input that is no .reg file and output that does not all go out end with a
// message and a failure.
TEST(OrvelRegProgram, WorksOnTheStoreOfItsRootAndRefusesWhatItCannotDo) {
    const fakes::TempDir root("orvel-reg");
    const std::string store = root.str("registry.db");
    const std::string garbage = "not a registry store\n";
    struct Step {
        std::vector<std::string> args;
        std::string output;  // where the standard output goes, "" for the pipe
        int status;
        std::string shown;  // in the output or the error
        bool storeAfter;
        const std::string* storeBefore = nullptr;  // written to the store before the run
    };
    const Step steps[] = {
        {{"--help"}, "", 0, "orvel-reg query KEY", false},
        {{"add"}, "", 2, "--help", false},
        {{"query", "HKLM"}, "", 1, "ERROR: store " + store + " not found\n", false},
        {{"export", "HKLM\\SOFTWARE", "-"}, "", 1, "ERROR: store " + store + " not found", false},
        {{"add", "HKLM\\SOFTWARE\\Quarlen", "/v", "Root", "/d", "/opt/it's here"}, "", 0, "", true},
        {{"query", "HKLM\\SOFTWARE", "/s"}, "", 0, "Root    REG_SZ    /opt/it's here", true},
        {{"export", "HKLM", "-"}, "", 0, "Windows Registry Editor Version 5.00\n", true},
        {{"import", root.str()}, "", 1, "is a folder", true},
        {{"import", "/dev/zero"}, "", 1, "more than 64 MB", true},  // read as bytes, NULs and all
        {{"export", "HKLM", "-"}, "/dev/full", 1, "There is not enough space on the disk.", true},
        {{"query", "HKLM"}, "", 1, store, true, &garbage},
        {{"add", "HKLM\\SOFTWARE\\X", "/v", "a"}, "", 1, store, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args.empty() ? "" : step.args[0] + " " + step.shown);
        if (step.storeBefore != nullptr) fakes::WriteFile(store, *step.storeBefore);
        const Outcome outcome = RunProgram("orvel-reg", root.path(), step.args, step.output);
        EXPECT_EQ(outcome.status, step.status);
        EXPECT_NE((outcome.out + outcome.err).find(step.shown), std::string::npos) << outcome.err;
        EXPECT_EQ(fs::exists(store), step.storeAfter);
    }

    EXPECT_EQ(ReadFile(store), garbage) << "a damaged store is never written";
}

TEST(OrvelRunCommands, QuotedAndUnquotedProgramsWithArguments) {
    // Each line and what it gives: the program and each argument after a "|",
    // "<none>" when the line cannot be read.
    const std::pair<const char*, const char*> cases[] = {
        {"\"/opt/Orvel Console/Orvel_Console\"", "/opt/Orvel Console/Orvel_Console"},
        {"  \"/opt/a b/x\" -q \"two words\"  last", "/opt/a b/x|-q|two words|last"},
        {"/usr/bin/tool --flag", "/usr/bin/tool|--flag"},
        {"\"/opt/open quote", "<none>"},
        {"   ", "<none>"},
        {"\"\" arg", "<none>"},
    };
    for (const auto& [line, expected] : cases) {
        const std::optional<RunCommand> parsed = ParseRunCommand(line);
        std::string shown = parsed ? parsed->program : "<none>";
        for (const std::string& argument : parsed ? parsed->arguments : std::vector<std::string>{})
            shown += "|" + argument;
        EXPECT_EQ(shown, expected) << line;
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

// Polls for up to ten seconds until the file holds a whole line.
std::string AwaitLine(const fs::path& path) {
    std::string text = ReadFile(path);
    for (int tries = 0; tries < 1000 && (text.empty() || text.back() != '\n'); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        text = ReadFile(path);
    }
    return text;
}

// Quoting and starting are tested in process and with the program starter;
// here the program reads the Run list of its root's store.
TEST(OrvelRunProgram, StartsTheRegisteredProgramsAndNamesTheMissingOne) {
    const fakes::TempDir root("orvel-run");
    const std::string store = root.str("registry.db");
    // A program that writes its arguments and working folder into a file beside it.
    const fs::path recorder = root.path() / "Suite Folder" / "first tool";
    fs::create_directories(recorder.parent_path());
    fakes::WriteFile(recorder,
                     "#!/bin/sh\necho \"$* @ $(pwd)\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
    ::chmod(recorder.c_str(), 0755);
    const std::string missing = root.str("nowhere/third");
    {
        platform::SqliteRegistry registry(store);
        fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, kRunListKey, "First", platform::REG_SZ,
                    fakes::Sz("\"" + recorder.string() + "\" --one \"two words\""));
        fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, kRunListKey, "Missing",
                    platform::REG_SZ, fakes::Sz(missing));
    }
    const Outcome started = RunProgram("orvel-run", root.path(), {}, "/dev/null");
    EXPECT_EQ(started.status, 1);
    EXPECT_NE(started.err.find("Missing: cannot start " + missing), std::string::npos)
        << started.err;
    EXPECT_EQ(AwaitLine(recorder.string() + ".out"),
              "--one two words @ " + recorder.parent_path().string() + "\n");

    EXPECT_EQ(RunProgram("orvel-run", root.path(), {"--help"}).status, 0);
    const Outcome usage = RunProgram("orvel-run", root.path(), {"--now"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Usage: orvel-run"), std::string::npos) << usage.err;

    fs::remove(store);
    const Outcome storeless = RunProgram("orvel-run", root.path(), {});
    EXPECT_EQ(storeless.status, 1);
    EXPECT_EQ(storeless.err, "orvel-run: store " + store + " not found\n");
    EXPECT_FALSE(fs::exists(store)) << "a missing store is reported, never made";
}

// The autostart entry runs for every user who logs in; the Run list is for
// root and the operators' group, reached through the primary group or a
// supplementary one, and for no one else when the group does not exist.
TEST(OrvelRunLogOn, RunsForRootAndMembersOfTheOperatorsGroupOnly) {
    const gid_t operators = 990;
    const std::vector<gid_t> none;
    const std::vector<gid_t> withOperators{100, operators, 27};
    const std::vector<gid_t> others{100, 27};
    EXPECT_TRUE(IsOperator(0, 0, none, operators));
    EXPECT_TRUE(IsOperator(0, 0, none, std::nullopt));
    EXPECT_TRUE(IsOperator(1000, 1000, withOperators, operators));
    EXPECT_TRUE(IsOperator(1000, operators, none, operators));
    EXPECT_FALSE(IsOperator(1000, 1000, others, operators));
    EXPECT_FALSE(IsOperator(1000, 1000, withOperators, std::nullopt));
    EXPECT_FALSE(IsOperator(1000, 1000, none, operators));
}

// As root (the package test's case) --log-on starts the Run list as a plain run does.
TEST(OrvelRunLogOn, RootStartsTheRunList) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root; the package test runs it as a non-member";
    const fakes::TempDir root("orvel-run-log-on");
    const fs::path recorder = root.path() / "tool";
    fakes::WriteFile(recorder, "#!/bin/sh\necho ran > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
    ::chmod(recorder.c_str(), 0755);
    {
        platform::SqliteRegistry registry(root.str("registry.db"));
        fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, kRunListKey, "Tool", platform::REG_SZ,
                    fakes::Sz(recorder.string()));
    }
    const Outcome started = RunProgram("orvel-run", root.path(), {"--log-on"}, "/dev/null");
    EXPECT_EQ(started.status, 0) << started.err;
    EXPECT_EQ(AwaitLine(recorder.string() + ".out"), "ran\n");
}

}  // namespace
}  // namespace orvel::tools

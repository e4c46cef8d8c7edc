// orvel-run: the log-on runner. Starts every command of the machine-wide Run
// list of the registry store and ends; it does not wait for them.

#include <iostream>
#include <string>
#include <vector>

#include "platform/InstallRoot.h"
#include "platform/StandardOptions.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelrun/LogOnUser.h"
#include "tools/orvelrun/RunList.h"

namespace {

const char* const kUsage =
    "Usage: orvel-run [--log-on | --help | --version]\n"
    "Starts every program of the registry's Run list\n"
    "(HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run), as a log-on does.\n"
    "A program that cannot be started is named on standard error; the others\n"
    "still start. Exit status: 0 all started, 1 some could not, 2 bad usage.\n"
    "\n"
    "  --log-on   as the autostart entry runs it: starts nothing (exit status 0)\n"
    "             for a user who is neither root nor a member of the group orvel\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace orvel;
    const std::vector<std::string> args = platform::Arguments(argc, argv);
    if (args.size() == 1) {
        if (auto answered = platform::AnswerStandardOption(args, "orvel-run", kUsage, std::cout))
            return *answered;
    }
    const bool logOn = args.size() == 1 && args[0] == "--log-on";
    if (argc > 1 && !logOn) {
        std::cerr << "orvel-run: unknown argument \"" << argv[1] << "\"\n" << kUsage;
        return 2;
    }
    // Every user's log-on runs the entry; the suite's programs are for its operators.
    if (logOn && !tools::ThisProcessIsOperator()) {
        std::cerr << "orvel-run: not a member of the group " << tools::kOperatorGroup
                  << ": nothing started\n";
        return 0;
    }
    // The Run list is only read: a missing store is reported, never made.
    const platform::InstallRoot root = platform::LocateInstallRoot();
    platform::SqliteRegistry registry(root.registryStore, platform::StoreAccess::ReadOnly);
    if (const std::string problem = registry.StoreProblem(); !problem.empty()) {
        std::cerr << "orvel-run: " << problem << "\n";
        return 1;
    }
    if (!registry.Exists()) {
        std::cerr << "orvel-run: store " << root.registryStore << " not found\n";
        return 1;
    }
    platform::PosixProgramStarter starter;
    const int failures = tools::StartRunList(
        tools::ReadRunList(registry),
        [&starter](const tools::RunCommand& command) {
            return starter.StartWithArguments(command.program, command.arguments);
        },
        std::cerr);
    return failures == 0 ? 0 : 1;
}

// orvel-reg: the command line of the registry store, in the manner of reg.

#include <iostream>
#include <string>
#include <vector>

#include "platform/InstallRoot.h"
#include "platform/StandardOptions.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelreg/RegText.h"
#include "tools/orvelreg/RegTool.h"

int main(int argc, char** argv) {
    using namespace orvel;
    const std::vector<std::string> args = platform::Arguments(argc, argv);
    if (args.size() == 1 && args[0] == "--version") {
        return *platform::AnswerStandardOption(args, "orvel-reg", "", std::cout);
    }
    std::string error;
    const std::optional<tools::Command> command = tools::ParseCommandLine(args, &error);
    if (!command) {
        std::cerr << "ERROR: " << error << "\nType \"orvel-reg --help\" for usage.\n";
        return 2;
    }
    if (command->verb == tools::Verb::Help) {
        std::cout << tools::UsageText();
        return 0;
    }
    const platform::InstallRoot root = platform::LocateInstallRoot();
    // What only reads never makes a store.
    const bool reads = command->verb == tools::Verb::Query || command->verb == tools::Verb::Export;
    platform::SqliteRegistry registry(root.registryStore, reads ? platform::StoreAccess::ReadOnly
                                                                : platform::StoreAccess::ReadWrite);
    if (const std::string problem = registry.StoreProblem(); !problem.empty()) {
        std::cerr << "ERROR: " << problem << "\n";
        return 1;
    }
    if (reads && !registry.Exists()) {
        std::cerr << "ERROR: store " << root.registryStore << " not found\n";
        return 1;
    }
    return tools::RunCommand(*command, registry, std::cout, std::cerr, root.registryStore);
}

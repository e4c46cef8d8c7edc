// orvel-demo-setup: lays out a complete small installation under $ORVEL_ROOT
// (registry store, suite folder with the component and tool stand-ins, router
// system folder with its INI file) without touching /var/lib or /opt.
// Running it again brings an existing demo installation up to date.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "DemoInstallation.h"

namespace {

constexpr const char* kUsage =
    "usage: orvel-demo-setup --programs FOLDER [--ini FILE]\n"
    "\n"
    "Lays out the demo installation under $ORVEL_ROOT (which must be set):\n"
    "  registry.db            the registry store\n"
    "  suite/                 component server and tool stand-ins\n"
    "  corvane/BIN/           the router system folder with CORVANE.INI\n"
    "  console/               the console, with its settings file beside it\n"
    "\n"
    "  --programs FOLDER  where the built programs are (Orvel_Console, Orvel_Server,\n"
    "                     orvel-demo-component, orvel-demo-tool)\n"
    "  --ini FILE         the CORVANE.INI to start from (kept when one exists)\n";

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> programs;
    std::optional<std::string> ini;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--programs" || arg == "--ini") && i + 1 < argc) {
            (arg == "--programs" ? programs : ini) = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "orvel-demo-setup: unknown argument '" << arg << "'\n\n" << kUsage;
            return 2;
        }
    }
    const char* root = std::getenv("ORVEL_ROOT");
    if (!programs || root == nullptr || *root == '\0') {
        std::cerr << "orvel-demo-setup: --programs and ORVEL_ROOT are both needed\n\n" << kUsage;
        return 2;
    }
    std::string problem = orvel::demo::LayOutDemoInstallation(
        std::filesystem::absolute(root), std::filesystem::absolute(*programs),
        ini ? std::optional<std::filesystem::path>(*ini) : std::nullopt);
    if (!problem.empty()) {
        std::cerr << "orvel-demo-setup: " << problem << "\n";
        return 1;
    }
    std::cout << "demo installation ready in " << root << "\n";
    return 0;
}

// orvel-cert: the site authority, the suite server's certificate and the
// console bundles of an installation.

#include <iostream>
#include <string>
#include <vector>

#include "CertTool.h"
#include "platform/InstallRoot.h"
#include "platform/StandardOptions.h"
#include "suite/SuiteServerSettings.h"

int main(int argc, char** argv) {
    using namespace orvel;
    const std::vector<std::string> args = platform::Arguments(argc, argv);
    if (args.size() == 1) {
        if (auto answered =
                platform::AnswerStandardOption(args, "orvel-cert", tools::CertUsage(), std::cout))
            return *answered;
    }
    const platform::InstallRoot root = platform::LocateInstallRoot();
    tools::CertContext context{suite::TlsFolder(root.registryStore), "openssl", std::cout,
                               std::cerr};
    return tools::RunCertTool(args, context);
}

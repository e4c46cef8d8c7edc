// orvel-cert: the site authority, the suite server's certificate and the
// console bundles of an installation.

#include <iostream>
#include <string>
#include <vector>

#include "CertTool.h"
#include "platform/InstallRoot.h"
#include "suite/SuiteServerSettings.h"

int main(int argc, char** argv) {
    using namespace orvel;
    const platform::InstallRoot root = platform::LocateInstallRoot();
    tools::CertContext context{suite::TlsFolder(root.registryStore), "openssl", std::cout,
                               std::cerr};
    return tools::RunCertTool(std::vector<std::string>(argv + 1, argv + argc), context);
}

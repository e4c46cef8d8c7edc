#pragma once

// orvel-cert's work: every key and certificate is made by the openssl program;
// this code lays out the files, their modes and the revocation list.

#include <ostream>
#include <string>
#include <vector>

namespace orvel::tools {

struct CertContext {
    std::string tlsFolder;  // suite::TlsFolder of the installation
    std::string openssl = "openssl";
    std::ostream& out;
    std::ostream& err;
};

// The whole command line (without the program name); the exit code.
int RunCertTool(const std::vector<std::string>& args, const CertContext& context);

std::string CertUsage();

}  // namespace orvel::tools

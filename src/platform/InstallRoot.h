#pragma once

// Where an installation keeps its machine-wide files. ORVEL_ROOT, read here
// and nowhere else, relocates a whole installation (demo and tests).

#include <string>

namespace orvel::platform {

struct InstallRoot {
    std::string registryStore;  // /var/lib/orvel/registry.db or $ORVEL_ROOT/registry.db
    std::string socketFolder;   // /run/orvel or $ORVEL_ROOT/run
    bool relocated = false;     // ORVEL_ROOT named the root
    std::string suiteServerSocket() const { return socketFolder + "/suite-server.sock"; }
};

// Reads ORVEL_ROOT once; a relative root is made absolute against the
// current directory at the time of the call.
InstallRoot LocateInstallRoot();

}  // namespace orvel::platform

#include "platform/InstallRoot.h"

#include <cstdlib>
#include <filesystem>

namespace orvel::platform {

InstallRoot LocateInstallRoot() {
    InstallRoot root{"/var/lib/orvel/registry.db", "/run/orvel"};
    const char* env = std::getenv("ORVEL_ROOT");
    if (env != nullptr && *env != '\0') {
        std::error_code error;
        std::filesystem::path base = std::filesystem::absolute(env, error);
        if (error) base = env;
        base = base.lexically_normal();
        root.registryStore = (base / "registry.db").string();
        root.socketFolder = (base / "run").string();
        root.relocated = true;
    }
    return root;
}

}  // namespace orvel::platform

#include "platform/linux/ProcessRpcSecurity.h"

namespace orvel::platform {

HRESULT ProcessRpcSecurity::CoInitializeSecurity(int authenticationLevel, int impersonationLevel,
                                                 int capabilities) {
    std::lock_guard lock(mutex_);
    if (settings_) return RPC_E_TOO_LATE;
    settings_ = RpcSecuritySettings{authenticationLevel, impersonationLevel, capabilities};
    return S_OK;
}

const RpcSecuritySettings* ProcessRpcSecurity::Settings() const {
    std::lock_guard lock(mutex_);
    return settings_ ? &*settings_ : nullptr;
}

}  // namespace orvel::platform

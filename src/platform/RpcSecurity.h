#pragma once

#include <cstdint>

namespace orvel::platform {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT RPC_E_TOO_LATE = static_cast<HRESULT>(0x80010119u);
inline constexpr HRESULT RPC_E_NO_GOOD_SECURITY_PACKAGES = static_cast<HRESULT>(0x8001011Au);

inline constexpr int RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr int RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr int EOAC_NONE = 0;

// The process-wide security levels start-up asks for (CoInitializeSecurity):
// the first call records them, a later one is too late. Only recorded: the
// suite client's transport security is set where it builds its channel.
struct RpcSecuritySettings {
    int authenticationLevel = RPC_C_AUTHN_LEVEL_NONE;
    int impersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
    int capabilities = EOAC_NONE;
};

class RpcSecurity {
  public:
    virtual ~RpcSecurity() = default;
    virtual HRESULT CoInitializeSecurity(int authenticationLevel, int impersonationLevel,
                                         int capabilities) = 0;
    // The settings in force, once set.
    virtual const RpcSecuritySettings* Settings() const = 0;
};

}  // namespace orvel::platform

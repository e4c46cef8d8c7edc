#pragma once

#include <optional>

#include "platform/RpcSecurity.h"

namespace orvel::fakes {

// Answers CoInitializeSecurity with the scripted result (S_OK unless set) and
// records the arguments of every call.
class FakeRpcSecurity : public platform::RpcSecurity {
  public:
    platform::HRESULT CoInitializeSecurity(int authenticationLevel, int impersonationLevel,
                                           int capabilities) override {
        ++calls;
        last = platform::RpcSecuritySettings{authenticationLevel, impersonationLevel, capabilities};
        return result;
    }
    const platform::RpcSecuritySettings* Settings() const override {
        return last ? &*last : nullptr;
    }

    platform::HRESULT result = platform::S_OK;
    int calls = 0;
    std::optional<platform::RpcSecuritySettings> last;
};

}  // namespace orvel::fakes

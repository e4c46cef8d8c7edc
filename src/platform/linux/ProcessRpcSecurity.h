#pragma once

#include <mutex>
#include <optional>

#include "platform/RpcSecurity.h"

namespace orvel::platform {

// The process-wide security settings of the RPC client: the first call
// fixes them, every later call in the same process is too late.
class ProcessRpcSecurity final : public RpcSecurity {
  public:
    HRESULT CoInitializeSecurity(int authenticationLevel, int impersonationLevel,
                                 int capabilities) override;
    const RpcSecuritySettings* Settings() const override;

  private:
    mutable std::mutex mutex_;
    std::optional<RpcSecuritySettings> settings_;
};

}  // namespace orvel::platform

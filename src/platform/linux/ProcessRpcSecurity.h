#pragma once

#include <mutex>
#include <optional>

#include "platform/RpcSecurity.h"

namespace orvel::platform {

// The process-wide security levels start-up asks for: the first call records
// them, every later call in the same process is too late. No connection reads
// them (see docs/startup.md).
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

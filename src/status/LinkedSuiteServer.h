#pragma once

// Two suite server instances that share one fate. In local mode both of the
// console's references are instances of the same server on this computer:
// once a call on either has been lost (deadline or dead channel, error 462),
// every later call on both fails at once, so a hung server costs one deadline
// and not one per instance.

#include <memory>

#include "suiteclient/SuiteServer.h"

namespace orvel::status {

struct SharedFate {
    bool lost = false;
};

class LinkedSuiteServer final : public suiteclient::SuiteServer {
  public:
    LinkedSuiteServer(std::shared_ptr<suiteclient::SuiteServer> inner,
                      std::shared_ptr<SharedFate> fate);
    // A lost instance is released without a call on it.
    ~LinkedSuiteServer() override;

    // True once a call on either linked instance was lost, or an event stream broke.
    bool Lost() const { return fate_->lost; }

    platform::Outcome<std::int16_t> GetClientCount() override;
    platform::Outcome<std::string> GetActiveSet() override;
    platform::Outcome<std::int16_t> DisconnectClient() override;
    platform::Outcome<std::int16_t> ConnectClient(const std::string& name) override;
    platform::Outcome<std::string> GetComponentName(std::int16_t index) override;
    platform::Outcome<std::int32_t> GetComponentStatus(std::int16_t index) override;
    platform::Outcome<std::int32_t> StopComponent(std::int16_t index) override;
    platform::Outcome<std::int32_t> StartComponent(std::int16_t index) override;
    platform::Outcome<std::int16_t> GetPlatformId() override;
    platform::Outcome<platform::DateTime> GetServerTime() override;
    platform::Outcome<std::int16_t> GetOSBuild() override;
    platform::Outcome<std::int16_t> GetOSMinorVersion() override;
    platform::Outcome<std::int16_t> GetOSMajorVersion() override;
    platform::Outcome<std::string> GetServerName() override;
    platform::Outcome<std::string> GetServerVersion() override;
    void SetEventHandlers(suiteclient::SuiteServerEvents handlers) override;
    void SetLostHandler(std::function<void()> handler) override;
    void Abandon() override;

  private:
    template <typename Call>
    auto Guarded(Call call) -> decltype(call());

    std::shared_ptr<suiteclient::SuiteServer> inner_;
    std::shared_ptr<SharedFate> fate_;
};

}  // namespace orvel::status

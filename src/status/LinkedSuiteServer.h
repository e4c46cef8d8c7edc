#pragma once

// A suite server reference as the console holds it. Two instances may share
// one fate: in local mode both of the console's references are instances of
// the same server on this computer, and once a call on either has been lost
// (deadline or dead channel, error 462), every later call on both fails at
// once, so a hung server costs one deadline and not one per instance.
//
// Calls made on the user-interface thread run on the server worker and are
// waited for only a short budget: a call that outlives it answers 462 without
// losing the reference, and so does every call until that one has ended.
// The worker's own calls (connect, withdrawals) wait their full deadline.

#include <atomic>
#include <chrono>
#include <memory>

#include "status/ServerWorker.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::status {

struct SharedFate {
    std::atomic<bool> lost{false};
};

// How long the user-interface thread waits for one server call.
inline constexpr std::chrono::milliseconds kUiCallBudget{50};

class LinkedSuiteServer final : public suiteclient::SuiteServer {
  public:
    LinkedSuiteServer(std::shared_ptr<suiteclient::SuiteServer> inner,
                      std::shared_ptr<SharedFate> fate, std::shared_ptr<ServerWorker> worker);
    // The instance is released on the worker (a live one is told, which may
    // wait); a lost one without a call.
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
    platform::Outcome<std::vector<suiteclient::RecordedServerEvent>> GetRecentEvents(
        std::uint64_t sinceSequence, std::uint32_t max) override;
    void SetEventHandlers(suiteclient::SuiteServerEvents handlers) override;
    void SetLostHandler(std::function<void()> handler) override;
    void Abandon() override;

  private:
    // call: the operation on the inner instance, holding what it needs by value.
    template <typename T>
    platform::Outcome<T> Guarded(std::function<platform::Outcome<T>()> call);

    std::shared_ptr<suiteclient::SuiteServer> inner_;
    std::shared_ptr<SharedFate> fate_;
    std::shared_ptr<ServerWorker> worker_;
};

}  // namespace orvel::status

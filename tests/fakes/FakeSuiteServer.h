#pragma once

// A scripted suite server: per-slot statuses and names, per-operation
// failures, a record of every call, and events raised synchronously.

#include <array>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "suiteclient/SuiteServer.h"

namespace orvel::fakes {

using platform::Outcome;

class FakeSuiteServer : public suiteclient::SuiteServer {
  public:
    FakeSuiteServer();

    Outcome<std::int16_t> GetClientCount() override { return Answer(__func__, clientCount); }
    Outcome<std::string> GetActiveSet() override { return Answer(__func__, activeSet); }
    Outcome<std::int16_t> DisconnectClient() override { return Answer(__func__, std::int16_t{0}); }
    Outcome<std::int16_t> ConnectClient(const std::string& name) override;
    Outcome<std::string> GetComponentName(std::int16_t index) override;
    Outcome<std::int32_t> GetComponentStatus(std::int16_t index) override;
    Outcome<std::int32_t> StopComponent(std::int16_t index) override;
    Outcome<std::int32_t> StartComponent(std::int16_t index) override;
    Outcome<std::int16_t> GetPlatformId() override { return Answer(__func__, platformId); }
    Outcome<platform::DateTime> GetServerTime() override { return Answer(__func__, serverTime); }
    Outcome<std::int16_t> GetOSBuild() override { return Answer(__func__, osBuild); }
    Outcome<std::int16_t> GetOSMinorVersion() override { return Answer(__func__, osMinor); }
    Outcome<std::int16_t> GetOSMajorVersion() override { return Answer(__func__, osMajor); }
    Outcome<std::string> GetServerName() override { return Answer(__func__, serverName); }
    Outcome<std::string> GetServerVersion() override { return Answer(__func__, serverVersion); }
    void SetEventHandlers(suiteclient::SuiteServerEvents events) override { handlers = events; }
    void SetLostHandler(std::function<void()> handler) override {
        lostHandler = std::move(handler);
    }
    void Abandon() override { calls.push_back("Abandon"); }

    // Raise the events as the server would (synchronously, on the caller's thread).
    void RaiseServerChange(std::int16_t index);
    void RaiseMessage(std::int16_t intMessage, std::int16_t intVar, const std::string& strVar);

    // Calls made, by operation name ("GetComponentStatus(3)", "ConnectClient", ...).
    std::vector<std::string> calls;
    int CountCalls(const std::string& prefix) const;

    // Script. A failing operation (by name) answers that error instead.
    std::map<std::string, platform::RuntimeError> failures;
    // When set, every call fails with 462 (a lost instance).
    bool lost = false;

    std::array<std::int32_t, 20> statuses{};
    std::array<std::string, 20> names{};
    // Start and stop move the slot's status to 1 and 0 unless frozen.
    bool startStopChangesStatus = true;
    std::int16_t clientCount = 2;  // a console in local mode registers twice
    std::int16_t connectResult = 2;
    std::string activeSet = "Set A";
    std::int16_t platformId = 2;
    std::int16_t osMajor = 6, osMinor = 1, osBuild = 0;
    platform::DateTime serverTime{2026, 12, 4, 14, 3, 22};
    std::string serverName = "FILESRV";
    std::string serverVersion = "Quarlen_Release_Version: Release 7.1.0";
    suiteclient::SuiteServerEvents handlers;
    // Run it as the client does when the event stream breaks.
    std::function<void()> lostHandler;

  private:
    std::optional<platform::RuntimeError> Fails(const std::string& operation);
    // Records the call of operation (the caller's name); answers its scripted
    // failure, else value.
    template <typename T>
    Outcome<T> Answer(const std::string& operation, T value) {
        calls.push_back(operation);
        if (auto error = Fails(operation)) return *error;
        return value;
    }
};

// Hands out FakeSuiteServer instances: the next ones scripted by the test, or
// fresh ones; records which computer each remote one was asked for.
class FakeSuiteServerFactory : public suiteclient::SuiteServerFactory {
  public:
    Outcome<std::shared_ptr<suiteclient::SuiteServer>> CreateLocal() override {
        if (creationGate.valid()) creationGate.wait();
        ++localCreations;
        return Make();
    }
    Outcome<std::shared_ptr<suiteclient::SuiteServer>> CreateRemote(
        const std::string& computerName) override {
        if (creationGate.valid()) creationGate.wait();
        remoteNames.push_back(computerName);
        return Make();
    }
    // Holds every creation (on the worker that makes it) until the test opens it.
    void HoldCreations() { creationGate = opener_.get_future().share(); }
    void ReleaseCreations() { opener_.set_value(); }

    // Instances given out next, in order (local and remote alike); when empty
    // a new default one is made.
    std::vector<std::shared_ptr<FakeSuiteServer>> next;
    // Failures of the next creations, in order (nullopt: succeed).
    std::vector<std::optional<platform::RuntimeError>> creationFailures;

    std::vector<std::shared_ptr<FakeSuiteServer>> created;
    std::vector<std::string> remoteNames;
    int localCreations = 0;

  private:
    Outcome<std::shared_ptr<suiteclient::SuiteServer>> Make();
    std::promise<void> opener_;
    std::shared_future<void> creationGate;
};

}  // namespace orvel::fakes

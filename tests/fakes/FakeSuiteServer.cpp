#include "FakeSuiteServer.h"

namespace orvel::fakes {

FakeSuiteServer::FakeSuiteServer() {
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = "Component " + std::to_string(i);
}

std::optional<platform::RuntimeError> FakeSuiteServer::Fails(const std::string& operation) {
    if (lost) return platform::MakeError(platform::kErrServerUnavailable);
    auto it = failures.find(operation);
    if (it == failures.end()) return std::nullopt;
    return it->second;
}

int FakeSuiteServer::CountCalls(const std::string& prefix) const {
    int count = 0;
    for (const auto& call : calls) count += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

Outcome<std::int16_t> FakeSuiteServer::ConnectClient(const std::string& name) {
    calls.push_back("ConnectClient(" + name + ")");
    if (auto error = Fails("ConnectClient")) return *error;
    return connectResult;
}

Outcome<std::string> FakeSuiteServer::GetComponentName(std::int16_t index) {
    calls.push_back("GetComponentName(" + std::to_string(index) + ")");
    if (auto error = Fails("GetComponentName")) return *error;
    if (index < 0 || index >= 20) return platform::MakeError(platform::kErrInvalidCall);
    return names[static_cast<std::size_t>(index)];
}

Outcome<std::int32_t> FakeSuiteServer::GetComponentStatus(std::int16_t index) {
    calls.push_back("GetComponentStatus(" + std::to_string(index) + ")");
    if (auto error = Fails("GetComponentStatus")) return *error;
    if (auto error = Fails("GetComponentStatus(" + std::to_string(index) + ")")) return *error;
    if (index < 0 || index >= 20) return platform::MakeError(platform::kErrInvalidCall);
    return statuses[static_cast<std::size_t>(index)];
}

Outcome<std::int32_t> FakeSuiteServer::StopComponent(std::int16_t index) {
    calls.push_back("StopComponent(" + std::to_string(index) + ")");
    if (auto error = Fails("StopComponent")) return *error;
    if (index < 0 || index >= 20) return platform::MakeError(platform::kErrInvalidCall);
    if (startStopChangesStatus) statuses[static_cast<std::size_t>(index)] = 0;
    return 1;
}

Outcome<std::int32_t> FakeSuiteServer::StartComponent(std::int16_t index) {
    calls.push_back("StartComponent(" + std::to_string(index) + ")");
    if (auto error = Fails("StartComponent")) return *error;
    if (index < 0 || index >= 20) return platform::MakeError(platform::kErrInvalidCall);
    if (startStopChangesStatus) statuses[static_cast<std::size_t>(index)] = 1;
    return 1;
}

void FakeSuiteServer::RaiseServerChange(std::int16_t index) {
    if (handlers.serverChange) handlers.serverChange(index);
}

void FakeSuiteServer::RaiseMessage(std::int16_t intMessage, std::int16_t intVar,
                                   const std::string& strVar) {
    if (handlers.message) handlers.message(intMessage, intVar, strVar);
}

Outcome<std::shared_ptr<suiteclient::SuiteServer>> FakeSuiteServerFactory::Make() {
    if (!creationFailures.empty()) {
        auto failure = creationFailures.front();
        creationFailures.erase(creationFailures.begin());
        if (failure) return *failure;
    }
    auto instance = next.empty() ? std::make_shared<FakeSuiteServer>() : next.front();
    if (!next.empty()) next.erase(next.begin());
    created.push_back(instance);
    return std::shared_ptr<suiteclient::SuiteServer>(instance);
}

}  // namespace orvel::fakes

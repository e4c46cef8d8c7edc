#include "status/LinkedSuiteServer.h"

namespace orvel::status {

LinkedSuiteServer::LinkedSuiteServer(std::shared_ptr<suiteclient::SuiteServer> inner,
                                     std::shared_ptr<SharedFate> fate,
                                     std::shared_ptr<ServerWorker> worker)
    : inner_(std::move(inner)), fate_(std::move(fate)), worker_(std::move(worker)) {}

LinkedSuiteServer::~LinkedSuiteServer() {
    if (fate_->lost) inner_->Abandon();
    worker_->Post([inner = std::move(inner_)] {});
}

void LinkedSuiteServer::Abandon() {
    fate_->lost = true;
    inner_->Abandon();
}

template <typename T>
platform::Outcome<T> LinkedSuiteServer::Guarded(std::function<platform::Outcome<T>()> call) {
    if (fate_->lost) return platform::MakeError(platform::kErrServerUnavailable);
    // Marked where the call ends, also when the window stopped waiting for it.
    auto marked = [fate = fate_, call = std::move(call)] {
        auto result = call();
        if (!result && result.error().number == platform::kErrServerUnavailable) {
            fate->lost = true;
        }
        return result;
    };
    auto result = worker_->CallWithin<platform::Outcome<T>>(std::move(marked), kUiCallBudget);
    if (!result) return platform::MakeError(platform::kErrServerUnavailable);
    return *result;
}

platform::Outcome<std::int16_t> LinkedSuiteServer::GetClientCount() {
    return Guarded<std::int16_t>([s = inner_] { return s->GetClientCount(); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetActiveSet() {
    return Guarded<std::string>([s = inner_] { return s->GetActiveSet(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::DisconnectClient() {
    return Guarded<std::int16_t>([s = inner_] { return s->DisconnectClient(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::ConnectClient(const std::string& name) {
    return Guarded<std::int16_t>([s = inner_, name] { return s->ConnectClient(name); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetComponentName(std::int16_t index) {
    return Guarded<std::string>([s = inner_, index] { return s->GetComponentName(index); });
}
platform::Outcome<std::int32_t> LinkedSuiteServer::GetComponentStatus(std::int16_t index) {
    return Guarded<std::int32_t>([s = inner_, index] { return s->GetComponentStatus(index); });
}
platform::Outcome<std::int32_t> LinkedSuiteServer::StopComponent(std::int16_t index) {
    return Guarded<std::int32_t>([s = inner_, index] { return s->StopComponent(index); });
}
platform::Outcome<std::int32_t> LinkedSuiteServer::StartComponent(std::int16_t index) {
    return Guarded<std::int32_t>([s = inner_, index] { return s->StartComponent(index); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetPlatformId() {
    return Guarded<std::int16_t>([s = inner_] { return s->GetPlatformId(); });
}
platform::Outcome<platform::DateTime> LinkedSuiteServer::GetServerTime() {
    return Guarded<platform::DateTime>([s = inner_] { return s->GetServerTime(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetOSBuild() {
    return Guarded<std::int16_t>([s = inner_] { return s->GetOSBuild(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetOSMinorVersion() {
    return Guarded<std::int16_t>([s = inner_] { return s->GetOSMinorVersion(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetOSMajorVersion() {
    return Guarded<std::int16_t>([s = inner_] { return s->GetOSMajorVersion(); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetServerName() {
    return Guarded<std::string>([s = inner_] { return s->GetServerName(); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetServerVersion() {
    return Guarded<std::string>([s = inner_] { return s->GetServerVersion(); });
}

platform::Outcome<std::vector<suiteclient::RecordedServerEvent>> LinkedSuiteServer::GetRecentEvents(
    std::uint64_t sinceSequence, std::uint32_t max) {
    return Guarded<std::vector<suiteclient::RecordedServerEvent>>(
        [s = inner_, sinceSequence, max] { return s->GetRecentEvents(sinceSequence, max); });
}

void LinkedSuiteServer::SetEventHandlers(suiteclient::SuiteServerEvents handlers) {
    inner_->SetEventHandlers(std::move(handlers));
}

void LinkedSuiteServer::SetLostHandler(std::function<void()> handler) {
    // A broken event stream loses both linked instances at once.
    if (handler) {
        handler = [fate = fate_, lost = std::move(handler)] {
            fate->lost = true;
            lost();
        };
    }
    inner_->SetLostHandler(std::move(handler));
}

}  // namespace orvel::status

#include "status/LinkedSuiteServer.h"

namespace orvel::status {

LinkedSuiteServer::LinkedSuiteServer(std::shared_ptr<suiteclient::SuiteServer> inner,
                                     std::shared_ptr<SharedFate> fate)
    : inner_(std::move(inner)), fate_(std::move(fate)) {}

LinkedSuiteServer::~LinkedSuiteServer() {
    if (fate_->lost) inner_->Abandon();
}

void LinkedSuiteServer::Abandon() {
    fate_->lost = true;
    inner_->Abandon();
}

template <typename Call>
auto LinkedSuiteServer::Guarded(Call call) -> decltype(call()) {
    if (fate_->lost) return platform::MakeError(platform::kErrServerUnavailable);
    auto result = call();
    if (!result && result.error().number == platform::kErrServerUnavailable) fate_->lost = true;
    return result;
}

platform::Outcome<std::int16_t> LinkedSuiteServer::GetClientCount() {
    return Guarded([&] { return inner_->GetClientCount(); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetActiveSet() {
    return Guarded([&] { return inner_->GetActiveSet(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::DisconnectClient() {
    return Guarded([&] { return inner_->DisconnectClient(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::ConnectClient(const std::string& name) {
    return Guarded([&] { return inner_->ConnectClient(name); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetComponentName(std::int16_t index) {
    return Guarded([&] { return inner_->GetComponentName(index); });
}
platform::Outcome<std::int32_t> LinkedSuiteServer::GetComponentStatus(std::int16_t index) {
    return Guarded([&] { return inner_->GetComponentStatus(index); });
}
platform::Outcome<std::int32_t> LinkedSuiteServer::StopComponent(std::int16_t index) {
    return Guarded([&] { return inner_->StopComponent(index); });
}
platform::Outcome<std::int32_t> LinkedSuiteServer::StartComponent(std::int16_t index) {
    return Guarded([&] { return inner_->StartComponent(index); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetPlatformId() {
    return Guarded([&] { return inner_->GetPlatformId(); });
}
platform::Outcome<platform::DateTime> LinkedSuiteServer::GetServerTime() {
    return Guarded([&] { return inner_->GetServerTime(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetOSBuild() {
    return Guarded([&] { return inner_->GetOSBuild(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetOSMinorVersion() {
    return Guarded([&] { return inner_->GetOSMinorVersion(); });
}
platform::Outcome<std::int16_t> LinkedSuiteServer::GetOSMajorVersion() {
    return Guarded([&] { return inner_->GetOSMajorVersion(); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetServerName() {
    return Guarded([&] { return inner_->GetServerName(); });
}
platform::Outcome<std::string> LinkedSuiteServer::GetServerVersion() {
    return Guarded([&] { return inner_->GetServerVersion(); });
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

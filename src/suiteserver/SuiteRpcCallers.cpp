// Who calls and which of the server's instances are theirs, the certificates
// revoked since, and the suite's record: the refusals of callers kept in it
// and GetRecentEvents read from it.

#include <algorithm>
#include <chrono>
#include <string_view>

#include "suiteserver/SuiteRpcService.h"

namespace orvel::suiteserver {

namespace {

bool IsTcpPeer(const std::string& peer) {
    return peer.rfind("ipv4:", 0) == 0 || peer.rfind("ipv6:", 0) == 0;
}

// "ipv4:192.0.2.7:51234" -> "ipv4:192.0.2.7"; "ipv6:[::1]:51234" -> "ipv6:[::1]".
std::string HostOf(const std::string& peer) {
    auto colon = peer.rfind(':');
    return colon == std::string::npos || colon < 5 ? peer : peer.substr(0, colon);
}

constexpr std::size_t kIdentityCacheSize = 1024;

}  // namespace

grpc::Status PermissionDenied() {
    return {grpc::StatusCode::PERMISSION_DENIED, "permission denied"};
}

void SuiteRpcService::RecordRefusal(const std::string& client, const std::string& why) {
    if (record_ == nullptr) return;
    SuiteEvent event;
    event.kind = SuiteEventKind::kTlsRefused;
    event.client = client;
    event.detail = why;
    record_->Record(event);
}

grpc::Status SuiteRpcService::Identify(const grpc::ServerContext* context, Caller* caller) {
    std::string peer = context->peer();
    if (!IsTcpPeer(peer)) {
        caller->local = true;
        std::optional<LocalPeer> local;
        if (localPeers_ != nullptr) {
            local = localPeers_->PeerOf(peer);
            if (!local) return {grpc::StatusCode::UNAUTHENTICATED, "unknown local connection"};
            if (!local->allowed) return PermissionDenied();
        }
        caller->owner = local ? "uid " + std::to_string(local->uid) : "local";
        caller->host = caller->owner;
        caller->label = "local " + caller->owner;
        return grpc::Status::OK;
    }
    caller->local = false;
    auto auth = context->auth_context();
    std::vector<grpc::string_ref> pems;
    if (auth) pems = auth->FindPropertyValues("x509_pem_cert");
    if (revoked_ == nullptr || pems.empty()) {
        log_.Line("refused " + peer + ": no verified certificate");
        RecordRefusal(peer, "no verified certificate");
        return {grpc::StatusCode::UNAUTHENTICATED, "no verified certificate"};
    }
    std::string pem(pems.front().data(), pems.front().size());
    CertificateIdentity identity;
    {
        std::lock_guard lock(identitiesMutex_);
        auto it = identities_.find(pem);
        if (it != identities_.end()) {
            identity = it->second;
        } else {
            identity = IdentityOfPem(pem);
            if (identities_.size() >= kIdentityCacheSize) identities_.clear();
            identities_.emplace(pem, identity);
        }
    }
    if (identity.serial.empty() || revoked_->IsRevoked(identity.serial)) {
        log_.Line("refused " + peer + ": certificate " + identity.serial + " of \"" +
                  identity.commonName + "\" is revoked");
        RecordRefusal(peer + " (certificate " + identity.serial + " of \"" +
                          EscapeForLog(identity.commonName) + "\")",
                      "certificate revoked");
        return PermissionDenied();
    }
    caller->owner = "certificate " + identity.serial;
    caller->host = HostOf(peer);
    caller->name = EscapeForLog(identity.commonName);
    caller->label = caller->host + " (\"" + caller->name + "\")";
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::Resolve(const grpc::ServerContext* context, const std::string& handle,
                                      InstanceId* id, Caller* callerOut) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return status;
    {
        std::lock_guard lock(handlesMutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return RefusalStatus(Refusal::kUnknownInstance);
        if (it->second.caller.owner != caller.owner) {
            log_.Line("refused a call of " + caller.label + " on an instance of " +
                      it->second.caller.label);
            return PermissionDenied();
        }
        *id = it->second.id;
    }
    if (callerOut != nullptr) *callerOut = std::move(caller);
    return grpc::Status::OK;
}

void SuiteRpcService::Forget(const std::string& handle) {
    std::lock_guard lock(handlesMutex_);
    handles_.erase(handle);
}

std::size_t SuiteRpcService::EndRevoked() {
    if (revoked_ == nullptr) return 0;
    auto generation = revoked_->Generation();
    std::vector<InstanceId> ended;
    {
        std::lock_guard lock(handlesMutex_);
        if (generation == revocationSeen_) return 0;
        revocationSeen_ = generation;
        for (auto it = handles_.begin(); it != handles_.end();) {
            const auto& owner = it->second.caller.owner;
            constexpr std::string_view kPrefix = "certificate ";
            if (!it->second.caller.local && owner.rfind(kPrefix, 0) == 0 &&
                revoked_->IsRevoked(owner.substr(kPrefix.size()))) {
                ended.push_back(it->second.id);
                it = handles_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (InstanceId id : ended) core_.ReleaseInstance(id);
    if (!ended.empty()) {
        log_.Line("TLS: ended " + std::to_string(ended.size()) +
                  " instance(s) of revoked certificates");
    }
    return ended.size();
}

// At most this many events per answer, and no more bytes than fit the
// server's largest message with room to spare: a console asks again from the
// last sequence it got.
constexpr std::size_t kMaxRecentEvents = 200;
constexpr std::size_t kMaxRecentBytes = std::size_t{48} * 1024;

grpc::Status SuiteRpcService::GetRecentEvents(Ctx* context,
                                              const orvel::rpc::RecentEventsRequest* request,
                                              orvel::rpc::RecentEventsReply* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    if (record_ == nullptr) return grpc::Status::OK;
    std::size_t max = request->max() == 0 ? kMaxRecentEvents
                                          : std::min<std::size_t>(request->max(), kMaxRecentEvents);
    // The oldest first, as asked: the newest are dropped when the bytes run
    // out, and come with the next call.
    std::size_t bytes = 0;
    for (const RecordedEvent& recorded : record_->Recent(request->since_sequence(), max)) {
        const SuiteEvent& event = recorded.event;
        orvel::rpc::RecordedEvent out;
        out.set_sequence(recorded.sequence);
        out.set_time_ms(recorded.timeMs);
        out.set_event(std::string(EventKindName(event.kind)));
        out.set_slot(event.slot);
        out.set_component(event.component);
        out.set_pid(static_cast<std::int32_t>(event.pid));
        out.set_client(event.client);
        if (event.exitCode) out.set_exit_code(*event.exitCode);
        if (event.signal) out.set_signal(*event.signal);
        out.set_run_time_ms(event.runTime.count());
        out.set_detail(event.detail);
        bytes += out.ByteSizeLong() + 4;
        if (bytes > kMaxRecentBytes) break;
        *reply->add_events() = std::move(out);
    }
    return grpc::Status::OK;
}

}  // namespace orvel::suiteserver

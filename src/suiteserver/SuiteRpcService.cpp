#include "suiteserver/SuiteRpcService.h"

#include <chrono>
#include <limits>

#include "platform/Clamp.h"

namespace orvel::suiteserver {

namespace {

template <typename T, typename Reply>
grpc::Status Deliver(const Outcome<T, Refusal>& answer, Reply* reply) {
    if (!answer.ok()) return RefusalStatus(answer.error());
    reply->set_value(answer.value());
    return grpc::Status::OK;
}

// A 16-bit index travels in a wider field; anything outside 16 bits is no slot.
int IndexOf(const orvel::rpc::IndexRequest* request) {
    int index = request->index();
    return index < std::numeric_limits<std::int16_t>::min() ||
                   index > std::numeric_limits<std::int16_t>::max()
               ? -1
               : index;
}

bool IsTcpPeer(const std::string& peer) {
    return peer.rfind("ipv4:", 0) == 0 || peer.rfind("ipv6:", 0) == 0;
}

// "ipv4:192.0.2.7:51234" -> "ipv4:192.0.2.7"; "ipv6:[::1]:51234" -> "ipv6:[::1]".
std::string HostOf(const std::string& peer) {
    auto colon = peer.rfind(':');
    return colon == std::string::npos || colon < 5 ? peer : peer.substr(0, colon);
}

constexpr std::size_t kIdentityCacheSize = 1024;

grpc::Status PermissionDenied() {
    return {grpc::StatusCode::PERMISSION_DENIED, "permission denied"};
}

}  // namespace

grpc::Status RefusalStatus(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone:
            return grpc::Status::OK;
        case Refusal::kUnknownInstance:
            return {grpc::StatusCode::NOT_FOUND, "unknown instance"};
        case Refusal::kBadIndex:
            return {grpc::StatusCode::INVALID_ARGUMENT, "index outside 0..19"};
        case Refusal::kTooManyInstances:
            return {grpc::StatusCode::RESOURCE_EXHAUSTED, "too many instances"};
        case Refusal::kBadArgument:
            return {grpc::StatusCode::INVALID_ARGUMENT, "argument too long"};
        case Refusal::kAlreadyAttached:
            return {grpc::StatusCode::ALREADY_EXISTS, "events already being delivered"};
    }
    return {grpc::StatusCode::INTERNAL, "unknown refusal"};
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

grpc::Status SuiteRpcService::CreateInstance(Ctx* context,
                                             const orvel::rpc::CreateInstanceRequest* request,
                                             Ref* reply) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return status;
    std::lock_guard lock(handlesMutex_);
    // Instances the core let go by itself (never attached, shut down) are
    // forgotten here too.
    std::size_t remote = 0;
    for (auto it = handles_.begin(); it != handles_.end();) {
        if (!core_.Known(it->second.id)) {
            it = handles_.erase(it);
            continue;
        }
        if (!it->second.caller.local) ++remote;
        ++it;
    }
    if (!caller.local && remote >= limits_.remoteInstances) {
        log_.Line("refused instance for " + caller.label + ": " + std::to_string(remote) +
                  " remote instances exist (the rest is kept for local consoles)");
        return RefusalStatus(Refusal::kTooManyInstances);
    }
    std::string program = EscapeForLog(request->client_program());
    if (!caller.local) program += " of \"" + caller.name + "\"";
    auto answer = core_.CreateInstance(caller.host, program);
    if (!answer.ok()) return RefusalStatus(answer.error());
    std::string handle;
    do {
        handle = RandomHandle();
    } while (handles_.count(handle) != 0);
    handles_[handle] = Handle{answer.value(), std::move(caller)};
    reply->set_instance(handle);
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::ReleaseInstance(Ctx* context, const Ref* request,
                                              orvel::rpc::Empty*) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    Forget(request->instance());
    return core_.ReleaseInstance(id) ? grpc::Status::OK : RefusalStatus(Refusal::kUnknownInstance);
}

grpc::Status SuiteRpcService::Events(Ctx* context, const Ref* request,
                                     grpc::ServerWriter<orvel::rpc::ServerEvent>* writer) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    auto attached = core_.AttachEvents(id);
    if (!attached.ok()) return RefusalStatus(attached.error());
    const auto& queue = attached.value();
    // Send the headers now: the client then knows the stream stands.
    writer->SendInitialMetadata();
    orvel::rpc::ServerEvent message;
    for (;;) {
        bool closed = false;
        auto events = queue->Wait(std::chrono::milliseconds(200), &closed);
        if (closed || shuttingDown_) return grpc::Status::OK;
        if (context->IsCancelled()) break;
        bool broken = false;
        for (const auto& event : events) {
            message.Clear();
            if (event.isMessage) {
                auto* body = message.mutable_message();
                body->set_int_message(event.intMessage);
                body->set_int_var(event.intVar);
                body->set_str_var(event.strVar);
            } else {
                message.mutable_server_change()->set_idx_index(event.idxIndex);
            }
            if (!writer->Write(message)) {
                broken = true;
                break;
            }
        }
        if (broken) break;
    }
    Forget(request->instance());
    core_.EventStreamBroken(id);
    return grpc::Status::CANCELLED;
}

grpc::Status SuiteRpcService::GetClientCount(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetClientCount(id), reply);
}

grpc::Status SuiteRpcService::GetActiveSet(Ctx* context, const Ref* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetActiveSet(id), reply);
}

grpc::Status SuiteRpcService::DisconnectClient(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.DisconnectClient(id), reply);
}

grpc::Status SuiteRpcService::ConnectClient(Ctx* context,
                                            const orvel::rpc::ConnectClientRequest* request,
                                            I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.ConnectClient(id, request->name()), reply);
}

grpc::Status SuiteRpcService::GetComponentName(Ctx* context, const Idx* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetComponentName(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::GetComponentStatus(Ctx* context, const Idx* request, I32* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetComponentStatus(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::StopComponent(Ctx* context, const Idx* request, I32* reply) {
    InstanceId id = 0;
    Caller caller;
    if (auto status = Resolve(context, request->instance(), &id, &caller); !status.ok()) {
        return status;
    }
    // A remote console never stops a component server; over TCP nobody may.
    if (!caller.local) {
        log_.Line("refused StopComponent from " + caller.label + ": remote callers may not stop");
        return PermissionDenied();
    }
    return Deliver(core_.StopComponent(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::StartComponent(Ctx* context, const Idx* request, I32* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.StartComponent(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::GetPlatformId(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetPlatformId(id), reply);
}

grpc::Status SuiteRpcService::GetServerTime(Ctx* context, const Ref* request,
                                            orvel::rpc::DateTimeReply* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    auto answer = core_.GetServerTime(id);
    if (!answer.ok()) return RefusalStatus(answer.error());
    reply->set_year(answer->year);
    reply->set_month(answer->month);
    reply->set_day(answer->day);
    reply->set_hour(answer->hour);
    reply->set_minute(answer->minute);
    reply->set_second(answer->second);
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::GetOSBuild(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetOSBuild(id), reply);
}

grpc::Status SuiteRpcService::GetOSMinorVersion(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetOSMinorVersion(id), reply);
}

grpc::Status SuiteRpcService::GetOSMajorVersion(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetOSMajorVersion(id), reply);
}

grpc::Status SuiteRpcService::GetServerName(Ctx* context, const Ref* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetServerName(id), reply);
}

grpc::Status SuiteRpcService::GetServerVersion(Ctx* context, const Ref* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetServerVersion(id), reply);
}

grpc::Status SuiteRpcService::SendOperatorMessage(Ctx* context,
                                                  const orvel::rpc::OperatorMessage* request,
                                                  orvel::rpc::Empty*) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return status;
    if (!caller.local) {
        log_.Line("message refused from " + caller.label + ": local socket only");
        return PermissionDenied();
    }
    return RefusalStatus(core_.SendOperatorMessage(platform::ClampToInt16(request->int_message()),
                                                   platform::ClampToInt16(request->int_var()),
                                                   request->str_var()));
}

}  // namespace orvel::suiteserver

#include "suiteserver/SuiteRpcService.h"

#include <chrono>
#include <exception>
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

HandlerPool::HandlerPool(std::size_t threads, std::size_t maxQueued) : maxQueued_(maxQueued) {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
}

HandlerPool::~HandlerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) thread.join();
}

bool HandlerPool::Run(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= maxQueued_) return false;
        queue_.push_back(std::move(work));
    }
    ready_.notify_one();
    return true;
}

void HandlerPool::Loop() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, nothing left
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
    }
}

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

grpc::Status SuiteRpcService::Identify(const grpc::ServerContextBase* context, Caller* caller) {
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

grpc::Status SuiteRpcService::Resolve(const grpc::ServerContextBase* context,
                                      const std::string& handle, InstanceId* id,
                                      Caller* callerOut) {
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

SuiteRpcService::Unary* SuiteRpcService::Answer(Ctx* context, const grpc::Status& status) {
    auto* reactor = context->DefaultReactor();
    reactor->Finish(status);
    return reactor;
}

SuiteRpcService::Unary* SuiteRpcService::Later(Ctx* context, std::function<grpc::Status()> work) {
    auto* reactor = context->DefaultReactor();
    // An unforeseen exception costs this call, not the handler thread.
    auto run = [reactor, work = std::move(work), this] {
        grpc::Status status;
        try {
            status = work();
        } catch (const std::exception& error) {
            log_.Line(std::string("call failed: ") + error.what());
            status = {grpc::StatusCode::INTERNAL, "internal error"};
        }
        reactor->Finish(status);
    };
    if (!handlers_.Run(std::move(run))) {
        reactor->Finish({grpc::StatusCode::UNAVAILABLE, "server busy"});
    }
    return reactor;
}

template <typename Request, typename Work>
SuiteRpcService::Unary* SuiteRpcService::Now(Ctx* context, const Request* request, Work work) {
    grpc::Status status;
    try {
        InstanceId id = 0;
        status = Resolve(context, request->instance(), &id);
        if (status.ok()) status = work(id);
    } catch (const std::exception& error) {
        log_.Line(std::string("call failed: ") + error.what());
        status = {grpc::StatusCode::INTERNAL, "internal error"};
    }
    return Answer(context, status);
}

SuiteRpcService::Unary* SuiteRpcService::CreateInstance(
    Ctx* context, const orvel::rpc::CreateInstanceRequest* request, Ref* reply) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return Answer(context, status);
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
        return Answer(context, RefusalStatus(Refusal::kTooManyInstances));
    }
    std::string program = EscapeForLog(request->client_program());
    if (!caller.local) program += " of \"" + caller.name + "\"";
    auto answer = core_.CreateInstance(caller.host, program);
    if (!answer.ok()) return Answer(context, RefusalStatus(answer.error()));
    std::string handle;
    do {
        handle = RandomHandle();
    } while (handles_.count(handle) != 0);
    handles_[handle] = Handle{answer.value(), std::move(caller)};
    reply->set_instance(handle);
    return Answer(context, grpc::Status::OK);
}

SuiteRpcService::Unary* SuiteRpcService::ReleaseInstance(Ctx* context, const Ref* request,
                                                         orvel::rpc::Empty*) {
    // A release may end the instance's registration in the store.
    return Later(context, [this, context, request] {
        InstanceId id = 0;
        if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
        Forget(request->instance());
        return core_.ReleaseInstance(id) ? grpc::Status::OK
                                         : RefusalStatus(Refusal::kUnknownInstance);
    });
}

// One instance's event stream: each event is written as it comes; the queue's
// notice starts the next write, and a write's end the one after.
class SuiteRpcService::EventStream final
    : public grpc::ServerWriteReactor<orvel::rpc::ServerEvent> {
  public:
    EventStream(SuiteRpcService& service, std::string handle, InstanceId id,
                std::shared_ptr<EventQueue> queue)
        : service_(service),
          handle_(std::move(handle)),
          id_(id),
          queue_(std::move(queue)),
          link_(std::make_shared<Link>()) {
        link_->stream = this;
        // The headers now: the client then knows the stream stands.
        StartSendInitialMetadata();
        queue_->SetNotify([link = link_] {
            std::lock_guard lock(link->mutex);
            if (link->stream != nullptr) link->stream->Pump(false);
        });
        Pump(false);
    }

    void OnWriteDone(bool ok) override {
        {
            std::lock_guard lock(mutex_);
            writing_ = false;
            if (!ok) broken_ = true;
        }
        Pump(true);
    }
    void OnCancel() override {
        {
            std::lock_guard lock(mutex_);
            broken_ = true;
        }
        Pump(true);
    }
    void OnDone() override {
        queue_->SetNotify(nullptr);
        {
            std::lock_guard lock(link_->mutex);
            link_->stream = nullptr;
        }
        delete this;
    }

  private:
    // The queue's notice reaches the stream through this until the stream is done.
    struct Link {
        std::recursive_mutex mutex;
        EventStream* stream = nullptr;
    };

    // Writes the next event, or ends the stream: as it was asked (the
    // instance closed, the server stopping: OK) or broken (the client gone:
    // CANCELLED, and the instance goes too). Nothing is touched after the
    // write or the end is started. A break is handled by the reaction that
    // saw it, never by the queue's notice, which may come from a thread that
    // holds the core's locks.
    void Pump(bool reaction) {
        enum class Step { kNone, kWrite, kEnd, kBroken } step = Step::kNone;
        {
            std::lock_guard lock(mutex_);
            if (finished_ || writing_ || (broken_ && !reaction)) return;
            bool closed = false;
            if (pending_.empty()) pending_ = queue_->Take(&closed);
            if (broken_) {
                step = Step::kBroken;
            } else if (closed || service_.shuttingDown_) {
                step = Step::kEnd;
            } else if (!pending_.empty()) {
                Fill(pending_.front());
                pending_.pop_front();
                writing_ = true;
                step = Step::kWrite;
            }
            if (step == Step::kEnd || step == Step::kBroken) finished_ = true;
        }
        switch (step) {
            case Step::kNone:
                return;
            case Step::kWrite:
                StartWrite(&message_);
                return;
            case Step::kEnd:
                Finish(grpc::Status::OK);
                return;
            case Step::kBroken: {
                // The instance goes on a handler thread: this reaction may
                // run inside a write that the core started.
                auto forget = [&service = service_, handle = handle_, id = id_] {
                    service.Forget(handle);
                    service.core_.EventStreamBroken(id);
                };
                if (!service_.handlers_.Run(forget)) forget();
                Finish(grpc::Status::CANCELLED);
                return;
            }
        }
    }

    void Fill(const ServerEvent& event) {
        message_.Clear();
        if (event.isMessage) {
            auto* body = message_.mutable_message();
            body->set_int_message(event.intMessage);
            body->set_int_var(event.intVar);
            body->set_str_var(event.strVar);
        } else {
            message_.mutable_server_change()->set_idx_index(event.idxIndex);
        }
    }

    SuiteRpcService& service_;
    const std::string handle_;
    const InstanceId id_;
    const std::shared_ptr<EventQueue> queue_;
    const std::shared_ptr<Link> link_;
    std::mutex mutex_;
    std::deque<ServerEvent> pending_;
    orvel::rpc::ServerEvent message_;  // the one being written
    bool writing_ = false;
    bool broken_ = false;
    bool finished_ = false;
};

namespace {

// A stream refused before it began.
class RefusedStream final : public grpc::ServerWriteReactor<orvel::rpc::ServerEvent> {
  public:
    explicit RefusedStream(const grpc::Status& status) { Finish(status); }
    void OnDone() override { delete this; }
};

}  // namespace

grpc::ServerWriteReactor<orvel::rpc::ServerEvent>* SuiteRpcService::Events(Ctx* context,
                                                                           const Ref* request) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) {
        return new RefusedStream(status);
    }
    auto attached = core_.AttachEvents(id);
    if (!attached.ok()) return new RefusedStream(RefusalStatus(attached.error()));
    return new EventStream(*this, request->instance(), id, attached.value());
}

SuiteRpcService::Unary* SuiteRpcService::GetClientCount(Ctx* context, const Ref* request,
                                                        I16* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetClientCount(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::GetActiveSet(Ctx* context, const Ref* request,
                                                      Str* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetActiveSet(id), reply); });
}

// Registrations are written to the store: off gRPC's threads.
SuiteRpcService::Unary* SuiteRpcService::DisconnectClient(Ctx* context, const Ref* request,
                                                          I16* reply) {
    return Later(context, [this, context, request, reply] {
        InstanceId id = 0;
        if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
        return Deliver(core_.DisconnectClient(id), reply);
    });
}

SuiteRpcService::Unary* SuiteRpcService::ConnectClient(
    Ctx* context, const orvel::rpc::ConnectClientRequest* request, I16* reply) {
    return Later(context, [this, context, request, reply] {
        InstanceId id = 0;
        if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
        return Deliver(core_.ConnectClient(id, request->name()), reply);
    });
}

SuiteRpcService::Unary* SuiteRpcService::GetComponentName(Ctx* context, const Idx* request,
                                                          Str* reply) {
    return Now(context, request, [&](InstanceId id) {
        return Deliver(core_.GetComponentName(id, IndexOf(request)), reply);
    });
}

SuiteRpcService::Unary* SuiteRpcService::GetComponentStatus(Ctx* context, const Idx* request,
                                                            I32* reply) {
    return Now(context, request, [&](InstanceId id) {
        return Deliver(core_.GetComponentStatus(id, IndexOf(request)), reply);
    });
}

// A stop waits for the program to end, a start for a stop under way.
SuiteRpcService::Unary* SuiteRpcService::StopComponent(Ctx* context, const Idx* request,
                                                       I32* reply) {
    return Later(context, [this, context, request, reply] {
        InstanceId id = 0;
        Caller caller;
        if (auto status = Resolve(context, request->instance(), &id, &caller); !status.ok()) {
            return status;
        }
        // A remote console never stops a component server; over TCP nobody may.
        if (!caller.local) {
            log_.Line("refused StopComponent from " + caller.label +
                      ": remote callers may not stop");
            return PermissionDenied();
        }
        return Deliver(core_.StopComponent(id, IndexOf(request)), reply);
    });
}

SuiteRpcService::Unary* SuiteRpcService::StartComponent(Ctx* context, const Idx* request,
                                                        I32* reply) {
    return Later(context, [this, context, request, reply] {
        InstanceId id = 0;
        if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
        return Deliver(core_.StartComponent(id, IndexOf(request)), reply);
    });
}

SuiteRpcService::Unary* SuiteRpcService::GetPlatformId(Ctx* context, const Ref* request,
                                                       I16* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetPlatformId(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::GetServerTime(Ctx* context, const Ref* request,
                                                       orvel::rpc::DateTimeReply* reply) {
    return Now(context, request, [&](InstanceId id) {
        auto answer = core_.GetServerTime(id);
        if (!answer.ok()) return RefusalStatus(answer.error());
        reply->set_year(answer->year);
        reply->set_month(answer->month);
        reply->set_day(answer->day);
        reply->set_hour(answer->hour);
        reply->set_minute(answer->minute);
        reply->set_second(answer->second);
        return grpc::Status::OK;
    });
}

SuiteRpcService::Unary* SuiteRpcService::GetOSBuild(Ctx* context, const Ref* request, I16* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetOSBuild(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::GetOSMinorVersion(Ctx* context, const Ref* request,
                                                           I16* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetOSMinorVersion(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::GetOSMajorVersion(Ctx* context, const Ref* request,
                                                           I16* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetOSMajorVersion(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::GetServerName(Ctx* context, const Ref* request,
                                                       Str* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetServerName(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::GetServerVersion(Ctx* context, const Ref* request,
                                                          Str* reply) {
    return Now(context, request,
               [&](InstanceId id) { return Deliver(core_.GetServerVersion(id), reply); });
}

SuiteRpcService::Unary* SuiteRpcService::SendOperatorMessage(
    Ctx* context, const orvel::rpc::OperatorMessage* request, orvel::rpc::Empty*) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return Answer(context, status);
    if (!caller.local) {
        log_.Line("message refused from " + caller.label + ": local socket only");
        return Answer(context, PermissionDenied());
    }
    return Answer(context, RefusalStatus(core_.SendOperatorMessage(
                               platform::ClampToInt16(request->int_message()),
                               platform::ClampToInt16(request->int_var()), request->str_var())));
}

}  // namespace orvel::suiteserver

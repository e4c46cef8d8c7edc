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

grpc::Status SuiteRpcService::OpenEvents(const Ctx* context, const Ref* request, InstanceId* id,
                                         std::shared_ptr<EventQueue>* queue) {
    if (auto status = Resolve(context, request->instance(), id); !status.ok()) return status;
    auto attached = core_.AttachEvents(*id);
    if (!attached.ok()) return RefusalStatus(attached.error());
    *queue = attached.value();
    return grpc::Status::OK;
}

void SuiteRpcService::EventsBroken(const std::string& handle, InstanceId id) {
    Forget(handle);
    core_.EventStreamBroken(id);
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

// At most this many events per answer, and no more bytes than fit the
// server's largest message with room to spare: a console asks again from the
// last sequence it got.
constexpr std::size_t kMaxRecentEvents = 200;
constexpr std::size_t kMaxRecentBytes = 48 * 1024;

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

HandlerPool::HandlerPool(std::size_t threads, std::size_t maxQueued) : maxQueued_(maxQueued) {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
}

HandlerPool::~HandlerPool() {
    Stop();
}

void HandlerPool::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
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

namespace {

// What the completion queue hands back: the step of a call that completed.
class Tag {
  public:
    virtual ~Tag() = default;
    virtual void Proceed(bool ok) = 0;
};

using AsyncService = orvel::rpc::SuiteServer::AsyncService;

// One unary call of one method: awaited, answered, then gone. The next call
// of the method is awaited as soon as this one arrives.
template <typename Request, typename Reply>
class UnaryCall final : public Tag {
  public:
    using Await = void (AsyncService::*)(grpc::ServerContext*, Request*,
                                         grpc::ServerAsyncResponseWriter<Reply>*,
                                         grpc::CompletionQueue*, grpc::ServerCompletionQueue*,
                                         void*);
    using Handler = grpc::Status (SuiteRpcService::*)(grpc::ServerContext*, const Request*, Reply*);

    // Awaits the method's next call; slow: answered on a handler thread.
    static void Next(AsyncServing& serving, Await await, Handler handler, bool slow) {
        serving.Await([&] {
            auto* call = new UnaryCall(serving, await, handler, slow);
            (serving.Async().*await)(&call->context_, &call->request_, &call->responder_,
                                     serving.Queue(), serving.Queue(), call);
        });
    }

    void Proceed(bool ok) override {
        if (answered_ || !ok) {  // answered and sent, or the server is shutting down
            delete this;
            return;
        }
        answered_ = true;
        Next(serving_, await_, handler_, slow_);
        if (!slow_) return Answer();
        if (!serving_.Handlers().Run([this] { Answer(); })) {
            responder_.FinishWithError({grpc::StatusCode::UNAVAILABLE, "server busy"}, this);
        }
    }

  private:
    UnaryCall(AsyncServing& serving, Await await, Handler handler, bool slow)
        : serving_(serving), await_(await), handler_(handler), slow_(slow), responder_(&context_) {}

    // An unforeseen exception costs this call, not the server.
    void Answer() {
        grpc::Status status;
        try {
            status = (serving_.Service().*handler_)(&context_, &request_, &reply_);
        } catch (const std::exception& error) {
            status = {grpc::StatusCode::INTERNAL, std::string("internal error: ") + error.what()};
        }
        if (status.ok()) {
            responder_.Finish(reply_, status, this);
        } else {
            responder_.FinishWithError(status, this);
        }
    }

    AsyncServing& serving_;
    const Await await_;
    const Handler handler_;
    const bool slow_;
    bool answered_ = false;
    grpc::ServerContext context_;
    Request request_;
    Reply reply_;
    grpc::ServerAsyncResponseWriter<Reply> responder_;
};

// One instance's event stream. The queue's notice starts a write; a write's
// end starts the next. It ends as it was asked (the instance closed, the
// server stopping: OK) or broken (the client gone: CANCELLED, and the
// instance goes too). It is gone once gRPC has handed back its end and the
// call's own end.
class EventsCall final {
  public:
    static void Next(AsyncServing& serving) {
        serving.Await([&] {
            auto* call = new EventsCall(serving);
            call->context_.AsyncNotifyWhenDone(&call->done_);
            serving.Async().RequestEvents(&call->context_, &call->request_, &call->writer_,
                                          serving.Queue(), serving.Queue(), &call->arrived_);
        });
    }

  private:
    enum class Kind { kArrived, kWritten, kFinished, kDone };
    struct Step final : Tag {
        Step(EventsCall* call, Kind kind) : call(call), kind(kind) {}
        void Proceed(bool ok) override { call->On(kind, ok); }
        EventsCall* call;
        Kind kind;
    };
    // The queue's notice reaches the call through this until the call is gone.
    struct Link {
        std::recursive_mutex mutex;
        EventsCall* call = nullptr;
    };

    explicit EventsCall(AsyncServing& serving)
        : serving_(serving), writer_(&context_), link_(std::make_shared<Link>()) {}

    // All on the thread that polls the completion queue.
    void On(Kind kind, bool ok) {
        switch (kind) {
            case Kind::kArrived:
                if (!ok) {  // never matched: no other step comes
                    delete this;
                    return;
                }
                Next(serving_);
                Begin();
                return;
            case Kind::kWritten: {
                std::lock_guard lock(mutex_);
                writing_ = false;
                if (!ok) broken_ = true;
                break;
            }
            case Kind::kFinished:
                finishedBack_ = true;
                break;
            case Kind::kDone: {
                doneBack_ = true;
                std::lock_guard lock(mutex_);
                if (context_.IsCancelled()) broken_ = true;
                break;
            }
        }
        if (finishedBack_ && doneBack_) return End();
        Pump(true);
    }

    void Begin() {
        grpc::Status status = serving_.Service().OpenEvents(&context_, &request_, &id_, &queue_);
        if (!status.ok()) {
            {
                std::lock_guard lock(mutex_);
                finished_ = true;
            }
            writer_.Finish(status, &finished_step_);
            return;
        }
        link_->call = this;
        {
            std::lock_guard lock(mutex_);
            writing_ = true;
        }
        // The headers now: the client then knows the stream stands.
        writer_.SendInitialMetadata(&written_);
        queue_->SetNotify([link = link_] {
            std::lock_guard lock(link->mutex);
            if (link->call != nullptr) link->call->Pump(false);
        });
    }

    void End() {
        if (queue_) queue_->SetNotify(nullptr);
        {
            std::lock_guard lock(link_->mutex);
            link_->call = nullptr;
        }
        delete this;
    }

    // Writes the next event or ends the stream. A break is handled on the
    // polling thread only, never by the queue's notice, which may come from
    // a thread that holds the core's locks.
    void Pump(bool polling) {
        enum class Step { kNone, kWrite, kEnd, kBroken } step = Step::kNone;
        {
            std::lock_guard lock(mutex_);
            if (finished_ || writing_ || !queue_ || (broken_ && !polling)) return;
            bool closed = false;
            if (pending_.empty()) pending_ = queue_->Take(&closed);
            if (broken_) {
                step = Step::kBroken;
            } else if (closed || serving_.Service().ShuttingDown()) {
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
                writer_.Write(message_, &written_);
                return;
            case Step::kEnd:
                writer_.Finish(grpc::Status::OK, &finished_step_);
                return;
            case Step::kBroken: {
                auto forget = [&service = serving_.Service(), handle = request_.instance(),
                               id = id_] { service.EventsBroken(handle, id); };
                if (!serving_.Handlers().Run(forget)) forget();
                writer_.Finish(grpc::Status::CANCELLED, &finished_step_);
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

    AsyncServing& serving_;
    grpc::ServerContext context_;
    orvel::rpc::InstanceRef request_;
    grpc::ServerAsyncWriter<orvel::rpc::ServerEvent> writer_;
    Step arrived_{this, Kind::kArrived};
    Step written_{this, Kind::kWritten};
    Step finished_step_{this, Kind::kFinished};
    Step done_{this, Kind::kDone};
    const std::shared_ptr<Link> link_;
    InstanceId id_ = 0;
    std::shared_ptr<EventQueue> queue_;
    bool finishedBack_ = false;  // these two on the polling thread only
    bool doneBack_ = false;
    std::mutex mutex_;
    std::deque<ServerEvent> pending_;
    orvel::rpc::ServerEvent message_;  // the one being written
    bool writing_ = false;
    bool broken_ = false;
    bool finished_ = false;
};

}  // namespace

AsyncServing::AsyncServing(SuiteRpcService& service) : service_(service) {}

AsyncServing::~AsyncServing() {
    BeginShutdown();
    Stop();
}

void AsyncServing::Register(grpc::ServerBuilder& builder) {
    builder.RegisterService(&async_);
    queue_ = builder.AddCompletionQueue();
}

void AsyncServing::Await(const std::function<void()>& await) {
    std::lock_guard lock(awaitMutex_);
    if (awaiting_) await();
}

void AsyncServing::Start() {
    using S = SuiteRpcService;
    using A = AsyncService;
    namespace r = orvel::rpc;
    // Lookups answered on the polling thread.
    UnaryCall<r::CreateInstanceRequest, r::InstanceRef>::Next(*this, &A::RequestCreateInstance,
                                                              &S::CreateInstance, false);
    UnaryCall<r::InstanceRef, r::Int16Reply>::Next(*this, &A::RequestGetClientCount,
                                                   &S::GetClientCount, false);
    UnaryCall<r::InstanceRef, r::StringReply>::Next(*this, &A::RequestGetActiveSet,
                                                    &S::GetActiveSet, false);
    UnaryCall<r::IndexRequest, r::StringReply>::Next(*this, &A::RequestGetComponentName,
                                                     &S::GetComponentName, false);
    UnaryCall<r::IndexRequest, r::Int32Reply>::Next(*this, &A::RequestGetComponentStatus,
                                                    &S::GetComponentStatus, false);
    UnaryCall<r::InstanceRef, r::Int16Reply>::Next(*this, &A::RequestGetPlatformId,
                                                   &S::GetPlatformId, false);
    UnaryCall<r::InstanceRef, r::DateTimeReply>::Next(*this, &A::RequestGetServerTime,
                                                      &S::GetServerTime, false);
    UnaryCall<r::InstanceRef, r::Int16Reply>::Next(*this, &A::RequestGetOSBuild, &S::GetOSBuild,
                                                   false);
    UnaryCall<r::InstanceRef, r::Int16Reply>::Next(*this, &A::RequestGetOSMinorVersion,
                                                   &S::GetOSMinorVersion, false);
    UnaryCall<r::InstanceRef, r::Int16Reply>::Next(*this, &A::RequestGetOSMajorVersion,
                                                   &S::GetOSMajorVersion, false);
    UnaryCall<r::InstanceRef, r::StringReply>::Next(*this, &A::RequestGetServerName,
                                                    &S::GetServerName, false);
    UnaryCall<r::InstanceRef, r::StringReply>::Next(*this, &A::RequestGetServerVersion,
                                                    &S::GetServerVersion, false);
    UnaryCall<r::OperatorMessage, r::Empty>::Next(*this, &A::RequestSendOperatorMessage,
                                                  &S::SendOperatorMessage, false);
    // What may wait for a component or for the store, on the handler threads.
    UnaryCall<r::InstanceRef, r::Empty>::Next(*this, &A::RequestReleaseInstance,
                                              &S::ReleaseInstance, true);
    UnaryCall<r::InstanceRef, r::Int16Reply>::Next(*this, &A::RequestDisconnectClient,
                                                   &S::DisconnectClient, true);
    UnaryCall<r::ConnectClientRequest, r::Int16Reply>::Next(*this, &A::RequestConnectClient,
                                                            &S::ConnectClient, true);
    UnaryCall<r::IndexRequest, r::Int32Reply>::Next(*this, &A::RequestStopComponent,
                                                    &S::StopComponent, true);
    UnaryCall<r::IndexRequest, r::Int32Reply>::Next(*this, &A::RequestStartComponent,
                                                    &S::StartComponent, true);
    // The record's lock may be held by a compaction for a moment.
    UnaryCall<r::RecentEventsRequest, r::RecentEventsReply>::Next(*this, &A::RequestGetRecentEvents,
                                                                  &S::GetRecentEvents, true);
    EventsCall::Next(*this);
    thread_ = std::thread([this] {
        void* tag = nullptr;
        bool ok = false;
        while (queue_->Next(&tag, &ok)) static_cast<Tag*>(tag)->Proceed(ok);
    });
}

void AsyncServing::BeginShutdown() {
    std::lock_guard lock(awaitMutex_);
    awaiting_ = false;
}

void AsyncServing::Stop() {
    handlers_.Stop();
    if (queue_) queue_->Shutdown();
    if (thread_.joinable()) thread_.join();
    queue_.reset();
}

}  // namespace orvel::suiteserver

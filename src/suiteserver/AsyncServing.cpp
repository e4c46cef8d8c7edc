// The serving of a gRPC server's calls with the asynchronous API: the handler
// threads, the unary calls, the thread that polls the completion queue.

#include <exception>
#include <string>

#include "suiteserver/EventsCall.h"
#include "suiteserver/SuiteRpcService.h"

namespace orvel::suiteserver {

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

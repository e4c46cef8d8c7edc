#pragma once

// An instance's event stream, served with the asynchronous API, and what the
// completion queue hands back for every call.

#include <deque>
#include <memory>
#include <mutex>

#include "suite_server.grpc.pb.h"
#include "suiteserver/SuiteRpcService.h"

namespace orvel::suiteserver {

// What the completion queue hands back: the step of a call that completed.
class Tag {
  public:
    virtual ~Tag() = default;
    virtual void Proceed(bool ok) = 0;
};

// One instance's event stream. The queue's notice starts a write; a write's
// end starts the next. It ends as it was asked (the instance closed, the
// server stopping: OK) or broken (the client gone: CANCELLED, and the
// instance goes too). It is gone once gRPC has handed back its end and the
// call's own end.
class EventsCall final {
  public:
    // Awaits the next stream asked for.
    static void Next(AsyncServing& serving);

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

    explicit EventsCall(AsyncServing& serving);

    // All on the thread that polls the completion queue.
    void On(Kind kind, bool ok);
    void Begin();
    void End();
    // Writes the next event or ends the stream. A break is handled on the
    // polling thread only, never by the queue's notice, which may come from
    // a thread that holds the core's locks.
    void Pump(bool polling);
    void Fill(const ServerEvent& event);

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

}  // namespace orvel::suiteserver

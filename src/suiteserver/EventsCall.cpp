#include "suiteserver/EventsCall.h"

#include <string>

namespace orvel::suiteserver {

void EventsCall::Next(AsyncServing& serving) {
    serving.Await([&] {
        auto* call = new EventsCall(serving);
        call->context_.AsyncNotifyWhenDone(&call->done_);
        serving.Async().RequestEvents(&call->context_, &call->request_, &call->writer_,
                                      serving.Queue(), serving.Queue(), &call->arrived_);
    });
}

EventsCall::EventsCall(AsyncServing& serving)
    : serving_(serving), writer_(&context_), link_(std::make_shared<Link>()) {}

void EventsCall::On(Kind kind, bool ok) {
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

void EventsCall::Begin() {
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

void EventsCall::End() {
    if (queue_) queue_->SetNotify(nullptr);
    {
        std::lock_guard lock(link_->mutex);
        link_->call = nullptr;
    }
    delete this;
}

void EventsCall::Pump(bool polling) {
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
            auto forget = [&service = serving_.Service(), handle = request_.instance(), id = id_] {
                service.EventsBroken(handle, id);
            };
            if (!serving_.Handlers().Run(forget)) forget();
            writer_.Finish(grpc::Status::CANCELLED, &finished_step_);
            return;
        }
    }
}

void EventsCall::Fill(const ServerEvent& event) {
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

}  // namespace orvel::suiteserver

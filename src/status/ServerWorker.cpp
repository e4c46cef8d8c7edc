#include "status/ServerWorker.h"

namespace orvel::status {

ServerWorker::ServerWorker(Mode mode) {
    if (mode == Mode::Threaded) thread_ = std::thread([state = state_] { Run(state); });
}

ServerWorker::~ServerWorker() {
    if (thread_.joinable() && std::this_thread::get_id() == thread_.get_id()) {
        // A job dropped the last owner: the thread ends by itself once the
        // queue is empty, with the state it shares.
        {
            std::lock_guard lock(state_->mutex);
            state_->stopping = true;
        }
        thread_.detach();
        return;
    }
    Stop();
}

void ServerWorker::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->ready.notify_all();
    thread_.join();
}

void ServerWorker::Post(std::function<void()> job) {
    if (!thread_.joinable()) {
        job();
        return;
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
    }
    state_->ready.notify_one();
}

void ServerWorker::SetCaughtUp(std::function<void()> caughtUp) {
    std::lock_guard lock(state_->mutex);
    state_->caughtUp = std::move(caughtUp);
}

void ServerWorker::CaughtUp(State& state) {
    std::function<void()> caughtUp;
    {
        std::lock_guard lock(state.mutex);
        caughtUp = state.caughtUp;
    }
    if (caughtUp) caughtUp();
}

void ServerWorker::Run(const std::shared_ptr<State>& state) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(state->mutex);
            state->ready.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
            if (state->jobs.empty()) return;  // stopping, and nothing left to run
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
        }
        job();
        job = nullptr;  // what the job held is released here, off the caller
    }
}

}  // namespace orvel::status

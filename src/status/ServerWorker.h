#pragma once

// The thread that makes the suite server calls which may wait, so that the
// user-interface thread never waits on a server: a stopped or unreachable
// server holds this thread for a call's deadline, never the window. Jobs run
// one at a time in the order posted. An inline worker (no thread) runs every
// job at once on the caller, for logic tested with fake servers.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace orvel::status {

class ServerWorker {
  public:
    enum class Mode { Inline, Threaded };
    explicit ServerWorker(Mode mode);
    // Stop(), unless the last owner is a job on the worker itself.
    ~ServerWorker();
    ServerWorker(const ServerWorker&) = delete;
    ServerWorker& operator=(const ServerWorker&) = delete;

    // Runs what is still queued (releases and withdrawals) and ends the
    // thread; later jobs run at once on the caller.
    void Stop();

    bool Threaded() const { return thread_.joinable(); }
    // Runs job on the worker, after every job posted before it; the job
    // object itself is destroyed there too.
    void Post(std::function<void()> job);

    // Runs call on the worker and waits for it at most budget. nullopt when it
    // did not end in time (it still runs; its answer is dropped) or when an
    // earlier call that outlived its budget is still under way: a server that
    // keeps one call waiting is not asked again until that call ends. Only
    // the thread that made the worker (the user-interface thread) waits so;
    // on any other thread the call runs directly.
    template <typename T>
    std::optional<T> CallWithin(std::function<T()> call, std::chrono::milliseconds budget) {
        if (!Threaded() || std::this_thread::get_id() != owner_) return call();
        if (state_->overdue.load() > 0) return std::nullopt;
        struct Pending {
            std::promise<T> answer;
            // Set by whichever of the waiter (giving up) and the call (ending) comes second.
            std::atomic<bool> settled{false};
        };
        auto pending = std::make_shared<Pending>();
        auto answer = pending->answer.get_future();
        state_->overdue.fetch_add(1);
        Post([state = state_, pending, call = std::move(call)] {
            T value = call();
            state->overdue.fetch_sub(1);
            pending->answer.set_value(std::move(value));
            if (pending->settled.exchange(true)) CaughtUp(*state);
        });
        if (answer.wait_for(budget) != std::future_status::ready &&
            !pending->settled.exchange(true)) {
            return std::nullopt;
        }
        return answer.get();
    }

    // Runs on the worker when a call the owner stopped waiting for has ended:
    // what was painted from its failure can be painted again.
    void SetCaughtUp(std::function<void()> caughtUp);

  private:
    // Shared with the thread, which may outlive this object (see the destructor).
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::function<void()>> jobs;
        bool stopping = false;
        // Bounded calls posted and not yet ended.
        std::atomic<int> overdue{0};
        std::function<void()> caughtUp;  // under mutex
    };
    static void Run(const std::shared_ptr<State>& state);
    static void CaughtUp(State& state);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread::id owner_ = std::this_thread::get_id();
    std::thread thread_;
};

}  // namespace orvel::status

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
    // True on the worker's own thread (and always for an inline worker).
    bool OnWorker() const;

    // Runs job on the worker, after every job posted before it; the job
    // object itself is destroyed there too.
    void Post(std::function<void()> job);

    // Runs call on the worker and waits for it at most budget. nullopt when it
    // did not end in time (it still runs; its answer is dropped) or when an
    // earlier call that outlived its budget is still under way: a server that
    // keeps one call waiting is not asked again until that call ends. On the
    // worker itself the call runs directly.
    template <typename T>
    std::optional<T> CallWithin(std::function<T()> call, std::chrono::milliseconds budget) {
        if (OnWorker()) return call();
        if (state_->overdue.load() > 0) return std::nullopt;
        auto promise = std::make_shared<std::promise<T>>();
        auto answer = promise->get_future();
        state_->overdue.fetch_add(1);
        Post([state = state_, promise, call = std::move(call)] {
            T value = call();
            state->overdue.fetch_sub(1);
            promise->set_value(std::move(value));
        });
        if (answer.wait_for(budget) != std::future_status::ready) return std::nullopt;
        return answer.get();
    }

  private:
    // Shared with the thread, which may outlive this object (see the destructor).
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::function<void()>> jobs;
        bool stopping = false;
        // Bounded calls posted and not yet ended.
        std::atomic<int> overdue{0};
    };
    static void Run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

}  // namespace orvel::status

#pragma once

// A user-interface thread stand-in: posted work waits in a queue until the
// owner runs it, so tests see exactly what reached "the UI thread" and when.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/UiDispatcher.h"

namespace orvel::testing {

class QueueDispatcher : public platform::UiDispatcher {
  public:
    void Post(std::function<void()> work) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(work));
        }
        ready_.notify_all();
    }

    // Runs posted work on the calling thread until done() holds or the time is up.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (done()) return true;
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                if (!ready_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) {
                    return done();
                }
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
    }

    // Runs what is queued now, and what that work posts.
    void RunPending() {
        RunUntil([] { return false; }, std::chrono::milliseconds(0));
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace orvel::testing

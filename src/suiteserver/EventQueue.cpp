#include "suiteserver/EventQueue.h"

#include <algorithm>

namespace orvel::suiteserver {

bool EventQueue::Push(ServerEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return true;
        if (events_.size() >= capacity_) return false;
        events_.push_back(std::move(event));
    }
    ready_.notify_one();
    return true;
}

std::deque<ServerEvent> EventQueue::Wait(std::chrono::milliseconds timeout, bool* closed) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [&] { return closed_ || !events_.empty(); });
    *closed = closed_;
    std::deque<ServerEvent> taken;
    taken.swap(events_);
    return taken;
}

void EventQueue::Repeat(const ServerEvent& message) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || events_.size() >= capacity_) return;
        if (std::find(events_.begin(), events_.end(), message) != events_.end()) return;
        events_.push_back(message);
    }
    ready_.notify_one();
}

void EventQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

}  // namespace orvel::suiteserver

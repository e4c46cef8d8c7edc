#include "suiteserver/EventQueue.h"

#include <algorithm>

namespace orvel::suiteserver {

void EventQueue::Notify(std::unique_lock<std::mutex>& lock) {
    auto notify = notify_;
    lock.unlock();
    ready_.notify_all();
    if (notify) (*notify)();
}

bool EventQueue::Push(ServerEvent event) {
    std::unique_lock lock(mutex_);
    if (closed_) return true;
    if (events_.size() >= capacity_) return false;
    events_.push_back(std::move(event));
    Notify(lock);
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

std::deque<ServerEvent> EventQueue::Take(bool* closed) {
    std::lock_guard lock(mutex_);
    *closed = closed_;
    std::deque<ServerEvent> taken;
    taken.swap(events_);
    return taken;
}

void EventQueue::Repeat(const ServerEvent& message) {
    std::unique_lock lock(mutex_);
    if (closed_ || events_.size() >= capacity_) return;
    if (std::find(events_.begin(), events_.end(), message) != events_.end()) return;
    events_.push_back(message);
    Notify(lock);
}

void EventQueue::Close() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    Notify(lock);
}

void EventQueue::SetNotify(std::function<void()> notify) {
    std::lock_guard lock(mutex_);
    notify_ = notify ? std::make_shared<const std::function<void()>>(std::move(notify)) : nullptr;
}

}  // namespace orvel::suiteserver

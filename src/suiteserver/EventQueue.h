#pragma once

// The change and message events of the suite server, and the queue that holds
// them for one instance's event stream until the stream collects them.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace orvel::suiteserver {

struct ServerEvent {
    friend bool operator==(const ServerEvent&, const ServerEvent&) = default;
    bool isMessage = false;
    std::int16_t idxIndex = 0;  // change event
    std::int16_t intMessage = 0;
    std::int16_t intVar = 0;
    std::string strVar;
};

// The events waiting for one instance's stream.
class EventQueue {
  public:
    explicit EventQueue(std::size_t capacity) : capacity_(capacity) {}
    // False when the queue was full and the event was dropped.
    bool Push(ServerEvent event);
    // Push, unless the same message is still waiting to be collected.
    void Repeat(const ServerEvent& message);
    // Waits up to timeout for events; returns them. closed is set once the
    // instance has been released.
    std::deque<ServerEvent> Wait(std::chrono::milliseconds timeout, bool* closed);
    void Close();

    // For a stream that nobody waits for: notify is called after each event
    // and after the close, outside the queue's lock, and collects with Take.
    // A call under way may still run after SetNotify replaced it.
    void SetNotify(std::function<void()> notify);
    // The events waiting, without waiting; closed as for Wait.
    std::deque<ServerEvent> Take(bool* closed);

  private:
    void Notify(std::unique_lock<std::mutex>& lock);

    std::shared_ptr<const std::function<void()>> notify_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ServerEvent> events_;
    std::size_t capacity_ = 0;
    bool closed_ = false;
};

}  // namespace orvel::suiteserver

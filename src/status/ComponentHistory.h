#pragma once

// What a component row's tool tip says of the row's recent past, from the
// server's record: the last exit and the restarts of the day.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "suiteclient/SuiteServer.h"

namespace orvel::status {

// "Exited with code 1 at 03:12:05; restarted 2 times today", "Killed by
// signal 9 at 03:12:05", with "; restart limit hit at 03:14:00" when restart
// on failure gave up today. An exit of an earlier day shows its date. Empty
// when the record holds nothing of the slot. Times in local time, or UTC when
// localTime is false.
std::string ComponentHistoryTip(const std::deque<suiteclient::RecordedServerEvent>& events,
                                int slot, std::int64_t nowMs, bool localTime = true);

// The events a console keeps: the newest, at most kKeptEvents, in sequence.
class ComponentHistory {
  public:
    static constexpr std::size_t kKeptEvents = 2000;
    // Adds the events fetched after Last(); an older sequence than the kept
    // ones (the server's record started again) replaces them.
    void Add(const std::vector<suiteclient::RecordedServerEvent>& fetched);
    std::uint64_t Last() const { return events_.empty() ? 0 : events_.back().sequence; }
    const std::deque<suiteclient::RecordedServerEvent>& Events() const { return events_; }
    void Clear() { events_.clear(); }

  private:
    std::deque<suiteclient::RecordedServerEvent> events_;
};

}  // namespace orvel::status

#pragma once

// Orvel_Server --events: the suite's record read straight from its file (no
// running server needed), as lines for people or one JSON object per line.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "suiteserver/EventRecord.h"

namespace orvel::suiteserver {

struct EventFilter {
    std::optional<std::int64_t> sinceMs;  // events at or after this time
    std::optional<int> slot;              // events of this slot only
};

bool Matches(const RecordedEvent& event, const EventFilter& filter);

// "2026-12-07 03:12:05 slot 3 "Name" exited with code 1 after 00:04:12", in
// local time or, when localTime is false, UTC.
std::string FormatEventLine(const RecordedEvent& event, bool localTime = true);
// One JSON object on one line: sequence, time (ISO 8601, UTC), time_ms, event,
// message, and the fields the event has (slot, component, pid, client,
// exit_code, signal, run_time_ms, detail).
std::string FormatEventJson(const RecordedEvent& event);

// A --since TIME: "2026-12-07", "2026-12-07 03:12[:05]" (a "T" may stand for
// the space), local time; "today", "yesterday"; or "-30s", "-10m", "-2h",
// "-7d" before nowMs. nullopt when it is none of these.
std::optional<std::int64_t> ParseSinceTime(std::string_view text, std::int64_t nowMs);

struct EventsArguments {
    EventFilter filter;
    bool follow = false;
    bool json = false;
};

// The arguments after --events; on a bad one, nullopt and why.
std::optional<EventsArguments> ParseEventsArguments(const std::vector<std::string>& args,
                                                    std::int64_t nowMs, std::string* why);

// Prints the matching events of the file at path; with follow, then waits for
// more (polling the file four times a second) while keepFollowing answers
// true. 0 when the file was read (a missing file has no events), 1 when not.
int RunEventsCommand(const std::string& path, const EventsArguments& arguments, std::ostream& out,
                     std::ostream& err, const std::function<bool()>& keepFollowing);

}  // namespace orvel::suiteserver

#include "status/ComponentHistory.h"

#include <cstdio>
#include <ctime>

#include "platform/CalendarTime.h"

namespace orvel::status {

namespace {

bool SameDay(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_yday == b.tm_yday;
}

// "at 03:12:05" today, "on 2026-12-06 at 03:12:05" before.
std::string When(std::int64_t timeMs, const std::tm& today, bool localTime) {
    const std::tm at = platform::CalendarOf(timeMs, localTime);
    char text[48];
    if (SameDay(at, today)) {
        std::snprintf(text, sizeof text, "at %02d:%02d:%02d", at.tm_hour, at.tm_min, at.tm_sec);
    } else {
        std::snprintf(text, sizeof text, "on %04d-%02d-%02d at %02d:%02d:%02d", at.tm_year + 1900,
                      at.tm_mon + 1, at.tm_mday, at.tm_hour, at.tm_min, at.tm_sec);
    }
    return text;
}

}  // namespace

std::string ComponentHistoryTip(const std::deque<suiteclient::RecordedServerEvent>& events,
                                int slot, std::int64_t nowMs, bool localTime) {
    const std::tm today = platform::CalendarOf(nowMs, localTime);
    const suiteclient::RecordedServerEvent* lastExit = nullptr;
    const suiteclient::RecordedServerEvent* limit = nullptr;
    int restarts = 0;
    for (const auto& event : events) {
        if (event.slot != slot) continue;
        if (event.event == "component-exited") {
            lastExit = &event;
        } else if (event.event == "component-started") {
            limit = nullptr;  // started again since: the limit no longer holds it down
        } else if (SameDay(platform::CalendarOf(event.timeMs, localTime), today)) {
            if (event.event == "component-restarted") {
                ++restarts;
                limit = nullptr;
            }
            if (event.event == "restart-limit-hit") limit = &event;
        }
    }
    std::string tip;
    if (lastExit != nullptr) {
        tip = lastExit->signal
                  ? "Killed by signal " + std::to_string(*lastExit->signal)
                  : "Exited with code " + std::to_string(lastExit->exitCode.value_or(0));
        tip += " " + When(lastExit->timeMs, today, localTime);
    }
    if (restarts > 0) {
        if (!tip.empty()) tip += "; ";
        tip += (tip.empty() ? "Restarted " : "restarted ") + std::to_string(restarts) +
               (restarts == 1 ? " time today" : " times today");
    }
    if (limit != nullptr) {
        if (!tip.empty()) tip += "; ";
        tip += (tip.empty() ? "Restart limit hit " : "restart limit hit ") +
               When(limit->timeMs, today, localTime);
    }
    return tip;
}

void ComponentHistory::Add(const std::vector<suiteclient::RecordedServerEvent>& fetched) {
    for (const auto& event : fetched) {
        if (!events_.empty() && event.sequence <= events_.back().sequence) events_.clear();
        events_.push_back(event);
    }
    while (events_.size() > kKeptEvents) events_.pop_front();
}

}  // namespace orvel::status

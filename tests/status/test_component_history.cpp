// A component row's tool tip from the server's record: the last exit and the
// restarts of the day.

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "status/ComponentHistory.h"

namespace orvel::status {
namespace {

using suiteclient::RecordedServerEvent;

constexpr std::int64_t kNow = 1796613125000;  // 2026-12-07 03:12:05 UTC
constexpr std::int64_t kMinute = 60'000;
constexpr std::int64_t kDay = 86'400'000;

RecordedServerEvent Ev(std::string kind, int slot, std::int64_t timeMs) {
    RecordedServerEvent event;
    event.event = std::move(kind);
    event.slot = slot;
    event.timeMs = timeMs;
    return event;
}
RecordedServerEvent Exit(int slot, std::int64_t timeMs, int code) {
    auto event = Ev("component-exited", slot, timeMs);
    event.exitCode = code;
    return event;
}
RecordedServerEvent Killed(int slot, std::int64_t timeMs, int signal) {
    auto event = Ev("component-exited", slot, timeMs);
    event.signal = signal;
    return event;
}

TEST(ComponentHistoryTest, TipFromASequenceOfEvents) {
    struct Case {
        const char* what;
        std::vector<RecordedServerEvent> events;
        std::string tip;
    } cases[] = {
        {"nothing of the slot", {Exit(4, kNow, 1), Ev("component-started", 3, kNow)}, ""},
        {"an exit today", {Exit(3, kNow, 1)}, "Exited with code 1 at 03:12:05"},
        {"a signal", {Killed(3, kNow - kMinute, 9)}, "Killed by signal 9 at 03:11:05"},
        {"the last exit counts",
         {Killed(3, kNow - 2 * kMinute, 9), Exit(3, kNow, 0)},
         "Exited with code 0 at 03:12:05"},
        {"restarts of today only",
         {Exit(3, kNow - kDay, 1), Ev("component-restarted", 3, kNow - kDay),
          Exit(3, kNow - 3 * kMinute, 1), Ev("component-restarted", 3, kNow - 3 * kMinute),
          Exit(3, kNow - kMinute, 1), Ev("component-restarted", 3, kNow - kMinute)},
         "Exited with code 1 at 03:11:05; restarted 2 times today"},
        {"one restart",
         {Exit(3, kNow, 1), Ev("component-restarted", 3, kNow)},
         "Exited with code 1 at 03:12:05; restarted 1 time today"},
        {"an exit of an earlier day shows its date",
         {Exit(3, kNow - kDay, 2)},
         "Exited with code 2 on 2026-12-06 at 03:12:05"},
        {"the limit hit",
         {Exit(3, kNow - kMinute, 1), Ev("component-restarted", 3, kNow - 2 * kMinute),
          Ev("restart-limit-hit", 3, kNow - kMinute)},
         "Exited with code 1 at 03:11:05; restarted 1 time today; restart limit hit at 03:11:05"},
        {"the limit is told only while it holds the slot down",
         {Ev("restart-limit-hit", 3, kNow - 3 * kMinute),
          Ev("component-started", 3, kNow - 2 * kMinute), Exit(3, kNow - kMinute, 1),
          Ev("component-restarted", 3, kNow - kMinute)},
         "Exited with code 1 at 03:11:05; restarted 1 time today"},
        {"restarts without a kept exit",
         {Ev("component-restarted", 3, kNow)},
         "Restarted 1 time today"},
    };
    for (const Case& c : cases) {
        std::deque<RecordedServerEvent> events(c.events.begin(), c.events.end());
        EXPECT_EQ(ComponentHistoryTip(events, 3, kNow, false), c.tip) << c.what;
    }
}

TEST(ComponentHistoryTest, KeepsTheNewestInSequenceAndStartsAgainWithTheServer) {
    ComponentHistory history;
    std::vector<RecordedServerEvent> batch;
    for (std::uint64_t i = 1; i <= ComponentHistory::kKeptEvents + 10; ++i) {
        auto event = Exit(3, kNow, 1);
        event.sequence = i;
        batch.push_back(event);
    }
    history.Add(batch);
    EXPECT_EQ(history.Events().size(), ComponentHistory::kKeptEvents);
    EXPECT_EQ(history.Events().front().sequence, 11u);
    EXPECT_EQ(history.Last(), ComponentHistory::kKeptEvents + 10);
    // A record that starts over (a new file) replaces what was kept.
    auto again = Exit(3, kNow, 4);
    again.sequence = 1;
    history.Add({again});
    ASSERT_EQ(history.Events().size(), 1u);
    EXPECT_EQ(history.Last(), 1u);
}

}  // namespace
}  // namespace orvel::status

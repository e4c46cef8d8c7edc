// The server rows' history: fetched off the user-interface thread, handed
// back through the dispatcher, and added under a row's own tip.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "FakeSuiteServer.h"
#include "QueueDispatcher.h"
#include "mainwindow/RowHistory.h"

namespace orvel::mainwindow {
namespace {

using namespace std::chrono_literals;
using suiteclient::RecordedServerEvent;

class RecordingServer : public fakes::FakeSuiteServer {
  public:
    platform::Outcome<std::vector<RecordedServerEvent>> GetRecentEvents(
        std::uint64_t since, std::uint32_t max) override {
        std::lock_guard lock(mutex);
        asked.push_back(since);
        std::vector<RecordedServerEvent> out;
        for (const auto& event : record)
            if (event.sequence > since && out.size() < max) out.push_back(event);
        return out;
    }
    std::mutex mutex;
    std::vector<RecordedServerEvent> record;
    std::vector<std::uint64_t> asked;
};

RecordedServerEvent Event(std::uint64_t sequence, const char* kind, int slot) {
    RecordedServerEvent event;
    event.sequence = sequence;
    event.event = kind;
    event.slot = slot;
    event.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    return event;
}

TEST(RowHistoryTest, ARowsTipGainsWhatItsServerRecorded) {
    testing::QueueDispatcher dispatcher;
    auto server = std::make_shared<RecordingServer>();
    auto exited = Event(1, "component-exited", 3);
    exited.exitCode = 1;
    server->record = {exited, Event(2, "component-restarted", 3)};

    RowHistory history(&dispatcher);
    EXPECT_EQ(history.Tip("Running", server.get(), 3), "Running");
    int changed = 0;
    history.Refresh(server, [&] { ++changed; });
    ASSERT_TRUE(dispatcher.RunUntil([&] { return changed == 1; }, 30s));
    EXPECT_THAT(history.Tip("Running", server.get(), 3),
                ::testing::MatchesRegex("Running\nExited with code 1 at [0-9:]{8}; restarted 1 "
                                        "time today"));
    EXPECT_THAT(history.Tip("", server.get(), 3), ::testing::StartsWith("Exited with code 1"));
    // Another slot, another server: their tips stay as they are.
    EXPECT_EQ(history.Tip("Off Line", server.get(), 4), "Off Line");
    fakes::FakeSuiteServer other;
    EXPECT_EQ(history.Tip("Off Line", &other, 3), "Off Line");
    std::lock_guard lock(server->mutex);
    EXPECT_EQ(server->asked, std::vector<std::uint64_t>{0});
}

TEST(RowHistoryTest, WithoutADispatcherNothingIsFetched) {
    auto server = std::make_shared<RecordingServer>();
    server->record = {Event(1, "component-exited", 3)};
    RowHistory history(nullptr);
    history.Refresh(server, [] {});
    EXPECT_EQ(history.Tip("Running", server.get(), 3), "Running");
    EXPECT_TRUE(server->asked.empty());
}

}  // namespace
}  // namespace orvel::mainwindow

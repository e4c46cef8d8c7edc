// The suite's record: its file survives a writer killed at any moment, stays
// within its bounds, and reads back filtered for --events.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/FileReplace.h"
#include "suiteserver/EventRecord.h"
#include "suiteserver/EventsCommand.h"
#include "suiteserver/ServerProgram.h"

namespace orvel::suiteserver {
namespace {

using ::testing::HasSubstr;

class QuietLog : public ServerLog {
  public:
    void Line(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

class FakeJournal : public EventJournal {
  public:
    void Send(const RecordedEvent& event, std::string_view message) override {
        sent.push_back(event);
        messages.emplace_back(message);
    }
    std::vector<RecordedEvent> sent;
    std::vector<std::string> messages;
};

// A detail whose length and content follow from the sequence, so a damaged
// or shifted record shows.
std::string DetailFor(std::uint64_t sequence) {
    return std::string(sequence % 97, static_cast<char>('a' + sequence % 26)) + "#" +
           std::to_string(sequence);
}

SuiteEvent Exited(int slot, int code) {
    SuiteEvent event;
    event.kind = SuiteEventKind::kComponentExited;
    event.slot = slot;
    event.component = "Router Link";
    event.pid = 4242;
    event.exitCode = code;
    event.runTime = std::chrono::milliseconds(252'000);
    return event;
}

// Every event whole, in sequence without a gap, each with its own detail.
void ExpectIntact(const std::vector<RecordedEvent>& events) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (i > 0) {
            ASSERT_EQ(events[i].sequence, events[i - 1].sequence + 1);
        }
        ASSERT_EQ(events[i].event.detail, DetailFor(events[i].sequence));
        ASSERT_EQ(events[i].event.slot, static_cast<int>(events[i].sequence % 20));
    }
}

TEST(EventRecordTest, SurvivesAWriterKilledAtRandomInstants) {
    fakes::TempDir dir;
    const std::string path = dir.path().string() + "/events";
    std::mt19937 random(20261207);
    std::uint64_t lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            QuietLog log;
            EventRecordOptions options;
            options.maxEvents = 300;  // compactions happen while it is killed, too
            EventRecord record(path, options, log, nullptr);
            bool told = false;
            for (;;) {
                const std::uint64_t next =
                    record.Recent(0, 1).empty() ? 1 : record.Recent(0, 1).back().sequence + 1;
                SuiteEvent event = Exited(static_cast<int>(next % 20), 1);
                event.detail = DetailFor(next);
                record.Record(event);
                if (!told) {
                    told = write(ready[1], "x", 1) == 1;
                }
            }
        }
        close(ready[1]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);  // it has recorded at least once
        close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        EventFileContent content = ReadEventFile(path);
        ASSERT_TRUE(content.problem.empty()) << content.problem;
        ASSERT_FALSE(content.events.empty());
        ExpectIntact(content.events);
        // Nothing recorded before the kill is lost but the last event.
        EXPECT_GE(content.events.back().sequence, lastSeen) << "round " << round;
        lastSeen = content.events.back().sequence;

        // Opening cuts a torn tail; the next event follows on whole.
        QuietLog log;
        EventRecordOptions options;
        options.maxEvents = 300;
        {
            EventRecord record(path, options, log, nullptr);
            SuiteEvent event = Exited(static_cast<int>((lastSeen + 1) % 20), 1);
            event.detail = DetailFor(lastSeen + 1);
            record.Record(event);
        }
        content = ReadEventFile(path);
        EXPECT_FALSE(content.torn);
        ExpectIntact(content.events);
        ASSERT_EQ(content.events.back().sequence, lastSeen + 1);
        lastSeen += 1;
    }
}

TEST(EventRecordTest, ATornOrDamagedLastRecordHidesNothingBeforeIt) {
    fakes::TempDir dir;
    const std::string path = dir.path().string() + "/events";
    QuietLog log;
    {
        EventRecord record(path, {}, log, nullptr);
        for (std::uint64_t i = 1; i <= 3; ++i) {
            SuiteEvent event = Exited(static_cast<int>(i % 20), 0);
            event.detail = DetailFor(i);
            record.Record(event);
        }
    }
    const std::string whole = *platform::ReadWholeFile(path);
    RecordedEvent fourth;
    fourth.sequence = 4;
    fourth.event = Exited(4, 0);
    fourth.event.detail = DetailFor(4);
    const std::string next = EncodeEventRecord(fourth);
    // Every cut of the fourth record, and the whole one with a flipped byte.
    std::vector<std::string> damaged;
    for (std::size_t cut = 1; cut < next.size(); ++cut)
        damaged.push_back(whole + next.substr(0, cut));
    std::string flipped = whole + next;
    flipped.back() = static_cast<char>(flipped.back() ^ 0x40);
    damaged.push_back(flipped);
    for (const std::string& bytes : damaged) {
        EventFileContent content = ParseEventFile(bytes);
        ASSERT_EQ(content.events.size(), 3u) << bytes.size();
        EXPECT_TRUE(content.torn);
        EXPECT_EQ(content.goodBytes, whole.size());
        ExpectIntact(content.events);
    }
    // Opened, the damage is cut off and the sequence goes on.
    ASSERT_FALSE(platform::ReplaceFile(path, flipped));
    {
        EventRecord record(path, {}, log, nullptr);
        SuiteEvent event = Exited(4, 0);
        event.detail = DetailFor(4);
        record.Record(event);
    }
    EventFileContent content = ReadEventFile(path);
    EXPECT_FALSE(content.torn);
    ASSERT_EQ(content.events.size(), 4u);
    ExpectIntact(content.events);
}

TEST(EventRecordTest, CountBoundHoldsOverAHundredThousandEvents) {
    fakes::TempDir dir;
    const std::string path = dir.path().string() + "/events";
    QuietLog log;
    EventRecordOptions options;
    options.maxEvents = 1000;
    options.recentEvents = 100;
    EventRecord record(path, options, log, nullptr);
    std::size_t mostInFile = 0;
    for (std::uint64_t i = 1; i <= 100'000; ++i) {
        SuiteEvent event = Exited(static_cast<int>(i % 20), 1);
        event.detail = DetailFor(i);
        record.Record(event);
        mostInFile = std::max(mostInFile, record.FileEvents());
    }
    EXPECT_LE(mostInFile, 1500u);
    EventFileContent content = ReadEventFile(path);
    ASSERT_GE(content.events.size(), 1000u);
    ASSERT_LE(content.events.size(), 1500u);
    EXPECT_EQ(content.events.size(), record.FileEvents());
    EXPECT_EQ(content.events.back().sequence, 100'000u);
    ExpectIntact(content.events);
    auto newest = ReadEventFile(path, 10).events;
    ASSERT_EQ(newest.size(), 10u);
    EXPECT_EQ(newest.front().sequence, 99'991u);
    // Consoles get the newest from memory, bounded too.
    auto recent = record.Recent(0, 1000);
    ASSERT_EQ(recent.size(), 100u);
    EXPECT_EQ(recent.back().sequence, 100'000u);
    EXPECT_EQ(record.Recent(99'990, 5).front().sequence, 99'996u);
    EXPECT_TRUE(record.Recent(100'000, 5).empty());
}

TEST(EventRecordTest, AgeBoundDropsOldEventsOnOpenAndWhileRecording) {
    fakes::TempDir dir;
    const std::string path = dir.path().string() + "/events";
    QuietLog log;
    auto now = std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000));
    EventRecordOptions options;
    options.maxAge = std::chrono::hours(24 * 30);
    options.now = [&] { return now; };
    {
        EventRecord record(path, options, log, nullptr);
        for (int day = 0; day < 40; ++day) {
            record.Record(Exited(1, day));
            now += std::chrono::hours(24);
        }
        // A day's slack past the bound at most: never more than 31 days kept.
        EXPECT_LE(record.FileEvents(), 32u);
        EXPECT_GE(record.FileEvents(), 30u);
    }
    now += std::chrono::hours(24 * 29);
    EventRecord reopened(path, options, log, nullptr);
    EventFileContent content = ReadEventFile(path);
    ASSERT_EQ(content.events.size(), 1u);  // only the last is younger than 30 days
    EXPECT_EQ(content.events.front().event.exitCode, 39);
    reopened.Record(Exited(1, 40));
    EXPECT_EQ(ReadEventFile(path).events.back().sequence, 41u);
}

TEST(EventRecordTest, AForeignFileIsLeftAloneAndEventsStillReachTheJournal) {
    fakes::TempDir dir;
    const std::string path = dir.path().string() + "/events";
    ASSERT_FALSE(platform::ReplaceFile(path, "something else entirely\n"));
    QuietLog log;
    FakeJournal journal;
    EventRecord record(path, {}, log, &journal);
    EXPECT_FALSE(record.Writing());
    record.Record(Exited(3, 1));
    EXPECT_EQ(*platform::ReadWholeFile(path), "something else entirely\n");
    ASSERT_EQ(journal.sent.size(), 1u);
    EXPECT_EQ(journal.sent[0].sequence, 1u);
    EXPECT_EQ(journal.messages[0], "slot 3 \"Router Link\" exited with code 1 after 00:04:12");
    EXPECT_THAT(log.lines.at(0), HasSubstr("cannot use the event record"));
    EXPECT_EQ(EventPriority(journal.sent[0].event), LogPriority::Warning);
}

// --- reading it: --events ---------------------------------------------------

RecordedEvent At(std::uint64_t sequence, std::int64_t timeMs, SuiteEvent event) {
    return {sequence, timeMs, std::move(event)};
}

TEST(EventsCommandTest, LinesAndJsonSayWhatHappened) {
    const std::int64_t t = 1796613125000;  // 2026-12-07 03:12:05 UTC
    SuiteEvent killed = Exited(3, 0);
    killed.exitCode.reset();
    killed.signal = 9;
    SuiteEvent started;
    started.kind = SuiteEventKind::kComponentStarted;
    started.slot = 3;
    started.component = "Router Link";
    started.pid = 77;
    started.client = "Orvel_Console (uid 1000)";
    SuiteEvent registered;
    registered.kind = SuiteEventKind::kClientRegistered;
    registered.client = "evil\n\"console\"";
    struct Case {
        RecordedEvent event;
        std::string line;
    } cases[] = {
        {At(1, t, Exited(3, 1)),
         "2026-12-07 03:12:05 slot 3 \"Router Link\" exited with code 1 after 00:04:12"},
        {At(2, t, killed),
         "2026-12-07 03:12:05 slot 3 \"Router Link\" killed by signal 9 after 00:04:12"},
        {At(3, t + 999, started),
         "2026-12-07 03:12:05 slot 3 \"Router Link\" started (pid 77) by Orvel_Console (uid 1000)"},
        {At(4, t, registered), "2026-12-07 03:12:05 client evil\\x0a\"console\" registered"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatEventLine(c.event, false), c.line);

    EXPECT_EQ(FormatEventJson(At(2, t + 7, killed)),
              "{\"sequence\":2,\"time\":\"2026-12-07T03:12:05.007Z\",\"time_ms\":1796613125007,"
              "\"event\":\"component-exited\",\"slot\":3,\"component\":\"Router Link\","
              "\"pid\":4242,\"signal\":9,\"run_time_ms\":252000,\"message\":\"slot 3 \\\"Router "
              "Link\\\" killed by signal 9 after 00:04:12\"}");
    EXPECT_THAT(FormatEventJson(At(4, t, registered)),
                HasSubstr("\"client\":\"evil\\u000a\\\"console\\\"\""));
}

TEST(EventsCommandTest, FiltersBySlotAndTime) {
    fakes::TempDir dir;
    const std::string path = dir.path().string() + "/events";
    std::string bytes = "ORVELEV1";
    const std::int64_t t = 1796613125000;
    bytes += EncodeEventRecord(At(1, t - 3'600'000, Exited(3, 1)));
    bytes += EncodeEventRecord(At(2, t - 60'000, Exited(4, 2)));
    bytes += EncodeEventRecord(At(3, t, Exited(3, 3)));
    ASSERT_FALSE(platform::ReplaceFile(path, bytes));

    auto run = [&](std::vector<std::string> args) {
        std::string why;
        auto parsed = ParseEventsArguments(args, t, &why);
        EXPECT_TRUE(parsed) << why;
        std::ostringstream out, err;
        EXPECT_EQ(RunEventsCommand(path, *parsed, out, err, [] { return false; }), 0);
        return out.str();
    };
    auto codes = [](const std::string& text) {
        std::string found;
        for (std::size_t at = 0; (at = text.find("code ", at)) != std::string::npos; at += 5)
            found += text[at + 5];
        return found;
    };
    EXPECT_EQ(codes(run({})), "123");
    EXPECT_EQ(codes(run({"--slot", "3"})), "13");
    EXPECT_EQ(codes(run({"--since", "-2m"})), "23");
    EXPECT_EQ(codes(run({"--since", "-2m", "--slot", "3"})), "3");
    EXPECT_EQ(codes(run({"--slot", "7"})), "");
    const std::string json = run({"--json", "--slot", "4"});
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1);
    EXPECT_THAT(json, HasSubstr("\"exit_code\":2"));

    // A missing record is an empty one.
    std::ostringstream out, err;
    EXPECT_EQ(RunEventsCommand(dir.path().string() + "/none", {}, out, err, [] { return false; }),
              0);
    EXPECT_EQ(out.str(), "");
}

TEST(EventsCommandTest, SinceTakesDatesAndRelativeTimes) {
    const std::int64_t now = 1796613125000;
    std::tm parts{};
    parts.tm_year = 126;
    parts.tm_mon = 11;
    parts.tm_mday = 7;
    parts.tm_hour = 3;
    parts.tm_min = 12;
    parts.tm_isdst = -1;
    const std::int64_t local = static_cast<std::int64_t>(std::mktime(&parts)) * 1000;
    EXPECT_EQ(ParseSinceTime("2026-12-07 03:12", now), local);
    EXPECT_EQ(ParseSinceTime("2026-12-07T03:12:05", now), local + 5000);
    EXPECT_EQ(ParseSinceTime("2026-12-07", now), local - (3 * 60 + 12) * 60'000);
    EXPECT_EQ(ParseSinceTime("-10m", now), now - 600'000);
    EXPECT_EQ(ParseSinceTime("-7d", now), now - 7 * 86'400'000LL);
    EXPECT_LE(*ParseSinceTime("today", now), now);
    EXPECT_EQ(*ParseSinceTime("today", now) - *ParseSinceTime("yesterday", now) > 0, true);
    for (const char* bad : {"", "now", "2026-13-01", "2026-02-30", "2026-12-07 25:00", "-5w", "-m",
                            "2026/12/07", "2026-12-07 03:12:05x"})
        EXPECT_FALSE(ParseSinceTime(bad, now)) << bad;
}

TEST(EventsCommandTest, BadArgumentsAreRefusedWithExitTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {"--slot"}, {"--slot", "20"}, {"--slot", "x"}, {"--since", "soon"}, {"--tail"}};
    for (const auto& args : bad) {
        std::string why;
        EXPECT_FALSE(ParseEventsArguments(args, 0, &why));
        EXPECT_FALSE(why.empty());
    }
    std::vector<std::string> words = {"Orvel_Server", "--events", "--slot", "99"};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunServerProgram(static_cast<int>(argv.size()), argv.data()), 2);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("--slot: \"99\" is no slot"));
}

}  // namespace
}  // namespace orvel::suiteserver

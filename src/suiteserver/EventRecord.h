#pragma once

// The suite's record: every SuiteEvent with its time (UTC, ms) and a sequence
// number, kept in an append-only file in the server's state folder and sent
// to the journal.
//
// The file: an 8-byte header "ORVELEV1", then one record per event, each a
// 4-byte payload length, a 4-byte CRC-32 of the payload (both little-endian)
// and the payload. An append is one write(2) of a whole record, so a killed
// server leaves at most its last record torn: readers skip a record whose
// length runs past the end or whose checksum fails (and everything after it),
// and opening the file cuts it off. No append is synced: a kill of the
// process loses nothing written; only a crash of the machine may lose the
// last seconds.
//
// Bounds: at most maxEvents (default 10,000) events and none older than
// maxAge (default 30 days) after a compaction. A compaction writes the kept
// tail with ReplaceFile once the file holds half as many events again as the
// bound, or its oldest event is older than the age bound by a thirtieth of
// it, so its cost is spread over thousands of appends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/InstallRoot.h"
#include "platform/UniqueFd.h"
#include "suiteserver/ServerLog.h"
#include "suiteserver/SuiteEvents.h"

namespace orvel::suiteserver {

struct RecordedEvent {
    std::uint64_t sequence = 0;
    std::int64_t timeMs = 0;  // since the epoch, UTC
    SuiteEvent event;
};

// The name of a kind in the journal and in JSON ("component-exited").
std::string_view EventKindName(SuiteEventKind kind);
// The journal's priority of an event (a syslog level).
LogPriority EventPriority(const SuiteEvent& event);
// The event in words, without its time: slot 3 "Name" exited with code 1
// after 00:04:12. Texts from peers are escaped.
std::string DescribeEvent(const SuiteEvent& event);

// One event's record as it is appended to the file (length, checksum, payload).
std::string EncodeEventRecord(const RecordedEvent& event);

struct EventFileContent {
    std::vector<RecordedEvent> events;
    std::size_t goodBytes = 0;  // header and whole records; what follows is torn
    bool torn = false;          // bytes after the last whole record
    std::string problem;        // not an event record, or unreadable; empty when fine
};

// The events of a record file's bytes: every record is checked, the newest
// ones (all by default) decoded.
EventFileContent ParseEventFile(std::string_view bytes, std::size_t newest = SIZE_MAX);
// The events of the file at path; a missing file has none and no problem.
EventFileContent ReadEventFile(const std::string& path, std::size_t newest = SIZE_MAX);

// Where the events also go: the journal, with structured fields.
class EventJournal {
  public:
    virtual ~EventJournal() = default;
    virtual void Send(const RecordedEvent& event, std::string_view message) = 0;
};

// sd_journal_send: MESSAGE, PRIORITY and the ORVEL_ fields.
class SystemEventJournal final : public EventJournal {
  public:
    void Send(const RecordedEvent& event, std::string_view message) override;
};

struct EventRecordOptions {
    std::size_t maxEvents = 10000;
    std::chrono::milliseconds maxAge = std::chrono::hours(24 * 30);
    // The events kept in memory for consoles.
    std::size_t recentEvents = 1000;
    // The wall clock; the system's when empty.
    std::function<std::chrono::system_clock::time_point()> now;
};

// The record's file: the operator's state folder
// (~/.local/state/orvel/suite-events.record, $XDG_STATE_HOME when set); for
// root and a relocated installation beside the registry store
// (/var/lib/orvel, $ORVEL_ROOT). The server makes the folder when missing.
std::string EventRecordPath(const platform::InstallRoot& root);

class EventRecord final : public SuiteEvents {
  public:
    // Opens (creating) the file at path, cuts a torn last record and
    // compacts when over the bounds. A file that cannot be used is said on
    // log; the events then only go to the journal. journal may be null.
    EventRecord(std::string path, EventRecordOptions options, ServerLog& log,
                EventJournal* journal);
    EventRecord(const EventRecord&) = delete;
    EventRecord& operator=(const EventRecord&) = delete;

    void Record(const SuiteEvent& event) override;

    // The kept events after sinceSequence, oldest first, at most max (the
    // newest of them).
    std::vector<RecordedEvent> Recent(std::uint64_t sinceSequence, std::size_t max);
    // The events the file holds now.
    std::size_t FileEvents();
    const std::string& Path() const { return path_; }
    // The file is in use (false: the journal only).
    bool Writing();

  private:
    void OpenLocked();
    void CompactLocked(std::int64_t nowMs);
    std::int64_t NowMs() const;

    const std::string path_;
    const EventRecordOptions options_;
    ServerLog& log_;
    EventJournal* journal_;

    std::mutex mutex_;
    platform::UniqueFd fd_;
    std::uint64_t fileBytes_ = 0;  // where the next record goes
    std::size_t fileEvents_ = 0;   // records in the file
    std::int64_t oldestMs_ = 0;    // time of the file's first record
    std::uint64_t nextSequence_ = 1;
    std::deque<RecordedEvent> recent_;
    std::size_t compactAfter_ = 0;  // after a failed compaction: not before this many events
    bool writeFailed_ = false;      // said once on the log
};

}  // namespace orvel::suiteserver

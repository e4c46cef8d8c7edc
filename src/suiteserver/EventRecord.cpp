#include "suiteserver/EventRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/FileReplace.h"

namespace orvel::suiteserver {

namespace {

constexpr std::string_view kHeader = "ORVELEV1";
constexpr std::size_t kRecordHead = 8;  // length and checksum
// A record longer than this is damage, not an event.
constexpr std::uint32_t kMaxPayload = 64 * 1024;
// Texts longer than this are cut when recorded.
constexpr std::size_t kMaxText = 4096;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

std::uint32_t Crc32(std::string_view bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (char byte : bytes) c = kCrcTable[(c ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void PutU64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void PutText(std::string& out, std::string_view text) {
    text = text.substr(0, kMaxText);
    PutU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

// Reads the fields of a payload in order; any read past its end fails it.
class PayloadReader {
  public:
    explicit PayloadReader(std::string_view bytes) : bytes_(bytes) {}
    std::optional<std::uint64_t> Unsigned(int size) {
        if (bytes_.size() - at_ < static_cast<std::size_t>(size)) return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= std::uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
        at_ += static_cast<std::size_t>(size);
        return value;
    }
    std::optional<std::string> Text() {
        auto size = Unsigned(4);
        if (!size || bytes_.size() - at_ < *size) return std::nullopt;
        std::string text(bytes_.substr(at_, *size));
        at_ += *size;
        return text;
    }

  private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

std::optional<RecordedEvent> DecodePayload(std::string_view payload) {
    PayloadReader in(payload);
    RecordedEvent out;
    auto sequence = in.Unsigned(8);
    auto time = in.Unsigned(8);
    auto kind = in.Unsigned(2);
    auto slot = in.Unsigned(4);
    auto pid = in.Unsigned(4);
    auto flags = in.Unsigned(1);
    auto exitCode = in.Unsigned(4);
    auto signal = in.Unsigned(4);
    auto runTime = in.Unsigned(8);
    auto component = in.Text();
    auto client = in.Text();
    auto detail = in.Text();
    if (!detail || !sequence || !time || !kind || !slot || !pid || !flags || !exitCode || !signal ||
        !runTime || !component || !client)
        return std::nullopt;
    out.sequence = *sequence;
    out.timeMs = static_cast<std::int64_t>(*time);
    out.event.kind = static_cast<SuiteEventKind>(*kind);
    out.event.slot = static_cast<std::int32_t>(static_cast<std::uint32_t>(*slot));
    out.event.pid = static_cast<pid_t>(static_cast<std::uint32_t>(*pid));
    if ((*flags & 1) != 0)
        out.event.exitCode = static_cast<std::int32_t>(static_cast<std::uint32_t>(*exitCode));
    if ((*flags & 2) != 0)
        out.event.signal = static_cast<std::int32_t>(static_cast<std::uint32_t>(*signal));
    out.event.runTime = std::chrono::milliseconds(static_cast<std::int64_t>(*runTime));
    out.event.component = std::move(*component);
    out.event.client = std::move(*client);
    out.event.detail = std::move(*detail);
    return out;
}

std::string RunTimeText(std::chrono::milliseconds runTime) {
    auto seconds = std::max<std::int64_t>(0, runTime.count() / 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

struct RecordPlace {
    std::size_t payload = 0;  // where its payload starts
    std::uint32_t length = 0;
};

// The places of the whole, checked records after the header, up to the first
// that is not; returns where that one starts (the end when all are whole).
std::size_t CheckedRecords(std::string_view bytes, std::vector<RecordPlace>* places) {
    places->reserve(bytes.size() / 96 + 1);
    std::size_t at = kHeader.size();
    while (bytes.size() - at >= kRecordHead) {
        PayloadReader head(bytes.substr(at, kRecordHead));
        auto length = static_cast<std::uint32_t>(*head.Unsigned(4));
        auto checksum = static_cast<std::uint32_t>(*head.Unsigned(4));
        if (length > kMaxPayload || bytes.size() - at - kRecordHead < length) break;
        if (Crc32(bytes.substr(at + kRecordHead, length)) != checksum) break;
        places->push_back({at + kRecordHead, length});
        at += kRecordHead + length;
    }
    return at;
}

// The time of a checked record, without decoding the rest.
std::int64_t TimeOf(std::string_view bytes, const RecordPlace& place) {
    PayloadReader in(bytes.substr(place.payload, place.length));
    in.Unsigned(8);
    return static_cast<std::int64_t>(in.Unsigned(8).value_or(0));
}

}  // namespace

std::string_view EventKindName(SuiteEventKind kind) {
    switch (kind) {
        case SuiteEventKind::kServerStarted:
            return "server-started";
        case SuiteEventKind::kServerStopped:
            return "server-stopped";
        case SuiteEventKind::kComponentStarted:
            return "component-started";
        case SuiteEventKind::kComponentStopped:
            return "component-stopped";
        case SuiteEventKind::kComponentExited:
            return "component-exited";
        case SuiteEventKind::kComponentAdopted:
            return "component-adopted";
        case SuiteEventKind::kComponentRefused:
            return "component-refused";
        case SuiteEventKind::kComponentRestarted:
            return "component-restarted";
        case SuiteEventKind::kRestartLimitHit:
            return "restart-limit-hit";
        case SuiteEventKind::kClientRegistered:
            return "client-registered";
        case SuiteEventKind::kClientWithdrawn:
            return "client-withdrawn";
        case SuiteEventKind::kClientLost:
            return "client-lost";
        case SuiteEventKind::kTlsRefused:
            return "tls-refused";
    }
    return "unknown";
}

LogPriority EventPriority(const SuiteEvent& event) {
    switch (event.kind) {
        case SuiteEventKind::kComponentExited:
            return event.exitCode == 0 && !event.signal ? LogPriority::Notice
                                                        : LogPriority::Warning;
        case SuiteEventKind::kComponentRefused:
        case SuiteEventKind::kRestartLimitHit:
        case SuiteEventKind::kClientLost:
        case SuiteEventKind::kTlsRefused:
            return LogPriority::Warning;
        case SuiteEventKind::kClientRegistered:
        case SuiteEventKind::kClientWithdrawn:
            return LogPriority::Info;
        default:
            return LogPriority::Notice;
    }
}

std::string DescribeEvent(const SuiteEvent& event) {
    const std::string slot =
        "slot " + std::to_string(event.slot) + " \"" + EscapeForLog(event.component) + "\"";
    const std::string pid = event.pid > 0 ? " (pid " + std::to_string(event.pid) + ")" : "";
    const std::string client = EscapeForLog(event.client);
    const std::string by = client.empty() ? "" : " by " + client;
    const std::string detail = event.detail.empty() ? "" : ": " + EscapeForLog(event.detail);
    switch (event.kind) {
        case SuiteEventKind::kServerStarted:
            return "server started" + detail;
        case SuiteEventKind::kServerStopped:
            return "server stopped" + detail;
        case SuiteEventKind::kComponentStarted:
            return slot + " started" + pid + by + detail;
        case SuiteEventKind::kComponentStopped:
            return slot + " stopped" + pid + by + detail;
        case SuiteEventKind::kComponentExited: {
            std::string how =
                event.signal ? "killed by signal " + std::to_string(*event.signal)
                             : "exited with code " + std::to_string(event.exitCode.value_or(0));
            return slot + " " + how + " after " + RunTimeText(event.runTime) + detail;
        }
        case SuiteEventKind::kComponentAdopted:
            return slot + " adopted" + pid + detail;
        case SuiteEventKind::kComponentRefused:
            return slot + " refused" + by + detail;
        case SuiteEventKind::kComponentRestarted:
            return slot + " restarted" + pid + detail;
        case SuiteEventKind::kRestartLimitHit:
            return slot + " restart limit hit" + detail;
        case SuiteEventKind::kClientRegistered:
            return "client " + client + " registered" + detail;
        case SuiteEventKind::kClientWithdrawn:
            return "client " + client + " withdrawn" + detail;
        case SuiteEventKind::kClientLost:
            return "client " + client + " lost" + detail;
        case SuiteEventKind::kTlsRefused:
            return "TLS refused " + client + detail;
    }
    return "event " + std::to_string(static_cast<int>(event.kind)) + detail;
}

std::string EncodeEventRecord(const RecordedEvent& recorded) {
    const SuiteEvent& event = recorded.event;
    std::string payload;
    payload.reserve(64 + event.component.size() + event.client.size() + event.detail.size());
    PutU64(payload, recorded.sequence);
    PutU64(payload, static_cast<std::uint64_t>(recorded.timeMs));
    payload.push_back(static_cast<char>(static_cast<unsigned>(event.kind) & 0xFF));
    payload.push_back(static_cast<char>((static_cast<unsigned>(event.kind) >> 8) & 0xFF));
    PutU32(payload, static_cast<std::uint32_t>(event.slot));
    PutU32(payload, static_cast<std::uint32_t>(event.pid));
    payload.push_back(static_cast<char>((event.exitCode ? 1 : 0) | (event.signal ? 2 : 0)));
    PutU32(payload, static_cast<std::uint32_t>(event.exitCode.value_or(0)));
    PutU32(payload, static_cast<std::uint32_t>(event.signal.value_or(0)));
    PutU64(payload, static_cast<std::uint64_t>(event.runTime.count()));
    PutText(payload, event.component);
    PutText(payload, event.client);
    PutText(payload, event.detail);
    std::string record;
    record.reserve(kRecordHead + payload.size());
    PutU32(record, static_cast<std::uint32_t>(payload.size()));
    PutU32(record, Crc32(payload));
    record += payload;
    return record;
}

EventFileContent ParseEventFile(std::string_view bytes, std::size_t newest) {
    EventFileContent content;
    if (bytes.size() < kHeader.size()) {
        // Empty, or a header cut short when the file was made: nothing in it.
        if (kHeader.substr(0, bytes.size()) != bytes) content.problem = "not an event record";
        content.torn = !bytes.empty() && content.problem.empty();
        return content;
    }
    if (bytes.substr(0, kHeader.size()) != kHeader) {
        content.problem = "not an event record";
        return content;
    }
    // First every record's place, checked; then only the newest decoded.
    std::vector<RecordPlace> records;
    std::size_t at = CheckedRecords(bytes, &records);
    std::size_t first = records.size() > newest ? records.size() - newest : 0;
    content.events.reserve(records.size() - first);
    for (std::size_t i = first; i < records.size(); ++i) {
        auto event = DecodePayload(bytes.substr(records[i].payload, records[i].length));
        if (!event) {
            // Whole and checked, yet not an event: the record ends before it.
            at = records[i].payload - kRecordHead;
            break;
        }
        content.events.push_back(std::move(*event));
    }
    content.goodBytes = at;
    content.torn = at < bytes.size();
    return content;
}

EventFileContent ReadEventFile(const std::string& path, std::size_t newest) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    EventFileContent content;
    if (!fd) {
        if (errno != ENOENT) content.problem = std::strerror(errno);
        return content;
    }
    // One read of the size the file has (more if it grew meanwhile).
    struct stat info {};
    std::string bytes;
    if (fstat(fd.get(), &info) == 0 && info.st_size > 0)
        bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            content.problem = "cannot be read";
            return content;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    auto rest = platform::ReadOpenFile(fd.get(), std::size_t{256} * 1024 * 1024);
    if (!rest) {
        content.problem = "cannot be read";
        return content;
    }
    bytes += *rest;
    return ParseEventFile(bytes, newest);
}

void SystemEventJournal::Send(const RecordedEvent& recorded, std::string_view message) {
    const SuiteEvent& event = recorded.event;
    std::vector<std::string> fields;
    fields.push_back("MESSAGE=" + std::string(message));
    fields.push_back("PRIORITY=" + std::to_string(static_cast<int>(EventPriority(event))));
    fields.push_back("ORVEL_EVENT=" + std::string(EventKindName(event.kind)));
    fields.push_back("ORVEL_SEQUENCE=" + std::to_string(recorded.sequence));
    if (event.slot >= 0) fields.push_back("ORVEL_SLOT=" + std::to_string(event.slot));
    if (!event.component.empty())
        fields.push_back("ORVEL_COMPONENT=" + EscapeForLog(event.component));
    if (event.pid > 0) fields.push_back("ORVEL_PID=" + std::to_string(event.pid));
    if (!event.client.empty()) fields.push_back("ORVEL_CLIENT=" + EscapeForLog(event.client));
    if (event.exitCode) fields.push_back("ORVEL_EXIT_CODE=" + std::to_string(*event.exitCode));
    if (event.signal) fields.push_back("ORVEL_EXIT_SIGNAL=" + std::to_string(*event.signal));
    std::vector<iovec> parts(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i)
        parts[i] = iovec{fields[i].data(), fields[i].size()};
    sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
}

std::string EventRecordPath(const platform::InstallRoot& root) {
    constexpr const char* kName = "/suite-events.record";
    // A relocated installation and root's server keep it beside the store.
    if (root.relocated || geteuid() == 0) return platform::FolderOf(root.registryStore) + kName;
    // An operator's server may not write the store's folder: the operator's
    // own state folder, where --events of the same operator finds it.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/orvel" + kName;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/orvel" + kName;
    return platform::FolderOf(root.registryStore) + kName;
}

EventRecord::EventRecord(std::string path, EventRecordOptions options, ServerLog& log,
                         EventJournal* journal)
    : path_(std::move(path)), options_(std::move(options)), log_(log), journal_(journal) {
    std::lock_guard lock(mutex_);
    OpenLocked();
}

std::int64_t EventRecord::NowMs() const {
    auto now = options_.now ? options_.now() : std::chrono::system_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
}

void EventRecord::OpenLocked() {
    std::error_code ignored;  // a folder that cannot be made shows at the open
    if (!std::filesystem::exists(platform::FolderOf(path_), ignored))
        std::filesystem::create_directories(platform::FolderOf(path_), ignored);
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd_) {
        log_.Line("cannot open the event record " + path_ + ": " + std::strerror(errno) +
                  "; events go to the journal only");
        return;
    }
    auto bytes = platform::ReadOpenFile(fd_.get(), std::size_t{256} * 1024 * 1024);
    if (!bytes) {
        log_.Line("cannot read the event record " + path_ + "; events go to the journal only");
        fd_.reset();
        return;
    }
    EventFileContent content = ParseEventFile(*bytes);
    if (!content.problem.empty()) {
        // Someone else's file: kept as it is.
        log_.Line("cannot use the event record " + path_ + ": " + content.problem +
                  "; events go to the journal only");
        fd_.reset();
        return;
    }
    for (const auto& event : content.events)
        nextSequence_ = std::max(nextSequence_, event.sequence + 1);
    fileEvents_ = content.events.size();
    oldestMs_ = content.events.empty() ? 0 : content.events.front().timeMs;
    const std::size_t keep = std::min(options_.recentEvents, content.events.size());
    recent_.assign(
        std::make_move_iterator(content.events.end() - static_cast<std::ptrdiff_t>(keep)),
        std::make_move_iterator(content.events.end()));
    if (bytes->size() < kHeader.size()) {
        // New (or its header torn when it was made): the header first.
        if (ftruncate(fd_.get(), 0) != 0 || !platform::WriteAll(fd_.get(), kHeader)) {
            log_.Line("cannot write the event record " + path_ + ": " + std::strerror(errno) +
                      "; events go to the journal only");
            fd_.reset();
            return;
        }
        fileBytes_ = kHeader.size();
    } else {
        fileBytes_ = content.goodBytes;
        if (content.torn) {
            log_.Line("event record " + path_ + ": a torn last record of " +
                      std::to_string(bytes->size() - content.goodBytes) + " bytes cut off");
            if (ftruncate(fd_.get(), static_cast<off_t>(content.goodBytes)) != 0) {
                log_.Line("cannot cut the event record " + path_ + ": " + std::strerror(errno));
                fd_.reset();
                return;
            }
        }
    }
    const std::int64_t now = NowMs();
    if (fileEvents_ > options_.maxEvents ||
        (fileEvents_ > 0 && oldestMs_ < now - options_.maxAge.count()))
        CompactLocked(now);
}

void EventRecord::CompactLocked(std::int64_t nowMs) {
    // The file is this object's own: its whole records end at fileBytes_.
    std::string bytes(fileBytes_, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::pread(fd_.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        got += static_cast<std::size_t>(n);
    }
    // The kept tail is copied as it stands: no record is decoded again.
    std::vector<RecordPlace> records;
    CheckedRecords(bytes, &records);
    const std::int64_t oldestKept = nowMs - options_.maxAge.count();
    std::size_t first = 0;
    while (first < records.size() && TimeOf(bytes, records[first]) < oldestKept) ++first;
    if (records.size() - first > options_.maxEvents) first = records.size() - options_.maxEvents;
    std::string kept(kHeader);
    if (first < records.size()) {
        const std::size_t from = records[first].payload - kRecordHead;
        const std::size_t to = records.back().payload + records.back().length;
        kept.append(bytes, from, to - from);
    }
    struct stat info {};
    platform::ReplaceOptions replace;
    if (fstat(fd_.get(), &info) == 0) replace.mode = info.st_mode & 07777;
    if (auto error = platform::ReplaceFile(path_, kept, replace); error) {
        // Tried again after as many appends as a compaction spreads over.
        compactAfter_ = fileEvents_ + std::max<std::size_t>(1, options_.maxEvents / 2);
        log_.Line("cannot compact the event record " + path_ + ": " + error.message());
        return;
    }
    compactAfter_ = 0;
    platform::UniqueFd reopened(::open(path_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
    if (!reopened) {
        log_.Line("cannot reopen the event record " + path_ + ": " + std::strerror(errno) +
                  "; events go to the journal only");
        fd_.reset();
        return;
    }
    fd_ = std::move(reopened);
    fileBytes_ = kept.size();
    fileEvents_ = records.size() - first;
    oldestMs_ = fileEvents_ > 0 ? TimeOf(bytes, records[first]) : nowMs;
}

void EventRecord::Record(const SuiteEvent& event) {
    RecordedEvent recorded;
    recorded.event = event;
    recorded.timeMs = NowMs();
    {
        std::lock_guard lock(mutex_);
        recorded.sequence = nextSequence_++;
        if (fd_) {
            const std::string bytes = EncodeEventRecord(recorded);
            if (platform::WriteAll(fd_.get(), bytes)) {
                fileBytes_ += bytes.size();
                if (fileEvents_++ == 0) oldestMs_ = recorded.timeMs;
                writeFailed_ = false;
            } else {
                // A record cut short (a full disk) would hide every later one: cut it.
                if (ftruncate(fd_.get(), static_cast<off_t>(fileBytes_)) != 0) fd_.reset();
                if (!writeFailed_) {
                    log_.Line("cannot write the event record " + path_ + ": " +
                              std::strerror(errno));
                }
                writeFailed_ = true;
            }
            const std::int64_t ageSlack = options_.maxAge.count() / 30;
            if (fd_ && fileEvents_ > 0 && fileEvents_ >= compactAfter_ &&
                (fileEvents_ > options_.maxEvents + options_.maxEvents / 2 ||
                 oldestMs_ < recorded.timeMs - options_.maxAge.count() - ageSlack))
                CompactLocked(recorded.timeMs);
        }
        recent_.push_back(recorded);
        while (recent_.size() > options_.recentEvents) recent_.pop_front();
    }
    if (journal_ != nullptr) journal_->Send(recorded, DescribeEvent(recorded.event));
}

std::vector<RecordedEvent> EventRecord::Recent(std::uint64_t sinceSequence, std::size_t max) {
    std::lock_guard lock(mutex_);
    auto first = std::upper_bound(
        recent_.begin(), recent_.end(), sinceSequence,
        [](std::uint64_t sequence, const RecordedEvent& e) { return sequence < e.sequence; });
    auto available = static_cast<std::size_t>(recent_.end() - first);
    if (available > max) first += static_cast<std::ptrdiff_t>(available - max);
    return {first, recent_.end()};
}

std::size_t EventRecord::FileEvents() {
    std::lock_guard lock(mutex_);
    return fileEvents_;
}

bool EventRecord::Writing() {
    std::lock_guard lock(mutex_);
    return fd_.valid();
}

}  // namespace orvel::suiteserver

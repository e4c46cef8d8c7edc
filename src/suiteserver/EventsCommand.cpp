#include "suiteserver/EventsCommand.h"

#include <sys/stat.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/CalendarTime.h"

namespace orvel::suiteserver {

namespace {

std::string JsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\u00";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::optional<int> Number(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
    return value;
}

std::int64_t MidnightMs(std::int64_t nowMs, int daysBack) {
    std::tm parts = platform::CalendarOf(nowMs, true);
    parts.tm_mday -= daysBack;
    parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
    parts.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&parts)) * 1000;
}

}  // namespace

bool Matches(const RecordedEvent& event, const EventFilter& filter) {
    if (filter.sinceMs && event.timeMs < *filter.sinceMs) return false;
    if (filter.slot && event.event.slot != *filter.slot) return false;
    return true;
}

std::string FormatEventLine(const RecordedEvent& event, bool localTime) {
    std::tm parts = platform::CalendarOf(event.timeMs, localTime);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return stamp + DescribeEvent(event.event);
}

std::string FormatEventJson(const RecordedEvent& recorded) {
    const SuiteEvent& event = recorded.event;
    std::tm parts = platform::CalendarOf(recorded.timeMs, false);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(((recorded.timeMs % 1000) + 1000) % 1000));
    std::string out = "{\"sequence\":" + std::to_string(recorded.sequence) + ",\"time\":\"" +
                      stamp + "\",\"time_ms\":" + std::to_string(recorded.timeMs) +
                      ",\"event\":" + JsonString(EventKindName(event.kind));
    if (event.slot >= 0) out += ",\"slot\":" + std::to_string(event.slot);
    if (!event.component.empty()) out += ",\"component\":" + JsonString(event.component);
    if (event.pid > 0) out += ",\"pid\":" + std::to_string(event.pid);
    if (!event.client.empty()) out += ",\"client\":" + JsonString(event.client);
    if (event.exitCode) out += ",\"exit_code\":" + std::to_string(*event.exitCode);
    if (event.signal) out += ",\"signal\":" + std::to_string(*event.signal);
    if (event.kind == SuiteEventKind::kComponentExited)
        out += ",\"run_time_ms\":" + std::to_string(event.runTime.count());
    if (!event.detail.empty()) out += ",\"detail\":" + JsonString(event.detail);
    out += ",\"message\":" + JsonString(DescribeEvent(event)) + "}";
    return out;
}

std::optional<std::int64_t> ParseSinceTime(std::string_view text, std::int64_t nowMs) {
    if (text == "today") return MidnightMs(nowMs, 0);
    if (text == "yesterday") return MidnightMs(nowMs, 1);
    if (text.size() >= 3 && text.front() == '-') {
        auto count = Number(text.substr(1, text.size() - 2));
        if (!count || *count < 0) return std::nullopt;
        std::int64_t unit = 0;
        switch (text.back()) {
            case 's':
                unit = 1000;
                break;
            case 'm':
                unit = 60'000;
                break;
            case 'h':
                unit = 3'600'000;
                break;
            case 'd':
                unit = 86'400'000;
                break;
            default:
                return std::nullopt;
        }
        return nowMs - *count * unit;
    }
    // YYYY-MM-DD[( |T)HH:MM[:SS]]
    if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    std::tm parts{};
    auto year = Number(text.substr(0, 4));
    auto month = Number(text.substr(5, 2));
    auto day = Number(text.substr(8, 2));
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31)
        return std::nullopt;
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    if (text.size() > 10) {
        if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':') return std::nullopt;
        auto hour = Number(text.substr(11, 2));
        auto minute = Number(text.substr(14, 2));
        if (!hour || !minute || *hour > 23 || *minute > 59) return std::nullopt;
        parts.tm_hour = *hour;
        parts.tm_min = *minute;
        if (text.size() == 19) {
            auto second = Number(text.substr(17, 2));
            if (text[16] != ':' || !second || *second > 60) return std::nullopt;
            parts.tm_sec = *second;
        }
    }
    parts.tm_isdst = -1;
    const int wantedDay = parts.tm_mday;
    std::time_t seconds = std::mktime(&parts);
    if (seconds == static_cast<std::time_t>(-1) || parts.tm_mday != wantedDay) return std::nullopt;
    return static_cast<std::int64_t>(seconds) * 1000;
}

std::optional<EventsArguments> ParseEventsArguments(const std::vector<std::string>& args,
                                                    std::int64_t nowMs, std::string* why) {
    EventsArguments out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--follow" || arg == "-f") {
            out.follow = true;
        } else if (arg == "--json") {
            out.json = true;
        } else if (arg == "--since" || arg == "--slot") {
            if (i + 1 >= args.size()) {
                *why = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (arg == "--since") {
                out.filter.sinceMs = ParseSinceTime(value, nowMs);
                if (!out.filter.sinceMs) {
                    *why = "--since: \"" + value +
                           "\" is no time (YYYY-MM-DD [HH:MM[:SS]], today, yesterday, -10m, "
                           "-2h, -7d)";
                    return std::nullopt;
                }
            } else {
                out.filter.slot = Number(value);
                if (!out.filter.slot || *out.filter.slot < 0 || *out.filter.slot > 19) {
                    *why = "--slot: \"" + value + "\" is no slot (0 to 19)";
                    return std::nullopt;
                }
            }
        } else {
            *why = "--events: unexpected argument \"" + arg + "\"";
            return std::nullopt;
        }
    }
    return out;
}

int RunEventsCommand(const std::string& path, const EventsArguments& arguments, std::ostream& out,
                     std::ostream& err, const std::function<bool()>& keepFollowing) {
    std::uint64_t printedUpTo = 0;
    auto print = [&](const EventFileContent& content) {
        for (const RecordedEvent& event : content.events) {
            if (event.sequence <= printedUpTo) continue;
            printedUpTo = event.sequence;
            if (!Matches(event, arguments.filter)) continue;
            out << (arguments.json ? FormatEventJson(event) : FormatEventLine(event)) << "\n";
        }
        out.flush();
    };
    EventFileContent content = ReadEventFile(path);
    if (!content.problem.empty()) {
        err << "Orvel_Server: cannot read the event record " << path << ": " << content.problem
            << "\n";
        return 1;
    }
    print(content);
    if (!arguments.follow) return 0;
    // A poll, not inotify: a compaction renames a new file over the old one,
    // which a poll of the path sees without watching the folder, and four
    // looks a second at one file's size cost nothing.
    struct stat seen {};
    stat(path.c_str(), &seen);
    while (keepFollowing()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        struct stat now {};
        if (stat(path.c_str(), &now) != 0) continue;
        if (now.st_ino == seen.st_ino && now.st_size == seen.st_size &&
            now.st_mtim.tv_nsec == seen.st_mtim.tv_nsec &&
            now.st_mtim.tv_sec == seen.st_mtim.tv_sec)
            continue;
        seen = now;
        content = ReadEventFile(path);
        if (content.problem.empty()) print(content);
    }
    return 0;
}

}  // namespace orvel::suiteserver

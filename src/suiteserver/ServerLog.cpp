#include "suiteserver/ServerLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvel::suiteserver {

std::string EscapeForLog(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else if (c == 0xc2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            auto next = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out.push_back(kHex[next >> 4]);
            out.push_back(kHex[next & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

namespace {

struct Wording {
    std::string_view words;
    bool atStart;
    LogPriority priority;
};

// First match wins: the more particular wordings come first.
constexpr Wording kWordings[] = {
    {"cannot listen on TCP", true, LogPriority::Warning},
    {"cannot ", true, LogPriority::Error},
    {"another ", true, LogPriority::Error},
    {"registry store problem", true, LogPriority::Error},
    {"refused", false, LogPriority::Warning},
    {"could not", false, LogPriority::Warning},
    {"not started", false, LogPriority::Warning},
    {"did not end", false, LogPriority::Warning},
    {"is full", false, LogPriority::Warning},
    {"broken", false, LogPriority::Warning},
    {"serving", true, LogPriority::Notice},
    {"stopp", true, LogPriority::Notice},
    {"message: ", true, LogPriority::Notice},
    {"registry store readable", true, LogPriority::Notice},
    {"component: ", true, LogPriority::Notice},
};

}  // namespace

LogPriority PriorityOfLine(std::string_view text) {
    for (const Wording& wording : kWordings) {
        const bool found = wording.atStart ? text.starts_with(wording.words)
                                           : text.find(wording.words) != std::string_view::npos;
        if (found) return wording.priority;
    }
    return LogPriority::Info;
}

StderrLog::StderrLog(bool journalPrefixes) : journalPrefixes_(journalPrefixes) {}

bool StderrLog::StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr || *stream == '\0') return false;
    struct stat info {};
    if (fstat(STDERR_FILENO, &info) != 0) return false;
    const std::string self = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    return self == stream;
}

void StderrLog::Entry(LogPriority priority, std::string_view text) {
    std::string line;
    if (journalPrefixes_) line += "<" + std::to_string(static_cast<int>(priority)) + ">";
    line += EscapeForLog(text);
    line.push_back('\n');
    std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace orvel::suiteserver

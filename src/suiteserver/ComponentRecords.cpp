#include "suiteserver/ComponentRecords.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace orvel::suiteserver {

namespace {

constexpr std::string_view kHeader = "orvel-components 1";

template <typename T>
bool Number(std::string_view text, T* value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size();
}

// The next space-separated field of line, taken off it.
std::string_view TakeField(std::string_view* line) {
    auto space = line->find(' ');
    std::string_view field = line->substr(0, space);
    *line = space == std::string_view::npos ? std::string_view() : line->substr(space + 1);
    return field;
}

std::string ReadBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

}  // namespace

std::string FormatComponentRecords(const std::vector<ComponentRecord>& records,
                                   std::string_view bootId) {
    std::string text(kHeader);
    text += "\nboot ";
    text += bootId;
    text += '\n';
    for (const auto& record : records) {
        if (record.program.find('\n') != std::string::npos) continue;  // cannot be one line
        text += std::to_string(record.slot) + ' ' + std::to_string(record.process.pid) + ' ' +
                std::to_string(record.process.startTime) + ' ' + record.program + '\n';
    }
    return text;
}

std::vector<ComponentRecord> ParseComponentRecords(std::string_view text, std::string_view bootId) {
    std::vector<ComponentRecord> records;
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    if (lines.size() < 2 || lines[0] != kHeader || lines[1] != "boot " + std::string(bootId) ||
        bootId.empty()) {
        return records;
    }
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        ComponentRecord record;
        if (!Number(TakeField(&line), &record.slot) ||
            !Number(TakeField(&line), &record.process.pid) ||
            !Number(TakeField(&line), &record.process.startTime) || line.empty() ||
            record.process.pid <= 0) {
            continue;
        }
        record.program = std::string(line);
        records.push_back(std::move(record));
    }
    return records;
}

ComponentStateFile::ComponentStateFile(std::string path)
    : path_(std::move(path)), bootId_(ReadBootId()) {}

std::vector<ComponentRecord> ComponentStateFile::Load() {
    std::ifstream in(path_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseComponentRecords(text, bootId_);
}

bool ComponentStateFile::Save(const std::vector<ComponentRecord>& records, std::string* why) {
    std::string text = FormatComponentRecords(records, bootId_);
    std::string temporary = path_ + ".new";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *why = temporary + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    bool ok = done == text.size() && fsync(fd) == 0;
    int error = errno;
    close(fd);
    if (ok && rename(temporary.c_str(), path_.c_str()) == 0) return true;
    if (ok) error = errno;
    *why = path_ + ": " + std::strerror(error);
    unlink(temporary.c_str());
    return false;
}

}  // namespace orvel::suiteserver

#include "suiteserver/ComponentRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/FileReplace.h"
#include "platform/UniqueFd.h"

namespace orvel::suiteserver {

namespace {

constexpr std::string_view kHeader = "orvel-components 2";
constexpr std::string_view kFirstHeader = "orvel-components 1";

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

// A small file read whole; empty when it cannot be read (never throws).
std::string ReadSmallFile(const std::string& path) {
    platform::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string text;
    if (!fd) return text;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > (1u << 20)) return {};  // not a state file
    }
    return text;
}

bool Blank(std::string_view text) {
    return text.empty() || text.find_first_of(" \n") != std::string_view::npos;
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
        if (!record.marker.empty() && Blank(record.marker)) continue;
        text += std::to_string(record.slot) + ' ' + std::to_string(record.process.pid) + ' ' +
                std::to_string(record.process.startTime) + ' ' +
                (record.marker.empty() ? "-" : record.marker) + ' ' +
                (record.stopDeadline ? std::to_string(*record.stopDeadline) : "-") + ' ' +
                record.program + '\n';
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
    if (lines.size() < 2 || (lines[0] != kHeader && lines[0] != kFirstHeader) ||
        lines[1] != "boot " + std::string(bootId) || bootId.empty()) {
        return records;
    }
    const bool marked = lines[0] == kHeader;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        ComponentRecord record;
        if (!Number(TakeField(&line), &record.slot) ||
            !Number(TakeField(&line), &record.process.pid) ||
            !Number(TakeField(&line), &record.process.startTime) || record.process.pid < 0) {
            continue;
        }
        if (marked) {
            std::string_view marker = TakeField(&line);
            std::string_view deadline = TakeField(&line);
            if (marker.empty() || deadline.empty()) continue;
            if (marker != "-") record.marker = std::string(marker);
            if (deadline != "-") {
                std::int64_t at = 0;
                if (!Number(deadline, &at)) continue;
                record.stopDeadline = at;
            }
        }
        // A start without its process is known by its marker alone.
        if (line.empty() || (record.process.pid == 0 && record.marker.empty())) continue;
        record.program = std::string(line);
        records.push_back(std::move(record));
    }
    return records;
}

std::optional<MarkerParts> ParseMarker(std::string_view text, std::string_view installation) {
    if (installation.empty() || text.size() <= installation.size() ||
        text.substr(0, installation.size()) != installation || text[installation.size()] != ':') {
        return std::nullopt;
    }
    text.remove_prefix(installation.size() + 1);
    auto colon = text.find(':');
    MarkerParts parts;
    if (colon == std::string_view::npos || !Number(text.substr(0, colon), &parts.slot) ||
        colon + 1 >= text.size()) {
        return std::nullopt;
    }
    parts.nonce = std::string(text.substr(colon + 1));
    return parts;
}

std::string InstallationIdOf(const std::string& socketFolder) {
    // FNV-1a of the folder as the kernel names it: one name per installation.
    std::error_code ignored;
    std::string folder = std::filesystem::weakly_canonical(socketFolder, ignored);
    if (folder.empty()) folder = socketFolder;
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : folder) hash = (hash ^ c) * 0x100000001b3ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string ComponentStatePath(const std::string& socketFolder, bool relocated) {
    std::string inSocketFolder = socketFolder + "/components.state";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!relocated || runtime == nullptr || runtime[0] != '/') return inSocketFolder;
    const std::string folder = std::string(runtime) + "/orvel";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return inSocketFolder;
    // Only a folder of this user's own that no one else may write to.
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 022) != 0) {
        return inSocketFolder;
    }
    return folder + "/components-" + InstallationIdOf(socketFolder) + ".state";
}

ComponentStateFile::ComponentStateFile(const std::string& path)
    : ComponentStateFile(path, platform::FolderOf(path)) {}

ComponentStateFile::ComponentStateFile(std::string path, const std::string& socketFolder)
    : path_(std::move(path)), installation_(InstallationIdOf(socketFolder)) {
    bootId_ = ReadSmallFile("/proc/sys/kernel/random/boot_id");
    while (!bootId_.empty() && (bootId_.back() == '\n' || bootId_.back() == ' '))
        bootId_.pop_back();
}

std::string ComponentStateFile::TakeOver(const std::string& formerPath) {
    if (formerPath == path_) return {};
    const std::string text = ReadSmallFile(formerPath);
    if (text.empty()) {
        unlink(formerPath.c_str());  // none, or one without records
        return {};
    }
    platform::ReplaceOptions options;
    options.mode = 0600;
    options.durable = false;
    if (std::error_code error = platform::ReplaceFile(path_, text, options)) {
        std::string line = "cannot move the component records from " + formerPath + " to " + path_ +
                           " (" + error.message() + "); they stay where they are";
        path_ = formerPath;
        return line;
    }
    unlink(formerPath.c_str());
    return "component records moved from " + formerPath + " to " + path_;
}

void ComponentStateFile::RemoveWhenEmpty() {
    if (Load().empty()) unlink(path_.c_str());
}

std::vector<ComponentRecord> ComponentStateFile::Load() {
    return ParseComponentRecords(ReadSmallFile(path_), bootId_);
}

bool ComponentStateFile::Save(const std::vector<ComponentRecord>& records, std::string* why) {
    // The records mean nothing after a reboot (the boot id says so), so the
    // replacement need not reach the disk: a rename is atomic for every
    // process, and a server killed at any point finds the old file or the new.
    // Unsynced is not free on a disk file system (ext4 starts writing back a
    // file renamed over another, a few ms): ComponentStatePath puts the file
    // on a tmpfs wherever it can.
    platform::ReplaceOptions options;
    options.mode = 0600;
    options.durable = false;
    std::error_code error =
        platform::ReplaceFile(path_, FormatComponentRecords(records, bootId_), options);
    if (!error) return true;
    *why = path_ + ": " + error.message();
    return false;
}

}  // namespace orvel::suiteserver

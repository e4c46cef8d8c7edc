#include "platform/linux/ProcFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

namespace orvel::platform {

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "1234" gives 1234; anything that is not a plain positive decimal gives 0.
pid_t ParsePid(std::string_view name) {
    pid_t pid = 0;
    if (name.empty() || name[0] < '1' || name[0] > '9' || !ParseNumber(name, &pid)) return 0;
    return pid > 0 ? pid : 0;
}

// "PID/leaf", relative to the root's handle.
std::string PidPath(pid_t pid, std::string_view leaf) {
    char digits[24] = {};
    const auto end = std::to_chars(digits, digits + sizeof(digits), pid).ptr;
    std::string path(digits, end);
    if (!leaf.empty()) {
        path.push_back('/');
        path.append(leaf);
    }
    return path;
}

ProcFileStatus StatusOf(const struct stat& status) {
    ProcFileStatus file;
    file.identity = {static_cast<std::uint64_t>(status.st_dev),
                     static_cast<std::uint64_t>(status.st_ino)};
    file.removed = status.st_nlink == 0;
    file.owner = status.st_uid;
    return file;
}

// The NUL-separated words of a command line or environment, at most maxWords.
std::vector<std::string> SplitAtNul(std::string_view text, std::size_t maxWords) {
    std::vector<std::string> words;
    // The kernel ends each word with a NUL; a text without one is a single word.
    if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    if (text.empty()) return words;
    std::size_t pos = 0;
    while (words.size() < maxWords) {
        const std::size_t end = text.find('\0', pos);
        if (end == std::string_view::npos) {
            words.emplace_back(text.substr(pos));
            break;
        }
        words.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return words;
}

constexpr std::size_t kSmallFile = 4096;
constexpr std::size_t kLargeFile = 1u << 20;

}  // namespace

std::optional<ProcStat> ParseProcStat(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\0')) line.remove_suffix(1);
    const auto open = line.find(" (");
    const auto close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    ProcStat entry;
    if (!ParseNumber(line.substr(0, open), &entry.pid)) return std::nullopt;
    entry.comm = std::string(line.substr(open + 2, close - open - 2));
    // The fields after the name: state is field 3 of the line, start time field 22.
    std::string_view fields[20];
    std::size_t count = 0;
    std::size_t at = close + 1;
    while (at < line.size() && count < 20) {
        while (at < line.size() && line[at] == ' ') ++at;
        std::size_t end = line.find(' ', at);
        if (end == std::string_view::npos) end = line.size();
        if (end > at) fields[count++] = line.substr(at, end - at);
        at = end;
    }
    if (count < 20 || fields[0].size() != 1) return std::nullopt;
    entry.state = fields[0][0];
    if (!ParseNumber(fields[1], &entry.parent) || !ParseNumber(fields[2], &entry.group) ||
        !ParseNumber(fields[3], &entry.session) || !ParseNumber(fields[19], &entry.startTime)) {
        return std::nullopt;
    }
    return entry;
}

std::optional<std::string> ReadOpenFile(int fd, std::size_t limit) {
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;  // ESRCH: the process ended after the open
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (text.size() > limit) text.resize(limit);
    return text;
}

ProcFs::ProcFs(std::string root)
    : rootPath_(std::move(root)),
      root_(open(rootPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

UniqueFd ProcFs::Open(pid_t pid, std::string_view leaf, int flags) const {
    if (!root_ || pid <= 0) return UniqueFd();
    const std::string path = PidPath(pid, leaf);
    return UniqueFd(openat(root_.get(), path.c_str(), flags | O_CLOEXEC));
}

std::optional<std::string> ProcFs::Read(pid_t pid, std::string_view leaf, std::size_t limit) const {
    const UniqueFd file = Open(pid, leaf, O_RDONLY);
    if (!file) return std::nullopt;
    return ReadOpenFile(file.get(), limit);
}

std::vector<pid_t> ProcFs::Pids() const {
    std::vector<pid_t> pids;
    if (!root_) return pids;
    // A fresh descriptor per walk: a directory stream is not shared between walks.
    UniqueFd listing(openat(root_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing) return pids;
    DIR* folder = fdopendir(listing.get());
    if (folder == nullptr) return pids;
    listing.release();  // the stream owns it now
    pids.reserve(512);
    while (const dirent* entry = readdir(folder)) {
        if (const pid_t pid = ParsePid(entry->d_name); pid > 0) pids.push_back(pid);
    }
    closedir(folder);
    return pids;
}

std::optional<ProcStat> ProcFs::Stat(pid_t pid) const {
    const auto text = Read(pid, "stat", kSmallFile);
    if (!text) return std::nullopt;
    return ParseProcStat(*text);
}

std::map<pid_t, ProcStat> ProcFs::AllStats() const {
    std::map<pid_t, ProcStat> all;
    for (const pid_t pid : Pids()) {
        if (auto entry = Stat(pid)) all.emplace(pid, std::move(*entry));
    }
    return all;
}

std::vector<pid_t> ProcFs::Children(pid_t pid) const {
    std::vector<pid_t> children;
    const UniqueFd tasks = Open(pid, "task", O_RDONLY | O_DIRECTORY);
    if (!tasks) return children;
    UniqueFd listing(openat(tasks.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing) return children;
    DIR* folder = fdopendir(listing.get());
    if (folder == nullptr) return children;
    listing.release();
    while (const dirent* entry = readdir(folder)) {
        if (ParsePid(entry->d_name) == 0) continue;
        const std::string leaf = std::string(entry->d_name) + "/children";
        const UniqueFd file(openat(tasks.get(), leaf.c_str(), O_RDONLY | O_CLOEXEC));
        const auto text = ReadOpenFile(file.get(), kLargeFile);
        if (!text) continue;
        std::string_view rest(*text);
        while (!rest.empty()) {
            const std::size_t blank = rest.find_first_of(" \n");
            const std::string_view word = rest.substr(0, blank);
            if (const pid_t child = ParsePid(word); child > 0) children.push_back(child);
            if (blank == std::string_view::npos) break;
            rest.remove_prefix(blank + 1);
        }
    }
    closedir(folder);
    return children;
}

std::optional<std::string> ProcFs::ExeLink(pid_t pid) const {
    if (!root_ || pid <= 0) return std::nullopt;
    const std::string link = PidPath(pid, "exe");
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = readlinkat(root_.get(), link.c_str(), path.data(), path.size());
        // EACCES: another user's process; ENOENT: kernel thread, zombie or gone.
        if (n < 0) return std::nullopt;
        // readlink truncates silently: a full buffer may be a cut path.
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            return path;
        }
        if (path.size() >= kLargeFile) return std::nullopt;
        path.resize(path.size() * 4);
    }
}

std::optional<ProcFileStatus> ProcFs::ExeStatus(pid_t pid) const {
    if (!root_ || pid <= 0) return std::nullopt;
    const std::string link = PidPath(pid, "exe");
    struct stat status {};
    if (fstatat(root_.get(), link.c_str(), &status, 0) != 0) return std::nullopt;
    return StatusOf(status);
}

std::optional<ProcFileStatus> ProcFs::StatusInWorkingFolder(pid_t pid,
                                                            const std::string& path) const {
    if (path.empty()) return std::nullopt;
    struct stat status {};
    if (path.front() == '/') {
        if (stat(path.c_str(), &status) != 0) return std::nullopt;
        return StatusOf(status);
    }
    if (!root_ || pid <= 0) return std::nullopt;
    const std::string relative = PidPath(pid, "cwd/") + path;
    if (fstatat(root_.get(), relative.c_str(), &status, 0) != 0) return std::nullopt;
    return StatusOf(status);
}

std::optional<std::vector<std::string>> ProcFs::CommandLine(pid_t pid, std::size_t maxWords) const {
    const auto text = Read(pid, "cmdline", kLargeFile);
    if (!text) return std::nullopt;
    return SplitAtNul(*text, maxWords);
}

std::optional<std::string> ProcFs::Comm(pid_t pid) const {
    auto comm = Read(pid, "comm", 64);
    if (comm && !comm->empty() && comm->back() == '\n') comm->pop_back();
    return comm;
}

std::optional<uid_t> ProcFs::RealUser(pid_t pid) const {
    const auto status = Read(pid, "status", kSmallFile);
    if (!status) return std::nullopt;
    const std::size_t at = status->find("\nUid:");
    if (at == std::string::npos) return std::nullopt;
    std::size_t pos = at + 5;
    while (pos < status->size() && ((*status)[pos] == '\t' || (*status)[pos] == ' ')) ++pos;
    std::size_t end = pos;
    while (end < status->size() && (*status)[end] >= '0' && (*status)[end] <= '9') ++end;
    uid_t uid = 0;
    if (!ParseNumber(std::string_view(*status).substr(pos, end - pos), &uid)) return std::nullopt;
    return uid;
}

std::optional<uid_t> ProcFs::Owner(pid_t pid) const {
    if (!root_ || pid <= 0) return std::nullopt;
    const std::string folder = PidPath(pid, {});
    struct stat status {};
    if (fstatat(root_.get(), folder.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return status.st_uid;
}

std::optional<std::vector<std::string>> ProcFs::Environment(pid_t pid, uid_t user) const {
    // The folder's owner and the real user are both checked: a process that
    // changed users or gained rights at exec is not ours to read.
    if (Owner(pid) != user || RealUser(pid) != user) return std::nullopt;
    const UniqueFd file = Open(pid, "environ", O_RDONLY);
    if (!file) return std::nullopt;
    // The owner again, after the open: the pid might have been reused between.
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || status.st_uid != user) return std::nullopt;
    const auto text = ReadOpenFile(file.get(), kLargeFile);
    if (!text) return std::nullopt;
    return SplitAtNul(*text, SIZE_MAX);
}

std::optional<std::string> ProcFs::EnvironmentValue(pid_t pid, std::string_view name,
                                                    uid_t user) const {
    const auto entries = Environment(pid, user);
    if (!entries || name.empty()) return std::nullopt;
    for (const std::string& entry : *entries) {
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
            entry[name.size()] == '=') {
            return entry.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

}  // namespace orvel::platform

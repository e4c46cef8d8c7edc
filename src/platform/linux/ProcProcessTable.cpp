#include "platform/linux/ProcProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel::platform {

namespace {

// "1234" gives 1234; anything that is not a plain positive decimal gives 0.
pid_t ParsePid(const char* name) {
    pid_t pid = 0;
    const char* end = name + std::strlen(name);
    auto [ptr, ec] = std::from_chars(name, end, pid);
    if (ec != std::errc() || ptr != end || ptr == name) return 0;
    return pid > 0 ? pid : 0;
}

// "PID/leaf" into a fixed buffer, no allocation.
struct PidPath {
    char text[48] = {};
    PidPath(pid_t pid, const char* leaf) {
        char* end = std::to_chars(text, text + 20, pid).ptr;
        *end++ = '/';
        std::strncpy(end, leaf, sizeof(text) - static_cast<std::size_t>(end - text) - 1);
    }
};

class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

  private:
    int fd_ = -1;
};

ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
    ssize_t n = 0;
    do {
        n = read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

ProcProcessTable::ProcProcessTable(std::string procRoot)
    : ProcProcessTable(std::move(procRoot), getuid()) {}

ProcProcessTable::ProcProcessTable(std::string procRoot, uid_t ownUser)
    : procRoot_(std::move(procRoot)), ownUser_(ownUser) {
    procFd_ = open(procRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

ProcProcessTable::~ProcProcessTable() {
    if (procFd_ >= 0) close(procFd_);
}

std::vector<pid_t> ProcProcessTable::EnumProcesses() {
    std::vector<pid_t> pids;
    if (procFd_ < 0) return pids;
    // A fresh descriptor per walk: a directory stream cannot be shared or rewound
    // reliably between walks.
    int listFd = openat(procFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return pids;
    DIR* dir = fdopendir(listFd);
    if (dir == nullptr) {
        close(listFd);
        return pids;
    }
    pids.reserve(512);
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        if (pid_t pid = ParsePid(entry->d_name); pid > 0) pids.push_back(pid);
    }
    closedir(dir);
    return pids;
}

std::optional<std::string> ProcProcessTable::GetModuleFileNameExA(pid_t pid) {
    if (procFd_ < 0 || pid <= 0) return std::nullopt;
    const PidPath link(pid, "exe");
    std::string path(256, '\0');
    for (;;) {
        ssize_t n = readlinkat(procFd_, link.text, path.data(), path.size());
        // EACCES: another user's process; ENOENT: kernel thread, zombie or gone.
        if (n < 0) return std::nullopt;
        // readlink truncates silently: a full buffer may be a cut path.
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            return path;
        }
        if (path.size() >= (1u << 20)) return std::nullopt;
        path.resize(path.size() * 4);
    }
}

std::vector<ProcessEntry> ProcProcessTable::Snapshot() {
    std::vector<ProcessEntry> entries;
    for (pid_t pid : EnumProcesses()) {
        std::string name = FirstWord(pid);
        if (name.empty()) name = KernelName(pid);
        if (name.empty()) continue;  // ended between the listing and the read
        entries.push_back({pid, std::move(name)});
    }
    return entries;
}

std::optional<std::string> ProcProcessTable::OwnCommandPath(pid_t pid) {
    if (procFd_ < 0 || pid <= 0 || RealUser(pid) != ownUser_) return std::nullopt;
    const std::string cmdline = ReadSmall(pid, "cmdline", 1u << 16);
    const std::string comm = ProcessName(pid);
    std::vector<std::string_view> words;
    for (std::size_t pos = 0; pos < cmdline.size();) {
        std::size_t end = cmdline.find('\0', pos);
        if (end == std::string::npos) end = cmdline.size();
        words.emplace_back(cmdline.data() + pos, end - pos);
        pos = end + 1;
    }
    if (words.empty() || words.front().empty()) return std::nullopt;
    auto namedAfter = [&comm](std::string_view word) {
        const std::size_t slash = word.rfind('/');
        const std::string_view name =
            slash == std::string_view::npos ? word : word.substr(slash + 1);
        return !comm.empty() && name.starts_with(comm);
    };
    if (!namedAfter(words.front())) {
        // At most "interpreter option script": the script is the second or third word.
        for (std::size_t i = 1; i < words.size() && i < 3; ++i) {
            if (namedAfter(words[i])) return std::string(words[i]);
        }
    }
    return std::string(words.front());
}

std::string ProcProcessTable::ProcessName(pid_t pid) {
    if (procFd_ < 0 || pid <= 0) return {};
    std::string comm = ReadSmall(pid, "comm", 64);
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm;
}

std::optional<uid_t> ProcProcessTable::RealUser(pid_t pid) {
    const std::string status = ReadSmall(pid, "status", 4096);
    const std::size_t at = status.find("\nUid:");
    if (at == std::string::npos) return std::nullopt;
    std::size_t pos = at + 5;
    while (pos < status.size() && (status[pos] == '\t' || status[pos] == ' ')) ++pos;
    uid_t uid = 0;
    const auto [ptr, ec] = std::from_chars(status.data() + pos, status.data() + status.size(), uid);
    if (ec != std::errc() || ptr == status.data() + pos) return std::nullopt;
    return uid;
}

// Up to limit bytes of PID/leaf; "" when it cannot be read.
std::string ProcProcessTable::ReadSmall(pid_t pid, const char* leaf, std::size_t limit) {
    const PidPath path(pid, leaf);
    FileHandle file(openat(procFd_, path.text, O_RDONLY | O_CLOEXEC));
    std::string text;
    if (file.get() < 0) return text;
    char buffer[4096];
    while (text.size() < limit) {
        const ssize_t n = ReadSome(file.get(), buffer, sizeof(buffer));
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (text.size() > limit) text.resize(limit);
    return text;
}

std::string ProcProcessTable::FirstWord(pid_t pid) {
    const PidPath path(pid, "cmdline");
    FileHandle file(openat(procFd_, path.text, O_RDONLY | O_CLOEXEC));
    std::string word;
    if (file.get() < 0) return word;
    char buffer[1024];
    for (;;) {
        ssize_t n = ReadSome(file.get(), buffer, sizeof(buffer));
        if (n <= 0) return word;
        const void* nul = std::memchr(buffer, '\0', static_cast<std::size_t>(n));
        if (nul != nullptr) {
            word.append(buffer, static_cast<std::size_t>(static_cast<const char*>(nul) - buffer));
            return word;
        }
        word.append(buffer, static_cast<std::size_t>(n));
        if (word.size() > (1u << 20)) return word;
    }
}

std::string ProcProcessTable::KernelName(pid_t pid) {
    const PidPath path(pid, "stat");
    FileHandle file(openat(procFd_, path.text, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return {};
    // "PID (comm) S ...": comm is at most 15 bytes but may itself hold ')' or
    // blanks, so it runs from the first '(' to the last ')'.
    char buffer[512];
    ssize_t n = ReadSome(file.get(), buffer, sizeof(buffer));
    if (n <= 0) return {};
    std::string_view text(buffer, static_cast<std::size_t>(n));
    std::size_t open = text.find('(');
    std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close <= open) {
        return {};
    }
    return std::string(text.substr(open + 1, close - open - 1));
}

}  // namespace orvel::platform

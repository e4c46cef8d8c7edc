#include "platform/linux/ComponentOutput.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/linux/Spawn.h"

namespace orvel::platform {

namespace {

constexpr std::size_t kMaxLogNameChars = 64;

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

bool SafeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

}  // namespace

std::string ComponentLogName(std::string_view name) {
    std::string safe = "orvel-";
    bool replacing = false;
    for (char c : name) {
        if (safe.size() >= kMaxLogNameChars) break;
        if (SafeChar(c)) {
            safe.push_back(c);
            replacing = false;
        } else if (!replacing) {
            safe.push_back('-');
            replacing = true;
        }
    }
    return safe;
}

bool WriteWithoutWaiting(int fd, std::string_view text) {
    if (text.size() > PIPE_BUF) return false;
    pollfd one{fd, POLLOUT, 0};
    if (poll(&one, 1, 0) != 1 || (one.revents & POLLOUT) == 0) return false;
    return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

OutputStream JournalOutput::Open(int /*slot*/, std::string_view name) {
    OutputStream stream;
    const int fd = sd_journal_stream_fd(ComponentLogName(name).c_str(), LOG_INFO, 1);
    if (fd < 0) {
        stream.problem = "no journal stream: " + ErrorText(-fd);
    } else {
        stream.fd.reset(fd);
    }
    return stream;
}

LogFileOutput::LogFileOutput(std::string folder, std::string logPipeProgram, std::uint64_t maxBytes)
    : folder_(std::move(folder)), logPipeProgram_(std::move(logPipeProgram)), maxBytes_(maxBytes) {}

OutputStream LogFileOutput::Open(int /*slot*/, std::string_view name) {
    std::lock_guard lock(mutex_);
    const std::string key = ComponentLogName(name);
    if (auto kept = pipes_.find(key); kept != pipes_.end()) {
        // A log pipe that still reads: shared. One that ended (killed) would
        // end the component's first write with SIGPIPE: a new one instead.
        pollfd one{kept->second.get(), POLLOUT, 0};
        if (poll(&one, 1, 0) >= 0 && (one.revents & (POLLERR | POLLHUP)) == 0) {
            OutputStream stream;
            stream.fd.reset(fcntl(kept->second.get(), F_DUPFD_CLOEXEC, 3));
            if (stream.fd) return stream;
        }
        pipes_.erase(kept);
    }
    OutputStream stream = StartLogPipe(name);
    if (stream.fd) {
        UniqueFd kept(fcntl(stream.fd.get(), F_DUPFD_CLOEXEC, 3));
        if (kept) pipes_[key] = std::move(kept);
    }
    return stream;
}

OutputStream LogFileOutput::StartLogPipe(std::string_view name) {
    OutputStream stream;
    if (mkdir(folder_.c_str(), 0750) != 0 && errno != EEXIST) {
        stream.problem = "cannot create " + folder_ + ": " + ErrorText(errno);
        return stream;
    }
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) {
        stream.problem = "pipe: " + ErrorText(errno);
        return stream;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    SpawnRequest request;
    request.program = logPipeProgram_;
    request.arguments = {folder_ + "/" + ComponentLogName(name) + ".log",
                         std::to_string(maxBytes_)};
    request.workingFolder = "/";
    // Neither a stop of the component (its group) nor a terminal reaches it.
    request.grouping = SpawnRequest::Grouping::kOwnSession;
    request.standardInput = readEnd.get();
    SpawnResult started = Spawn(request);
    if (started.pid <= 0) {
        stream.problem = "cannot start " + logPipeProgram_ + ": " + started.errorText;
        return stream;
    }
    stream.fd = std::move(writeEnd);
    stream.helper = started.pid;
    return stream;
}

std::unique_ptr<ComponentOutput> ChooseComponentOutput(bool stderrIsJournal,
                                                       const std::string& logFolder,
                                                       const std::string& logPipeProgram) {
    struct stat socket {};
    if (stderrIsJournal && stat(std::string(kJournalStreamSocket).c_str(), &socket) == 0 &&
        S_ISSOCK(socket.st_mode)) {
        return std::make_unique<JournalOutput>();
    }
    return std::make_unique<LogFileOutput>(logFolder, logPipeProgram, kDefaultComponentLogBytes);
}

namespace {

// The log file a log pipe writes, followed when another one moves it away.
class RotatingFile {
  public:
    RotatingFile(std::string path, std::uint64_t maxBytes)
        : path_(std::move(path)), maxBytes_(std::max<std::uint64_t>(maxBytes, 1)) {}

    void Write(const char* data, std::size_t length) {
        if (!file_ || Moved()) Reopen();
        while (length > 0) {
            if (size_ >= maxBytes_ || (size_ > 0 && size_ + length > maxBytes_)) Rotate();
            if (!file_ || size_ >= maxBytes_) return;  // cannot be written: this part is lost
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(length, maxBytes_ - size_));
            if (!WriteAll(file_.get(), std::string_view(data, part))) {
                Reopen();
                return;
            }
            size_ += part;
            data += part;
            length -= part;
        }
    }

  private:
    void Reopen() {
        file_.reset(open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640));
        struct stat status {};
        size_ = file_ && fstat(file_.get(), &status) == 0
                    ? static_cast<std::uint64_t>(status.st_size)
                    : 0;
    }
    void Rotate() {
        rename(path_.c_str(), (path_ + ".1").c_str());
        Reopen();
    }
    bool Moved() const {
        struct stat atPath {};
        struct stat held {};
        if (stat(path_.c_str(), &atPath) != 0 || fstat(file_.get(), &held) != 0) return true;
        return atPath.st_ino != held.st_ino || atPath.st_dev != held.st_dev;
    }

    std::string path_;
    std::uint64_t maxBytes_;
    UniqueFd file_;
    std::uint64_t size_ = 0;
};

}  // namespace

int RunLogPipe(int input, const std::string& path, std::uint64_t maxBytes) {
    RotatingFile file(path, maxBytes);
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (;;) {
        const ssize_t got = read(input, buffer.data(), buffer.size());
        if (got == 0) return 0;
        if (got < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        file.Write(buffer.data(), static_cast<std::size_t>(got));
    }
}

}  // namespace orvel::platform

#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>

#include "platform/UniqueFd.h"

namespace orvel::platform {

namespace {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

std::string BaseOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates a new hidden file beside path, readable and writable by its owner
// only until the caller sets the mode it is to have.
UniqueFd CreateTemporary(const std::string& path, std::string& temporary) {
    const std::string folder = FolderOf(path);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string prefix = folder + "/." + BaseOf(path) + "." + std::to_string(::getpid()) +
                               "." + std::to_string(stamp) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = prefix + std::to_string(attempt) + ".tmp";
        UniqueFd fd(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return UniqueFd();
}

std::error_code SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) return LastError();
    return {};
}

}  // namespace

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

std::optional<std::string> ReadOpenFile(int fd, std::size_t limit) {
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[16384];
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

std::optional<std::string> ReadWholeFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return ReadOpenFile(fd.get(), std::numeric_limits<std::size_t>::max());
}

mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        }
    }
    return 022;
}

std::error_code ReplaceFile(const std::string& path, std::string_view content,
                            const ReplaceOptions& options) {
    std::string temporary;
    UniqueFd fd = CreateTemporary(path, temporary);
    if (!fd) return LastError();
    const mode_t mode = options.mode.value_or(0666 & ~CurrentUmask()) & 07777;
    bool ok = true;
    // Group first: a change of group clears the set-group-id bit. A file
    // created with the group already (a set-group-id folder) is left alone.
    struct stat created {};
    if (options.group && (::fstat(fd.get(), &created) != 0 ||
                          (created.st_gid != *options.group &&
                           ::fchown(fd.get(), static_cast<uid_t>(-1), *options.group) != 0))) {
        ok = false;
    }
    ok = ok && ::fchmod(fd.get(), mode) == 0;
    ok = ok && WriteAll(fd.get(), content);
    ok = ok && (!options.durable || ::fsync(fd.get()) == 0);
    ok = fd.close() && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        const std::error_code failure = LastError();
        ::unlink(temporary.c_str());
        return failure;
    }
    return options.durable ? SyncFolder(FolderOf(path)) : std::error_code();
}

}  // namespace orvel::platform

#include "platform/linux/LinuxFileSystem.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/AsciiCase.h"

namespace orvel::platform {

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The entry of folder whose name equals name without regard to case; the
// first in byte order when several do, so the choice does not change between runs.
std::optional<std::string> FindEntry(const std::string& folder, std::string_view name) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::optional<std::string> best;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view candidate(entry->d_name);
        if (EqualIgnoringAsciiCase(candidate, name) && (!best || candidate < *best))
            best = std::string(candidate);
    }
    ::closedir(dir);
    return best;
}

std::string SelfExecutable() {
    char target[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", target, sizeof target - 1);
    if (length <= 0) return {};
    std::string path(target, static_cast<std::size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    return path;
}

}  // namespace

bool LinuxFileSystem::FileExists(const std::string& path) {
    std::optional<std::string> found = ResolvePath(path);
    struct stat info {};
    return found && ::stat(found->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> LinuxFileSystem::ResolvePath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    if (Exists(path)) return path;

    std::vector<std::string_view> parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    std::string resolved = path.front() == '/' ? "/" : "";
    for (std::string_view part : parts) {
        std::string candidate = resolved + std::string(part);
        if (!Exists(candidate)) {
            if (part == "." || part == "..") return std::nullopt;
            std::optional<std::string> entry = FindEntry(resolved, part);
            if (!entry) return std::nullopt;
            candidate = resolved + *entry;
        }
        resolved = candidate + "/";
    }
    if (resolved.size() > 1) resolved.pop_back();
    if (path.back() == '/' && resolved.back() != '/') resolved += '/';
    return resolved;
}

std::string LinuxFileSystem::ExecutableFolder() {
    std::string exe = SelfExecutable();
    std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return CurrentDirectory();
    // The root keeps its slash, as a drive root kept its backslash.
    return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string LinuxFileSystem::ExecutableName() {
    std::string exe = SelfExecutable();
    return exe.substr(exe.rfind('/') + 1);
}

bool LinuxFileSystem::ChangeDirectory(const std::string& path) {
    std::optional<std::string> found = ResolvePath(path);
    return found && ::chdir(found->c_str()) == 0;
}

std::string LinuxFileSystem::CurrentDirectory() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace orvel::platform

#include "platform/IniProfileFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/FileReplace.h"
#include "platform/IniProfileFormat.h"
#include "platform/UniqueFd.h"

namespace orvel::platform {

namespace {

bool Lock(int fd, int operation) {
    int result = 0;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool ReadFrom(int fd, std::string& text) {
    text.clear();
    char chunk[16384];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

// Under a shared lock, so that a file another writer rewrites in place is
// never read half written.
bool ReadWholeFile(const std::string& path, std::string& text) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd && Lock(fd.get(), LOCK_SH) && ReadFrom(fd.get(), text);
}

// Writable as Windows saw it: the process may write it, and it is not marked
// read-only (no write bit at all), which holds even for the administrator.
bool Writable(const std::string& path, const struct stat& info) {
    return (info.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

// Replaces the file through a temporary one, so that a reader (or a writer
// killed half way) only ever sees the old or the new file. An existing file
// keeps its mode and group; a new one is created group-writable unless the
// umask takes the group's access away altogether (a settings file in a shared
// group folder is written by every member). Answers nullopt, leaving nothing
// behind, when the group cannot be kept.
std::optional<bool> ReplaceWhole(const std::string& path, std::string_view text,
                                 const struct stat* existing) {
    ReplaceOptions options;
    if (existing != nullptr) {
        options.mode = existing->st_mode & 07777;
        options.group = existing->st_gid;
    } else {
        mode_t mode = 0664 & ~CurrentUmask();
        if ((mode & S_IRGRP) != 0) mode |= S_IWGRP;
        options.mode = mode;
    }
    const std::error_code failure = ReplaceFile(path, text, options);
    if (failure == std::errc::operation_not_permitted && options.group) return std::nullopt;
    return !failure;
}

// Rewrites the file itself: for a file that is not ours or lies in a folder we
// may not write. The caller holds the file's lock.
bool WriteInPlace(const std::string& path, std::string_view text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd) return false;
    const bool ok = WriteAll(fd.get(), text) &&
                    ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0 &&
                    ::fsync(fd.get()) == 0;
    return fd.close() && ok;
}

// Puts the target's edits into the file as it is now: the file is locked and
// read again first, so that writers of other keys (this program's or another
// one's) are not undone.
bool CommitEdits(const IniProfileFile::Target& target) {
    const std::string& path = target.path;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd && errno != ENOENT) return false;
        std::string text;
        struct stat info {};
        if (fd) {
            struct stat now {};
            if (!Lock(fd.get(), LOCK_EX) || ::fstat(fd.get(), &info) != 0) return false;
            // Replaced by another writer while this one waited: lock the new file.
            if (::stat(path.c_str(), &now) != 0 || now.st_ino != info.st_ino ||
                now.st_dev != info.st_dev) {
                continue;
            }
            if (!ReadFrom(fd.get(), text)) return false;
        }
        // An edit the file no longer takes (it became UTF-16 meanwhile) is
        // left out and reported; the others still go in.
        bool changed = false;
        bool ok = true;
        for (const IniProfileFile::Edit& edit : target.edits) {
            std::optional<ini::EditResult> result =
                ini::ApplyWrite(text, edit.section, edit.key, edit.value);
            if (!result) {
                ok = false;
                continue;
            }
            changed = changed || result->changed;
            text = std::move(result->text);
        }
        if (!fd) {
            ok = ReplaceWhole(path, text, nullptr).value_or(false) && ok;
        } else if (changed) {
            struct stat folder {};
            const bool replace = info.st_uid == ::geteuid() &&
                                 ::stat(FolderOf(path).c_str(), &folder) == 0 &&
                                 Writable(FolderOf(path), folder);
            std::optional<bool> replaced;
            if (replace) replaced = ReplaceWhole(path, text, &info);
            ok = (replaced ? *replaced : WriteInPlace(path, text)) && ok;
        }
        return ok;
    }
    return false;
}

// A link is followed, so that the file it names is replaced and the link kept.
std::string FileBehind(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    }
    return path;
}

IniProfileFile::Target Inspect(const std::string& path) {
    IniProfileFile::Target target;
    target.path = FileBehind(path);
    struct stat info {};
    target.exists = ::stat(target.path.c_str(), &info) == 0;
    if (target.exists) {
        target.mode = info.st_mode & 07777;
        target.owner = info.st_uid;
        target.group = info.st_gid;
        if (!S_ISREG(info.st_mode) || !ReadWholeFile(target.path, target.text) ||
            !Writable(target.path, info)) {
            return target;
        }
    } else if (errno != ENOENT) {
        return target;
    }
    if (target.exists) {
        // Replaced when ours and the folder allows it, else written in place.
        target.writable = true;
        return target;
    }
    std::string folder = FolderOf(target.path);
    struct stat folderInfo {};
    target.writable = ::stat(folder.c_str(), &folderInfo) == 0 && S_ISDIR(folderInfo.st_mode) &&
                      Writable(folder, folderInfo);
    return target;
}

}  // namespace

std::uint32_t IniProfileFile::GetPrivateProfileStringA(std::string_view section,
                                                       std::string_view key,
                                                       std::optional<std::string_view> defaultValue,
                                                       char* buffer, std::uint32_t size,
                                                       const std::string& path) {
    if (buffer == nullptr || size == 0) return 0;
    std::string read;
    std::string_view text;
    if (batch_ && batch_->path == FileBehind(path)) {
        text = batch_->text;
    } else if (ReadWholeFile(path, read)) {
        text = read;
    }
    const std::string value = ini::ReadValue(text, section, key, defaultValue);
    std::size_t count = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), count);
    buffer[count] = '\0';
    return static_cast<std::uint32_t>(count);
}

bool IniProfileFile::WritePrivateProfileStringA(std::string_view section,
                                                std::optional<std::string_view> key,
                                                std::optional<std::string_view> value,
                                                const std::string& path) {
    if (path.empty()) return false;
    std::optional<Target> single;
    Target* target = nullptr;
    if (batch_ && batch_->path == FileBehind(path)) {
        target = &*batch_;
    } else {
        single = Inspect(path);
        target = &*single;
    }
    std::optional<ini::EditResult> edit = ini::ApplyWrite(target->text, section, key, value);
    if (!edit) return false;
    bool deleting = !key || !value;
    if (deleting && !edit->changed) return true;  // nothing there to delete
    if (!target->writable) return false;
    target->text = std::move(edit->text);
    target->dirty = true;
    target->edits.push_back({std::string(section),
                             key ? std::optional<std::string>(*key) : std::nullopt,
                             value ? std::optional<std::string>(*value) : std::nullopt});
    return single ? CommitEdits(*single) : true;
}

void IniProfileFile::BeginBatch(const std::string& path) {
    EndBatch();
    batch_ = Inspect(path);
}

bool IniProfileFile::EndBatch() {
    if (!batch_) return true;
    Target target = std::move(*batch_);
    batch_.reset();
    return !target.dirty || CommitEdits(target);
}

}  // namespace orvel::platform

#include "platform/IniProfileFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/FileReplace.h"

namespace orvel::platform {

namespace ini {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The caller's section and key names lose spaces only.
std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

enum class Kind { Blank, Header, Comment, Entry, Other };

struct Line {
    std::size_t begin = 0;  // first byte of the line
    std::size_t end = 0;    // first byte of its line end (or of the next line when it has none)
    std::size_t next = 0;   // first byte of the next line
    Kind kind = Kind::Blank;
    std::string_view name;   // section name of a header, key of an entry
    std::string_view value;  // value of an entry, trimmed
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Splits at CR LF, LF and lone CR and classifies every line. A leading UTF-8
// byte-order mark belongs to no line (edits keep it where it is).
std::vector<Line> ParseLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            line.end = line.next = text.size();
        } else {
            line.end = end;
            line.next = end + 1;
            if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++line.next;
        }
        std::string_view content = text.substr(line.begin, line.end - line.begin);
        std::string_view trimmed = TrimBlanks(content);
        if (trimmed.empty()) {
            line.kind = Kind::Blank;
        } else if (trimmed.front() == '[') {
            line.kind = Kind::Header;
            std::string_view name = trimmed.substr(1);
            std::size_t close = name.find(']');
            if (close != std::string_view::npos) name = name.substr(0, close);
            line.name = TrimBlanks(name);
        } else if (trimmed.front() == ';') {
            line.kind = Kind::Comment;
        } else if (std::size_t equals = trimmed.find('='); equals != std::string_view::npos) {
            line.kind = Kind::Entry;
            line.name = TrimBlanks(trimmed.substr(0, equals));
            line.value = TrimBlanks(trimmed.substr(equals + 1));
        } else {
            line.kind = Kind::Other;
        }
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

// Index of the first header named section, or lines.size().
std::size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Header && EqualIgnoringAsciiCase(lines[i].name, section))
            return i;
    }
    return lines.size();
}

// Index of the line after the section that starts at header.
std::size_t SectionEnd(const std::vector<Line>& lines, std::size_t header) {
    std::size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Kind::Header) ++i;
    return i;
}

std::size_t FindKey(const std::vector<Line>& lines, std::size_t header, std::size_t end,
                    std::string_view key) {
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == Kind::Entry && EqualIgnoringAsciiCase(lines[i].name, key)) return i;
    }
    return end;
}

std::string_view LineEndOf(std::string_view text) {
    std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) return "\n";
    if (text[end] == '\r') return (end + 1 < text.size() && text[end + 1] == '\n') ? "\r\n" : "\r";
    return "\n";
}

}  // namespace

std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
    std::vector<Line> lines = ParseLines(text);
    std::size_t header = FindSection(lines, TrimSpaces(section));
    if (header == lines.size()) return std::nullopt;
    std::size_t end = SectionEnd(lines, header);
    std::size_t found = FindKey(lines, header, end, TrimSpaces(key));
    if (found == end) return std::nullopt;
    std::string_view value = lines[found].value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

std::optional<EditResult> ApplyWrite(std::string_view text, std::string_view section,
                                     std::optional<std::string_view> key,
                                     std::optional<std::string_view> value) {
    // A line break or NUL in any argument could forge further lines.
    if (HoldsLineBreakOrNul(section) || (key && HoldsLineBreakOrNul(*key)) ||
        (value && HoldsLineBreakOrNul(*value))) {
        return std::nullopt;
    }
    section = TrimSpaces(section);
    if (key) key = TrimSpaces(*key);

    std::vector<Line> lines = ParseLines(text);
    std::string_view lineEnd = LineEndOf(text);
    std::size_t header = FindSection(lines, section);
    EditResult result{std::string(text), false};

    if (header == lines.size()) {
        if (!key || !value) return result;  // nothing to delete
        if (!text.empty() && text != kUtf8Bom && text.back() != '\n' && text.back() != '\r') {
            result.text += lineEnd;
        }
        result.text.append("[").append(section).append("]").append(lineEnd);
        result.text.append(*key).append("=").append(*value).append(lineEnd);
        result.changed = true;
        return result;
    }

    std::size_t end = SectionEnd(lines, header);
    if (!key) {
        // The header and everything up to the next header go.
        std::size_t from = lines[header].begin;
        std::size_t to = end < lines.size() ? lines[end].begin : text.size();
        result.text.erase(from, to - from);
        result.changed = true;
        return result;
    }

    std::size_t found = FindKey(lines, header, end, *key);
    if (!value) {
        if (found == end) return result;
        result.text.erase(lines[found].begin, lines[found].next - lines[found].begin);
        result.changed = true;
        return result;
    }

    if (found != end) {
        // Rewritten in place, keeping the key's spelling in the file.
        std::string entry = std::string(lines[found].name) + "=" + std::string(*value);
        std::string_view old =
            text.substr(lines[found].begin, lines[found].end - lines[found].begin);
        if (old != entry) {
            result.text.replace(lines[found].begin, old.size(), entry);
            result.changed = true;
        }
        return result;
    }

    // A new key goes after the section's last entry, or right after its header.
    std::size_t anchor = header;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == Kind::Entry) anchor = i;
    }
    std::string entry = std::string(*key) + "=" + std::string(*value);
    if (lines[anchor].next == lines[anchor].end) {
        result.text.insert(lines[anchor].next, std::string(lineEnd) + entry + std::string(lineEnd));
    } else {
        result.text.insert(lines[anchor].next, entry + std::string(lineEnd));
    }
    result.changed = true;
    return result;
}

}  // namespace ini

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
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = Lock(fd, LOCK_SH) && ReadFrom(fd, text);
    ::close(fd);
    return ok;
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
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
              ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

// Puts the target's edits into the file as it is now: the file is locked and
// read again first, so that writers of other keys (this program's or another
// one's) are not undone.
bool CommitEdits(const IniProfileFile::Target& target) {
    const std::string& path = target.path;
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && errno != ENOENT) return false;
        std::string text;
        struct stat info {};
        if (fd >= 0) {
            struct stat now {};
            if (!Lock(fd, LOCK_EX) || ::fstat(fd, &info) != 0) {
                ::close(fd);
                return false;
            }
            // Replaced by another writer while this one waited: lock the new file.
            if (::stat(path.c_str(), &now) != 0 || now.st_ino != info.st_ino ||
                now.st_dev != info.st_dev) {
                ::close(fd);
                continue;
            }
            if (!ReadFrom(fd, text)) {
                ::close(fd);
                return false;
            }
        }
        bool changed = false;
        for (const IniProfileFile::Edit& edit : target.edits) {
            std::optional<ini::EditResult> result =
                ini::ApplyWrite(text, edit.section, edit.key, edit.value);
            if (!result) continue;
            changed = changed || result->changed;
            text = std::move(result->text);
        }
        bool ok = true;
        if (fd < 0) {
            ok = ReplaceWhole(path, text, nullptr).value_or(false);
        } else if (changed) {
            struct stat folder {};
            const bool replace = info.st_uid == ::geteuid() &&
                                 ::stat(FolderOf(path).c_str(), &folder) == 0 &&
                                 Writable(FolderOf(path), folder);
            std::optional<bool> replaced;
            if (replace) replaced = ReplaceWhole(path, text, &info);
            ok = replaced ? *replaced : WriteInPlace(path, text);
        }
        if (fd >= 0) ::close(fd);
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
    std::string text;
    std::optional<std::string> value;
    if (batch_ && batch_->path == FileBehind(path)) {
        value = ini::FindValue(batch_->text, section, key);
    } else if (ReadWholeFile(path, text)) {
        value = ini::FindValue(text, section, key);
    }
    if (!value) {
        std::string_view fallback = defaultValue.value_or("");
        while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
        value = std::string(fallback);
    }
    std::size_t count = std::min<std::size_t>(value->size(), size - 1);
    std::memcpy(buffer, value->data(), count);
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

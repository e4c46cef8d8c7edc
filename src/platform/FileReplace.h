#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace orvel::platform {

// How the new file is to be owned. The mode and the group are set on the
// temporary file before any content is written to it, so a secret is never
// readable by more users than its final mode allows, not even for a moment.
struct ReplaceOptions {
    std::optional<mode_t> mode;  // exact mode bits; none: 0666 less the umask
    std::optional<gid_t> group;  // group of the file; none: as created
    // False: replaced as atomically for every process, but neither file nor
    // folder synced. For files a restart of the machine makes meaningless
    // (records of running processes): a crash of the writer loses nothing.
    bool durable = true;
};

// Replaces path with content atomically: a temporary file in the same folder
// is written, synced and renamed over path, then the folder is synced, so a
// reader or a crash only ever sees the old file whole or the new one whole.
// A symbolic link at path is replaced itself, never followed. On failure
// nothing is left behind and the old file is untouched; the answer is the
// errno of the step that failed (EPERM when the group cannot be given).
std::error_code ReplaceFile(const std::string& path, std::string_view content,
                            const ReplaceOptions& options = {});

// The process's file mode creation mask, read without changing it.
mode_t CurrentUmask();

// The folder part of path ("." for a bare name, "/" for a name in the root).
std::string FolderOf(const std::string& path);

// Up to limit bytes from an open descriptor, from where it stands to its end;
// nullopt when fd is invalid or a read fails. Never throws.
std::optional<std::string> ReadOpenFile(int fd, std::size_t limit);

// The whole content of a file, or nullopt when it cannot be opened or read.
// Never throws: a file that vanishes or fails half way is an answer.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes all of data to fd, going on after partial writes and EINTR.
bool WriteAll(int fd, std::string_view data);

}  // namespace orvel::platform

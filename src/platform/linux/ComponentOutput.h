#pragma once

// Where a component's standard output and error go: the journal under the
// component's own name, or, without a journal, a size-bounded log file per
// component written by a small log pipe process of its own. Either way the
// child holds a descriptor that does not pass through the suite server: its
// output keeps flowing when the server dies, also for a component a later
// server adopts, and a component that writes faster than its log takes
// blocks itself only.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace orvel::platform {

struct OutputStream {
    // To become the child's descriptors 1 and 2; invalid: it keeps this process's.
    UniqueFd fd;
    // The log pipe process behind fd, when there is one: a child of this
    // process that belongs to no component and ends when the last writer
    // closes fd.
    pid_t helper = 0;
    std::string problem;  // why fd is invalid
};

class ComponentOutput {
  public:
    virtual ~ComponentOutput() = default;
    // A stream for the output of slot's component called name.
    virtual OutputStream Open(int slot, std::string_view name) = 0;
    // Where the output goes, for the server's log.
    virtual std::string Where() const = 0;
};

// The name a component's output carries: "orvel-" and the component's name
// with every character other than an ASCII letter, digit, '.', '_' or '-'
// (a space, say) written as '-', and runs of them as one; at most 64
// characters. "Matrix Control" gives "orvel-Matrix-Control".
std::string ComponentLogName(std::string_view name);

// Writes a short text (at most PIPE_BUF bytes) to fd only when it can be taken
// at once: the stream is shared with a child that may have filled it.
bool WriteWithoutWaiting(int fd, std::string_view text);

// The journal's stream socket: one connection per start, identifier
// ComponentLogName(name), priority info, "<N>" level prefixes honoured.
class JournalOutput final : public ComponentOutput {
  public:
    OutputStream Open(int slot, std::string_view name) override;
    std::string Where() const override { return "the journal"; }
};

// "<folder>/<ComponentLogName(name)>.log", rotated into ".1" once it holds
// maxBytes: at most twice maxBytes per component. A slot's first start gets a
// log pipe process (logPipeProgram) in a session of its own, so neither a
// stop of the component nor the server's own end reaches it; later starts of
// the slot share it (a start costs no second process). It ends when its
// input closes: once this object is gone and every component and helper
// that inherited the stream has ended.
class LogFileOutput final : public ComponentOutput {
  public:
    LogFileOutput(std::string folder, std::string logPipeProgram, std::uint64_t maxBytes);
    OutputStream Open(int slot, std::string_view name) override;
    std::string Where() const override { return "log files in " + folder_; }

  private:
    OutputStream StartLogPipe(std::string_view name);

    std::string folder_;
    std::string logPipeProgram_;
    std::uint64_t maxBytes_;
    std::mutex mutex_;
    std::map<std::string, UniqueFd> pipes_;  // the write end of each log file's pipe
};

inline constexpr std::uint64_t kDefaultComponentLogBytes = std::uint64_t{4} * 1024 * 1024;
inline constexpr std::string_view kJournalStreamSocket = "/run/systemd/journal/stdout";

// The journal when its stream socket is there and this process's standard
// error is the journal (a systemd unit); else log files in logFolder.
std::unique_ptr<ComponentOutput> ChooseComponentOutput(bool stderrIsJournal,
                                                       const std::string& logFolder,
                                                       const std::string& logPipeProgram);

// The log pipe's work: copies input to path until input ends, appending,
// moving path to path + ".1" (replacing it) before it would pass maxBytes.
// A file that cannot be written loses what is read meanwhile, never stalls
// the writer; another log pipe that moved the file away is followed. The
// file is made readable by its owner and group only. Returns the exit status.
int RunLogPipe(int input, const std::string& path, std::uint64_t maxBytes);

}  // namespace orvel::platform

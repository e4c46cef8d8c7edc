#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace orvel::suiteserver {

// Journal priorities (the syslog levels) of the server's lines.
enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// The priority of a line from its wording: a failure of the server itself is
// an error, a refusal or a component that cannot run a warning, a start, stop
// or message a notice, a connection or registration information.
LogPriority PriorityOfLine(std::string_view text);

// Where the server says what it does: one line per event, naming the slot,
// process and peer it concerns.
class ServerLog {
  public:
    virtual ~ServerLog() = default;
    virtual void Line(std::string_view text) = 0;
    // A line of a known priority; a log that keeps no priorities just writes it.
    virtual void Entry(LogPriority, std::string_view text) { Line(text); }
};

// Control characters (C0, DEL and the C1 range in UTF-8) written as \xNN or
// \u00NN, so no text a peer sends can forge, split or garble a log line.
std::string EscapeForLog(std::string_view text);

// Standard error, one whole line per write, for the journal.
class StderrLog : public ServerLog {
  public:
    // journalPrefixes: each line starts with its priority as "<N>", which the
    // journal reads; by default when standard error is the journal's stream.
    explicit StderrLog(bool journalPrefixes = StderrIsJournal());

    void Line(std::string_view text) override { Entry(PriorityOfLine(text), text); }
    void Entry(LogPriority priority, std::string_view text) override;

    // True when JOURNAL_STREAM names the file standard error is.
    static bool StderrIsJournal();

  private:
    bool journalPrefixes_;
    std::mutex mutex_;
};

}  // namespace orvel::suiteserver

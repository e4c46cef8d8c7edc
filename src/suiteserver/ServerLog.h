#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace orvel::suiteserver {

// Where the server says what it does: one line per event.
class ServerLog {
  public:
    virtual ~ServerLog() = default;
    virtual void Line(std::string_view text) = 0;
};

// Control characters (C0, DEL and the C1 range in UTF-8) written as \xNN or
// \u00NN, so no text a peer sends can forge, split or garble a log line.
std::string EscapeForLog(std::string_view text);

// Standard error, one whole line per write, for the journal.
class StderrLog : public ServerLog {
  public:
    void Line(std::string_view text) override;

  private:
    std::mutex mutex_;
};

}  // namespace orvel::suiteserver

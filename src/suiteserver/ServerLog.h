#pragma once

#include <mutex>
#include <string_view>

namespace orvel::suiteserver {

// Where the server says what it does: one line per event.
class ServerLog {
  public:
    virtual ~ServerLog() = default;
    virtual void Line(std::string_view text) = 0;
};

// Standard error, one whole line per write, for the journal.
class StderrLog : public ServerLog {
  public:
    void Line(std::string_view text) override;

  private:
    std::mutex mutex_;
};

}  // namespace orvel::suiteserver

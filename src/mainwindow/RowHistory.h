#pragma once

// The server rows' recent past for their tool tips: the events each server
// recorded, fetched on a worker of its own (never on the user-interface
// thread) at most once a second per server, from the last one already got.
// A server without the call is not asked again; its rows keep their tips.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/UiDispatcher.h"
#include "status/ComponentHistory.h"
#include "status/ServerWorker.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::mainwindow {

class RowHistory {
  public:
    // Without a dispatcher nothing is fetched (and no tip changes).
    explicit RowHistory(platform::UiDispatcher* dispatcher);
    ~RowHistory();
    RowHistory(const RowHistory&) = delete;
    RowHistory& operator=(const RowHistory&) = delete;

    // Asks server for its new events unless asked within the last second or
    // still asking; changed runs on the user-interface thread once new
    // events have come.
    void Refresh(const std::shared_ptr<suiteclient::SuiteServer>& server,
                 std::function<void()> changed);
    // The row's tip: base, then what the record says of slot on server.
    std::string Tip(const std::string& base, const suiteclient::SuiteServer* server,
                    int slot) const;

  private:
    struct Source {
        std::weak_ptr<suiteclient::SuiteServer> server;
        status::ComponentHistory history;
        bool fetching = false;
        bool unsupported = false;
        std::chrono::steady_clock::time_point next{};
    };
    Source* Find(const suiteclient::SuiteServer* server);
    const Source* Find(const suiteclient::SuiteServer* server) const;

    platform::UiDispatcher* dispatcher_;
    std::shared_ptr<status::ServerWorker> worker_;
    std::vector<std::unique_ptr<Source>> sources_;
    // Answers that arrive after this object is gone are dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvel::mainwindow

#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/ProgramStarter.h"

namespace orvel::fakes {

// Records every start; answers from a script of results, then with fresh
// process ids counting up from nextPid.
class FakeProgramStarter : public platform::ProgramStarter {
  public:
    struct StartCall {
        std::string programPath;
        int windowStyle = 0;
    };

    platform::StartResult Start(const std::string& programPath, int windowStyle) override {
        starts.push_back({programPath, windowStyle});
        if (!script.empty()) {
            platform::StartResult result = script.front();
            script.pop_front();
            return result;
        }
        return {nextPid++, {}};
    }

    bool IsAlive(pid_t pid) override { return alive.count(pid) != 0; }

    // A start that fails with this text.
    void FailNext(std::string error) { script.push_back({0, std::move(error)}); }

    std::vector<StartCall> starts;
    std::deque<platform::StartResult> script;
    pid_t nextPid = 4100;
    std::set<pid_t> alive;  // started processes that still run
};

}  // namespace orvel::fakes

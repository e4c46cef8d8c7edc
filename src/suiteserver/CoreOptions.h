#pragma once

// The suite server core's settings and answers, shared by the pieces it is
// made of.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/RuntimeError.h"
#include "suiteserver/SuiteEvents.h"

namespace orvel::suiteserver {

using InstanceId = std::uint64_t;

// Restart on failure of a component whose registration asks for it: the
// first restart after firstDelay, each next one after twice the delay before
// (at most maxDelay; back to firstDelay once it ran for a whole interval); a
// restart that would be the burst+1st within interval is not made, and the
// slot stays down until it is started.
struct RestartPolicy {
    std::chrono::milliseconds firstDelay{100};
    std::chrono::milliseconds maxDelay{30000};
    std::size_t burst = 5;
    std::chrono::milliseconds interval{60000};
};

struct CoreOptions {
    std::size_t maxInstances = 256;
    std::size_t maxInstancesPerPeer = 32;
    std::size_t maxQueuedEvents = 1024;
    std::size_t maxTextBytes = 4096;
    std::chrono::milliseconds stopGrace{5000};
    // How long StopComponent waits for the program to end before answering.
    std::chrono::milliseconds stopWait{300};
    // How long a StartComponent that arrives during a stop waits for the stop
    // to end before it answers; the start itself runs whenever the stop ends.
    std::chrono::milliseconds startWait{1000};
    // An instance whose events nobody collects is released after this time.
    std::chrono::milliseconds unattachedLimit{10000};
    // A standing operator message is sent again to every instance this often.
    std::chrono::milliseconds messageRepeat{250};
    // Off in tests that drive Housekeep() themselves.
    bool housekeeperThread = true;
    // Called at each named step of a start and a stop ("start-intent",
    // "start-spawned", "start-recorded", "stop-intent", "stop-signalled",
    // "stop-killed", "stop-ended"): lets a test end the server exactly there.
    std::function<void(std::string_view point)> reached;
    // Where what happened is recorded; nothing is kept when null.
    SuiteEvents* events = nullptr;
    RestartPolicy restart;
};

// Why the core refused a request.
enum class Refusal {
    kNone,
    kUnknownInstance,
    kBadIndex,
    kTooManyInstances,
    kBadArgument,
    kAlreadyAttached,
};

using platform::Outcome;

}  // namespace orvel::suiteserver

#pragma once

// The restart history of one component slot under a RestartPolicy: the delay
// before its next restart on failure, and whether one more restart stays
// within the burst limit.

#include <chrono>
#include <cstddef>
#include <deque>

#include "suiteserver/CoreOptions.h"

namespace orvel::suiteserver {

class RestartSchedule {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // The delay before restarting a run that failed after lastRun: twice the
    // one before for each restart in a row, at most maxDelay, and firstDelay
    // again once a run lasted a whole interval.
    std::chrono::milliseconds DelayAfter(std::chrono::milliseconds lastRun,
                                         const RestartPolicy& policy);
    // Counts a restart at now when fewer than burst were made within the
    // interval before it; false, and nothing counted, when the limit is hit.
    bool Admit(TimePoint now, const RestartPolicy& policy);
    // The restarts counted within the interval, as of the last Admit.
    std::size_t Recent() const { return recent_.size(); }
    // Begins afresh: the next delay is firstDelay and no restart counts.
    void Forget();

  private:
    std::size_t consecutive_ = 0;  // restarts since a run lasted a whole interval
    std::deque<TimePoint> recent_;
};

}  // namespace orvel::suiteserver

#include "suiteserver/RestartSchedule.h"

#include <algorithm>

namespace orvel::suiteserver {

std::chrono::milliseconds RestartSchedule::DelayAfter(std::chrono::milliseconds lastRun,
                                                      const RestartPolicy& policy) {
    if (lastRun >= policy.interval) consecutive_ = 0;
    auto delay = policy.firstDelay;
    for (std::size_t i = 0; i < consecutive_ && delay < policy.maxDelay; ++i) delay *= 2;
    return std::min(delay, policy.maxDelay);
}

bool RestartSchedule::Admit(TimePoint now, const RestartPolicy& policy) {
    while (!recent_.empty() && recent_.front() <= now - policy.interval) recent_.pop_front();
    if (recent_.size() >= policy.burst) return false;
    recent_.push_back(now);
    ++consecutive_;
    return true;
}

void RestartSchedule::Forget() {
    consecutive_ = 0;
    recent_.clear();
}

}  // namespace orvel::suiteserver

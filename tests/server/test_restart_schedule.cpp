// The delays and burst limit of restart on failure, without processes.

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "suiteserver/RestartSchedule.h"

namespace orvel::suiteserver {
namespace {

using std::chrono::milliseconds;
using TimePoint = RestartSchedule::TimePoint;

RestartPolicy Policy() {
    RestartPolicy policy;
    policy.firstDelay = milliseconds(100);
    policy.maxDelay = milliseconds(1000);
    policy.burst = 3;
    policy.interval = milliseconds(10000);
    return policy;
}

TimePoint At(int ms) {
    return TimePoint(milliseconds(ms));
}

TEST(RestartScheduleTest, DelayDoublesPerRestartInARowUpToMaxAndResetsAfterALongRun) {
    RestartPolicy policy = Policy();
    policy.burst = 1000;
    RestartSchedule schedule;
    const milliseconds shortRun(50);
    std::vector<milliseconds> delays;
    for (int i = 0; i < 6; ++i) {
        delays.push_back(schedule.DelayAfter(shortRun, policy));
        ASSERT_TRUE(schedule.Admit(At(i * 10), policy));
    }
    EXPECT_EQ(delays, (std::vector<milliseconds>{milliseconds(100), milliseconds(200),
                                                 milliseconds(400), milliseconds(800),
                                                 milliseconds(1000), milliseconds(1000)}));
    // Many restarts in a row never grow the delay past the cap (nor overflow it).
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(schedule.Admit(At(100 + i), policy));
    EXPECT_EQ(schedule.DelayAfter(shortRun, policy), milliseconds(1000));

    // A run of a whole interval starts the delays afresh; a shorter one does not.
    EXPECT_EQ(schedule.DelayAfter(policy.interval - milliseconds(1), policy), milliseconds(1000));
    EXPECT_EQ(schedule.DelayAfter(policy.interval, policy), milliseconds(100));

    ASSERT_TRUE(schedule.Admit(At(5000), policy));
    schedule.Forget();
    EXPECT_EQ(schedule.DelayAfter(shortRun, policy), milliseconds(100));
    EXPECT_EQ(schedule.Recent(), 0U);
}

TEST(RestartScheduleTest, BurstLimitCountsOnlyRestartsWithinTheInterval) {
    const RestartPolicy policy = Policy();
    RestartSchedule schedule;
    EXPECT_TRUE(schedule.Admit(At(1000), policy));
    EXPECT_TRUE(schedule.Admit(At(2000), policy));
    EXPECT_TRUE(schedule.Admit(At(3000), policy));
    EXPECT_EQ(schedule.Recent(), 3U);

    // The burst+1st within the interval is refused and not counted.
    EXPECT_FALSE(schedule.Admit(At(10999), policy));
    EXPECT_FALSE(schedule.Admit(At(10999), policy));
    EXPECT_EQ(schedule.Recent(), 3U);

    // A restart exactly one interval old no longer counts.
    EXPECT_TRUE(schedule.Admit(At(11000), policy));
    EXPECT_EQ(schedule.Recent(), 3U);
    EXPECT_FALSE(schedule.Admit(At(11500), policy));

    // Later, only what lies within the interval counts.
    EXPECT_TRUE(schedule.Admit(At(40000), policy));
    EXPECT_EQ(schedule.Recent(), 1U);

    schedule.Forget();
    EXPECT_TRUE(schedule.Admit(At(40001), policy));
    EXPECT_TRUE(schedule.Admit(At(40002), policy));
    EXPECT_TRUE(schedule.Admit(At(40003), policy));
    EXPECT_FALSE(schedule.Admit(At(40004), policy));
}

}  // namespace
}  // namespace orvel::suiteserver

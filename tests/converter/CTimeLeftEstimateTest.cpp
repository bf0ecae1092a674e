#include "CTimeLeftEstimate.h"

#include <gtest/gtest.h>

TEST(CTimeLeftEstimate, FollowsTheRecentPaceAndStaysUnknownAtFirst) {
    CTimeLeftEstimate estimate;
    estimate.Reset(0.0, 0.0);
    estimate.Update(1.0, 100.0);
    EXPECT_LT(estimate.SecondsLeft(1000.0), 0.0) << "one second says too little";
    for (int t = 2; t <= 40; ++t)
        estimate.Update(t, 100.0 * t);
    EXPECT_DOUBLE_EQ(estimate.Rate(), 100.0);
    EXPECT_DOUBLE_EQ(estimate.SecondsLeft(5000.0), 10.0);
    // Half the pace from here on: after a window's length the estimate has followed it.
    for (int t = 41; t <= 80; ++t)
        estimate.Update(t, 4000.0 + 50.0 * (t - 40));
    EXPECT_DOUBLE_EQ(estimate.Rate(), 50.0);
    EXPECT_DOUBLE_EQ(estimate.SecondsLeft(7000.0), 20.0);
    EXPECT_EQ(estimate.SecondsLeft(1000.0), 0.0);
    // No progress at all: unknown, never a division by zero.
    estimate.Reset(100.0, 10.0);
    estimate.Update(110.0, 10.0);
    EXPECT_LT(estimate.SecondsLeft(20.0), 0.0);
}

#include "CAudioClock.h"

#include <gtest/gtest.h>

TEST(CAudioClock, IgnoresJitterFillsGapsTrimsOverlapsAndSurvivesClockJumps) {
    // Records of 4410 samples (100 ms) whose clock starts 1 s after the file's zero.
    const int64_t base = 1000000000;
    CAudioClock clock(44100, base, 1024, 3600LL * 44100, 10 * 44100);
    auto place = [&](int64_t us) { return clock.Place(static_cast<uint64_t>(base + us), 4410); };

    EXPECT_EQ(place(1000000).silence, 0);
    EXPECT_EQ(clock.FirstPosition(), 44100);
    // 20 ms late and 15 ms early: jitter, back to back.
    for (int64_t us : {1120000, 1185000}) {
        const auto p = place(us);
        EXPECT_EQ(p.silence + p.skip, 0) << us;
    }
    EXPECT_EQ(clock.NextPosition(), 44100 + 3 * 4410);
    // Half a second of records missing: filled, and the record lands on its own time.
    EXPECT_EQ(place(1800000).silence, 44100 / 2);
    EXPECT_EQ(clock.NextPosition(), 79380 + 4410);
    // A record repeated 50 ms into the last one: its overlap is left out.
    EXPECT_EQ(place(1850000).skip, 2205);
    EXPECT_EQ(clock.NextPosition(), 85995); // 1.95 s
    // A record wholly inside what is already placed adds nothing.
    const int64_t before = clock.NextPosition();
    EXPECT_EQ(place(1840000).skip, 4410);
    EXPECT_EQ(clock.NextPosition(), before);
    // A clock that jumps by days neither fills nor trims: the audio goes on.
    const auto jump = place(int64_t(86400) * 1000000 * 3);
    EXPECT_TRUE(jump.clockJumped);
    EXPECT_EQ(jump.silence + jump.skip, 0);
    EXPECT_EQ(clock.NextPosition(), before + 4410);
    // ... counting on from the new clock: the next record is neither a jump nor a gap.
    const auto after = place(int64_t(86400) * 1000000 * 3 + 100000);
    EXPECT_FALSE(after.clockJumped);
    EXPECT_EQ(after.silence + after.skip, 0);
}

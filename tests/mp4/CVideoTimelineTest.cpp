#include "CVideoTimeline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A GOP of 8 with a B-pyramid, in decode order: picture order counts and capture times.
const std::vector<int64_t> kOrder = {0, 4, 2, 1, 3, 8, 6, 5, 7};

std::vector<CVideoTimeline::STimes> Drive(CVideoTimeline& timeline,
                                          const std::vector<int64_t>& stamps,
                                          const std::vector<int64_t>& orders) {
    std::vector<CVideoTimeline::STimes> out;
    CVideoTimeline::STimes t;
    for (size_t i = 0; i < stamps.size(); ++i) {
        timeline.Add(stamps[i], orders[i], orders[i] == 0);
        while (timeline.Next(t))
            out.push_back(t);
    }
    timeline.Flush();
    while (timeline.Next(t))
        out.push_back(t);
    return out;
}

void ExpectPresentedAt(const std::vector<CVideoTimeline::STimes>& times,
                       const std::vector<int64_t>& orders, int64_t step) {
    ASSERT_EQ(times.size(), orders.size());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(times[i].pts, orders[i] * step) << "picture " << i;
        EXPECT_LE(times[i].dts, times[i].pts) << "picture " << i;
        if (i > 0) {
            EXPECT_GT(times[i].dts, times[i - 1].dts) << "picture " << i;
        }
        EXPECT_EQ(times[i].duration, step);
    }
}

} // namespace

TEST(CVideoTimeline, GivesPicturesTheirPresentationTimesWhicheverWayTheyWereStamped) {
    std::vector<int64_t> decodeStamps, captureStamps;
    for (size_t i = 0; i < kOrder.size(); ++i) {
        decodeStamps.push_back(static_cast<int64_t>(i) * 3000);
        captureStamps.push_back(kOrder[i] * 3000);
    }
    for (const auto* stamps : {&decodeStamps, &captureStamps}) {
        CVideoTimeline timeline(2, 3600);
        const auto times = Drive(timeline, *stamps, kOrder);
        ExpectPresentedAt(times, kOrder, 3000);
        EXPECT_EQ(times[0].dts, -2 * 3000) << "decode runs two pictures behind";
    }
}

TEST(CVideoTimeline, NewSequencesTooShallowDepthsAndDamagedCountsStillRise) {
    // Two GOPs whose order counts start again at the IDR, with a declared depth of 0 although
    // the stream reorders: every time still rises, no picture is lost.
    std::vector<int64_t> orders = kOrder;
    orders.insert(orders.end(), kOrder.begin(), kOrder.end());
    std::vector<int64_t> stamps;
    for (size_t i = 0; i < orders.size(); ++i)
        stamps.push_back(static_cast<int64_t>(i) * 1000);
    CVideoTimeline shallow(0, 1000);
    auto times = Drive(shallow, stamps, orders);
    ASSERT_EQ(times.size(), orders.size());
    EXPECT_GT(shallow.ReorderDepth(), 0);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GT(times[i].dts, times[i - 1].dts);
        EXPECT_LE(times[i].dts, times[i].pts);
    }
    // One picture whose count never becomes the smallest must not hold the rest back for ever.
    CVideoTimeline damaged(2, 1000);
    std::vector<CVideoTimeline::STimes> out;
    CVideoTimeline::STimes t;
    damaged.Add(0, 1000000, false);
    for (int i = 1; i < 1000; ++i) {
        damaged.Add(i * 1000, i, false);
        while (damaged.Next(t))
            out.push_back(t);
    }
    EXPECT_GT(out.size(), 900u);
}

TEST(CVideoTimeline, AGapOfHoursKeepsFrameDurationsAndShortCompositionOffsets) {
    // Two B-pyramid GOPs seven hours apart, 90 kHz ticks.
    std::vector<int64_t> orders = kOrder, stamps;
    orders.insert(orders.end(), kOrder.begin(), kOrder.end());
    const int64_t gap = int64_t(7) * 3600 * 90000;
    for (size_t i = 0; i < orders.size(); ++i)
        stamps.push_back(static_cast<int64_t>(i) * 3000 + (i >= kOrder.size() ? gap : 0));
    CVideoTimeline timeline(2, 3000);
    const auto times = Drive(timeline, stamps, orders);
    ASSERT_EQ(times.size(), orders.size());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(times[i].duration, 3000) << "picture " << i;
        EXPECT_LE(times[i].dts, times[i].pts) << "picture " << i;
        EXPECT_LE(times[i].pts - times[i].dts, 20 * 3000) << "picture " << i;
        if (i > 0) {
            EXPECT_GT(times[i].dts, times[i - 1].dts) << "picture " << i;
        }
    }
}

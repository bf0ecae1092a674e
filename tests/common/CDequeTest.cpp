#include "CDeque.h"
#include "CLockGuard.h"
#include "SFFData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

FramePtr Frame(uint64_t t, int32_t tag) {
    auto f = std::make_shared<SFFData>();
    f->bIsVideo = 1;
    f->nNalType = 0;
    f->extra = tag;
    f->nTimestamp = t;
    return f;
}

void Push(Types::CDeque<FramePtr>& q, FramePtr f) {
    Thread::Lock::CLockGuard guard(&q);
    InsertByTimestamp(q.m_items, std::move(f));
}

std::vector<std::pair<uint64_t, int32_t>> Drain(Types::CDeque<FramePtr>& q) {
    std::vector<std::pair<uint64_t, int32_t>> out;
    FramePtr f;
    while (q.PopFront(f))
        out.emplace_back(f->nTimestamp, f->extra);
    return out;
}

} // namespace

TEST(FrameQueue, KeepsTimeOrderAndArrivalOrderForEqualStamps) {
    Types::CDeque<FramePtr> q;
    Push(q, Frame(5, 1));
    Push(q, Frame(3, 2));
    Push(q, Frame(5, 3));
    Push(q, Frame(4, 4));
    const std::vector<std::pair<uint64_t, int32_t>> expected = {{3, 2}, {4, 4}, {5, 1}, {5, 3}};
    EXPECT_EQ(Drain(q), expected);
}

TEST(FrameQueue, LateFramesOvertakeAndEqualStampsGoBehind) {
    Types::CDeque<FramePtr> q;
    for (int i = 0; i < 100; ++i)
        Push(q, Frame(static_cast<uint64_t>(i * 10), i));
    Push(q, Frame(990, 100)); // equal to the last one: goes to the back
    Push(q, Frame(0, 101));   // equal to the first one: goes right after it
    Push(q, Frame(455, 102)); // late: between 450 and 460
    const auto out = Drain(q);
    ASSERT_EQ(out.size(), 103u);
    EXPECT_EQ(out[0], std::make_pair(uint64_t(0), 0));
    EXPECT_EQ(out[1], std::make_pair(uint64_t(0), 101));
    EXPECT_EQ(out[47], std::make_pair(uint64_t(455), 102));
    EXPECT_EQ(out[101], std::make_pair(uint64_t(990), 99));
    EXPECT_EQ(out[102], std::make_pair(uint64_t(990), 100));
    for (size_t i = 1; i < out.size(); ++i)
        EXPECT_LE(out[i - 1].first, out[i].first);
}

TEST(FrameQueue, HugeTimeStampsCompareUnsigned) {
    Types::CDeque<FramePtr> q;
    Push(q, Frame(0x8000000000000000ull, 1));
    Push(q, Frame(1, 2));
    const auto out = Drain(q);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].second, 2);
    EXPECT_EQ(out[1].second, 1);
}

TEST(FrameQueue, PopFrontOnEmptyLeavesOutputUntouched) {
    Types::CDeque<FramePtr> q;
    FramePtr keep = Frame(7, 7);
    FramePtr out = keep;
    EXPECT_FALSE(q.PopFront(out));
    EXPECT_EQ(out, keep);
}

TEST(FrameQueue, DestroyingReleasesFramesButSharedOnesLive) {
    FramePtr shared = Frame(1, 1);
    std::weak_ptr<SFFData> dropped;
    {
        Types::CDeque<FramePtr> q;
        FramePtr other = Frame(2, 2);
        dropped = other;
        Push(q, shared);
        Push(q, std::move(other));
        EXPECT_EQ(shared.use_count(), 2);
    }
    EXPECT_TRUE(dropped.expired());
    EXPECT_EQ(shared.use_count(), 1);
}

TEST(FrameQueue, ConcurrentInsertAndPopLoseNothing) {
    Types::CDeque<FramePtr> q;
    const int kFrames = 200000;
    std::atomic<bool> done(false);
    std::thread producer([&] {
        for (int i = 0; i < kFrames; ++i)
            Push(q, Frame(static_cast<uint64_t>(i / 3), i));
        done = true;
    });
    long long sum = 0;
    int popped = 0;
    int lastTag = -1;
    bool ordered = true;
    FramePtr f;
    while (!done || popped < kFrames) {
        if (q.PopFront(f)) {
            // Frames arrive in order, so they must leave in order.
            ordered = ordered && f->extra > lastTag;
            lastTag = f->extra;
            sum += f->extra;
            ++popped;
        }
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(popped, kFrames);
    EXPECT_EQ(sum, static_cast<long long>(kFrames) * (kFrames - 1) / 2);
}

#include "CDeque.h"
#include "CLockGuard.h"
#include "SFFData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

FramePtr Frame(uint64_t t, int32_t tag, bool video = true) {
    auto f = std::make_shared<SFFData>();
    f->bIsVideo = video ? 1 : 0;
    f->nNalType = 0;
    f->extra = tag;
    f->nTimestamp = t;
    return f;
}

FramePtr Audio(uint64_t t, int32_t tag) {
    return Frame(t, tag, false);
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

TEST(FrameQueue, VideoKeepsArrivalOrderAndAudioIsPlacedAmongItByTime) {
    Types::CDeque<FramePtr> q;
    // Video stamps that fall (capture times of B-pictures) never reorder the video.
    Push(q, Frame(5, 1));
    Push(q, Frame(3, 2));
    Push(q, Frame(5, 3));
    Push(q, Frame(4, 4));
    Push(q, Audio(4, 5)); // in front of the video stamped 5 at the back, not further
    Push(q, Audio(1, 6)); // never in front of earlier audio
    Push(q, Frame(0x8000000000000000ull, 7));
    Push(q, Audio(9, 8)); // stamps compare unsigned
    const std::vector<std::pair<uint64_t, int32_t>> expected = {
        {5, 1}, {3, 2}, {5, 3}, {4, 4}, {4, 5}, {1, 6}, {9, 8}, {0x8000000000000000ull, 7}};
    EXPECT_EQ(Drain(q), expected);
}

TEST(FrameQueue, AudioOvertakesABoundedNumberOfFrames) {
    Types::CDeque<FramePtr> q;
    for (int i = 0; i < 1000; ++i)
        Push(q, Frame(static_cast<uint64_t>(1000 + i), i));
    Push(q, Audio(0, -1));
    const auto out = Drain(q);
    ASSERT_EQ(out.size(), 1001u);
    EXPECT_EQ(out[1000 - kMaxAudioOvertake], std::make_pair(uint64_t(0), -1));
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

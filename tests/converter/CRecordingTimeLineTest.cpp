#include "CRecordingTimeLine.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

namespace {

// Two streams of a channel, video every 40 ms and audio every 20 ms, stamped by a clock that the
// caller may set; what the time line hands on is kept per stream.
struct SRig {
    std::vector<std::pair<int, uint64_t>> out; // stream, time
    uint64_t zero = 0;
    int zeros = 0;
    CRecordingTimeLine line{[this](const CRecordingTimeLine::SRecord& r, uint64_t t) {
                                out.push_back({r.stream, t});
                            },
                            [this](uint64_t z) {
                                zero = z;
                                ++zeros;
                            }};
    uint8_t byte = 0;

    void Add(int stream, uint64_t stampUs) {
        line.Add({stream, stampUs, stream % 2 == 0 ? 40000 : 20000, &byte, 1, 0});
    }
    // Records from..to µs of the rig's own time, stamped with `offset` added; channel 1's
    // stamps get offset1 instead.
    void Run(int64_t fromUs, int64_t toUs, int64_t offset, uint64_t base, bool audio = true,
             int channels = 1, int64_t offset1 = 0) {
        for (int64_t t = fromUs; t < toUs; t += 20000)
            for (int ch = 0; ch < channels; ++ch) {
                const uint64_t stamp = base + static_cast<uint64_t>(t + (ch ? offset1 : offset));
                if (t % 40000 == 0)
                    Add(2 * ch, stamp);
                if (audio)
                    Add(2 * ch + 1, stamp);
            }
    }
    std::vector<uint64_t> TimesOf(int stream) const {
        std::vector<uint64_t> times;
        for (const auto& o : out)
            if (o.first == stream)
                times.push_back(o.second - zero);
        return times;
    }
};

// Every time follows the one before by the stream's step.
void ExpectEvenlySpaced(const std::vector<uint64_t>& times, uint64_t step, size_t count) {
    ASSERT_EQ(times.size(), count);
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(times[i], times[0] + i * step) << i;
}

const uint64_t kBase = 5000000000;

} // namespace

TEST(CRecordingTimeLine, ZeroFromTheAgreeingStartsAndStraysPlacedInLine) {
    SRig rig;
    rig.Add(1, kBase - 100000);                        // audio starts first
    rig.Add(0, kBase + 20ULL * 365 * 86400 * 1000000); // a first picture stamped years off
    rig.Run(40000, 3000000, 0, kBase);
    rig.Add(0, 7); // a stray in the middle of the recording
    rig.Run(3000000, 4000000, 0, kBase);
    rig.line.Finish();
    EXPECT_EQ(rig.zeros, 1);
    EXPECT_EQ(rig.zero, kBase - 100000);
    const std::vector<uint64_t> video = rig.TimesOf(0);
    ASSERT_EQ(video.size(), 101u);
    EXPECT_EQ(video[0], 100000u) << "the stray start sits before the next picture";
    EXPECT_EQ(video[75], 100000u + 75 * 40000) << "the stray goes where its stream was heading";
    EXPECT_EQ(rig.line.ClockSteps(), 0);
}

TEST(CRecordingTimeLine, AStepOfEveryStreamIsTakenOutAndAStreamOffAloneIsMovedBack) {
    for (int64_t step : {-300000000LL, 3600000000LL}) {
        SRig rig;
        rig.Run(0, 2000000, 0, kBase);
        rig.Run(2000000, 4000000, step, kBase);        // the clock was set
        rig.Run(4000000, 5000000, step, kBase, false); // audio lost for a second
        rig.Run(5000000, 6000000, step, kBase);
        rig.line.Finish();
        EXPECT_EQ(rig.line.ClockSteps(), 1);
        ExpectEvenlySpaced(rig.TimesOf(0), 40000, 150);
        const std::vector<uint64_t> audio = rig.TimesOf(1);
        ASSERT_EQ(audio.size(), 250u);
        EXPECT_EQ(audio[199], 3980000u);
        EXPECT_EQ(audio[200], 5000000u) << "lost audio leaves its gap";
    }
    SRig rig;
    rig.Run(0, 2000000, 0, kBase);
    for (int64_t t = 2000000; t < 4000000; t += 20000) {
        if (t % 40000 == 0)
            rig.Add(0, kBase + static_cast<uint64_t>(t));
        rig.Add(1, kBase + static_cast<uint64_t>(t) + 50000000); // this stream's clock alone
    }
    rig.line.Finish();
    EXPECT_EQ(rig.line.ClockSteps(), 0);
    ExpectEvenlySpaced(rig.TimesOf(0), 40000, 100);
    ExpectEvenlySpaced(rig.TimesOf(1), 20000, 200);
}

TEST(CRecordingTimeLine, OneCameraOffAloneIsNoClockStepAndGarbageEndsInLine) {
    SRig rig;
    rig.Run(0, 2000000, 0, kBase, true, 2, 0);
    rig.Run(2000000, 4000000, 0, kBase, true, 2, 50000000); // camera 1's clock alone
    rig.line.Finish();
    EXPECT_EQ(rig.line.ClockSteps(), 0);
    ExpectEvenlySpaced(rig.TimesOf(2), 40000, 100);
    ExpectEvenlySpaced(rig.TimesOf(3), 20000, 200);

    // Stamps that never agree with anything: every record still comes out, once.
    SRig garbage;
    uint64_t noise = 88172645463325252ULL;
    for (int i = 0; i < 20000; ++i) {
        noise ^= noise << 13;
        noise ^= noise >> 7;
        noise ^= noise << 17;
        garbage.Add(0, noise);
    }
    garbage.line.Finish();
    EXPECT_EQ(garbage.out.size(), 20000u);
}

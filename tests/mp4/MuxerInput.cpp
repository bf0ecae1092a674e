#include "MuxerInput.h"

#include "CVideoEncoder.h"
#include "Mp4Reader.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace MuxerInput {

using Bytes = std::vector<uint8_t>;
using Units = std::vector<Bytes>;

RecordingHeader Header(int width, int height, int fps) {
    RecordingHeader h;
    h.SetV80Defaults();
    h.SetFieldAt(RecordingHeader::kVideoWidthOffset, width);
    h.SetFieldAt(RecordingHeader::kVideoHeightOffset, height);
    h.SetFieldAt(RecordingHeader::kFrameRateNumOffset, fps);
    return h;
}

Units Encode(int pictures, int gop) {
    CVideoEncoder::Settings settings;
    settings.width = 160;
    settings.height = 96;
    settings.keyInterval = gop;
    CVideoEncoder encoder(settings, 1);
    Units units;
    std::string error;
    EXPECT_TRUE(encoder.Open(error) && encoder.Encode(pictures, units, error)) << error;
    return units;
}

Bytes Pcm(int samples, int64_t first) {
    Bytes out(static_cast<size_t>(samples) * 2);
    for (int i = 0; i < samples; ++i) {
        const auto v = static_cast<int16_t>(6000 * std::sin((first + i) * 2 * M_PI * 440 / 44100));
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    return out;
}

namespace {

struct Event {
    uint64_t timeUs;
    bool video;
    size_t index;
};

} // namespace

long long Feed(CMP4& muxer, const Units& units, const std::vector<uint64_t>& timesMs, int samples,
               uint64_t fromMs) {
    std::vector<Event> events;
    for (size_t i = 0; i < units.size(); ++i)
        events.push_back({timesMs[i] * 1000, true, i});
    const uint64_t endUs = (timesMs.back() + 40) * 1000;
    for (size_t b = 0; samples > 0 && b * samples * 1000000ull / 44100 < endUs; ++b)
        events.push_back({b * samples * 1000000ull / 44100, false, b});
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.timeUs < b.timeUs; });
    long long after = 0;
    for (const Event& e : events) {
        if (e.video) {
            const Bytes& au = units[e.index];
            muxer.InputVideo(au.data(), static_cast<int32_t>(au.size()), 0, e.timeUs);
        } else {
            const Bytes pcm = Pcm(samples, static_cast<int64_t>(e.index) * samples);
            muxer.InputAudio(pcm.data(), static_cast<int32_t>(pcm.size()), 0, e.timeUs);
            if (e.timeUs / 1000 >= fromMs)
                after += samples;
        }
    }
    return after;
}

std::vector<uint64_t> EvenTimes(size_t n, uint64_t stepMs) {
    std::vector<uint64_t> t;
    for (size_t i = 0; i < n; ++i)
        t.push_back(i * stepMs);
    return t;
}

Units AllNalUnits(const Units& accessUnits) {
    Units all;
    for (const Bytes& au : accessUnits)
        for (Bytes& u : AnnexBNalUnits(au))
            all.push_back(std::move(u));
    return all;
}

int HevcType(const Bytes& unit) {
    return (unit[0] >> 1) & 0x3F;
}

bool IsRandomAccess(const Bytes& accessUnit) {
    for (const Bytes& u : AnnexBNalUnits(accessUnit))
        if (HevcType(u) <= 31)
            return HevcType(u) >= 16 && HevcType(u) <= 23;
    return false;
}

bool WaitIdle(const CMP4& muxer) {
    return WaitFor([&] { return muxer.GetPendingSize() == 0; });
}

} // namespace MuxerInput

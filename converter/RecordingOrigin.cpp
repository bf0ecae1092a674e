#include "RecordingOrigin.h"

extern "C" {
#include <libavutil/timecode.h>
}

#include <cstdio>
#include <ctime>

namespace {

const uint64_t kWallFromUs = 946684800ULL * 1000000;   // 2000-01-01
const uint64_t kWallUntilUs = 4102444800ULL * 1000000; // 2100-01-01

bool DropsFrames(AVRational rate) {
    return (rate.num == 30000 || rate.num == 60000) && rate.den == 1001;
}

// Frames since local midnight at the given rate, as a timecode counts them.
int64_t FramesOfDay(uint64_t wallUs, AVRational rate) {
    const time_t seconds = static_cast<time_t>(wallUs / 1000000);
    struct tm local;
    if (!localtime_r(&seconds, &local))
        return 0;
    const int64_t secondOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int64_t us = static_cast<int64_t>(wallUs % 1000000);
    if (DropsFrames(rate)) // labels that keep up with the clock: count the real frames
        return (secondOfDay * 1000000 + us) * rate.num / (rate.den * 1000000LL);
    const int64_t perSecond = (rate.num + rate.den / 2) / rate.den;
    return secondOfDay * perSecond + us * perSecond / 1000000;
}

} // namespace

bool IsWallClock(uint64_t recordUs) {
    return recordUs >= kWallFromUs && recordUs < kWallUntilUs;
}

std::string IsoUtc(uint64_t wallUs) {
    const time_t seconds = static_cast<time_t>(wallUs / 1000000);
    struct tm utc;
    if (!gmtime_r(&seconds, &utc))
        return std::string();
    char text[96];
    snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900,
             utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
             static_cast<int>(wallUs % 1000000));
    return text;
}

SRecordingOrigin MakeRecordingOrigin(uint64_t zeroUs, int frameRateNum, int frameRateDen) {
    SRecordingOrigin origin;
    AVRational rate{frameRateNum, frameRateDen};
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) < 1 || av_q2d(rate) > 1000)
        rate = AVRational{30, 1};
    const bool wall = IsWallClock(zeroUs);
    if (wall)
        origin.creationTime = IsoUtc(zeroUs);
    const int flags =
        AV_TIMECODE_FLAG_24HOURSMAX | (DropsFrames(rate) ? AV_TIMECODE_FLAG_DROPFRAME : 0);
    AVTimecode tc;
    if (av_timecode_init(&tc, rate, flags, 0, nullptr) < 0)
        return origin;
    char text[AV_TIMECODE_STR_SIZE];
    const int64_t frame = wall ? FramesOfDay(zeroUs, rate) : 0;
    origin.timecode = av_timecode_make_string(&tc, text, static_cast<int>(frame));
    return origin;
}

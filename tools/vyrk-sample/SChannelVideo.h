#pragma once

#include "CAccessUnitCutter.h"
#include "SSampleOptions.h"

#include <cstdint>
#include <vector>

// One channel's video: per access unit in decode order the payloads of its records (two when the
// parameter sets go into a record of their own), the picture index of every access unit (empty
// when unknown), and where in decode order its first access unit lies, in pictures from the
// recording's start (later than 0 for a channel that starts late).
struct SChannelVideo {
    std::vector<Units> records;
    std::vector<int64_t> pictures;
    int64_t firstPosition = 0;

    // Encodes the channel's pictures, or reads its --hevc file, and cuts the access units into
    // records. False, with the reason on stderr, when that fails.
    bool Load(const SSampleOptions& options, int channel);
};

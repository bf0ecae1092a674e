#pragma once

#include "CAccessUnitCutter.h"
#include "SSampleOptions.h"

#include <cstdint>
#include <vector>

// One channel's video: per access unit in decode order the payloads of its records (two when the
// parameter sets go into a record of their own), and the picture index of every access unit
// (empty when unknown).
struct SChannelVideo {
    std::vector<Units> records;
    std::vector<int64_t> pictures;

    // Encodes the channel's pictures, or reads its --hevc file, and cuts the access units into
    // records. False, with the reason on stderr, when that fails.
    bool Load(const SSampleOptions& options, int channel);
};

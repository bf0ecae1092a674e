#pragma once

#include "CAccessUnitCutter.h"
#include "SSampleOptions.h"

#include <cstdint>
#include <string>
#include <vector>

// One channel's video: per access unit in decode order the payloads of its records (two when the
// parameter sets go into a record of their own), the picture index of every access unit (empty
// when unknown), and where in decode order its first access unit lies, in pictures from the
// recording's start (later than 0 for a channel that starts late or is cut).
struct SChannelVideo {
    // Uncuttable: the stream has no place to cut where --cut-before-irap asks for.
    enum class Result { Loaded, Failed, Uncuttable };

    std::vector<Units> records;
    std::vector<int64_t> pictures;
    int64_t firstPosition = 0;

    // Encodes the channel's pictures, or reads its --hevc file, cuts it where --cut-before-irap
    // asks and cuts the access units into records. Anything but Loaded comes with the reason on
    // stderr.
    Result Load(const SSampleOptions& options, int channel);

private:
    bool CutBeforeIrap(int count, Units& units, std::string& error);
};

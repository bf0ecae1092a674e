#pragma once

#include "CVideoEncoder.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// What the command line asked for, with the flash times already resolved to pictures and
// audio samples.
struct SSampleOptions {
    std::string output;
    std::string magic = "v81";
    int channels = 7;
    int headerChannels = -1; // -1: same as channels
    CVideoEncoder::Settings video;
    double seconds = 2.0;
    int uniquePictures = 0; // 0: encode every picture; otherwise encode this many and repeat
    int audioSamples = 1024;
    bool audio = true;
    std::map<int, std::string> hevcInputs;
    bool otherTypes = false;
    bool subType1 = false;
    bool foreignChannels = false;
    bool emptyPayloads = false;
    long truncateBytes = 0;
    bool dumpStreams = false;
    bool quiet = false;
    bool captureStamps = false; // stamp video with each picture's own time, not in decode order
    bool paramsRecord = false;
    bool mixedStartCodes = false;
    std::vector<double> flashSeconds;
    int64_t audioOffsetUs = 0;
    std::vector<std::pair<int64_t, int64_t>> audioGapsUs; // [from, to)
    int64_t audioJitterUs = 0;
    uint64_t clockBaseUs = 0;
    // --clock-step: from when on (us from the first picture) stamps read how much later (us).
    std::vector<std::pair<int64_t, int64_t>> clockStepsUs;
    bool listRecords = false;
    std::vector<int64_t> burstFirstSamples; // audio sample index of each flash's burst
    // --channel-start: per channel the seconds its first picture is captured at, the same
    // resolved to that picture's index, and when stated the seconds its sound starts at.
    std::map<int, double> videoStartSeconds;
    std::map<int, int64_t> startPictures;
    std::map<int, double> audioStartSeconds;
    // --cut-before-irap: per channel how many access units to keep in front of its second
    // random-access picture.
    std::map<int, int> cutsBeforeIrap;

    int64_t TotalPictures() const;
    // The index of the channel's first picture: 0 unless --channel-start moves it.
    int64_t FirstPicture(int channel) const;
    // The channelCount the header states.
    int HeaderChannels() const { return headerChannels >= 0 ? headerChannels : channels; }
};

// Parses and checks argv. False on a usage error; a missing value ends the program with status 2
// after saying which option lacks it, and a flash, channel start, cut or audio start that cannot
// be honoured is explained on stderr.
bool ParseSampleOptions(int argc, char** argv, SSampleOptions& options);

extern const char* const kSampleUsage;

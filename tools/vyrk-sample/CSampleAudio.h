#pragma once

#include "SSampleOptions.h"

#include <cstdint>
#include <vector>

// A channel's sound in blocks of --audio-samples 16-bit samples at 44.1 kHz: a tone of its own
// per channel, or silence with a burst at each flash; and where each block lies in time, which
// blocks a gap leaves out and how far jitter moves a block's stamp.
class CSampleAudio {
public:
    explicit CSampleAudio(const SSampleOptions& options);

    // The block's samples, little-endian.
    void Block(int channel, int64_t block, std::vector<uint8_t>& out) const;
    // How many blocks it takes from the audio start to cover up to the given end.
    int64_t BlocksUntil(double endSeconds) const;
    // The time of the block's first sample, relative to the first picture.
    int64_t TimeUs(int64_t block) const;
    bool InGap(int64_t us) const;
    // A repeatable offset in [-jitter, +jitter] for one block's stamp.
    int64_t JitterUs(int channel, int64_t block) const;

private:
    int16_t FlashSample(int64_t n) const;

    const SSampleOptions& m_options;
};

#pragma once

#include "SSampleOptions.h"

#include <cstdint>
#include <vector>

// A channel's sound in blocks of --audio-samples 16-bit samples at 44.1 kHz: a tone of its own
// per channel, or silence with a burst at each flash; and where each block lies in time, which
// blocks a gap leaves out and how far jitter moves a block's stamp. Samples are counted from the
// audio start (--audio-offset) on, alike for all channels: sample n lies at the same time in
// every channel, and with flashes has the same value in each; a channel that starts late starts
// at a later sample.
class CSampleAudio {
public:
    explicit CSampleAudio(const SSampleOptions& options);

    // The samples of the block that starts at the given sample, little-endian.
    void Block(int channel, int64_t firstSample, std::vector<uint8_t>& out) const;
    // How many blocks it takes from the given first sample to cover up to the given end.
    int64_t BlocksUntil(int64_t firstSample, double endSeconds) const;
    // The sample at the given time (seconds from the first picture), rounded to the nearest.
    int64_t SampleAt(double seconds) const;
    // The time of the sample, relative to the first picture.
    int64_t TimeUs(int64_t sample) const;
    bool InGap(int64_t us) const;
    // A repeatable offset in [-jitter, +jitter] for one block's stamp.
    int64_t JitterUs(int channel, int64_t block) const;

private:
    int16_t FlashSample(int64_t n) const;

    const SSampleOptions& m_options;
};

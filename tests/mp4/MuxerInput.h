#pragma once

#include "CMP4.h"
#include "RecordingHeader.h"

#include <cstdint>
#include <vector>

// What the muxer tests hand a CMP4: encoded pictures, PCM, and the reader's way of feeding them.
namespace MuxerInput {

using Bytes = std::vector<uint8_t>;
using Units = std::vector<Bytes>;

RecordingHeader Header(int width = 320, int height = 240, int fps = 25);
// Access units of a 160x96 H.265 stream from libx265, parameter sets before every key picture.
Units Encode(int pictures, int gop);
// A 440 Hz tone, 16-bit little-endian, from sample `first` on.
Bytes Pcm(int samples, int64_t first);
// Hands access units (at the given times, in ms) and audio records of `samples` samples to a
// muxer in time order, as the reader would. Returns the number of audio samples handed in at or
// after `fromMs`.
long long Feed(CMP4& muxer, const Units& units, const std::vector<uint64_t>& timesMs, int samples,
               uint64_t fromMs);
std::vector<uint64_t> EvenTimes(size_t n, uint64_t stepMs = 40);
Units AllNalUnits(const Units& accessUnits);
int HevcType(const Bytes& unit);
bool IsRandomAccess(const Bytes& accessUnit);
bool WaitIdle(const CMP4& muxer);

} // namespace MuxerInput

#pragma once

#include "SRecordingOrigin.h"

#include <cstdint>
#include <string>

// Record clocks that count microseconds since 1970 within this range are wall time.
bool IsWallClock(uint64_t recordUs);
// The moment in UTC, ISO 8601 with microseconds ("2024-05-01T08:30:00.000000Z").
std::string IsoUtc(uint64_t wallUs);
// What the files of a recording whose zero is zeroUs say about it: with a wall clock, its time of
// day on this machine's local clock as the timecode and its UTC time as the recording time;
// otherwise a timecode counting from 00:00:00:00 and no recording time. Frame rate from the
// recording's header; 29.97 and 59.94 drop frames.
SRecordingOrigin MakeRecordingOrigin(uint64_t zeroUs, int frameRateNum, int frameRateDen);

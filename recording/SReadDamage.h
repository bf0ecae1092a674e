#pragma once

#include <cstdint>

// What a reader skipped as damage: the bytes, the places (runs of adjacent damaged bytes), where
// the first place begins in the file (-1 when there is none), and the recording time lost: over
// the places, the time from the last record read before each to the first record after it.
struct SReadDamage {
    int64_t bytes = 0;
    int places = 0;
    int64_t firstOffset = -1;
    int64_t spanUs = 0;
};

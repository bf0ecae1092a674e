#pragma once

#include <algorithm>
#include <cstdint>

// Record clocks hold arbitrary 64-bit numbers: differences are read as signed, distances and sums
// are taken without overflow.
inline int64_t ClockDiff(uint64_t a, uint64_t b) {
    return static_cast<int64_t>(a - b);
}

inline bool ClockNear(uint64_t a, uint64_t b, int64_t within) {
    return std::min(a - b, b - a) <= static_cast<uint64_t>(within);
}

inline int64_t ClockPlus(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

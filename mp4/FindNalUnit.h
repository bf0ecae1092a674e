#pragma once

#include <cstdint>

// Finds the first NAL unit in an Annex B buffer. start receives the offset of the unit's first
// byte (after its start code), end the offset just past it. Returns end - start when the unit is
// followed by 00 00 00 or 00 00 01, -1 when it runs to the end of the buffer (end = len), and 0
// when there is no unit (no start code, or one followed at once by a start code or 00 00 00).
// A pattern that would reach past len never matches.
int32_t FindNalUnit(const uint8_t* buf, int32_t len, int32_t* start, int32_t* end);

// Calls unit(pointer, length) for each NAL unit of an Annex B buffer, in order. Bytes before
// the first start code and zero bytes after the last unit are dropped; the walk stops at the
// first place where FindNalUnit finds no unit.
template <typename F> void ForEachNalUnit(const uint8_t* data, int32_t size, F&& unit) {
    const uint8_t* p = data;
    int32_t remaining = size;
    while (remaining > 0) {
        int32_t start = 0, end = 0;
        const int32_t found = FindNalUnit(p, remaining, &start, &end);
        if (found == 0)
            return;
        p += start;
        remaining -= start;
        const int32_t length = found < 0 ? remaining : found;
        if (length <= 0)
            return; // a start code at the very end carries no unit
        unit(p, length);
        p += length;
        remaining -= length;
    }
}

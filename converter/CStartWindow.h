#pragma once

#include <cstdint>
#include <vector>

// The first records of a recording, held until they tell where it starts. Records that agree with
// each other lie within a few seconds of the middle of all of them; the recording's start is
// settled once those span more than a second. A record far from that middle is a stray: one
// stamp years off must not move the start of every file.
class CStartWindow {
public:
    struct SStamp {
        int stream;
        uint64_t stampUs;
        int64_t durationUs;
        bool timed; // it has contents; empty records are not looked at
    };

    static bool IsSettled(const std::vector<SStamp>& stamps);
    // Places every stray beside the nearest agreeing record of its stream (never before the
    // earliest agreeing one); the number placed.
    static int PlaceStrays(std::vector<SStamp>& stamps);
};

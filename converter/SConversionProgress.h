#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// How far one conversion has come: a snapshot taken without any lock the reader or the writers
// wait on.
struct SConversionProgress {
    struct SChannel {
        int64_t mediaUs = 0; // file time written
        int64_t packets = 0;
        int64_t bytes = 0; // media bytes written
    };

    int64_t bytesTotal = 0;    // size of the recording
    int64_t bytesConsumed = 0; // read from it and handed to the channels
    int64_t bytesPending = 0;  // handed to the channels and not yet written
    int64_t mediaUs = 0;       // file time every channel with output has reached
    bool finished = false;
    int channels = 0;
    std::array<SChannel, 8> channel{};

    // Share of the recording that is done, 0 to 1: what was read, less what still waits.
    double Fraction() const {
        if (finished)
            return 1.0;
        if (bytesTotal <= 0)
            return 0.0;
        const double done = static_cast<double>(std::max<int64_t>(0, bytesConsumed - bytesPending));
        return std::min(1.0, done / static_cast<double>(bytesTotal));
    }
};

#pragma once

#include <string>

// What every file of a recording says about the moment that is its zero.
struct SRecordingOrigin {
    // The zero's timecode, "HH:MM:SS:FF" (";FF" when it drops frames); empty for none.
    std::string timecode;
    // The zero in UTC, ISO 8601; empty unless the record clock is wall time.
    std::string creationTime;
};

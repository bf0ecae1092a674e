#pragma once

#include <algorithm>
#include <cstdint>

// Where the record clock (microseconds) meets the file's time line: the record time that is the
// file's zero. It is set once, before the first packet is timed, and both tracks of a file take
// their times from it. Today each muxer has its own, set from its first picture or the audio
// held before it; one shared by all channels of a recording belongs here.
class CRecordingClock {
public:
    bool HasZero() const { return m_bHasZero; }
    uint64_t ZeroUs() const { return m_nZeroUs; }
    void SetZero(uint64_t zeroUs) {
        m_nZeroUs = zeroUs;
        m_bHasZero = true;
    }
    // Microseconds from the zero to the given record time. Far outside any real recording's span
    // a clock holds garbage; such times are kept in a range where arithmetic on them stays exact.
    int64_t SinceZeroUs(uint64_t timestampUs) const {
        const int64_t kLimit = int64_t(1) << 52;
        return std::clamp(static_cast<int64_t>(timestampUs - m_nZeroUs), -kLimit, kLimit);
    }

private:
    uint64_t m_nZeroUs = 0;
    bool m_bHasZero = false;
};

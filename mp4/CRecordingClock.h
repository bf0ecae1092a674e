#pragma once

#include "SRecordingOrigin.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

// Where the record clock (microseconds) meets the file's time line: the record time that is the
// file's zero, and what the recording says about that moment. A muxer on its own sets its zero
// from its first picture (or the audio held before it). The muxers of one recording share one
// clock instead, set once by whoever reads the recording before any frame reaches them, so a
// moment all cameras saw sits at the same time in every file; their writer threads only read it.
class CRecordingClock {
public:
    bool HasZero() const { return m_bHasZero.load(std::memory_order_acquire); }
    uint64_t ZeroUs() const { return m_nZeroUs; }
    // The origin first, then the zero: whoever sees the zero also sees the origin.
    void SetZero(uint64_t zeroUs, const SRecordingOrigin& origin = SRecordingOrigin()) {
        m_origin = origin;
        m_nZeroUs = zeroUs;
        m_bHasZero.store(true, std::memory_order_release);
    }
    // Valid once HasZero is true.
    const SRecordingOrigin& Origin() const { return m_origin; }
    // Microseconds from the zero to the given record time. Far outside any real recording's span
    // a clock holds garbage; such times are kept in a range where arithmetic on them stays exact.
    int64_t SinceZeroUs(uint64_t timestampUs) const {
        const int64_t kLimit = int64_t(1) << 52;
        return std::clamp(static_cast<int64_t>(timestampUs - m_nZeroUs), -kLimit, kLimit);
    }

private:
    uint64_t m_nZeroUs = 0;
    SRecordingOrigin m_origin;
    std::atomic<bool> m_bHasZero{false};
};

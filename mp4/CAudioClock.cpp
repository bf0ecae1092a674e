#include "CAudioClock.h"

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

CAudioClock::CAudioClock(int sampleRate, int64_t baseUs, int64_t toleranceSamples,
                         int64_t maxGapSamples, int64_t maxOverlapSamples)
    : m_nSampleRate(sampleRate), m_nBaseUs(baseUs), m_nTolerance(toleranceSamples),
      m_nMaxGap(maxGapSamples), m_nMaxOverlap(maxOverlapSamples) {}

int64_t CAudioClock::PositionOf(uint64_t timestampUs) const {
    // Unsigned difference, read as signed; far outside any recording's span a clock holds
    // garbage, kept in a range where the arithmetic stays exact.
    const int64_t kLimit = int64_t(1) << 52;
    const int64_t sinceBase = std::clamp(
        static_cast<int64_t>(timestampUs - static_cast<uint64_t>(m_nBaseUs)), -kLimit, kLimit);
    return av_rescale_rnd(sinceBase, m_nSampleRate, 1000000, AV_ROUND_NEAR_INF) - m_nShift;
}

CAudioClock::SPlacement CAudioClock::Place(uint64_t timestampUs, int64_t samples) {
    SPlacement placement;
    const int64_t position = PositionOf(timestampUs);
    if (!m_bStarted) {
        m_bStarted = true;
        m_nFirst = m_nNext = position;
    }
    const int64_t drift = position - m_nNext;
    placement.driftSamples = drift;
    if (drift > m_nMaxGap || drift < -m_nMaxOverlap) {
        // From here on the record clock counts from where the samples have got to.
        placement.clockJumped = true;
        m_nShift += drift;
    } else if (drift > m_nTolerance) {
        placement.silence = drift;
    } else if (drift < -m_nTolerance) {
        placement.skip = -drift < samples ? -drift : samples;
    }
    m_nNext += placement.silence + samples - placement.skip;
    return placement;
}

#include "CAudioClock.h"

extern "C" {
#include <libavutil/mathematics.h>
}

CAudioClock::CAudioClock(int sampleRate, int64_t baseUs, int64_t toleranceSamples,
                         int64_t maxGapSamples, int64_t maxOverlapSamples)
    : m_nSampleRate(sampleRate), m_nBaseUs(baseUs), m_nTolerance(toleranceSamples),
      m_nMaxGap(maxGapSamples), m_nMaxOverlap(maxOverlapSamples) {}

int64_t CAudioClock::PositionOf(uint64_t timestampUs) const {
    // Unsigned difference, read as signed: correct for any two times less than 2^63 us apart.
    const int64_t sinceBase = static_cast<int64_t>(timestampUs - static_cast<uint64_t>(m_nBaseUs));
    return av_rescale_rnd(sinceBase, m_nSampleRate, 1000000,
                          static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
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
    if (drift > m_nMaxGap || drift < -m_nMaxOverlap)
        placement.clockJumped = true;
    else if (drift > m_nTolerance)
        placement.silence = drift;
    else if (drift < -m_nTolerance)
        placement.skip = -drift < samples ? -drift : samples;
    m_nNext += placement.silence + samples - placement.skip;
    return placement;
}

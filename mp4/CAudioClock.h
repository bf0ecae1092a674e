#pragma once

#include <cstdint>

// Places the samples of audio records on the file's time line. Audio time is the count of
// samples, anchored to the record clock at the first record; the records are then played back
// to back. Record times that disagree with the sample count by no more than the tolerance are
// jitter and change nothing. A record that starts later than the samples before it reach is a
// gap in the recording, filled with silence; one that starts earlier overlaps them and loses its
// first samples. So the audio stays in sync with the record clock, also for players that play
// samples back to back. Far beyond any dropout the clock itself jumped: the records stay back to
// back and the clock counts on from there.
class CAudioClock {
public:
    struct SPlacement {
        int64_t silence = 0;      // samples of silence to insert before the record
        int64_t skip = 0;         // samples to leave out at the record's start
        bool clockJumped = false; // the record clock jumped; the record follows back to back
        int64_t driftSamples = 0; // how far the record clock disagreed with the sample count
    };

    // baseUs: the record time that is the file's zero. Positions count samples from there.
    // Gaps up to maxGapSamples are filled, overlaps up to maxOverlapSamples trimmed.
    CAudioClock(int sampleRate, int64_t baseUs, int64_t toleranceSamples, int64_t maxGapSamples,
                int64_t maxOverlapSamples);

    // Where a record of the given time and length goes; advances past its kept samples.
    SPlacement Place(uint64_t timestampUs, int64_t samples);
    // Position of the first sample placed; valid once a record has been placed.
    int64_t FirstPosition() const { return m_nFirst; }
    // Position the next placed sample will take.
    int64_t NextPosition() const { return m_nNext; }
    bool HasStarted() const { return m_bStarted; }

private:
    int64_t PositionOf(uint64_t timestampUs) const;

    int m_nSampleRate;
    int64_t m_nBaseUs;
    int64_t m_nTolerance;
    int64_t m_nMaxGap;
    int64_t m_nMaxOverlap;
    int64_t m_nShift = 0; // samples the record clock jumped by, all jumps together
    int64_t m_nFirst = 0;
    int64_t m_nNext = 0;
    bool m_bStarted = false;
};

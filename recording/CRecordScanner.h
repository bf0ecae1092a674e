#pragma once

#include "RecordHeader.h"

#include <atomic>
#include <cstdint>

class CReadWindow;

// Tells intact records from damaged ones in a recording read through a CReadWindow, and finds
// the next intact record behind damage. Its words:
// - a sane size: 0 to kMaxPayloadSize, and the payload ends within the file;
// - strictly plausible: a sane size, channel below kMaxChannels, type video or audio, and a
//   video payload that begins with an Annex B start code;
// - followed well: the record ends where the file ends (or so close to it that only part of a
//   header fits, as when recording stopped mid-write), or where a header of sane size begins
//   whose time stamp lies within kMaxNeighbourGapUs of the record's own;
// - intact: strictly plausible and followed well.
// A size field alone says little in a large file (a quarter of all values fit in 1 GiB); two
// neighbouring time stamps that agree say much, so damage is rarely taken for a record.
// Looking behind a record never moves the window: what it does not hold is read with a pread.
class CRecordScanner {
public:
    // No camera writes a record near this: a second of the largest pictures is a few MiB and
    // an audio block far less. A size field above it is damage, and the cap halves the sizes a
    // damaged field can take for plausible, so less good data is swallowed by mistake.
    static constexpr int32_t kMaxPayloadSize = 1 << 30;
    static constexpr int kMaxChannels = 8;
    // Neighbouring records lie seconds apart at most; a day leaves room for any clock step.
    static constexpr int64_t kMaxNeighbourGapUs = int64_t(24) * 3600 * 1000000;

    CRecordScanner(CReadWindow& window, const std::atomic<bool>& stop);

    // True when the record at offset, whose header has been decoded, is to be skipped: its size
    // is not sane; or it is not followed well and either is not strictly plausible or its size
    // names one bit too many (with that bit cleared it would be followed by an intact record,
    // so the size would swallow the records behind it).
    bool IsDamaged(int64_t offset, const RecordHeader& header);
    // The first offset in [from, until] where an intact record begins; -1 when there is none,
    // on a read error or once a stop is requested.
    int64_t FindIntact(int64_t from, int64_t until);

private:
    bool SaneSize(int64_t offset, int32_t size) const;
    // n bytes at offset from the window when it holds them, else from the file.
    bool Fetch(int64_t offset, uint8_t* into, int32_t n);
    bool FollowedWell(int64_t end, uint64_t timestamp);
    // Fetches and decodes the header at offset into header.
    bool StrictlyPlausibleAt(int64_t offset, RecordHeader& header);
    bool IntactAt(int64_t offset);
    bool SizeSwallowsRecords(int64_t offset, int32_t size);

    CReadWindow& m_window;
    const std::atomic<bool>& m_bStop;
};

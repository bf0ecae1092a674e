#include "CRecordScanner.h"

#include "ByteOrder.h"
#include "CReadWindow.h"

#include <algorithm>
#include <cstring>

namespace {

const int kTypeOffset = 9;
const int kSizeOffset = 15;
const int kStartCodeBytes = 4;

bool BeginsWithStartCode(const uint8_t* p, int32_t n) {
    if (n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1)
        return true;
    return n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1;
}

// The checks that need no more than the header's bytes, cheap enough for every byte scanned.
bool HeaderCouldBeIntact(const uint8_t* h) {
    return h[0] < CRecordScanner::kMaxChannels &&
           (h[kTypeOffset] == RecordHeader::kVideo || h[kTypeOffset] == RecordHeader::kAudio);
}

} // namespace

CRecordScanner::CRecordScanner(CReadWindow& window, const std::atomic<bool>& stop)
    : m_window(window), m_bStop(stop) {}

bool CRecordScanner::SaneSize(int64_t offset, int32_t size) const {
    return size >= 0 && size <= kMaxPayloadSize &&
           offset + RecordHeader::kSize + size <= m_window.FileSize();
}

bool CRecordScanner::Fetch(int64_t offset, uint8_t* into, int32_t n) {
    if (const uint8_t* held = m_window.Peek(offset, n)) {
        memcpy(into, held, static_cast<size_t>(n));
        return true;
    }
    return m_window.ReadAt(offset, into, static_cast<size_t>(n));
}

bool CRecordScanner::FollowedWell(int64_t end, uint64_t timestamp) {
    if (m_window.FileSize() - end < RecordHeader::kSize)
        return true;
    uint8_t bytes[RecordHeader::kSize];
    if (!Fetch(end, bytes, RecordHeader::kSize))
        return false;
    const RecordHeader next = RecordHeader::Decode(bytes);
    const uint64_t gap =
        next.timestamp > timestamp ? next.timestamp - timestamp : timestamp - next.timestamp;
    return SaneSize(end, next.payloadSize) && gap <= static_cast<uint64_t>(kMaxNeighbourGapUs);
}

bool CRecordScanner::StrictlyPlausibleAt(int64_t offset, RecordHeader& header) {
    uint8_t bytes[RecordHeader::kSize + kStartCodeBytes];
    const int32_t n =
        static_cast<int32_t>(std::min<int64_t>(sizeof(bytes), m_window.FileSize() - offset));
    if (n < RecordHeader::kSize || !Fetch(offset, bytes, n) || !HeaderCouldBeIntact(bytes))
        return false;
    header = RecordHeader::Decode(bytes);
    const int32_t size = header.payloadSize; // a copy: the packed field binds to no reference
    if (!SaneSize(offset, size))
        return false;
    return header.type != RecordHeader::kVideo ||
           BeginsWithStartCode(bytes + RecordHeader::kSize,
                               std::min(size, n - RecordHeader::kSize));
}

bool CRecordScanner::IntactAt(int64_t offset) {
    RecordHeader header;
    return StrictlyPlausibleAt(offset, header) &&
           FollowedWell(offset + RecordHeader::kSize + header.payloadSize, header.timestamp);
}

bool CRecordScanner::SizeSwallowsRecords(int64_t offset, int32_t size) {
    for (int bit = 0; bit < 31; ++bit) {
        const int32_t mask = int32_t(1) << bit;
        if ((size & mask) != 0 && IntactAt(offset + RecordHeader::kSize + (size & ~mask)))
            return true;
    }
    return false;
}

bool CRecordScanner::IsDamaged(int64_t offset, const RecordHeader& header) {
    const int32_t size = header.payloadSize;
    if (!SaneSize(offset, size))
        return true;
    if (FollowedWell(offset + RecordHeader::kSize + size, header.timestamp))
        return false;
    RecordHeader fetched;
    return !StrictlyPlausibleAt(offset, fetched) || SizeSwallowsRecords(offset, size);
}

int64_t CRecordScanner::FindIntact(int64_t from, int64_t until) {
    const int64_t last = std::min(until, m_window.FileSize() - RecordHeader::kSize);
    int64_t at = std::max<int64_t>(from, 0);
    while (at <= last && !m_bStop.load(std::memory_order_relaxed)) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(
            {CReadWindow::kReadStep, m_window.Capacity(), m_window.FileSize() - at}));
        const uint8_t* bytes = n >= RecordHeader::kSize ? m_window.View(at, n) : nullptr;
        if (!bytes)
            return -1;
        const int64_t base = at;
        const int64_t chunkLast = std::min(last, base + n - RecordHeader::kSize);
        // IntactAt never moves the window, so bytes stays valid throughout.
        for (; at <= chunkLast; ++at) {
            const uint8_t* h = bytes + (at - base);
            if (HeaderCouldBeIntact(h) && SaneSize(at, ByteOrder::ReadI32(h + kSizeOffset)) &&
                IntactAt(at))
                return at;
        }
    }
    return -1;
}

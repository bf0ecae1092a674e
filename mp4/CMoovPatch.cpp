#include "CMoovPatch.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t Fourcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}

uint64_t ReadBe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

void WriteBe(uint8_t* p, int bytes, uint64_t v) {
    for (int i = bytes - 1; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

// Reads exactly `size` bytes at `offset`; 0 or errno.
int ReadAt(int fd, uint8_t* out, size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pread(fd, out, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        out += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

int WriteAt(int fd, const uint8_t* data, size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

// Finds the top-level moov box: its offset and size.
int FindMoov(int fd, off_t fileSize, off_t& at, uint64_t& size) {
    off_t pos = 0;
    while (pos + 8 <= fileSize) {
        uint8_t header[16];
        if (const int rc = ReadAt(fd, header, 8, pos))
            return rc;
        uint64_t boxSize = ReadBe(header, 4);
        if (boxSize == 1) {
            if (const int rc = ReadAt(fd, header + 8, 8, pos + 8))
                return rc;
            boxSize = ReadBe(header + 8, 8);
        } else if (boxSize == 0) {
            boxSize = static_cast<uint64_t>(fileSize - pos);
        }
        if (boxSize < 8 || boxSize > static_cast<uint64_t>(fileSize - pos))
            return EINVAL;
        if (ReadBe(header + 4, 4) == Fourcc("moov")) {
            at = pos;
            size = boxSize;
            return 0;
        }
        pos += static_cast<off_t>(boxSize);
    }
    return EINVAL;
}

// Version 0 of a full box holds 32-bit times, version 1 64-bit ones.
int TimeBytes(const std::vector<uint8_t>& moov, size_t body) {
    return moov[body] == 1 ? 8 : 4;
}

} // namespace

bool CMoovPatch::NextBox(const std::vector<uint8_t>& moov, size_t& at, size_t end, SBox& box) {
    if (at + 8 > end)
        return false;
    uint64_t size = ReadBe(&moov[at], 4);
    size_t header = 8;
    if (size == 1) {
        if (at + 16 > end)
            return false;
        size = ReadBe(&moov[at + 8], 8);
        header = 16;
    } else if (size == 0) {
        size = end - at;
    }
    if (size < header || size > end - at)
        return false;
    box = {at, at + header, at + static_cast<size_t>(size),
           static_cast<uint32_t>(ReadBe(&moov[at + 4], 4))};
    at = box.end;
    return true;
}

bool CMoovPatch::FindChild(const std::vector<uint8_t>& moov, const SBox& parent, uint32_t type,
                           SBox& child) {
    size_t at = parent.body;
    while (NextBox(moov, at, parent.end, child))
        if (child.type == type)
            return true;
    return false;
}

int CMoovPatch::Apply(const std::string& path, std::vector<std::string>& skipped) const {
    if (IsEmpty())
        return 0;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st;
    off_t moovAt = 0;
    uint64_t moovSize = 0;
    int rc = fstat(fd, &st) != 0 ? errno : FindMoov(fd, st.st_size, moovAt, moovSize);
    std::vector<uint8_t> moov;
    bool renamed = false;
    bool configFound = false;
    if (rc == 0) {
        moov.resize(static_cast<size_t>(moovSize));
        rc = ReadAt(fd, moov.data(), moov.size(), moovAt);
    }
    if (rc == 0) {
        const std::vector<uint8_t> before = moov;
        size_t at = 0;
        SBox top, box;
        uint32_t movieScale = 0;
        if (NextBox(moov, at, moov.size(), top) && FindChild(moov, top, Fourcc("mvhd"), box) &&
            box.body + 24 <= box.end)
            movieScale = static_cast<uint32_t>(
                ReadBe(&moov[box.body + 4 + 2 * TimeBytes(moov, box.body)], 4));
        size_t child = top.body;
        while (movieScale > 0 && NextBox(moov, child, top.end, box))
            if (box.type == Fourcc("trak"))
                PatchTrack(moov, box, movieScale, skipped, renamed, configFound);
        if (movieScale == 0)
            skipped.push_back("the movie header is not readable");
        if (moov != before)
            rc = WriteAt(fd, moov.data(), moov.size(), moovAt);
    }
    if (close(fd) != 0 && rc == 0)
        rc = errno;
    if (m_nConfigTrack != 0 && !configFound && rc == 0)
        return ENOMEM;
    // A file without a readable index is left to the readers, unless its sample entry had to
    // change: as hvc1 it would promise what its stream breaks.
    if (m_nHev1Track != 0 && !renamed && (rc == 0 || rc == EINVAL))
        return EPROTO;
    return rc == EINVAL ? 0 : rc;
}

void CMoovPatch::PatchTrack(std::vector<uint8_t>& moov, const SBox& trak, uint32_t movieScale,
                            std::vector<std::string>& skipped, bool& renamed,
                            bool& configFound) const {
    SBox tkhd, mdia, mdhd;
    if (!FindChild(moov, trak, Fourcc("tkhd"), tkhd) || tkhd.body + 32 > tkhd.end)
        return;
    const int trackId =
        static_cast<int>(ReadBe(&moov[tkhd.body + 4 + 2 * TimeBytes(moov, tkhd.body)], 4));
    if (m_nConfigTrack != 0 && trackId == m_nConfigTrack)
        configFound = HasDecoderConfig(moov, trak);
    if (m_nHev1Track != 0 && trackId == m_nHev1Track)
        renamed = UseHev1In(moov, trak);
    for (const SEdit& edit : m_edits) {
        if (edit.trackId != trackId)
            continue;
        SBox edts, elst;
        const bool hasEdits = FindChild(moov, trak, Fourcc("edts"), edts);
        // Without an edit list a track is shown from its first sample at the file's start.
        if (!hasEdits && edit.startTicks == 0 && edit.mediaTicks == 0)
            continue;
        const bool found = hasEdits && FindChild(moov, edts, Fourcc("elst"), elst) &&
                           FindChild(moov, trak, Fourcc("mdia"), mdia) &&
                           FindChild(moov, mdia, Fourcc("mdhd"), mdhd) &&
                           mdhd.body + 4 <= mdhd.end &&
                           mdhd.body + 8 + 2 * TimeBytes(moov, mdhd.body) <= mdhd.end;
        const uint32_t trackScale =
            found ? static_cast<uint32_t>(
                        ReadBe(&moov[mdhd.body + 4 + 2 * TimeBytes(moov, mdhd.body)], 4))
                  : 0;
        if (!found || trackScale == 0 || !WriteEdit(moov, elst, edit, movieScale, trackScale))
            skipped.push_back("track " + std::to_string(trackId) +
                              "'s edit list does not have room for its start");
    }
}

bool CMoovPatch::WriteEdit(std::vector<uint8_t>& moov, const SBox& elst, const SEdit& edit,
                           uint32_t movieScale, uint32_t trackScale) {
    if (elst.body + 8 > elst.end)
        return false;
    const int bytes = TimeBytes(moov, elst.body);
    const uint64_t entries = ReadBe(&moov[elst.body + 4], 4);
    const size_t entrySize = static_cast<size_t>(2 * bytes + 4);
    if (elst.body + 8 + entries * entrySize != elst.end)
        return false;
    const AVRational movie{1, static_cast<int>(movieScale)};
    const AVRational track{1, static_cast<int>(trackScale)};
    const int64_t empty = av_rescale_q_rnd(edit.startTicks, edit.timeBase, movie, AV_ROUND_DOWN);
    const int64_t media = av_rescale_q(edit.mediaTicks, edit.timeBase, track);
    const int64_t duration =
        av_rescale_q_rnd(edit.endTicks - edit.startTicks, edit.timeBase, movie, AV_ROUND_UP);
    const uint64_t limit = bytes == 8 ? UINT64_MAX >> 1 : UINT32_MAX >> 1;
    // The writer wrote an empty edit exactly when the track starts after the file does; the
    // start chosen here must agree, since the box cannot grow.
    if (entries != (empty > 0 ? 2u : 1u) || empty < 0 || media < 0 || duration <= 0 ||
        static_cast<uint64_t>(empty) > limit || static_cast<uint64_t>(media) > limit ||
        static_cast<uint64_t>(duration) > limit)
        return false;
    uint8_t* p = &moov[elst.body + 8];
    if (empty > 0) {
        WriteBe(p, bytes, static_cast<uint64_t>(empty));
        WriteBe(p + bytes, bytes, bytes == 8 ? UINT64_MAX : UINT32_MAX); // media time -1: empty
        WriteBe(p + 2 * bytes, 4, 0x00010000);
        p += entrySize;
    }
    WriteBe(p, bytes, static_cast<uint64_t>(duration));
    WriteBe(p + bytes, bytes, static_cast<uint64_t>(media));
    WriteBe(p + 2 * bytes, 4, 0x00010000);
    return true;
}

bool CMoovPatch::FindSampleEntry(const std::vector<uint8_t>& moov, const SBox& trak, SBox& entry) {
    SBox mdia, minf, stbl, stsd;
    if (!FindChild(moov, trak, Fourcc("mdia"), mdia) ||
        !FindChild(moov, mdia, Fourcc("minf"), minf) ||
        !FindChild(moov, minf, Fourcc("stbl"), stbl) ||
        !FindChild(moov, stbl, Fourcc("stsd"), stsd))
        return false;
    size_t at = stsd.body + 8; // version, flags, entry count
    return NextBox(moov, at, stsd.end, entry);
}

bool CMoovPatch::UseHev1In(std::vector<uint8_t>& moov, const SBox& trak) {
    SBox entry, hvcC;
    if (!FindSampleEntry(moov, trak, entry) || entry.type != Fourcc("hvc1"))
        return false;
    WriteBe(&moov[entry.at + 4], 4, Fourcc("hev1"));
    // The configuration no longer promises that it holds every parameter set of the stream.
    const SBox visual = {entry.at, entry.body + 78, entry.end, entry.type};
    if (!FindChild(moov, visual, Fourcc("hvcC"), hvcC) || hvcC.body + 23 > hvcC.end)
        return true;
    size_t p = hvcC.body + 22;
    const unsigned arrays = moov[p++];
    for (unsigned i = 0; i < arrays && p + 3 <= hvcC.end; ++i) {
        moov[p] &= 0x7F;
        const uint64_t units = ReadBe(&moov[p + 1], 2);
        p += 3;
        for (uint64_t u = 0; u < units && p + 2 <= hvcC.end; ++u)
            p += 2 + static_cast<size_t>(ReadBe(&moov[p], 2));
    }
    return true;
}

bool CMoovPatch::HasDecoderConfig(const std::vector<uint8_t>& moov, const SBox& trak) const {
    SBox entry, config;
    if (!FindSampleEntry(moov, trak, entry))
        return false;
    const SBox visual = {entry.at, entry.body + 78, entry.end, entry.type};
    if (visual.body > visual.end ||
        !FindChild(moov, visual, Fourcc(m_bConfigHevc ? "hvcC" : "avcC"), config) ||
        config.body + 7 > config.end || moov[config.body] != 1)
        return false;
    // Each array (hvcC) or list (avcC) in turn: its units must lie within the box.
    auto units = [&](size_t& p, size_t count) {
        for (size_t u = 0; u < count; ++u) {
            if (p + 2 > config.end || p + 2 + ReadBe(&moov[p], 2) > config.end)
                return false;
            p += 2 + static_cast<size_t>(ReadBe(&moov[p], 2));
        }
        return true;
    };
    size_t p = config.body + 5;
    if (!m_bConfigHevc) { // SPS list, then PPS list
        const size_t sps = moov[p++] & 0x1F;
        if (sps == 0 || !units(p, sps) || p + 1 > config.end)
            return false;
        const size_t pps = moov[p++];
        return pps > 0 && units(p, pps);
    }
    if (config.body + 23 > config.end)
        return false;
    p = config.body + 22;
    const unsigned arrays = moov[p++];
    unsigned seen = 0; // bit 0: VPS, 1: SPS, 2: PPS
    for (unsigned i = 0; i < arrays; ++i) {
        if (p + 3 > config.end)
            return false;
        const unsigned type = moov[p] & 0x3F;
        const size_t count = static_cast<size_t>(ReadBe(&moov[p + 1], 2));
        p += 3;
        if (!units(p, count))
            return false;
        if (count > 0 && type >= 32 && type <= 34)
            seen |= 1u << (type - 32);
    }
    return seen == 7 && p == config.end;
}

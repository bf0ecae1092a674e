#include "CParameterSets.h"

#include "FFmpegPtr.h"
#include "NalUnitTypes.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

namespace {

struct SVerdict {
    bool usable = false;
    int reorderDepth = 0;
};

// The verdicts on the sets checked last, shared by every muxer of the process: the channels of
// one recording, and recordings converted one after another, mostly carry the same sets, and
// opening a decoder for each would cost more than all the rest of a short file.
struct SKnownSets {
    bool hevc;
    std::vector<uint8_t> sets;
    SVerdict verdict;
};
std::mutex g_knownMutex;
std::deque<SKnownSets> g_known; // the latest first
const size_t kMaxKnownSets = 16;
const size_t kMaxKnownBytes = 16 << 10; // larger sets are checked every time

bool FindVerdict(bool hevc, const std::vector<uint8_t>& sets, SVerdict& verdict) {
    std::lock_guard<std::mutex> lock(g_knownMutex);
    for (const SKnownSets& known : g_known)
        if (known.hevc == hevc && known.sets == sets) {
            verdict = known.verdict;
            return true;
        }
    return false;
}

void KeepVerdict(bool hevc, std::vector<uint8_t> sets, const SVerdict& verdict) {
    if (sets.size() > kMaxKnownBytes)
        return;
    std::lock_guard<std::mutex> lock(g_knownMutex);
    g_known.push_front({hevc, std::move(sets), verdict});
    if (g_known.size() > kMaxKnownSets)
        g_known.pop_back();
}

// Damaged sets can keep the MP4 writer busy for minutes: a decoder that refuses them means
// waiting for the next, intact set. Out of memory, nothing can be said about them: that throws.
SVerdict Check(bool hevc, const std::vector<uint8_t>& sets) {
    SVerdict verdict;
    const AVCodec* decoder = avcodec_find_decoder(hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (!decoder) {
        verdict.usable = true;
        return verdict;
    }
    CodecContextPtr ctx(avcodec_alloc_context3(decoder));
    if (!ctx)
        throw std::bad_alloc();
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata)
        throw std::bad_alloc();
    memcpy(ctx->extradata, sets.data(), sets.size());
    ctx->extradata_size = static_cast<int>(sets.size());
    ctx->err_recognition = AV_EF_EXPLODE;
    ctx->thread_count = 1;
    const int rc = avcodec_open2(ctx.get(), decoder, nullptr);
    if (rc == AVERROR(ENOMEM))
        throw std::bad_alloc();
    verdict.usable = rc >= 0;
    verdict.reorderDepth = verdict.usable ? ctx->has_b_frames : 0;
    return verdict;
}

} // namespace

void CParameterSets::Collect(const SFFData& unit) {
    if (m_bHevc) {
        if (unit.nNalType == kHevcPrefixSei)
            m_sei = unit.data; // not part of what the decoder checks
        else if (unit.nNalType == kHevcVps || unit.nNalType == kHevcSps ||
                 unit.nNalType == kHevcPps)
            Keep(unit.nNalType == kHevcVps   ? m_vps
                 : unit.nNalType == kHevcSps ? m_sps
                                             : m_pps,
                 unit.data);
        return;
    }
    if (unit.nNalType == kH264Sps || unit.nNalType == kH264Pps)
        Keep(unit.nNalType == kH264Sps ? m_sps : m_pps, unit.data);
}

void CParameterSets::Keep(std::vector<uint8_t>& target, const std::vector<uint8_t>& unit) {
    // Streams repeat their sets before every random-access picture: the same bytes keep the
    // decoder's verdict on them.
    if (target == unit)
        return;
    target = unit;
    m_bChanged = true;
}

bool CParameterSets::IsReadyToOpen(const SFFData& unit) {
    bool complete;
    if (!m_bHevc) {
        complete = !m_sps.empty() && !m_pps.empty();
    } else {
        // A prefix SEI completes the set; a stream without one opens at its first picture.
        complete = !m_vps.empty() && !m_sps.empty() && !m_pps.empty() &&
                   (!m_sei.empty() || unit.nNalType <= kHevcLastVcl);
    }
    if (!complete)
        return false;
    if (m_bChanged) {
        m_bChanged = false;
        m_bUsable = AreUsable();
        m_bRefused = m_bRefused || !m_bUsable;
    }
    return m_bUsable;
}

bool CParameterSets::Holds(const SFFData& unit) const {
    if (m_bHevc)
        return unit.nNalType == kHevcVps   ? unit.data == m_vps
               : unit.nNalType == kHevcSps ? unit.data == m_sps
               : unit.nNalType == kHevcPps ? unit.data == m_pps
                                           : true;
    return unit.nNalType == kH264Sps   ? unit.data == m_sps
           : unit.nNalType == kH264Pps ? unit.data == m_pps
                                       : true;
}

std::vector<uint8_t> CParameterSets::Extradata() const {
    std::vector<uint8_t> extradata;
    for (const std::vector<uint8_t>* unit : {&m_vps, &m_sps, &m_pps, &m_sei})
        extradata.insert(extradata.end(), unit->begin(), unit->end());
    return extradata;
}

bool CParameterSets::AreUsable() {
    std::vector<uint8_t> sets;
    for (const std::vector<uint8_t>* unit : {&m_vps, &m_sps, &m_pps})
        sets.insert(sets.end(), unit->begin(), unit->end());
    SVerdict verdict;
    if (!FindVerdict(m_bHevc, sets, verdict)) {
        verdict = Check(m_bHevc, sets);
        KeepVerdict(m_bHevc, std::move(sets), verdict);
    }
    if (verdict.usable)
        m_nReorderDepth = verdict.reorderDepth;
    return verdict.usable;
}

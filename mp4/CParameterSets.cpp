#include "CParameterSets.h"

#include "FFmpegPtr.h"
#include "NalUnitTypes.h"

#include <cstring>

void CParameterSets::Collect(const SFFData& unit) {
    if (m_bHevc) {
        std::vector<uint8_t>* target = unit.nNalType == kHevcVps         ? &m_vps
                                       : unit.nNalType == kHevcSps       ? &m_sps
                                       : unit.nNalType == kHevcPps       ? &m_pps
                                       : unit.nNalType == kHevcPrefixSei ? &m_sei
                                                                         : nullptr;
        if (target) {
            *target = unit.data;
            m_bChanged = true;
        }
        return;
    }
    if (unit.nNalType == kH264Sps || unit.nNalType == kH264Pps) {
        (unit.nNalType == kH264Sps ? m_sps : m_pps) = unit.data;
        m_bChanged = true;
    }
    m_vps.clear();
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
    // Damaged sets can keep the MP4 writer busy for minutes. A decoder that refuses them means
    // waiting for the next, intact set.
    const AVCodec* decoder = avcodec_find_decoder(m_bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (!decoder)
        return true;
    CodecContextPtr ctx(avcodec_alloc_context3(decoder));
    if (!ctx)
        return false;
    std::vector<uint8_t> sets;
    for (const std::vector<uint8_t>* unit : {&m_vps, &m_sps, &m_pps})
        sets.insert(sets.end(), unit->begin(), unit->end());
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata)
        return false;
    memcpy(ctx->extradata, sets.data(), sets.size());
    ctx->extradata_size = static_cast<int>(sets.size());
    ctx->err_recognition = AV_EF_EXPLODE;
    ctx->thread_count = 1;
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0)
        return false;
    m_nReorderDepth = ctx->has_b_frames;
    return true;
}

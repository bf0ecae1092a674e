#include "CDamageResume.h"

#include "NalUnitTypes.h"

bool CDamageResume::Skips(const uint8_t* unit, int32_t length, bool* picture) {
    *picture = false;
    if (m_eState == State::Decoding || length < 1)
        return false;
    const int type = m_bHevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
    const bool slice = m_bHevc ? type <= kHevcLastVcl : type >= 1 && type <= kH264Idr;
    const bool randomAccess =
        m_bHevc ? type >= kHevcFirstBla && type <= kHevcLastIrap : type == kH264Idr;
    const bool leading = m_bHevc && (type == kHevcRaslN || type == kHevcRaslR);
    if (m_bHevc && type == kHevcSuffixSei)
        return m_bSkippedLast; // belongs to the picture before it
    if (!slice)
        return false;
    m_bSkippedLast = SkipsSlice(type, randomAccess, leading);
    *picture = m_bSkippedLast && (m_bHevc ? length > 2 && (unit[2] & 0x80) != 0
                                          : length > 1 && (unit[1] & 0x80) != 0);
    return m_bSkippedLast;
}

bool CDamageResume::SkipsSlice(int type, bool randomAccess, bool leading) {
    if (m_eState == State::ToRandomAccess && randomAccess) {
        // Only an IDR has no leading pictures that refer to what came before it.
        const bool idr = !m_bHevc || type == kHevcIdrWRadl || type == kHevcIdrNLp;
        m_eState = idr ? State::Decoding : State::PastLeading;
        return false;
    }
    if (m_eState == State::PastLeading) {
        // RADL pictures decode; the leading ones end with the first trailing picture.
        const bool decodableLeading = type == kHevcRadlN || type == kHevcRadlR;
        if (!leading && !decodableLeading)
            m_eState = State::Decoding;
        return leading;
    }
    return true;
}

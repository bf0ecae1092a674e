#include "CAccessUnitAssembler.h"

#include <algorithm>

namespace {

const size_t kStartCodeSize = 4;

} // namespace

bool CAccessUnitAssembler::IsFirstSlice(const std::vector<uint8_t>& unit) const {
    // The first bit of the slice header: first_slice_segment_in_pic_flag in H.265, and in H.264
    // the Exp-Golomb "1" of first_mb_in_slice = 0.
    const size_t at = kStartCodeSize + (m_bHevc ? 2 : 1);
    return unit.size() > at && (unit[at] & 0x80) != 0;
}

bool CAccessUnitAssembler::BeginsAccessUnit(const std::vector<uint8_t>& unit, int nalType) const {
    if (IsPicture(nalType))
        return IsFirstSlice(unit);
    if (m_bHevc) // VPS, SPS, PPS, AUD, prefix SEI, reserved 41-44 and unspecified 48-55
        return (nalType >= 32 && nalType <= 35) || nalType == 39 ||
               (nalType >= 41 && nalType <= 44) || (nalType >= 48 && nalType <= 55);
    // SEI, SPS, PPS, AUD and 14-18
    return (nalType >= 6 && nalType <= 9) || (nalType >= 14 && nalType <= 18);
}

bool CAccessUnitAssembler::EndsSequence(int nalType) const {
    return m_bHevc ? nalType == 36 || nalType == 37 : nalType == 10 || nalType == 11;
}

bool CAccessUnitAssembler::Add(SFFData&& frame, SAccessUnit& completed) {
    std::vector<uint8_t>& unit = frame.data;
    const uint64_t timestampUs = frame.nTimestamp;
    const int nalType = frame.nNalType;
    bool finished = false;
    if (m_current.pictureNalType >= 0 && BeginsAccessUnit(unit, nalType)) {
        Finish(completed);
        finished = true;
    }
    if (m_current.pictureNalType < 0 && m_current.size + unit.size() > kMaxUnitsWithoutPicture)
        m_current = SAccessUnit(); // a stream of headers that never reaches a picture
    if (m_current.size == 0)
        m_current.timestampUs = timestampUs;
    if (IsPicture(nalType) && m_current.pictureNalType < 0) {
        m_current.pictureNalType = nalType;
        m_current.timestampUs = timestampUs;
        if (m_bHevc)
            m_current.headerSize = m_current.size + std::min(unit.size(), kSliceHeaderBytes);
    }
    if (EndsSequence(nalType))
        m_current.endsSequence = true;
    m_current.size += unit.size();
    if (m_current.bytes.empty())
        m_current.bytes = std::move(unit); // most pictures are one unit: no copy
    else
        m_current.bytes.insert(m_current.bytes.end(), unit.begin(), unit.end());
    return finished;
}

bool CAccessUnitAssembler::Flush(SAccessUnit& completed) {
    if (m_current.size == 0)
        return false;
    Finish(completed);
    return true;
}

void CAccessUnitAssembler::Finish(SAccessUnit& completed) {
    if (m_current.headerSize == 0)
        m_current.headerSize = m_current.size;
    m_current.bytes.reserve(m_current.size + kPadding); // exact: the packet keeps this vector
    m_current.bytes.resize(m_current.size + kPadding, 0);
    completed = std::move(m_current);
    m_current = SAccessUnit();
}

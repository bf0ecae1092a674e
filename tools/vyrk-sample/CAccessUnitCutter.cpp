#include "CAccessUnitCutter.h"

#include "FindNalUnit.h"

#include <cstddef>
#include <utility>

namespace {

// Where one NAL unit of an Annex B byte string starts (its start code) and where its header is.
struct NalUnit {
    size_t start;
    size_t header;
};

std::vector<NalUnit> FindNalUnits(const std::vector<uint8_t>& bytes) {
    std::vector<NalUnit> units;
    size_t previousEnd = 0;
    ForEachNalUnit(bytes.data(), static_cast<int32_t>(bytes.size()),
                   [&](const uint8_t* unit, int32_t length) {
                       const size_t header = static_cast<size_t>(unit - bytes.data());
                       size_t start = header - 3; // 00 00 01, or 00 00 00 01
                       if (start > previousEnd && bytes[start - 1] == 0)
                           --start;
                       units.push_back({start, header});
                       previousEnd = header + static_cast<size_t>(length);
                   });
    return units;
}

// VPS, SPS, PPS, access unit delimiter and prefix SEI: what may stand in front of a first slice.
bool IsParameterUnit(const std::vector<uint8_t>& bytes, const NalUnit& unit) {
    if (unit.header >= bytes.size())
        return false;
    const int type = (bytes[unit.header] >> 1) & 0x3F;
    return (type >= 32 && type <= 35) || type == 39;
}

// Where the units in front of the first slice end; 0 when there are none or nothing follows.
size_t ParameterUnitsEnd(const std::vector<uint8_t>& accessUnit) {
    const std::vector<NalUnit> units = FindNalUnits(accessUnit);
    size_t k = 0;
    while (k < units.size() && IsParameterUnit(accessUnit, units[k]))
        ++k;
    return k > 0 && k < units.size() ? units[k].start : 0;
}

// The same units, the first with a four-byte start code, then three, four, three... bytes.
std::vector<uint8_t> MixStartCodes(const std::vector<uint8_t>& bytes) {
    static const uint8_t kStartCode[] = {0, 0, 0, 1};
    const std::vector<NalUnit> units = FindNalUnits(bytes);
    if (units.empty())
        return bytes;
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + static_cast<long>(units[0].start));
    out.reserve(bytes.size() + units.size());
    for (size_t k = 0; k < units.size(); ++k) {
        out.insert(out.end(), kStartCode + (k % 2 == 0 ? 0 : 1), kStartCode + 4);
        const size_t end = k + 1 < units.size() ? units[k + 1].start : bytes.size();
        out.insert(out.end(), bytes.begin() + static_cast<long>(units[k].header),
                   bytes.begin() + static_cast<long>(end));
    }
    return out;
}

} // namespace

CAccessUnitCutter::CAccessUnitCutter(bool paramsRecord, bool mixedStartCodes)
    : m_bParamsRecord(paramsRecord), m_bMixedStartCodes(mixedStartCodes) {}

Units CAccessUnitCutter::Cut(std::vector<uint8_t> accessUnit) const {
    Units payloads;
    const size_t split = m_bParamsRecord ? ParameterUnitsEnd(accessUnit) : 0;
    if (split > 0) {
        payloads.emplace_back(accessUnit.begin(), accessUnit.begin() + static_cast<long>(split));
        payloads.emplace_back(accessUnit.begin() + static_cast<long>(split), accessUnit.end());
    } else {
        payloads.push_back(std::move(accessUnit));
    }
    if (m_bMixedStartCodes)
        for (std::vector<uint8_t>& payload : payloads)
            payload = MixStartCodes(payload);
    return payloads;
}

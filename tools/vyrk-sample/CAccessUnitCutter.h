#pragma once

#include <cstdint>
#include <vector>

using Units = std::vector<std::vector<uint8_t>>;

// Cuts one access unit into the payloads of the records it is written as: one, or two when the
// parameter sets and SEI in front of the first slice go into a record of their own; with mixed
// start codes every payload's units alternate 4- and 3-byte start codes.
class CAccessUnitCutter {
public:
    CAccessUnitCutter(bool paramsRecord, bool mixedStartCodes);
    Units Cut(std::vector<uint8_t> accessUnit) const;

private:
    bool m_bParamsRecord;
    bool m_bMixedStartCodes;
};

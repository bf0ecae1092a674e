#pragma once

#include <cstdint>
#include <vector>

// One record to write; payloads are referenced, not copied, so long recordings stay small in
// memory. Records go out sorted by writeUs, then order; timestampUs is the stamp written.
struct SRecordItem {
    int64_t writeUs;
    uint64_t timestampUs;
    int order;
    uint8_t channel;
    uint8_t type;
    uint8_t subType;
    const std::vector<uint8_t>* payload; // null: audio block generated at write time
    int64_t audioSample;                 // that block's first sample
    int sourceChannel;
};

#pragma once

#include "SRecordItem.h"
#include "SSampleOptions.h"

#include <cstdint>
#include <fstream>
#include <vector>

// With --dump-streams, each channel's elementary streams beside the recording (NAME.chN.hevc and
// NAME.chN.pcm): exactly the bytes of its own records, to compare a conversion's output with.
class CStreamDumps {
public:
    // Creates every written channel's files when the options ask for them.
    explicit CStreamDumps(const SSampleOptions& options);
    // Appends the payload when the record is its channel's own video or audio.
    void Write(const SRecordItem& item, const std::vector<uint8_t>& payload);

private:
    std::vector<std::ofstream> m_hevc;
    std::vector<std::ofstream> m_pcm;
};

#include "CStreamDumps.h"

#include <cstddef>
#include <string>

CStreamDumps::CStreamDumps(const SSampleOptions& o) {
    if (!o.dumpStreams)
        return;
    const size_t dot = o.output.rfind('.');
    const std::string stem = o.output.substr(0, dot == std::string::npos ? o.output.size() : dot);
    for (int ch = 0; ch < o.channels; ++ch) {
        const std::string base = stem + ".ch" + std::to_string(ch);
        m_hevc.emplace_back(base + ".hevc", std::ios::binary);
        m_pcm.emplace_back(base + ".pcm", std::ios::binary);
    }
}

void CStreamDumps::Write(const SRecordItem& item, const std::vector<uint8_t>& payload) {
    // Injected records (copies on other channels, other subtypes and types) are no part of a
    // channel's stream; without dumps there are no files, so every record ends here.
    const bool own = item.channel == item.sourceChannel && item.subType == 0;
    if (!own || item.channel >= m_hevc.size() || (item.type != 0 && item.type != 2))
        return;
    std::ofstream& out = (item.type == 0 ? m_hevc : m_pcm)[item.channel];
    out.write(reinterpret_cast<const char*>(payload.data()),
              static_cast<std::streamsize>(payload.size()));
}

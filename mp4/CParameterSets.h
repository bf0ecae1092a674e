#pragma once

#include "SFFData.h"

#include <cstdint>
#include <vector>

// The parameter sets (and the prefix SEI) a video stream carries before its first picture,
// gathered from the NAL units until the file can be opened with them. The MP4 writer parses them
// again for the file's header with far fewer checks than a decoder, so a set counts only once a
// decoder accepted it.
class CParameterSets {
public:
    explicit CParameterSets(bool isHevc = true) : m_bHevc(isHevc) {}

    // Keeps the unit if it is a parameter set (or a prefix SEI), the latest of each kind.
    void Collect(const SFFData& unit);
    // True once the set is complete before this unit and a decoder accepts it. The decoder
    // looks at the set again only once its VPS, SPS or PPS bytes change, and not at all when
    // it judged the same bytes for another muxer lately. Throws std::bad_alloc when there is
    // no memory to check them.
    bool IsReadyToOpen(const SFFData& unit);
    // True once the decoder refused a complete set: the stream's sets are damaged.
    bool HasRefused() const { return m_bRefused; }
    // False for a VPS, SPS or PPS that differs from the one the sets hold.
    bool Holds(const SFFData& unit) const;
    // The sets in the order the file's header and the parser take them: VPS, SPS, PPS, SEI.
    std::vector<uint8_t> Extradata() const;
    // How many pictures may come later in decode order and still be shown earlier, read from the
    // sequence parameter set once a decoder accepted it.
    int ReorderDepth() const { return m_nReorderDepth; }

private:
    void Keep(std::vector<uint8_t>& target, const std::vector<uint8_t>& unit);
    bool AreUsable();

    bool m_bHevc;
    std::vector<uint8_t> m_vps;
    std::vector<uint8_t> m_sps;
    std::vector<uint8_t> m_pps;
    std::vector<uint8_t> m_sei;
    bool m_bChanged = false;
    bool m_bUsable = false;
    bool m_bRefused = false;
    int m_nReorderDepth = 0;
};

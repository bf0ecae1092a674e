#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <cstdint>
#include <string>
#include <vector>

// Changes a finished MP4's index in place, where FFmpeg's writer cannot say what the file means:
// edit lists that start a track's presentation at a chosen media time after an empty stretch,
// and the `hvc1` sample entry turned back into `hev1` when parameter sets turned up in the
// samples. It also checks what FFmpeg's writer may get wrong without saying so: the video's
// decoder configuration. Every change keeps the size of what it changes, so no offset in the file
// moves; a box that does not have the expected shape is left as it is.
class CMoovPatch {
public:
    // Where a track's presentation starts and ends on the file's time line, and which media time
    // (from the track's first decode time) it starts with; all in the stream's time base.
    struct SEdit {
        int trackId = 0; // the stream's index + 1, as the writer numbers its tracks
        AVRational timeBase{1, 1};
        int64_t startTicks = 0;
        int64_t mediaTicks = 0;
        int64_t endTicks = 0;
    };

    void SetEdit(const SEdit& edit) { m_edits.push_back(edit); }
    void UseHev1(int trackId) { m_nHev1Track = trackId; }
    // The track's sample entry must hold a complete decoder configuration (hvcC with a VPS, an
    // SPS and a PPS, or avcC with an SPS and a PPS). FFmpeg's writer builds it in the trailer and
    // leaves the box empty, reporting success, when an allocation fails there.
    void RequireDecoderConfig(int trackId, bool hevc) {
        m_nConfigTrack = trackId;
        m_bConfigHevc = hevc;
    }
    bool IsEmpty() const { return m_edits.empty() && m_nHev1Track == 0 && m_nConfigTrack == 0; }

    // Applies the changes to the file; 0, or the errno of what failed (EPROTO: the sample entry
    // could not be changed; ENOMEM: the decoder configuration is incomplete). An edit that does not
    // fit the boxes found is reported in `skipped` (one line each) and left out.
    int Apply(const std::string& path, std::vector<std::string>& skipped) const;

private:
    struct SBox {
        size_t at;   // offset of the box's header in the buffer
        size_t body; // offset of its contents
        size_t end;  // one past its last byte
        uint32_t type;
    };

    static bool NextBox(const std::vector<uint8_t>& moov, size_t& at, size_t end, SBox& box);
    static bool FindChild(const std::vector<uint8_t>& moov, const SBox& parent, uint32_t type,
                          SBox& child);
    void PatchTrack(std::vector<uint8_t>& moov, const SBox& trak, uint32_t movieScale,
                    std::vector<std::string>& skipped, bool& renamed, bool& configFound) const;
    static bool WriteEdit(std::vector<uint8_t>& moov, const SBox& elst, const SEdit& edit,
                          uint32_t movieScale, uint32_t trackScale);
    static bool FindSampleEntry(const std::vector<uint8_t>& moov, const SBox& trak, SBox& entry);
    static bool UseHev1In(std::vector<uint8_t>& moov, const SBox& trak);
    bool HasDecoderConfig(const std::vector<uint8_t>& moov, const SBox& trak) const;

    std::vector<SEdit> m_edits;
    int m_nHev1Track = 0;
    int m_nConfigTrack = 0;
    bool m_bConfigHevc = true;
};

#pragma once

#include "CAccessUnitAssembler.h"
#include "CMoovPatch.h"
#include "CParameterSets.h"
#include "CVideoTimeline.h"
#include "FFmpegPtr.h"
#include "RecordingHeader.h"
#include "SFFData.h"
#include "SOutputOptions.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class COutputFile;
class CRecordingClock;

// The video of one file: the H.265 (or H.264) NAL units copied as they are. Before the file is
// open it gathers the parameter sets; then it groups the units into access units, reads each
// picture's key flag and order count with FFmpeg's parser, times the pictures with
// CVideoTimeline from the record clock's zero, and hands them to the file as packets.
//
// Pictures that cannot be decoded, because what they refer to is not in the file (those before
// the first random-access picture, and the skipped leading pictures of a CRA or BLA that opens
// the file), stay in the file as they are but are never shown: the track's edit starts at the
// first picture that can be decoded.
class CVideoTrack {
public:
    CVideoTrack(COutputFile& file, const CRecordingClock& clock) : m_file(file), m_clock(clock) {}
    CVideoTrack(const CVideoTrack&) = delete;
    CVideoTrack& operator=(const CVideoTrack&) = delete;

    // Before anything else; false when the packet cannot be allocated.
    bool Configure(bool isHevc, const RecordingHeader& header, const SOutputOptions& options);
    // While the file is not open: keeps parameter sets, true once the file can be opened.
    bool TakeParameterSet(const SFFData& unit) {
        m_sets.Collect(unit);
        return m_sets.IsReadyToOpen(unit);
    }
    // True once a complete set of parameter sets was refused by the decoder: pictures that come
    // before the file can be opened are then lost to damage.
    bool HasRefusedSets() const { return m_sets.HasRefused(); }
    // True for the first slice of a picture.
    bool StartsPicture(const SFFData& unit) const { return m_assembler.StartsPicture(unit); }
    // Tagged on the stream before it is added: the writer makes a timecode track from it.
    void SetTimecode(const std::string& timecode) { m_strTimecode = timecode; }
    // Adds the video stream to the file and sets up the parser; false when either fails.
    bool AddStream();
    bool OpenParser();
    bool HasStream() const;
    const AVStream* Stream() const { return m_pStream; }

    // Groups the units into access units; true with one completed.
    bool Assemble(SFFData&& unit, CAccessUnitAssembler::SAccessUnit& completed) {
        m_bSetsChanged = m_bSetsChanged || !m_sets.Holds(unit);
        return m_assembler.Add(std::move(unit), completed);
    }
    // True once a parameter set other than those of the header came in the stream.
    bool HaveSetsChanged() const { return m_bSetsChanged; }
    bool FlushAssembler(CAccessUnitAssembler::SAccessUnit& completed) {
        return m_assembler.Flush(completed);
    }
    // Times a picture (the clock's zero must be set) and writes what the timeline released.
    void Write(CAccessUnitAssembler::SAccessUnit& unit);
    // Writes the pictures the timeline still holds.
    void Flush();
    // Where the track's presentation starts and ends; false when the writer's own edit stands.
    bool GetEdit(CMoovPatch::SEdit& edit) const;
    void Release();

private:
    struct SPicture {
        std::vector<uint8_t> bytes;
        size_t size;
        bool key;
        bool hidden;
    };
    struct SHiddenPicture {
        SPicture picture;
        CVideoTimeline::STimes times;
    };

    bool StartsSequence(int pictureNalType) const;
    bool IsHidden(int pictureNalType, bool key);
    void WriteReadyPictures();
    void WriteHidden(int64_t firstShownPts);
    void WritePacket(SPicture& picture, const CVideoTimeline::STimes& times);
    void FailFile(int rc, int64_t pts);
    static bool WrapPicture(SPicture& picture, AVPacket* packet);
    int64_t Ticks(uint64_t timestampUs) const;
    int64_t FrameDurationTicks() const;

    COutputFile& m_file;
    const CRecordingClock& m_clock;
    bool m_bHevc = true;
    RecordingHeader m_header{};
    SOutputOptions m_options;
    CParameterSets m_sets;
    CAccessUnitAssembler m_assembler{true};
    AVStream* m_pStream = nullptr; // owned by the file's context
    ParserPtr m_pParser;
    CodecContextPtr m_pParserCtx; // never opened; the parser only needs one to work with
    PacketPtr m_pPacket;
    std::unique_ptr<CVideoTimeline> m_pTimeline;
    std::deque<SPicture> m_pictures; // access units waiting for their times, in decode order
    bool m_bAfterEndOfSequence = false;
    std::string m_strTimecode;
    bool m_bSetsChanged = false;
    // The start of what is shown: pictures that cannot be decoded wait here until the first
    // picture that can is timed, so the file's own edit can be told where to start.
    bool m_bSeenRandomAccess = false;
    bool m_bOpenedBySkipping = false; // the first random-access picture skips its leading ones
    bool m_bShowing = false;
    std::deque<SHiddenPicture> m_hidden;
    int m_nShownCounted = 0;
    int64_t m_nShownPts = 0;
    int64_t m_nFirstDts = INT64_MIN;
    int64_t m_nEndPts = INT64_MIN;
};

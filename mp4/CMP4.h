#pragma once

#include "CAacEncoder.h"
#include "CAccessUnitAssembler.h"
#include "CAudioClock.h"
#include "CDeque.h"
#include "CVideoTimeline.h"
#include "FFmpegPtr.h"
#include "RecordingHeader.h"
#include "SFFData.h"
#include "SOutputOptions.h"
#include "SOutputStats.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Writes one camera channel into one MP4 file: the H.265 (or H.264) video copied as it is, the
// 16-bit mono PCM encoded to AAC. Frames are queued on the reader thread (video in the order of
// the recording, audio placed among it by time) and written by the muxer's own writer thread.
// The file is created once the video's parameter sets are known. Its time line starts at the
// first picture, or at the first audio when that was recorded earlier: video units are grouped
// into access units and timed by CVideoTimeline, audio is placed by CAudioClock and encoded by
// CAacEncoder.
class CMP4 {
public:
    CMP4();
    CMP4(const CMP4&) = delete;
    CMP4& operator=(const CMP4&) = delete;
    virtual ~CMP4();

    // Takes effect for the next Open.
    void SetOutputOptions(const SOutputOptions& options) { m_options = options; }
    // Copies the header and starts the writer thread. The file is written under TemporaryPath
    // and gets its own name only once it is finished: a file under its final name is complete.
    // False when the output cannot be set up; such a muxer drops whatever it is handed.
    bool Open(std::string path, bool isHevc, const RecordingHeader* header);
    // An Annex B fragment; each NAL unit is queued on its own, in the order it holds them. Time
    // stamp in microseconds, the record clock.
    void InputVideo(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs);
    // 16-bit little-endian mono PCM at 44,100 Hz. Time stamp in microseconds.
    void InputAudio(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs);
    // Drains the queue, flushes the video timeline and the audio encoder, writes the trailer and
    // closes the file. Safe to call more than once.
    void Close();
    // Starts what Close does on the writer thread and returns at once: the muxer takes no more
    // frames. Close then waits for it.
    void RequestClose();
    // Bytes handed in and not yet written or dropped; callable from any thread.
    int64_t GetPendingSize() const { return m_pStats->pendingBytes.load(); }
    // True once writing this channel's file failed (it could not be created, a write failed, or
    // finishing it failed).
    bool HasOutputFailed() const { return m_pStats->failure != OutputFailure::None; }
    // Counters and failure of this muxer's file; they outlive the muxer for whoever holds them.
    std::shared_ptr<const SOutputStats> GetStats() const { return m_pStats; }
    // ".N.mp4.part" beside "N.mp4": hidden, and plainly not a finished MP4.
    static std::string TemporaryPath(const std::string& path);
    // True once the file has been created and its header written.
    bool HasOpenedOutput() const { return m_bOutputOpened.load(); }

    static void MakeAudioSpecificConfig(unsigned samplingIndex, unsigned channelConfig,
                                        uint8_t* out);

    static constexpr int kAudioSampleRate = CAacEncoder::kSampleRate;
    // Audio that arrives before the first picture is held, up to this many samples.
    static constexpr int64_t kMaxHeldAudioSamples = 10 * kAudioSampleRate;

private:
    struct SPicture {
        std::vector<uint8_t> bytes;
        size_t size;
        bool key;
    };

    void PushFrame(FramePtr frame);
    bool Run();
    void WaitForWork();
    void ProcessFrame(const FramePtr& frame);

    void WriteVideoFrame(const FramePtr& frame);
    void CollectParameterSet(const SFFData& frame);
    bool IsReadyToOpen(const SFFData& frame);
    bool AreParameterSetsUsable();
    void HandleAccessUnit(CAccessUnitAssembler::SAccessUnit& unit);
    bool StartsSequence(int pictureNalType) const;
    void WriteReadyPictures();
    void WriteVideoPacket(SPicture& picture, const CVideoTimeline::STimes& times);
    static bool WrapPicture(SPicture& picture, AVPacket* packet);
    int64_t VideoTicks(uint64_t timestampUs) const;
    int64_t FrameDurationTicks() const;

    void WriteAudioFrame(const FramePtr& frame);
    void HoldAudio(const FramePtr& frame);
    void SetBase(uint64_t firstPictureUs);
    void EncodeAudio(const SFFData& frame);
    void WriteAudioPacket(AVPacket* packet);

    void OpenOutput();
    AVStream* AddVideoStream(AVCodecID codecId);
    AVStream* AddAudioStream();
    bool OpenParser(AVCodecID codecId);
    std::vector<uint8_t> VideoExtradata() const;
    void FailOutput();
    void Count(const AVPacket* packet, const AVStream* stream);
    void FlushOutput();
    void CloseFile(bool writeTrailer);
    void FreeMedia();

    AVFormatContext* m_pOutputCtx;
    AVStream* m_pAudioStream;
    AVStream* m_pVideoStream;
    Types::CDeque<FramePtr> m_frameQueue;
    std::vector<uint8_t> m_sps;
    std::vector<uint8_t> m_pps;
    std::vector<uint8_t> m_vps;
    std::vector<uint8_t> m_sei;
    std::string m_strOutputPath;
    std::string m_strTempPath;
    SOutputOptions m_options;
    RecordingHeader m_header;
    bool m_bHevc;
    ParserPtr m_pParser;
    CodecContextPtr m_pParserCtx; // never opened; the parser only needs one to work with
    PacketPtr m_pPacket;

    // Writer thread only: the time line of the file.
    uint64_t m_nBaseUs = 0; // the record time that is the file's zero
    bool m_bHasBase = false;
    int m_nReorderDepth = 0; // from the sequence parameter set the file opened with
    CAccessUnitAssembler m_assembler;
    std::unique_ptr<CVideoTimeline> m_pTimeline;
    std::deque<SPicture> m_pictures; // access units waiting for their times, in decode order
    bool m_bAfterEndOfSequence = false;
    CAacEncoder m_audio;
    std::unique_ptr<CAudioClock> m_pAudioClock;
    CAacEncoder::PacketSink m_audioSink;
    std::deque<FramePtr> m_heldAudio; // audio before the first picture
    int64_t m_nHeldSamples = 0;
    int64_t m_nDroppedHeldSamples = 0;
    int64_t m_nLastAudioDts; // stream time base

    std::atomic<int> m_bStop;
    std::shared_ptr<SOutputStats> m_pStats;
    std::atomic<bool> m_bOutputOpened;
    bool m_bAccepting; // set once the writer thread runs; reader-thread state only
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_bWork = false; // a frame arrived while the queue was empty; guarded by m_wakeMutex
    bool m_bParameterSetsChanged = false; // writer thread only
    bool m_bParameterSetsUsable = false;
    int m_nWriteBackFd = -1;      // writer thread only
    int64_t m_nWriteBackFrom = 0; // bytes counted when write-back was last started
    static constexpr int64_t kWriteBackBytes = 8 << 20;
    std::shared_ptr<std::thread> m_pThread;
};

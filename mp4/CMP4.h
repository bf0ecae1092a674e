#pragma once

#include "CDeque.h"
#include "FFmpegPtr.h"
#include "RecordingHeader.h"
#include "SFFData.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Writes one camera channel into one MP4 file: the H.265 (or H.264) video copied as it is, the
// 16-bit mono PCM encoded to AAC. Frames are queued by time stamp on the reader thread and
// written by the muxer's own writer thread. The file is created once the video's parameter sets
// are known.
class CMP4 {
public:
    CMP4();
    CMP4(const CMP4&) = delete;
    CMP4& operator=(const CMP4&) = delete;
    virtual ~CMP4();

    // Copies the header and starts the writer thread. False when the output cannot be set up;
    // such a muxer drops whatever it is handed.
    bool Open(std::string path, bool isHevc, const RecordingHeader* header);
    // An Annex B fragment; each NAL unit is queued on its own. Time stamp in milliseconds.
    void InputVideo(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampMs);
    // 16-bit little-endian mono PCM at 44,100 Hz. Time stamp in microseconds.
    void InputAudio(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs);
    // Drains the queue, flushes parser, FIFO and encoder, writes the trailer and closes the file.
    // Safe to call more than once.
    void Close();
    // Bytes handed in and not yet written or dropped; callable from any thread.
    int64_t GetPendingSize() const { return m_nPendingBytes.load(); }
    // True once writing this channel's file failed (it could not be created, a write failed, or
    // finishing it failed).
    bool HasOutputFailed() const { return m_bOutputFailed.load(); }
    // True once the file has been created and its header written.
    bool HasOpenedOutput() const { return m_bOutputOpened.load(); }

    static void MakeAudioSpecificConfig(unsigned samplingIndex, unsigned channelConfig,
                                        uint8_t* out);

    static constexpr int kAudioSampleRate = 44100;

private:
    void PushFrame(FramePtr frame);
    bool Run();
    void WaitForWork();
    void ProcessFrame(const FramePtr& frame);

    void WriteVideoFrame(const FramePtr& frame);
    void CollectParameterSet(const SFFData& frame);
    bool IsReadyToOpen(const SFFData& frame);
    bool AreParameterSetsUsable() const;
    void ParseVideo(const uint8_t* data, int size, int64_t pts);
    void WriteVideoPacket(const uint8_t* data, int size, int64_t pts, bool keyFrame);

    void WriteAudioFrame(const FramePtr& frame);
    void ConvertIntoFifo(const uint8_t* pcm, int samples);
    void EncodeFromFifo(int samples, int64_t pts);
    void DrainEncoder();
    void FilterAndWriteAudio(const AVPacket* encoded);
    void DrainFilter();

    void OpenOutput();
    AVStream* AddVideoStream(AVCodecID codecId);
    AVStream* AddAudioStream(AVCodecID codecId);
    bool OpenParser(AVCodecID codecId);
    bool OpenAudioFilter();
    bool OpenResampler();
    std::vector<uint8_t> VideoExtradata() const;
    void FailOutput(bool headerWritten);
    void FlushOutput();
    void CloseFile(bool writeTrailer);
    void FreeMedia();
    int64_t SinceBase(uint64_t timestampMs) const;

    AVFormatContext* m_pOutputCtx;
    AVStream* m_pAudioStream;
    AVStream* m_pVideoStream;
    AudioFifoPtr m_pAudioFifo;
    Types::CDeque<FramePtr> m_frameQueue;
    int64_t m_nBaseTimestamp;
    SwrContextPtr m_pSwrCtx;
    std::vector<uint8_t> m_sps;
    std::vector<uint8_t> m_pps;
    std::vector<uint8_t> m_vps;
    std::vector<uint8_t> m_sei;
    std::string m_strOutputPath;
    int64_t m_nLastVideoPts;
    RecordingHeader m_header;
    bool m_bHevc;
    ParserPtr m_pParser;
    CodecContextPtr m_pParserCtx; // never opened; the parser only needs one to work with
    CodecContextPtr m_pAudioCodecCtx;
    BsfContextPtr m_pAdtsToAsc;
    PacketPtr m_pPacket;
    PacketPtr m_pFilteredPacket;
    FramePtrAV m_pFrame;
    std::vector<uint8_t> m_parseBuffer; // one unit plus zeroed padding for the parser
    std::vector<float> m_convertBuffer;
    int64_t m_nNextAudioPts; // codec time base: where the next encoder frame starts
    int64_t m_nLastAudioDts; // stream time base
    std::atomic<int64_t> m_nPendingBytes;
    std::atomic<int> m_bStop;
    std::atomic<bool> m_bOutputFailed;
    std::atomic<bool> m_bOutputOpened;
    bool m_bAccepting; // set once the writer thread runs; reader-thread state only
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_bWork = false; // a frame arrived while the queue was empty; guarded by m_wakeMutex
    bool m_bParameterSetsChanged = false; // writer thread only
    bool m_bParameterSetsUsable = false;
    std::shared_ptr<std::thread> m_pThread;
};

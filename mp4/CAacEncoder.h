#pragma once

#include "FFmpegPtr.h"

#include <cstdint>
#include <functional>
#include <vector>

// Encodes 16-bit mono PCM to AAC-LC one 1024-sample frame at a time: the samples are converted
// to planar float, gathered in a FIFO, encoded, framed as ADTS and turned back into raw frames by
// the "aac_adtstoasc" filter. Time stamps count samples (time base 1/sample rate), so every
// packet lasts exactly one frame; the first sample's position is given by Start.
class CAacEncoder {
public:
    // Receives each finished packet, time stamps in the codec's time base.
    using PacketSink = std::function<void(AVPacket*)>;

    static constexpr int kSampleRate = 44100;

    // Opens encoder, filter and resampler: 0, or the FFmpeg error of the part that failed.
    int Open(bool globalHeader);
    bool IsOpen() const { return m_pSwrCtx != nullptr; }
    const AVCodecContext* Context() const { return m_pCodecCtx.get(); }

    // Sets the position of the next sample written.
    void Start(int64_t position) { m_nNextPts = position; }
    // Each returns 0, or the FFmpeg error that lost samples: the encoder is then of no more use.
    int Write(const uint8_t* pcm, int samples, const PacketSink& sink);
    int WriteSilence(int64_t samples, const PacketSink& sink);
    // Encodes what the FIFO still holds and drains encoder and filter.
    int Flush(const PacketSink& sink);
    void Close();

private:
    int OpenFilter();
    int OpenResampler();
    int EncodeFullFrames(const PacketSink& sink);
    int EncodeFromFifo(int samples, const PacketSink& sink);
    int DrainEncoder(const PacketSink& sink);
    int Filter(const AVPacket* encoded, const PacketSink& sink);
    int DrainFilter(const PacketSink& sink);

    CodecContextPtr m_pCodecCtx;
    SwrContextPtr m_pSwrCtx;
    BsfContextPtr m_pAdtsToAsc;
    AudioFifoPtr m_pFifo;
    PacketPtr m_pPacket;
    PacketPtr m_pAdtsPacket;
    PacketPtr m_pFilteredPacket;
    FramePtrAV m_pFrame;
    std::vector<float> m_convertBuffer;
    int64_t m_nNextPts = 0; // position of the next sample to be encoded
};

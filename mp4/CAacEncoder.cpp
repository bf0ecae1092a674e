#include "CAacEncoder.h"

#include "Log.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cstring>

namespace {

const int kBitRate = 32768;
const int kAdtsHeaderSize = 7;
const unsigned kSamplingIndex44100 = 4;
const unsigned kChannelConfigMono = 1;
const int kSilenceChunk = 4096;

void WriteAdtsHeader(uint8_t* out, int payloadSize) {
    const int length = payloadSize + kAdtsHeaderSize;
    out[0] = 0xFF;
    out[1] = 0xF1;
    out[2] = static_cast<uint8_t>(((2 - 1) << 6) + (kSamplingIndex44100 << 2) +
                                  (kChannelConfigMono >> 2));
    out[3] = static_cast<uint8_t>(((kChannelConfigMono & 3) << 6) + (length >> 11));
    out[4] = static_cast<uint8_t>((length & 0x7FF) >> 3);
    out[5] = static_cast<uint8_t>(((length & 7) << 5) | 0x1F);
    out[6] = 0xFC;
}

} // namespace

int CAacEncoder::Open(bool globalHeader) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder) {
        LogError("AddAudioStream Codec not found..");
        return AVERROR_ENCODER_NOT_FOUND;
    }
    m_pCodecCtx.reset(avcodec_alloc_context3(encoder));
    m_pFifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, 1));
    m_pPacket.reset(av_packet_alloc());
    m_pAdtsPacket.reset(av_packet_alloc());
    m_pFilteredPacket.reset(av_packet_alloc());
    m_pFrame.reset(av_frame_alloc());
    if (!m_pCodecCtx || !m_pFifo || !m_pPacket || !m_pAdtsPacket || !m_pFilteredPacket ||
        !m_pFrame) {
        LogError("AddAudioStream Could not alloc stream..");
        return AVERROR(ENOMEM);
    }
    AVCodecContext* ctx = m_pCodecCtx.get();
    ctx->codec_type = AVMEDIA_TYPE_AUDIO;
    ctx->codec_id = AV_CODEC_ID_AAC;
    ctx->sample_rate = kSampleRate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = kBitRate;
    ctx->time_base = AVRational{1, kSampleRate};
    if (globalHeader)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(ctx, encoder, nullptr);
    if (rc >= 0)
        rc = OpenFilter();
    if (rc >= 0)
        rc = OpenResampler();
    if (rc < 0) {
        LogError("AddAudioStream Could not open codec.. %s", AvErrorText(rc).c_str());
        Close();
        return rc;
    }
    return 0;
}

int CAacEncoder::OpenFilter() {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("aac_adtstoasc");
    if (!filter)
        return AVERROR_BSF_NOT_FOUND;
    AVBSFContext* bsf = nullptr;
    int rc = av_bsf_alloc(filter, &bsf);
    if (rc < 0)
        return rc;
    m_pAdtsToAsc.reset(bsf);
    rc = avcodec_parameters_from_context(bsf->par_in, m_pCodecCtx.get());
    if (rc < 0)
        return rc;
    bsf->time_base_in = m_pCodecCtx->time_base;
    return av_bsf_init(bsf);
}

int CAacEncoder::OpenResampler() {
    AVChannelLayout& layout = m_pCodecCtx->ch_layout;
    SwrContext* swr = nullptr;
    int rc = swr_alloc_set_opts2(&swr, &layout, m_pCodecCtx->sample_fmt, m_pCodecCtx->sample_rate,
                                 &layout, AV_SAMPLE_FMT_S16, m_pCodecCtx->sample_rate, 0, nullptr);
    if (rc < 0)
        return rc;
    m_pSwrCtx.reset(swr);
    return swr_init(swr);
}

void CAacEncoder::Close() {
    m_pSwrCtx.reset();
    m_pAdtsToAsc.reset();
    m_pCodecCtx.reset();
    m_pFifo.reset();
    m_pPacket.reset();
    m_pAdtsPacket.reset();
    m_pFilteredPacket.reset();
    m_pFrame.reset();
}

int CAacEncoder::Write(const uint8_t* pcm, int samples, const PacketSink& sink) {
    if (!IsOpen() || samples <= 0)
        return 0;
    m_convertBuffer.resize(static_cast<size_t>(samples));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_convertBuffer.data())};
    const uint8_t* in[1] = {pcm};
    // Same rate in and out: the resampler holds nothing back, every sample comes out now.
    const int converted = swr_convert(m_pSwrCtx.get(), out, samples, in, samples);
    if (converted < 0)
        return converted;
    if (converted != samples)
        return AVERROR_BUG;
    const int rc = av_audio_fifo_write(m_pFifo.get(), reinterpret_cast<void**>(out), converted);
    if (rc < converted)
        return rc < 0 ? rc : AVERROR(ENOMEM);
    return EncodeFullFrames(sink);
}

int CAacEncoder::WriteSilence(int64_t samples, const PacketSink& sink) {
    if (!IsOpen())
        return 0;
    m_convertBuffer.assign(kSilenceChunk, 0.0f);
    void* planes[1] = {m_convertBuffer.data()};
    while (samples > 0) {
        const int chunk = static_cast<int>(std::min<int64_t>(samples, kSilenceChunk));
        const int written = av_audio_fifo_write(m_pFifo.get(), planes, chunk);
        if (written < chunk)
            return written < 0 ? written : AVERROR(ENOMEM);
        samples -= chunk;
        if (const int rc = EncodeFullFrames(sink))
            return rc;
    }
    return 0;
}

int CAacEncoder::EncodeFullFrames(const PacketSink& sink) {
    const int frameSize = m_pCodecCtx->frame_size;
    while (av_audio_fifo_size(m_pFifo.get()) >= frameSize)
        if (const int rc = EncodeFromFifo(frameSize, sink))
            return rc;
    return 0;
}

int CAacEncoder::EncodeFromFifo(int samples, const PacketSink& sink) {
    AVFrame* frame = m_pFrame.get();
    av_frame_unref(frame);
    frame->nb_samples = samples;
    frame->format = m_pCodecCtx->sample_fmt;
    frame->sample_rate = m_pCodecCtx->sample_rate;
    int rc = av_channel_layout_copy(&frame->ch_layout, &m_pCodecCtx->ch_layout);
    if (rc >= 0)
        rc = av_frame_get_buffer(frame, 0);
    if (rc >= 0) {
        rc = av_audio_fifo_read(m_pFifo.get(), reinterpret_cast<void**>(frame->data), samples);
        rc = rc < 0 ? rc : rc < samples ? AVERROR_BUG : 0;
    }
    if (rc < 0) {
        av_frame_unref(frame);
        return rc;
    }
    frame->pts = m_nNextPts;
    m_nNextPts += samples;
    rc = avcodec_send_frame(m_pCodecCtx.get(), frame);
    av_frame_unref(frame);
    return rc < 0 ? rc : DrainEncoder(sink);
}

int CAacEncoder::DrainEncoder(const PacketSink& sink) {
    AVPacket* packet = m_pPacket.get();
    for (;;) {
        int rc = avcodec_receive_packet(m_pCodecCtx.get(), packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return 0;
        if (rc >= 0)
            rc = Filter(packet, sink);
        av_packet_unref(packet);
        if (rc < 0)
            return rc;
    }
}

int CAacEncoder::Filter(const AVPacket* encoded, const PacketSink& sink) {
    // Framed as ADTS, then turned back into a raw frame by the container's filter.
    AVPacket* adts = m_pAdtsPacket.get();
    av_packet_unref(adts);
    int rc = av_new_packet(adts, encoded->size + kAdtsHeaderSize);
    if (rc < 0)
        return rc;
    WriteAdtsHeader(adts->data, encoded->size);
    memcpy(adts->data + kAdtsHeaderSize, encoded->data, static_cast<size_t>(encoded->size));
    rc = av_packet_copy_props(adts, encoded);
    if (rc >= 0)
        rc = av_bsf_send_packet(m_pAdtsToAsc.get(), adts);
    if (rc < 0) {
        av_packet_unref(adts);
        return rc;
    }
    return DrainFilter(sink);
}

int CAacEncoder::DrainFilter(const PacketSink& sink) {
    AVPacket* packet = m_pFilteredPacket.get();
    for (;;) {
        const int rc = av_bsf_receive_packet(m_pAdtsToAsc.get(), packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return 0;
        if (rc < 0)
            return rc;
        sink(packet);
        av_packet_unref(packet);
    }
}

int CAacEncoder::Flush(const PacketSink& sink) {
    if (!IsOpen())
        return 0;
    const int rest = av_audio_fifo_size(m_pFifo.get());
    int rc = rest > 0 ? EncodeFromFifo(rest, sink) : 0;
    if (rc >= 0)
        rc = avcodec_send_frame(m_pCodecCtx.get(), nullptr);
    if (rc >= 0)
        rc = DrainEncoder(sink);
    if (rc >= 0)
        rc = av_bsf_send_packet(m_pAdtsToAsc.get(), nullptr);
    if (rc >= 0)
        rc = DrainFilter(sink);
    return rc < 0 ? rc : 0;
}

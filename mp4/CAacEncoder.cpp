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

bool CAacEncoder::Open(bool globalHeader) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder) {
        LogError("AddAudioStream Codec not found..");
        return false;
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
        return false;
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
    const int rc = avcodec_open2(ctx, encoder, nullptr);
    if (rc < 0) {
        LogError("AddAudioStream Could not open codec.. %s", AvErrorText(rc).c_str());
        return false;
    }
    if (!OpenFilter())
        return false;
    if (!OpenResampler())
        LogError("OpenOutput swr_init failed, audio is dropped..");
    return true;
}

bool CAacEncoder::OpenFilter() {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("aac_adtstoasc");
    AVBSFContext* bsf = nullptr;
    if (!filter || av_bsf_alloc(filter, &bsf) < 0)
        return false;
    m_pAdtsToAsc.reset(bsf);
    if (avcodec_parameters_from_context(bsf->par_in, m_pCodecCtx.get()) < 0)
        return false;
    bsf->time_base_in = m_pCodecCtx->time_base;
    return av_bsf_init(bsf) >= 0;
}

bool CAacEncoder::OpenResampler() {
    AVChannelLayout& layout = m_pCodecCtx->ch_layout;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &layout, m_pCodecCtx->sample_fmt, m_pCodecCtx->sample_rate,
                            &layout, AV_SAMPLE_FMT_S16, m_pCodecCtx->sample_rate, 0, nullptr) < 0)
        return false;
    m_pSwrCtx.reset(swr);
    if (swr_init(swr) < 0) {
        m_pSwrCtx.reset();
        return false;
    }
    return true;
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

void CAacEncoder::Write(const uint8_t* pcm, int samples, const PacketSink& sink) {
    if (!m_pSwrCtx || samples <= 0)
        return;
    m_convertBuffer.resize(static_cast<size_t>(samples));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_convertBuffer.data())};
    const uint8_t* in[1] = {pcm};
    const int converted = swr_convert(m_pSwrCtx.get(), out, samples, in, samples);
    if (converted > 0)
        av_audio_fifo_write(m_pFifo.get(), reinterpret_cast<void**>(out), converted);
    EncodeFullFrames(sink);
}

void CAacEncoder::WriteSilence(int64_t samples, const PacketSink& sink) {
    if (!m_pSwrCtx)
        return;
    m_convertBuffer.assign(kSilenceChunk, 0.0f);
    void* planes[1] = {m_convertBuffer.data()};
    while (samples > 0 && m_pCodecCtx) {
        const int chunk = static_cast<int>(std::min<int64_t>(samples, kSilenceChunk));
        if (av_audio_fifo_write(m_pFifo.get(), planes, chunk) < chunk)
            return;
        samples -= chunk;
        EncodeFullFrames(sink);
    }
}

void CAacEncoder::EncodeFullFrames(const PacketSink& sink) {
    const int frameSize = m_pCodecCtx->frame_size;
    while (av_audio_fifo_size(m_pFifo.get()) >= frameSize)
        if (!EncodeFromFifo(frameSize, sink))
            return; // out of memory: what is left waits for the next call
}

bool CAacEncoder::EncodeFromFifo(int samples, const PacketSink& sink) {
    AVFrame* frame = m_pFrame.get();
    av_frame_unref(frame);
    frame->nb_samples = samples;
    frame->format = m_pCodecCtx->sample_fmt;
    frame->sample_rate = m_pCodecCtx->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &m_pCodecCtx->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0)
        return false;
    if (av_audio_fifo_read(m_pFifo.get(), reinterpret_cast<void**>(frame->data), samples) < samples)
        return false;
    frame->pts = m_nNextPts;
    m_nNextPts += samples;
    const int rc = avcodec_send_frame(m_pCodecCtx.get(), frame);
    av_frame_unref(frame);
    if (rc >= 0)
        DrainEncoder(sink);
    return true;
}

void CAacEncoder::DrainEncoder(const PacketSink& sink) {
    AVPacket* packet = m_pPacket.get();
    while (avcodec_receive_packet(m_pCodecCtx.get(), packet) == 0) {
        Filter(packet, sink);
        av_packet_unref(packet);
    }
}

void CAacEncoder::Filter(const AVPacket* encoded, const PacketSink& sink) {
    // Framed as ADTS, then turned back into a raw frame by the container's filter.
    AVPacket* adts = m_pAdtsPacket.get();
    av_packet_unref(adts);
    if (av_new_packet(adts, encoded->size + kAdtsHeaderSize) < 0)
        return;
    WriteAdtsHeader(adts->data, encoded->size);
    memcpy(adts->data + kAdtsHeaderSize, encoded->data, static_cast<size_t>(encoded->size));
    av_packet_copy_props(adts, encoded);
    if (av_bsf_send_packet(m_pAdtsToAsc.get(), adts) < 0) {
        av_packet_unref(adts);
        return;
    }
    DrainFilter(sink);
}

void CAacEncoder::DrainFilter(const PacketSink& sink) {
    AVPacket* packet = m_pFilteredPacket.get();
    while (av_bsf_receive_packet(m_pAdtsToAsc.get(), packet) == 0) {
        sink(packet);
        av_packet_unref(packet);
    }
}

void CAacEncoder::Flush(const PacketSink& sink) {
    if (!m_pCodecCtx || !m_pSwrCtx)
        return;
    const int rest = av_audio_fifo_size(m_pFifo.get());
    if (rest > 0)
        EncodeFromFifo(rest, sink);
    if (avcodec_send_frame(m_pCodecCtx.get(), nullptr) >= 0)
        DrainEncoder(sink);
    if (av_bsf_send_packet(m_pAdtsToAsc.get(), nullptr) >= 0)
        DrainFilter(sink);
}

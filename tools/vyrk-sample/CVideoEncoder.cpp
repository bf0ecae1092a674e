#include "CVideoEncoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

CVideoEncoder::CVideoEncoder(const Settings& settings, int channel)
    : m_settings(settings), m_nChannel(channel), m_nNoiseState(0x9E3779B9u * (channel + 1)) {}

bool CVideoEncoder::Open(std::string& error) {
    const char* name = m_settings.h264 ? "libx264" : "libx265";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        error = std::string("the ") + name + " encoder is not available";
        return false;
    }
    m_pContext.reset(avcodec_alloc_context3(codec));
    m_pPacket.reset(av_packet_alloc());
    if (!m_pContext || !m_pPacket) {
        error = "out of memory";
        return false;
    }
    AVCodecContext* c = m_pContext.get();
    c->width = m_settings.width;
    c->height = m_settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, m_settings.fps};
    c->framerate = AVRational{m_settings.fps, 1};
    c->gop_size = m_settings.keyInterval;
    c->max_b_frames = m_settings.bFrames;
    c->thread_count = m_settings.threads;
    if (m_settings.bitRate > 0)
        c->bit_rate = m_settings.bitRate;
    av_opt_set(c->priv_data, "preset", m_settings.preset.c_str(), 0);
    const std::string params = "log-level=error:bframes=" + std::to_string(m_settings.bFrames) +
                               ":scenecut=0:keyint=" + std::to_string(m_settings.keyInterval) +
                               ":min-keyint=" + std::to_string(m_settings.keyInterval) +
                               (m_settings.threads <= 1 ? ":pools=none:frame-threads=1" : "");
    av_opt_set(c->priv_data, "x265-params", params.c_str(), 0);
    const int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0) {
        error = std::string("cannot open ") + name + ": " + AvErrorText(rc);
        return false;
    }
    return true;
}

void CVideoEncoder::Paint(AVFrame* frame, int index) {
    const bool flashes = !m_settings.flashPictures.empty();
    if (flashes && IsFlash(index)) {
        for (int y = 0; y < frame->height; ++y)
            memset(frame->data[0] + y * frame->linesize[0], 235, frame->width);
        PaintChroma(frame, 128, 128);
        return;
    }
    PaintLuma(frame, index, flashes);
    PaintChroma(frame, static_cast<uint8_t>(64 + ((m_nChannel * 37 + 50) % 128)),
                static_cast<uint8_t>(64 + ((m_nChannel * 37 + 100) % 128)));
}

// A gradient that moves with the picture index and a box that moves across it; dark pictures
// keep both (and the noise) faint so a plain white picture stands out clearly among them.
void CVideoEncoder::PaintLuma(AVFrame* frame, int index, bool dark) {
    const int w = frame->width, h = frame->height;
    const int boxSize = h / 4 > 8 ? h / 4 : 8;
    const int boxX = (index * (3 + m_nChannel) + m_nChannel * 29) % (w > boxSize ? w - boxSize : 1);
    const int boxY = (index * 2 + m_nChannel * 17) % (h > boxSize ? h - boxSize : 1);
    const int noise = dark ? std::min(m_settings.noise, 8) : m_settings.noise;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < w; ++x) {
            int v = (x * (m_nChannel + 1) + y * 2 + index * 4 + m_nChannel * 40) & 0xFF;
            if (dark)
                v = 16 + (v & 0x1F);
            if (x >= boxX && x < boxX + boxSize && y >= boxY && y < boxY + boxSize)
                v = dark ? 64 : 235 - (m_nChannel * 20) % 200;
            if (noise > 0) {
                m_nNoiseState = m_nNoiseState * 1664525u + 1013904223u;
                v += static_cast<int>((m_nNoiseState >> 24) % (2 * noise + 1)) - noise;
            }
            row[x] = static_cast<uint8_t>(v < 16 ? 16 : v > 235 ? 235 : v);
        }
    }
}

void CVideoEncoder::PaintChroma(AVFrame* frame, uint8_t u, uint8_t v) {
    const int w = frame->width, h = frame->height;
    for (int y = 0; y < h / 2; ++y) {
        memset(frame->data[1] + y * frame->linesize[1], u, w / 2);
        memset(frame->data[2] + y * frame->linesize[2], v, w / 2);
    }
}

bool CVideoEncoder::IsFlash(int index) const {
    const std::vector<int>& flashes = m_settings.flashPictures;
    return std::find(flashes.begin(), flashes.end(), index) != flashes.end();
}

bool CVideoEncoder::Encode(int pictures, std::vector<std::vector<uint8_t>>& units,
                           std::string& error) {
    std::vector<int64_t> pictureIndices;
    return Encode(pictures, units, pictureIndices, error);
}

bool CVideoEncoder::Encode(int pictures, std::vector<std::vector<uint8_t>>& units,
                           std::vector<int64_t>& pictureIndices, std::string& error) {
    FramePtrAV frame(av_frame_alloc());
    if (!frame) {
        error = "out of memory";
        return false;
    }
    frame->width = m_settings.width;
    frame->height = m_settings.height;
    frame->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "cannot allocate a picture";
        return false;
    }
    for (int i = 0; i < pictures; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) {
            error = "cannot write a picture";
            return false;
        }
        const int index = m_settings.firstPicture + i;
        Paint(frame.get(), index);
        frame->pts = index;
        const int rc = avcodec_send_frame(m_pContext.get(), frame.get());
        if (rc < 0 || !Drain(units, pictureIndices, error)) {
            if (error.empty())
                error = "encoding failed: " + AvErrorText(rc);
            return false;
        }
    }
    avcodec_send_frame(m_pContext.get(), nullptr);
    return Drain(units, pictureIndices, error);
}

bool CVideoEncoder::Drain(std::vector<std::vector<uint8_t>>& units,
                          std::vector<int64_t>& pictureIndices, std::string& error) {
    for (;;) {
        const int rc = avcodec_receive_packet(m_pContext.get(), m_pPacket.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            error = "encoding failed: " + AvErrorText(rc);
            return false;
        }
        units.emplace_back(m_pPacket->data, m_pPacket->data + m_pPacket->size);
        pictureIndices.push_back(m_pPacket->pts);
        av_packet_unref(m_pPacket.get());
    }
}

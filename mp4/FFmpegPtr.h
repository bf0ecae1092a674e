#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <string>

// Owning pointers for FFmpeg objects: each frees its object in exactly one place.
struct AVPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AVFrameDeleter {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct AVCodecContextDeleter {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SwrContextDeleter {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct AVAudioFifoDeleter {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct AVBSFContextDeleter {
    void operator()(AVBSFContext* p) const { av_bsf_free(&p); }
};
struct AVCodecParserContextDeleter {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

using PacketPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;
using FramePtrAV = std::unique_ptr<AVFrame, AVFrameDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AVAudioFifoDeleter>;
using BsfContextPtr = std::unique_ptr<AVBSFContext, AVBSFContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, AVCodecParserContextDeleter>;

// Text of an FFmpeg error code.
inline std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

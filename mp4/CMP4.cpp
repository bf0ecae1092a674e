#include "CMP4.h"

#include "FindNalUnit.h"
#include "Log.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

const AVRational kMilliseconds = {1, 1000};
const AVRational kAudioTimeBase = {1, CMP4::kAudioSampleRate};
const AVRational kVideoPacketDuration = {1, 33};
const int kAudioBitRate = 32768;
const int kAdtsHeaderSize = 7;
const unsigned kSamplingIndex44100 = 4;
const unsigned kChannelConfigMono = 1;
const uint8_t kStartCode[] = {0, 0, 0, 1};

// H.265 NAL unit types the muxer looks for while its output is not open.
enum HevcNal {
    kHevcVps = 32,
    kHevcSps = 33,
    kHevcPps = 34,
    kHevcPrefixSei = 39,
    kHevcLastVcl = 31
};
enum H264Nal { kH264Sps = 7, kH264Pps = 8 };

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

CMP4::CMP4()
    : m_pOutputCtx(nullptr), m_pAudioStream(nullptr), m_pVideoStream(nullptr), m_nBaseTimestamp(-1),
      m_nLastVideoPts(0), m_bHevc(true), m_nNextAudioPts(0), m_nLastAudioDts(INT64_MIN),
      m_nPendingBytes(0), m_bStop(0), m_bOutputFailed(false), m_bOutputOpened(false),
      m_bAccepting(false) {
    m_header.Clear();
}

CMP4::~CMP4() {
    Close();
}

void CMP4::MakeAudioSpecificConfig(unsigned samplingIndex, unsigned channelConfig, uint8_t* out) {
    out[0] = static_cast<uint8_t>((2 << 3) | (samplingIndex >> 1));
    out[1] = static_cast<uint8_t>(((samplingIndex & 1) << 7) | (channelConfig << 3));
}

// ---- setup ------------------------------------------------------------------------------------

bool CMP4::Open(std::string path, bool isHevc, const RecordingHeader* header) {
    m_strOutputPath = path;
    memcpy(m_header.bytes, header->bytes, RecordingHeader::kSize);
    m_bHevc = isHevc;
    if (avformat_alloc_output_context2(&m_pOutputCtx, nullptr, "mp4", m_strOutputPath.c_str()) <
        0) {
        m_pOutputCtx = nullptr;
        m_pVideoStream = nullptr;
        return false;
    }
    m_pAudioFifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, 1));
    m_pPacket.reset(av_packet_alloc());
    m_pFilteredPacket.reset(av_packet_alloc());
    m_pFrame.reset(av_frame_alloc());
    if (!m_pAudioFifo || !m_pPacket || !m_pFilteredPacket || !m_pFrame) {
        FreeMedia();
        return false;
    }
    m_bStop = 0;
    try {
        m_pThread = std::make_shared<std::thread>(&CMP4::Run, this);
    } catch (...) {
        FreeMedia();
        return false;
    }
    m_bAccepting = true;
    return true;
}

void CMP4::OpenOutput() {
    if (!m_pOutputCtx)
        return;
    m_nLastVideoPts = 0;
    const AVCodecID videoId = m_bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    m_pVideoStream = AddVideoStream(videoId);
    const bool parserOk = OpenParser(videoId);
    m_pAudioStream = AddAudioStream(AV_CODEC_ID_AAC);
    if (!m_pVideoStream || !m_pAudioStream || !parserOk || !OpenAudioFilter()) {
        FailOutput(false);
        return;
    }
    if (!OpenResampler())
        LogError("OpenOutput swr_init failed, audio is dropped..");
    av_dump_format(m_pOutputCtx, 0, m_strOutputPath.c_str(), 1);
    if (avio_open(&m_pOutputCtx->pb, m_strOutputPath.c_str(), AVIO_FLAG_WRITE) < 0) {
        printf("avio_open RTMP Error...");
        fflush(stdout);
        FailOutput(false);
        return;
    }
    printf("avio_open RTMP OK...");
    fflush(stdout);
    const int rc = avformat_write_header(m_pOutputCtx, nullptr);
    if (rc < 0) {
        printf("avformat_write_header Error %d .\n", rc);
        fflush(stdout);
        FailOutput(false);
        return;
    }
    m_bOutputOpened = true;
}

std::vector<uint8_t> CMP4::VideoExtradata() const {
    std::vector<uint8_t> extradata;
    for (const std::vector<uint8_t>* unit : {&m_vps, &m_sps, &m_pps, &m_sei})
        extradata.insert(extradata.end(), unit->begin(), unit->end());
    return extradata;
}

AVStream* CMP4::AddVideoStream(AVCodecID codecId) {
    if (!avcodec_find_encoder(codecId)) {
        LogError("AddVideoStream Codec not found..");
        return nullptr;
    }
    AVStream* stream = avformat_new_stream(m_pOutputCtx, nullptr);
    if (!stream) {
        LogError("AddVideoStream Could not alloc stream..");
        return nullptr;
    }
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = codecId;
    par->codec_tag = 0;
    par->bit_rate = m_header.videoBitRate();
    par->width = m_header.videoWidth();
    par->height = m_header.videoHeight();
    par->format = AV_PIX_FMT_YUV420P;
    par->level = 180;
    par->profile = 1;
    const std::vector<uint8_t> extradata = VideoExtradata();
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) {
        LogError("AddVideoStream Could not alloc stream..");
        return nullptr;
    }
    memcpy(par->extradata, extradata.data(), extradata.size());
    par->extradata_size = static_cast<int>(extradata.size());
    // A header without a usable frame rate leaves the rate unknown instead of dividing by zero.
    if (m_header.frameRateNum() > 0 && m_header.frameRateDen() > 0) {
        stream->avg_frame_rate = AVRational{m_header.frameRateNum(), m_header.frameRateDen()};
        stream->r_frame_rate = stream->avg_frame_rate;
    }
    return stream;
}

AVStream* CMP4::AddAudioStream(AVCodecID codecId) {
    const AVCodec* encoder = avcodec_find_encoder(codecId);
    if (!encoder) {
        LogError("AddAudioStream Codec not found..");
        return nullptr;
    }
    AVStream* stream = avformat_new_stream(m_pOutputCtx, nullptr);
    if (!stream) {
        LogError("AddAudioStream Could not alloc stream..");
        return nullptr;
    }
    m_pAudioCodecCtx.reset(avcodec_alloc_context3(encoder));
    if (!m_pAudioCodecCtx) {
        LogError("AddAudioStream Could not alloc stream..");
        return nullptr;
    }
    AVCodecContext* ctx = m_pAudioCodecCtx.get();
    ctx->codec_type = AVMEDIA_TYPE_AUDIO;
    ctx->codec_id = codecId;
    ctx->sample_rate = kAudioSampleRate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = kAudioBitRate;
    ctx->codec_tag = 0;
    ctx->time_base = kAudioTimeBase;
    if (m_pOutputCtx->oformat->flags & AVFMT_GLOBALHEADER)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    stream->time_base = kMilliseconds;
    const int rc = avcodec_open2(ctx, encoder, nullptr);
    if (rc < 0) {
        LogError("AddAudioStream Could not open codec.. %s", AvErrorText(rc).c_str());
        return nullptr;
    }
    if (avcodec_parameters_from_context(stream->codecpar, ctx) < 0) {
        LogError("AddAudioStream Could not alloc stream..");
        return nullptr;
    }
    // The stream describes itself with the two-byte AudioSpecificConfig (AAC-LC, 44.1 kHz, mono).
    av_freep(&stream->codecpar->extradata);
    stream->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!stream->codecpar->extradata) {
        stream->codecpar->extradata_size = 0;
        return nullptr;
    }
    MakeAudioSpecificConfig(kSamplingIndex44100, kChannelConfigMono, stream->codecpar->extradata);
    stream->codecpar->extradata_size = 2;
    return stream;
}

bool CMP4::OpenParser(AVCodecID codecId) {
    m_pParser.reset(av_parser_init(codecId));
    m_pParserCtx.reset(avcodec_alloc_context3(nullptr));
    if (!m_pParser || !m_pParserCtx)
        return false;
    // The parameter sets taken for the file header never reach the parser as units; it gets them
    // as extradata so it can read the first pictures' slice headers.
    const std::vector<uint8_t> extradata = VideoExtradata();
    m_pParserCtx->extradata =
        static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!m_pParserCtx->extradata)
        return false;
    memcpy(m_pParserCtx->extradata, extradata.data(), extradata.size());
    m_pParserCtx->extradata_size = static_cast<int>(extradata.size());
    return true;
}

bool CMP4::OpenAudioFilter() {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("aac_adtstoasc");
    AVBSFContext* bsf = nullptr;
    if (!filter || av_bsf_alloc(filter, &bsf) < 0)
        return false;
    m_pAdtsToAsc.reset(bsf);
    if (avcodec_parameters_from_context(bsf->par_in, m_pAudioCodecCtx.get()) < 0)
        return false;
    bsf->time_base_in = m_pAudioCodecCtx->time_base;
    return av_bsf_init(bsf) >= 0;
}

bool CMP4::OpenResampler() {
    AVChannelLayout& layout = m_pAudioCodecCtx->ch_layout;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &layout, m_pAudioCodecCtx->sample_fmt,
                            m_pAudioCodecCtx->sample_rate, &layout, AV_SAMPLE_FMT_S16,
                            m_pAudioCodecCtx->sample_rate, 0, nullptr) < 0)
        return false;
    m_pSwrCtx.reset(swr);
    if (swr_init(swr) < 0) {
        m_pSwrCtx.reset();
        return false;
    }
    return true;
}

void CMP4::FailOutput(bool headerWritten) {
    CloseFile(headerWritten);
    m_pVideoStream = nullptr;
    m_pAudioStream = nullptr;
    m_pSwrCtx.reset();
    m_bOutputFailed = true;
}

void CMP4::Close() {
    m_bAccepting = false;
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bStop = 1;
    }
    m_wake.notify_all();
    if (m_pThread) {
        if (m_pThread->joinable())
            m_pThread->join();
        m_pThread.reset();
    }
    FlushOutput();
    CloseFile(true);
    FreeMedia();
}

void CMP4::CloseFile(bool writeTrailer) {
    if (!m_pOutputCtx)
        return;
    if (m_pOutputCtx->pb) {
        // Without its trailer an MP4 cannot be played: such a file is removed, so every file
        // left behind is a finished one. The recording itself still holds the data.
        const int trailer = writeTrailer ? av_write_trailer(m_pOutputCtx) : AVERROR_UNKNOWN;
        const int closed = avio_closep(&m_pOutputCtx->pb);
        struct stat st;
        if (trailer < 0 || closed < 0) {
            printf("MP4 cannot finish %s (%d, %d), removed.\n", m_strOutputPath.c_str(), trailer,
                   closed);
            remove(m_strOutputPath.c_str());
            m_bOutputFailed = true;
        } else if (stat(m_strOutputPath.c_str(), &st) != 0) {
            printf("MP4 output %s disappeared while it was written.\n", m_strOutputPath.c_str());
            m_bOutputFailed = true;
        }
        fflush(stdout);
    }
    avformat_free_context(m_pOutputCtx);
    m_pOutputCtx = nullptr;
}

void CMP4::FreeMedia() {
    if (m_pOutputCtx) {
        avformat_free_context(m_pOutputCtx);
        m_pOutputCtx = nullptr;
    }
    m_pSwrCtx.reset();
    m_pParser.reset();
    m_pParserCtx.reset();
    m_pAdtsToAsc.reset();
    m_pAudioCodecCtx.reset();
    m_pAudioFifo.reset();
    m_pPacket.reset();
    m_pFilteredPacket.reset();
    m_pFrame.reset();
}

// ---- intake (reader thread) -------------------------------------------------------------------

void CMP4::InputVideo(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampMs) {
    if (!m_bAccepting || !data || size <= 0)
        return;
    uint64_t k = 0;
    ForEachNalUnit(data, size, [&](const uint8_t* unit, int32_t length) {
        auto frame = std::make_shared<SFFData>();
        frame->data.reserve(sizeof(kStartCode) + static_cast<size_t>(length));
        frame->data.assign(kStartCode, kStartCode + sizeof(kStartCode));
        frame->data.insert(frame->data.end(), unit, unit + length);
        frame->nNalType = m_bHevc ? static_cast<uint8_t>((unit[0] >> 1) & 0x3F)
                                  : static_cast<uint8_t>(unit[0] & 0x1F);
        frame->bIsVideo = 1;
        frame->extra = extra;
        frame->nTimestamp = timestampMs + k++;
        PushFrame(std::move(frame));
    });
}

void CMP4::InputAudio(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs) {
    if (!m_bAccepting || size < 0 || (size > 0 && !data))
        return;
    auto frame = std::make_shared<SFFData>();
    frame->data.assign(data, data + size);
    frame->nNalType = 0;
    frame->extra = extra;
    frame->nTimestamp = timestampUs / 1000;
    frame->bIsVideo = 0;
    PushFrame(std::move(frame));
}

void CMP4::PushFrame(FramePtr frame) {
    const int64_t size = static_cast<int64_t>(frame->data.size());
    bool wasEmpty;
    {
        Thread::Lock::CLockGuard guard(&m_frameQueue);
        wasEmpty = m_frameQueue.m_items.empty();
        InsertByTimestamp(m_frameQueue.m_items, std::move(frame));
        m_nPendingBytes += size;
    }
    if (wasEmpty) {
        // The writer may be idling; wake it instead of letting the frame wait out the pause.
        {
            std::lock_guard<std::mutex> lock(m_wakeMutex);
            m_bWork = true;
        }
        m_wake.notify_one();
    }
}

// ---- writer thread ----------------------------------------------------------------------------

bool CMP4::Run() {
    FramePtr frame;
    while (!m_bStop) {
        if (m_frameQueue.PopFront(frame)) {
            ProcessFrame(frame);
            frame.reset();
        } else {
            WaitForWork();
        }
    }
    while (m_frameQueue.PopFront(frame)) {
        ProcessFrame(frame);
        frame.reset();
    }
    return true;
}

void CMP4::WaitForWork() {
    // An idle writer looks again every 200 ms at the latest; a frame arriving in the empty queue
    // or Close wakes it at once.
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(200),
                    [this] { return m_bStop.load() != 0 || m_bWork; });
    m_bWork = false;
}

void CMP4::ProcessFrame(const FramePtr& frame) {
    if (frame->bIsVideo)
        WriteVideoFrame(frame);
    else
        WriteAudioFrame(frame);
    m_nPendingBytes -= static_cast<int64_t>(frame->data.size());
}

int64_t CMP4::SinceBase(uint64_t timestampMs) const {
    return static_cast<int64_t>(timestampMs - static_cast<uint64_t>(m_nBaseTimestamp));
}

void CMP4::CollectParameterSet(const SFFData& frame) {
    if (m_bHevc) {
        std::vector<uint8_t>* target = frame.nNalType == kHevcVps         ? &m_vps
                                       : frame.nNalType == kHevcSps       ? &m_sps
                                       : frame.nNalType == kHevcPps       ? &m_pps
                                       : frame.nNalType == kHevcPrefixSei ? &m_sei
                                                                          : nullptr;
        if (target) {
            *target = frame.data;
            m_bParameterSetsChanged = true;
        }
        return;
    }
    if (frame.nNalType == kH264Sps || frame.nNalType == kH264Pps) {
        (frame.nNalType == kH264Sps ? m_sps : m_pps) = frame.data;
        m_bParameterSetsChanged = true;
    }
    m_vps.clear();
}

bool CMP4::IsReadyToOpen(const SFFData& frame) {
    bool complete;
    if (!m_bHevc) {
        complete = !m_sps.empty() && !m_pps.empty();
    } else {
        // A prefix SEI completes the set; a stream without one opens at its first picture.
        complete = !m_vps.empty() && !m_sps.empty() && !m_pps.empty() &&
                   (!m_sei.empty() || frame.nNalType <= kHevcLastVcl);
    }
    if (!complete)
        return false;
    if (m_bParameterSetsChanged) {
        m_bParameterSetsChanged = false;
        m_bParameterSetsUsable = AreParameterSetsUsable();
    }
    return m_bParameterSetsUsable;
}

bool CMP4::AreParameterSetsUsable() const {
    // The MP4 writer parses the parameter sets again for the file's header, with far fewer
    // checks than a decoder: damaged ones can keep it busy for minutes. A decoder that refuses
    // them means waiting for the next, intact set.
    const AVCodec* decoder = avcodec_find_decoder(m_bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (!decoder)
        return true;
    CodecContextPtr ctx(avcodec_alloc_context3(decoder));
    if (!ctx)
        return false;
    std::vector<uint8_t> sets;
    for (const std::vector<uint8_t>* unit : {&m_vps, &m_sps, &m_pps})
        sets.insert(sets.end(), unit->begin(), unit->end());
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata)
        return false;
    memcpy(ctx->extradata, sets.data(), sets.size());
    ctx->extradata_size = static_cast<int>(sets.size());
    ctx->err_recognition = AV_EF_EXPLODE;
    ctx->thread_count = 1;
    return avcodec_open2(ctx.get(), decoder, nullptr) >= 0;
}

void CMP4::WriteVideoFrame(const FramePtr& frame) {
    if (!m_pVideoStream && m_pOutputCtx) {
        CollectParameterSet(*frame);
        if (IsReadyToOpen(*frame))
            OpenOutput();
    }
    if (!m_pVideoStream || !m_pOutputCtx)
        return;
    if (m_nBaseTimestamp == -1)
        m_nBaseTimestamp = static_cast<int64_t>(frame->nTimestamp);
    const int64_t sinceBase = SinceBase(frame->nTimestamp);
    if (sinceBase < 0)
        return;
    int64_t pts = av_rescale_q(sinceBase, kMilliseconds, m_pVideoStream->time_base);
    if (pts <= m_nLastVideoPts)
        pts = m_nLastVideoPts + 1;
    m_nLastVideoPts = pts;
    // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past its input, which must be
    // zero: hand it a padded copy instead of the frame's own bytes.
    m_parseBuffer.assign(frame->data.begin(), frame->data.end());
    m_parseBuffer.resize(frame->data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    ParseVideo(m_parseBuffer.data(), static_cast<int>(frame->data.size()), pts);
}

void CMP4::ParseVideo(const uint8_t* data, int size, int64_t pts) {
    // The parser hands out an access unit once the first unit of the next one arrives; it keeps
    // the time stamp each unit was fed with, so every access unit leaves with its own.
    int offset = 0;
    while (m_pOutputCtx) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used =
            av_parser_parse2(m_pParser.get(), m_pParserCtx.get(), &out, &outSize,
                             data ? data + offset : nullptr, size - offset, pts, pts, 0);
        if (used < 0)
            return;
        offset += used;
        if (outSize <= 0)
            return;
        const int64_t unitPts = m_pParser->pts != AV_NOPTS_VALUE ? m_pParser->pts : pts;
        // The parser cuts in front of "00 00 01", so the first zero of the next unit's four-byte
        // start code stays behind. A NAL unit never ends in a zero byte: drop such bytes.
        while (outSize > 0 && out[outSize - 1] == 0)
            --outSize;
        if (outSize > 0)
            WriteVideoPacket(out, outSize, unitPts, m_pParser->key_frame == 1);
        // Feeding nothing would mean "end of stream": stop once this buffer is used up.
        if (data && offset >= size)
            return;
    }
}

void CMP4::WriteVideoPacket(const uint8_t* data, int size, int64_t pts, bool keyFrame) {
    AVPacket* packet = m_pPacket.get();
    av_packet_unref(packet);
    if (av_new_packet(packet, size) < 0)
        return;
    memcpy(packet->data, data, static_cast<size_t>(size));
    packet->stream_index = m_pVideoStream->index;
    packet->pts = pts;
    packet->dts = pts;
    packet->duration = av_rescale_q(1, kVideoPacketDuration, m_pVideoStream->time_base);
    packet->pos = -1;
    if (keyFrame)
        packet->flags |= AV_PKT_FLAG_KEY;
    const int rc = av_interleaved_write_frame(m_pOutputCtx, packet);
    av_packet_unref(packet);
    if (rc < 0) {
        printf("MP4 av_interleaved_write_frame 2 Error . %d , PTS: %" PRId64 "\n", rc, pts);
        fflush(stdout);
        // What was written so far stays playable if the trailer can still be written.
        FailOutput(true);
    }
}

void CMP4::WriteAudioFrame(const FramePtr& frame) {
    if (!m_pOutputCtx || !m_pAudioStream || !m_pSwrCtx)
        return;
    if (m_nBaseTimestamp == -1)
        m_nBaseTimestamp = static_cast<int64_t>(frame->nTimestamp);
    const int64_t sinceBase = SinceBase(frame->nTimestamp);
    const int samples = static_cast<int>(frame->data.size() / 2);
    if (sinceBase < 0 || samples == 0)
        return;
    ConvertIntoFifo(frame->data.data(), samples);
    const int frameSize = m_pAudioCodecCtx->frame_size;
    int64_t pts = av_rescale_q(sinceBase, kMilliseconds, m_pAudioCodecCtx->time_base);
    // Every full encoder frame is encoded at once; the first keeps the record's time stamp, the
    // ones after it follow on from it.
    while (m_pOutputCtx && av_audio_fifo_size(m_pAudioFifo.get()) >= frameSize) {
        EncodeFromFifo(frameSize, pts);
        pts += frameSize;
    }
}

void CMP4::ConvertIntoFifo(const uint8_t* pcm, int samples) {
    m_convertBuffer.resize(static_cast<size_t>(samples));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_convertBuffer.data())};
    const uint8_t* in[1] = {pcm};
    const int converted = swr_convert(m_pSwrCtx.get(), out, samples, in, samples);
    if (converted > 0)
        av_audio_fifo_write(m_pAudioFifo.get(), reinterpret_cast<void**>(out), converted);
}

void CMP4::EncodeFromFifo(int samples, int64_t pts) {
    AVFrame* frame = m_pFrame.get();
    av_frame_unref(frame);
    frame->nb_samples = samples;
    frame->format = m_pAudioCodecCtx->sample_fmt;
    frame->sample_rate = m_pAudioCodecCtx->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &m_pAudioCodecCtx->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0)
        return;
    if (av_audio_fifo_read(m_pAudioFifo.get(), reinterpret_cast<void**>(frame->data), samples) <
        samples)
        return;
    frame->pts = pts;
    m_nNextAudioPts = pts + samples;
    const int rc = avcodec_send_frame(m_pAudioCodecCtx.get(), frame);
    av_frame_unref(frame);
    if (rc >= 0)
        DrainEncoder();
}

void CMP4::DrainEncoder() {
    AVPacket* packet = m_pPacket.get();
    while (m_pOutputCtx && avcodec_receive_packet(m_pAudioCodecCtx.get(), packet) == 0) {
        FilterAndWriteAudio(packet);
        av_packet_unref(packet);
    }
}

void CMP4::FilterAndWriteAudio(const AVPacket* encoded) {
    // Framed as ADTS, then turned back into a raw frame by the container's filter.
    PacketPtr adts(av_packet_alloc());
    if (!adts || av_new_packet(adts.get(), encoded->size + kAdtsHeaderSize) < 0)
        return;
    WriteAdtsHeader(adts->data, encoded->size);
    memcpy(adts->data + kAdtsHeaderSize, encoded->data, static_cast<size_t>(encoded->size));
    av_packet_copy_props(adts.get(), encoded);
    if (av_bsf_send_packet(m_pAdtsToAsc.get(), adts.get()) < 0)
        return;
    DrainFilter();
}

void CMP4::DrainFilter() {
    AVPacket* packet = m_pFilteredPacket.get();
    while (m_pOutputCtx && av_bsf_receive_packet(m_pAdtsToAsc.get(), packet) == 0) {
        packet->stream_index = m_pAudioStream->index;
        av_packet_rescale_ts(packet, m_pAudioCodecCtx->time_base, m_pAudioStream->time_base);
        if (packet->dts <= m_nLastAudioDts) {
            packet->dts = m_nLastAudioDts + 1;
            packet->pts = packet->dts;
        }
        m_nLastAudioDts = packet->dts;
        const int rc = av_interleaved_write_frame(m_pOutputCtx, packet);
        if (rc < 0) {
            printf("av_interleaved_write_frame  1 Error %d .\n", rc);
            fflush(stdout);
        }
        av_packet_unref(packet);
    }
}

void CMP4::FlushOutput() {
    if (!m_pOutputCtx || !m_pVideoStream)
        return;
    ParseVideo(nullptr, 0, m_nLastVideoPts);
    if (!m_pOutputCtx || !m_pSwrCtx)
        return;
    const int rest = av_audio_fifo_size(m_pAudioFifo.get());
    if (rest > 0)
        EncodeFromFifo(rest, m_nNextAudioPts);
    if (m_pOutputCtx && avcodec_send_frame(m_pAudioCodecCtx.get(), nullptr) >= 0)
        DrainEncoder();
    if (m_pOutputCtx && av_bsf_send_packet(m_pAdtsToAsc.get(), nullptr) >= 0)
        DrainFilter();
}

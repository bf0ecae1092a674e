#include "CMP4.h"

#include "FindNalUnit.h"
#include "Log.h"
#include "Platform.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

const AVRational kMicroseconds = {1, 1000000};
const AVRational kAudioTimeBase = {1, CMP4::kAudioSampleRate};
const AVRational kFallbackFrameRate = {30, 1};
const unsigned kSamplingIndex44100 = 4;
const unsigned kChannelConfigMono = 1;
const uint8_t kStartCode[] = {0, 0, 0, 1};
// Record times within one AAC frame of the sample count are jitter; gaps up to an hour are
// filled with silence, overlaps up to ten seconds trimmed. Anything beyond is a clock that jumped.
const int64_t kAudioTolerance = 1024;
const int64_t kMaxAudioGap = 3600LL * CMP4::kAudioSampleRate;
const int64_t kMaxAudioOverlap = 10LL * CMP4::kAudioSampleRate;

// H.265 NAL unit types the muxer looks for while its output is not open.
enum HevcNal {
    kHevcVps = 32,
    kHevcSps = 33,
    kHevcPps = 34,
    kHevcPrefixSei = 39,
    kHevcLastVcl = 31,
    kHevcFirstBla = 16,
    kHevcLastIdr = 20,
    kHevcCra = 21
};
enum H264Nal { kH264Idr = 5, kH264Sps = 7, kH264Pps = 8 };

double SamplesToMs(int64_t samples) {
    return static_cast<double>(samples) * 1000.0 / CMP4::kAudioSampleRate;
}

} // namespace

CMP4::CMP4()
    : m_pOutputCtx(nullptr), m_pAudioStream(nullptr), m_pVideoStream(nullptr), m_bHevc(true),
      m_assembler(true), m_nLastAudioDts(INT64_MIN), m_bStop(0),
      m_pStats(std::make_shared<SOutputStats>()), m_bOutputOpened(false), m_bAccepting(false) {
    m_header.Clear();
    m_audioSink = [this](AVPacket* packet) { WriteAudioPacket(packet); };
}

CMP4::~CMP4() {
    Close();
}

void CMP4::MakeAudioSpecificConfig(unsigned samplingIndex, unsigned channelConfig, uint8_t* out) {
    out[0] = static_cast<uint8_t>((2 << 3) | (samplingIndex >> 1));
    out[1] = static_cast<uint8_t>(((samplingIndex & 1) << 7) | (channelConfig << 3));
}

std::string CMP4::TemporaryPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + ".part";
}

// ---- setup ------------------------------------------------------------------------------------

bool CMP4::Open(std::string path, bool isHevc, const RecordingHeader* header) {
    m_strOutputPath = path;
    m_strTempPath = TemporaryPath(path);
    memcpy(m_header.bytes, header->bytes, RecordingHeader::kSize);
    m_bHevc = isHevc;
    m_assembler = CAccessUnitAssembler(isHevc);
    if (avformat_alloc_output_context2(&m_pOutputCtx, nullptr, "mp4", m_strTempPath.c_str()) < 0) {
        m_pOutputCtx = nullptr;
        m_pVideoStream = nullptr;
        return false;
    }
    m_pPacket.reset(av_packet_alloc());
    if (!m_pPacket) {
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
    const AVCodecID videoId = m_bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    m_pVideoStream = AddVideoStream(videoId);
    const bool parserOk = OpenParser(videoId);
    m_pAudioStream = AddAudioStream();
    if (!m_pVideoStream || !m_pAudioStream || !parserOk) {
        FailOutput();
        return;
    }
    av_dump_format(m_pOutputCtx, 0, m_strTempPath.c_str(), 1);
    const int opened = avio_open(&m_pOutputCtx->pb, m_strTempPath.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) {
        printf("avio_open RTMP Error...");
        fflush(stdout);
        m_pStats->Fail(OutputFailure::Create, opened);
        FailOutput();
        return;
    }
    printf("avio_open RTMP OK...");
    fflush(stdout);
    // With the index moved to the front the trailer rewrites the whole file: writing it to the
    // disk before then would write it twice.
    m_nWriteBackFd = m_options.faststart ? -1 : Platform::OpenForWriteBack(m_strTempPath);
    m_nWriteBackFrom = 0;
    AVDictionary* options = nullptr;
    // The index moves to the front when the trailer is written, read back through the file name.
    if (m_options.faststart && av_dict_set(&options, "movflags", "+faststart", 0) < 0) {
        m_pStats->Fail(OutputFailure::Create, AVERROR(ENOMEM));
        FailOutput();
        return;
    }
    const int rc = avformat_write_header(m_pOutputCtx, &options);
    av_dict_free(&options);
    if (rc < 0) {
        m_pStats->Fail(OutputFailure::Create, rc);
        printf("avformat_write_header Error %d .\n", rc);
        fflush(stdout);
        FailOutput();
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
    par->codec_tag = m_bHevc && m_options.hvc1Tag ? MKTAG('h', 'v', 'c', '1') : 0;
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

AVStream* CMP4::AddAudioStream() {
    if (!m_audio.Open((m_pOutputCtx->oformat->flags & AVFMT_GLOBALHEADER) != 0))
        return nullptr;
    AVStream* stream = avformat_new_stream(m_pOutputCtx, nullptr);
    if (!stream) {
        LogError("AddAudioStream Could not alloc stream..");
        return nullptr;
    }
    stream->time_base = kAudioTimeBase;
    if (avcodec_parameters_from_context(stream->codecpar, m_audio.Context()) < 0) {
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
    // Each input is one access unit (for H.265 cut after its first slice header): the parser
    // reads the slice header for the key flag and the picture order count, and no boundaries.
    m_pParser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
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

void CMP4::FailOutput() {
    CloseFile(false);
    m_pVideoStream = nullptr;
    m_pAudioStream = nullptr;
    m_audio.Close();
    m_pStats->Fail(OutputFailure::Create, AVERROR_UNKNOWN); // kept only if nothing said more
}

void CMP4::RequestClose() {
    m_bAccepting = false;
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bStop = 1;
    }
    m_wake.notify_all();
}

void CMP4::Close() {
    RequestClose();
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
    Platform::CloseWriteBack(m_nWriteBackFd);
    m_nWriteBackFd = -1;
    if (!m_pOutputCtx)
        return;
    if (m_pOutputCtx->pb) {
        // Only a file that was finished without any error gets its final name; anything else is
        // removed, so an earlier file of that name stays until a complete new one replaces it.
        const int trailer = writeTrailer ? av_write_trailer(m_pOutputCtx) : AVERROR_UNKNOWN;
        const int closed = avio_closep(&m_pOutputCtx->pb);
        struct stat st;
        if (stat(m_strTempPath.c_str(), &st) != 0) {
            printf("MP4 output %s disappeared while it was written.\n", m_strTempPath.c_str());
            m_pStats->Fail(OutputFailure::Disappeared, AVERROR(errno));
        } else if (trailer < 0 || closed < 0) {
            printf("MP4 cannot finish %s (%d, %d), removed.\n", m_strTempPath.c_str(), trailer,
                   closed);
            m_pStats->Fail(OutputFailure::Finish, trailer < 0 ? trailer : closed);
            remove(m_strTempPath.c_str());
        } else if (HasOutputFailed()) {
            printf("MP4 output %s failed, removed.\n", m_strTempPath.c_str());
            remove(m_strTempPath.c_str());
        } else if (const int error = Platform::CommitFile(m_strTempPath, m_strOutputPath)) {
            printf("MP4 cannot name %s %s (%s), removed.\n", m_strTempPath.c_str(),
                   m_strOutputPath.c_str(), strerror(error));
            m_pStats->Fail(OutputFailure::Finish, AVERROR(error));
            remove(m_strTempPath.c_str());
        } else {
            m_pStats->fileBytes = st.st_size;
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
    if (m_nDroppedHeldSamples > 0) {
        LogInfo("%s: %.0f ms of audio before the first picture exceeded what is held and was "
                "dropped",
                m_strOutputPath.c_str(), SamplesToMs(m_nDroppedHeldSamples));
        m_nDroppedHeldSamples = 0;
    }
    m_audio.Close();
    m_pParser.reset();
    m_pParserCtx.reset();
    m_pPacket.reset();
    m_pTimeline.reset();
    m_pAudioClock.reset();
    m_pictures.clear();
    m_heldAudio.clear();
    m_nHeldSamples = 0;
}

// ---- intake (reader thread) -------------------------------------------------------------------

void CMP4::InputVideo(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs) {
    if (!m_bAccepting || !data || size <= 0)
        return;
    ForEachNalUnit(data, size, [&](const uint8_t* unit, int32_t length) {
        auto frame = std::make_shared<SFFData>();
        // Room for the padding the parser needs, which the access unit adds.
        frame->data.reserve(sizeof(kStartCode) + static_cast<size_t>(length) +
                            CAccessUnitAssembler::kPadding);
        frame->data.assign(kStartCode, kStartCode + sizeof(kStartCode));
        frame->data.insert(frame->data.end(), unit, unit + length);
        frame->nNalType = m_bHevc ? static_cast<uint8_t>((unit[0] >> 1) & 0x3F)
                                  : static_cast<uint8_t>(unit[0] & 0x1F);
        frame->bIsVideo = 1;
        frame->extra = extra;
        frame->nTimestamp = timestampUs;
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
    frame->nTimestamp = timestampUs;
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
        m_pStats->pendingBytes += size;
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
    // The file is finished here, so that muxers asked to close together finish together.
    FlushOutput();
    CloseFile(true);
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
    const int64_t size = static_cast<int64_t>(frame->data.size()); // video bytes are taken
    if (frame->bIsVideo)
        WriteVideoFrame(frame);
    else
        WriteAudioFrame(frame);
    m_pStats->pendingBytes -= size;
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

bool CMP4::AreParameterSetsUsable() {
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
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0)
        return false;
    // Opening the decoder read the sequence parameter set: how many pictures may come later in
    // decode order and still be shown earlier.
    m_nReorderDepth = ctx->has_b_frames;
    return true;
}

void CMP4::WriteVideoFrame(const FramePtr& frame) {
    if (!m_pVideoStream && m_pOutputCtx) {
        CollectParameterSet(*frame);
        if (IsReadyToOpen(*frame))
            OpenOutput();
    }
    if (!m_pVideoStream || !m_pOutputCtx)
        return;
    CAccessUnitAssembler::SAccessUnit unit;
    if (m_assembler.Add(std::move(*frame), unit))
        HandleAccessUnit(unit);
}

void CMP4::HandleAccessUnit(CAccessUnitAssembler::SAccessUnit& unit) {
    if (unit.pictureNalType < 0)
        return; // units after the last picture show nothing
    uint8_t* out = nullptr;
    int outSize = 0;
    // The parser reads only the header part; the picture's own bytes stay as they are.
    av_parser_parse2(m_pParser.get(), m_pParserCtx.get(), &out, &outSize, unit.bytes.data(),
                     static_cast<int>(unit.headerSize), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    const bool key = outSize > 0 && m_pParser->key_frame == 1;
    const int64_t orderCount = m_pParser->output_picture_number;
    if (!m_bHasBase)
        SetBase(unit.timestampUs);
    if (!m_pTimeline)
        m_pTimeline = std::make_unique<CVideoTimeline>(m_nReorderDepth, FrameDurationTicks());
    const bool startsSequence = StartsSequence(unit.pictureNalType);
    m_bAfterEndOfSequence = unit.endsSequence;
    const int64_t stamp = VideoTicks(unit.timestampUs);
    m_pictures.push_back({std::move(unit.bytes), unit.size, key});
    m_pTimeline->Add(stamp, orderCount, startsSequence);
    WriteReadyPictures();
}

bool CMP4::StartsSequence(int pictureNalType) const {
    if (!m_bHevc)
        return pictureNalType == kH264Idr;
    // IDR and BLA pictures start their order count again; so does a CRA after an end of sequence.
    return (pictureNalType >= kHevcFirstBla && pictureNalType <= kHevcLastIdr) ||
           (pictureNalType == kHevcCra && m_bAfterEndOfSequence);
}

void CMP4::WriteReadyPictures() {
    CVideoTimeline::STimes times;
    while (m_pOutputCtx && m_pTimeline->Next(times)) {
        SPicture picture = std::move(m_pictures.front());
        m_pictures.pop_front();
        WriteVideoPacket(picture, times);
    }
}

int64_t CMP4::VideoTicks(uint64_t timestampUs) const {
    // Far outside any real recording's span a clock holds garbage; keep such times in a range
    // where the arithmetic on them stays exact.
    const int64_t kLimit = int64_t(1) << 52;
    const int64_t sinceBase =
        std::clamp(static_cast<int64_t>(timestampUs - m_nBaseUs), -kLimit, kLimit);
    return av_rescale_q_rnd(sinceBase, kMicroseconds, m_pVideoStream->time_base,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t CMP4::FrameDurationTicks() const {
    AVRational rate = kFallbackFrameRate;
    if (m_header.frameRateNum() > 0 && m_header.frameRateDen() > 0)
        rate = AVRational{m_header.frameRateNum(), m_header.frameRateDen()};
    return std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), m_pVideoStream->time_base));
}

namespace {

void FreeBytes(void* bytes, uint8_t*) {
    delete static_cast<std::vector<uint8_t>*>(bytes);
}

} // namespace

bool CMP4::WrapPicture(SPicture& picture, AVPacket* packet) {
    // The packet takes over the picture's bytes, zeroed padding included, instead of a copy.
    auto* bytes = new (std::nothrow) std::vector<uint8_t>(std::move(picture.bytes));
    if (!bytes)
        return false;
    static_assert(CAccessUnitAssembler::kPadding >= AV_INPUT_BUFFER_PADDING_SIZE,
                  "a packet needs the parser's padding");
    packet->buf = av_buffer_create(bytes->data(), bytes->size(), FreeBytes, bytes, 0);
    if (!packet->buf) {
        delete bytes;
        return false;
    }
    packet->data = bytes->data();
    packet->size = static_cast<int>(picture.size);
    return true;
}

void CMP4::WriteVideoPacket(SPicture& picture, const CVideoTimeline::STimes& times) {
    AVPacket* packet = m_pPacket.get();
    av_packet_unref(packet);
    if (!WrapPicture(picture, packet))
        return;
    packet->stream_index = m_pVideoStream->index;
    packet->pts = times.pts;
    packet->dts = times.dts;
    packet->duration = times.duration;
    packet->pos = -1;
    if (picture.key)
        packet->flags |= AV_PKT_FLAG_KEY;
    Count(packet, m_pVideoStream);
    const int rc = av_interleaved_write_frame(m_pOutputCtx, packet);
    av_packet_unref(packet);
    if (rc < 0) {
        m_pStats->Fail(OutputFailure::Write, rc);
        printf("MP4 av_interleaved_write_frame 2 Error . %d , PTS: %" PRId64 "\n", rc, times.pts);
        fflush(stdout);
        // The file is given up: no trailer, it is removed.
        FailOutput();
    }
}

// ---- audio ------------------------------------------------------------------------------------

void CMP4::WriteAudioFrame(const FramePtr& frame) {
    if (!m_pOutputCtx)
        return; // the output failed, or could not be set up
    if (!m_bHasBase) {
        if (!frame->data.empty())
            HoldAudio(frame);
    } else
        EncodeAudio(*frame);
}

void CMP4::HoldAudio(const FramePtr& frame) {
    // Until the first picture fixes the file's time line, audio waits here; the file may not
    // even be open yet.
    m_heldAudio.push_back(frame);
    m_nHeldSamples += static_cast<int64_t>(frame->data.size() / 2);
    while (m_nHeldSamples > kMaxHeldAudioSamples && m_heldAudio.size() > 1) {
        const int64_t samples = static_cast<int64_t>(m_heldAudio.front()->data.size() / 2);
        if (m_nDroppedHeldSamples == 0)
            LogInfo("%s: no picture yet after %.0f ms of audio; the oldest audio is dropped",
                    m_strOutputPath.c_str(), SamplesToMs(kMaxHeldAudioSamples));
        m_nDroppedHeldSamples += samples;
        m_nHeldSamples -= samples;
        m_heldAudio.pop_front();
    }
}

void CMP4::SetBase(uint64_t firstPictureUs) {
    // Audio recorded before the first picture moves the file's zero back, as far as what is
    // held could reach; a stray time stamp further back does not.
    const uint64_t window =
        static_cast<uint64_t>(kMaxHeldAudioSamples) * 1000000 / kAudioSampleRate;
    // A file without pictures (firstPictureUs UINT64_MAX) starts with its audio.
    const bool noPicture = firstPictureUs == UINT64_MAX;
    uint64_t base = firstPictureUs;
    for (const FramePtr& held : m_heldAudio)
        if (held->nTimestamp < base && (noPicture || firstPictureUs - held->nTimestamp <= window))
            base = held->nTimestamp;
    m_nBaseUs = base;
    m_bHasBase = true;
    m_pAudioClock = std::make_unique<CAudioClock>(kAudioSampleRate, static_cast<int64_t>(base),
                                                  kAudioTolerance, kMaxAudioGap, kMaxAudioOverlap);
    std::deque<FramePtr> held;
    held.swap(m_heldAudio);
    m_nHeldSamples = 0;
    for (const FramePtr& frame : held) {
        if (frame->nTimestamp >= base) {
            EncodeAudio(*frame);
        } else {
            LogInfo("%s: audio record stamped %.3f s before the first picture left out",
                    m_strOutputPath.c_str(),
                    static_cast<double>(firstPictureUs - frame->nTimestamp) / 1e6);
        }
    }
}

void CMP4::EncodeAudio(const SFFData& frame) {
    const int64_t samples = static_cast<int64_t>(frame.data.size() / 2);
    if (!m_pAudioStream || !m_audio.CanConvert() || samples == 0)
        return;
    const bool first = !m_pAudioClock->HasStarted();
    const CAudioClock::SPlacement place = m_pAudioClock->Place(frame.nTimestamp, samples);
    if (first)
        m_audio.Start(m_pAudioClock->FirstPosition());
    if (place.clockJumped)
        LogInfo("%s: the audio clock jumped by %.1f ms; the audio goes on without a break",
                m_strOutputPath.c_str(), SamplesToMs(place.driftSamples));
    if (place.silence > 0) {
        LogInfo("%s: %.1f ms of audio missing before %.3f s, filled with silence",
                m_strOutputPath.c_str(), SamplesToMs(place.silence),
                static_cast<double>(m_pAudioClock->NextPosition() - samples) / kAudioSampleRate);
        m_audio.WriteSilence(place.silence, m_audioSink);
    }
    if (place.skip > 0)
        LogInfo("%s: audio record overlaps the one before by %.1f ms, the overlap is left out",
                m_strOutputPath.c_str(), SamplesToMs(-place.driftSamples));
    m_audio.Write(frame.data.data() + 2 * place.skip, static_cast<int>(samples - place.skip),
                  m_audioSink);
}

void CMP4::WriteAudioPacket(AVPacket* packet) {
    if (!m_pOutputCtx || !m_pAudioStream)
        return;
    packet->stream_index = m_pAudioStream->index;
    av_packet_rescale_ts(packet, kAudioTimeBase, m_pAudioStream->time_base);
    if (packet->dts <= m_nLastAudioDts) {
        packet->dts = m_nLastAudioDts + 1;
        packet->pts = packet->dts;
    }
    m_nLastAudioDts = packet->dts;
    Count(packet, m_pAudioStream);
    const int rc = av_interleaved_write_frame(m_pOutputCtx, packet);
    if (rc < 0) {
        // The encoder is mid-call here: the file is given up when it is closed.
        m_pStats->Fail(OutputFailure::Write, rc);
        printf("av_interleaved_write_frame  1 Error %d .\n", rc);
        fflush(stdout);
    }
}

void CMP4::Count(const AVPacket* packet, const AVStream* stream) {
    // Counted as handed to the writer: the interleaving buffer holds a packet only briefly.
    const int64_t endUs =
        av_rescale_q(packet->pts + packet->duration, stream->time_base, kMicroseconds);
    m_pStats->packets.fetch_add(1, std::memory_order_relaxed);
    const int64_t bytes = m_pStats->bytes.fetch_add(packet->size, std::memory_order_relaxed);
    // What is written goes on to the disk while the conversion runs, so finishing the file does
    // not wait for all of it.
    if (bytes - m_nWriteBackFrom >= kWriteBackBytes) {
        Platform::StartWriteBack(m_nWriteBackFd);
        m_nWriteBackFrom = bytes;
    }
    if (endUs > m_pStats->mediaUs.load(std::memory_order_relaxed))
        m_pStats->mediaUs.store(endUs, std::memory_order_relaxed);
}

void CMP4::FlushOutput() {
    if (!m_pOutputCtx || !m_pVideoStream)
        return;
    CAccessUnitAssembler::SAccessUnit unit;
    if (m_assembler.Flush(unit))
        HandleAccessUnit(unit);
    if (m_pTimeline) {
        m_pTimeline->Flush();
        WriteReadyPictures();
    }
    if (!m_pOutputCtx)
        return;
    if (!m_bHasBase && !m_heldAudio.empty())
        SetBase(UINT64_MAX);
    m_audio.Flush(m_audioSink);
}

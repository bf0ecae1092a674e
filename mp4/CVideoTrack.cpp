#include "CVideoTrack.h"

#include "COutputFile.h"
#include "CRecordingClock.h"
#include "Log.h"
#include "NalUnitTypes.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const AVRational kMicroseconds = {1, 1000000};
const AVRational kFallbackFrameRate = {30, 1};
const AVRational kMilliseconds = {1, 1000};
// Pictures that cannot be decoded are held this long at most before they are written as they
// are: a stream without a random-access picture is shown from its start.
const size_t kMaxHiddenPictures = 600;

void FreeBytes(void* bytes, uint8_t*) {
    delete static_cast<std::vector<uint8_t>*>(bytes);
}

} // namespace

bool CVideoTrack::Configure(bool isHevc, const RecordingHeader& header,
                            const SOutputOptions& options) {
    m_bHevc = isHevc;
    m_header = header;
    m_options = options;
    m_sets = CParameterSets(isHevc);
    m_assembler = CAccessUnitAssembler(isHevc);
    m_pPacket.reset(av_packet_alloc());
    return m_pPacket != nullptr;
}

bool CVideoTrack::HasStream() const {
    return m_pStream && m_file.IsUsable();
}

bool CVideoTrack::AddStream() {
    const AVCodecID codecId = m_bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    if (!avcodec_find_encoder(codecId)) {
        LogError("AddVideoStream Codec not found..");
        m_file.Fail(OutputFailure::Create, AVERROR_ENCODER_NOT_FOUND);
        return false;
    }
    AVStream* stream = m_file.NewStream();
    if (!stream) {
        LogError("AddVideoStream Could not alloc stream..");
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
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
    const std::vector<uint8_t> extradata = m_sets.Extradata();
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) {
        LogError("AddVideoStream Could not alloc stream..");
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    memcpy(par->extradata, extradata.data(), extradata.size());
    par->extradata_size = static_cast<int>(extradata.size());
    // A header without a usable frame rate leaves the rate unknown instead of dividing by zero.
    if (m_header.frameRateNum() > 0 && m_header.frameRateDen() > 0) {
        stream->avg_frame_rate = AVRational{m_header.frameRateNum(), m_header.frameRateDen()};
        stream->r_frame_rate = stream->avg_frame_rate;
    }
    if (!m_strTimecode.empty() &&
        av_dict_set(&stream->metadata, "timecode", m_strTimecode.c_str(), 0) < 0) {
        LogError("AddVideoStream Could not alloc stream..");
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    m_pStream = stream;
    return true;
}

bool CVideoTrack::OpenParser() {
    m_pParser.reset(av_parser_init(m_bHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264));
    m_pParserCtx.reset(avcodec_alloc_context3(nullptr));
    if (!m_pParser || !m_pParserCtx) {
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    // Each input is one access unit (for H.265 cut after its first slice header): the parser
    // reads the slice header for the key flag and the picture order count, and no boundaries.
    m_pParser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    // The parameter sets taken for the file header never reach the parser as units; it gets them
    // as extradata so it can read the first pictures' slice headers.
    const std::vector<uint8_t> extradata = m_sets.Extradata();
    m_pParserCtx->extradata =
        static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!m_pParserCtx->extradata) {
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    memcpy(m_pParserCtx->extradata, extradata.data(), extradata.size());
    m_pParserCtx->extradata_size = static_cast<int>(extradata.size());
    return true;
}

void CVideoTrack::Write(CAccessUnitAssembler::SAccessUnit& unit) {
    uint8_t* out = nullptr;
    int outSize = 0;
    // The parser reads only the header part; the picture's own bytes stay as they are.
    av_parser_parse2(m_pParser.get(), m_pParserCtx.get(), &out, &outSize, unit.bytes.data(),
                     static_cast<int>(unit.headerSize), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    const bool key = outSize > 0 && m_pParser->key_frame == 1;
    const int64_t orderCount = m_pParser->output_picture_number;
    if (!m_pTimeline)
        m_pTimeline = std::make_unique<CVideoTimeline>(m_sets.ReorderDepth(), FrameDurationTicks());
    const bool startsSequence = StartsSequence(unit.pictureNalType);
    m_bAfterEndOfSequence = unit.endsSequence;
    const int64_t stamp = Ticks(unit.timestampUs);
    const bool hidden = IsHidden(unit.pictureNalType, key);
    m_pictures.push_back({std::move(unit.bytes), unit.size, key, hidden});
    m_pTimeline->Add(stamp, orderCount, startsSequence);
    WriteReadyPictures();
}

void CVideoTrack::Flush() {
    if (!m_pTimeline)
        return;
    m_pTimeline->Flush();
    WriteReadyPictures();
    WriteHidden(INT64_MIN); // nothing could be decoded: the pictures are shown as they are
}

bool CVideoTrack::IsHidden(int pictureNalType, bool key) {
    const bool randomAccess =
        m_bHevc ? pictureNalType >= kHevcFirstBla && pictureNalType <= kHevcLastIrap
                : pictureNalType == kH264Idr || key;
    if (randomAccess) {
        // Leading pictures that skip what came before are undecodable only after the first.
        m_bOpenedBySkipping = !m_bSeenRandomAccess && m_bHevc &&
                              (pictureNalType < kHevcFirstBla + 3 || pictureNalType == kHevcCra);
        m_bSeenRandomAccess = true;
        return false;
    }
    return !m_bSeenRandomAccess ||
           (m_bOpenedBySkipping && (pictureNalType == kHevcRaslN || pictureNalType == kHevcRaslR));
}

bool CVideoTrack::GetEdit(CMoovPatch::SEdit& edit) const {
    if (!m_pStream || !m_bShowing || m_nFirstDts == INT64_MIN || m_nShownPts < 0 ||
        m_nEndPts <= m_nShownPts)
        return false;
    edit.trackId = m_pStream->index + 1;
    edit.timeBase = m_pStream->time_base;
    edit.startTicks = m_nShownPts;
    edit.mediaTicks = m_nShownPts - m_nFirstDts;
    edit.endTicks = m_nEndPts;
    return true;
}

void CVideoTrack::Release() {
    m_pParser.reset();
    m_pParserCtx.reset();
    m_pPacket.reset();
    m_pTimeline.reset();
    m_pictures.clear();
    m_hidden.clear();
}

bool CVideoTrack::StartsSequence(int pictureNalType) const {
    if (!m_bHevc)
        return pictureNalType == kH264Idr;
    // IDR and BLA pictures start their order count again; so does a CRA after an end of sequence.
    return (pictureNalType >= kHevcFirstBla && pictureNalType <= kHevcLastIdr) ||
           (pictureNalType == kHevcCra && m_bAfterEndOfSequence);
}

void CVideoTrack::WriteReadyPictures() {
    CVideoTimeline::STimes times;
    while (m_file.IsUsable() && m_pTimeline->Next(times)) {
        SPicture picture = std::move(m_pictures.front());
        m_pictures.pop_front();
        if (!m_bShowing && picture.hidden && m_hidden.size() < kMaxHiddenPictures) {
            m_hidden.push_back({std::move(picture), times});
            continue;
        }
        if (!m_bShowing) {
            m_bShowing = true;
            m_nShownPts = times.pts;
            WriteHidden(picture.hidden ? INT64_MIN : times.pts);
        }
        // Leading pictures shown before the first decodable one follow it within the reorder
        // depth.
        if (!picture.hidden && m_nShownCounted <= m_pTimeline->ReorderDepth()) {
            m_nShownPts = std::min(m_nShownPts, times.pts);
            ++m_nShownCounted;
        }
        WritePacket(picture, times);
    }
}

void CVideoTrack::WriteHidden(int64_t firstShownPts) {
    if (m_hidden.empty() || !m_file.IsUsable())
        return;
    if (firstShownPts == INT64_MIN) {
        m_bShowing = true;
        m_nShownCounted = INT32_MAX;
        m_nShownPts = m_hidden.front().times.pts;
    }
    // The writer starts its edit with an empty stretch when the first packet is presented a
    // millisecond or more into the file. Where the first shown picture is that late, the hidden
    // pictures are presented just as late (still before it), so the edit has room for its start.
    const int64_t ms = av_rescale_q(1, kMilliseconds, m_pStream->time_base);
    const int64_t count = static_cast<int64_t>(m_hidden.size());
    const bool lift =
        firstShownPts != INT64_MIN && m_hidden.front().times.pts < ms && firstShownPts > ms + count;
    for (int64_t i = 0; i < count && m_file.IsUsable(); ++i) {
        SHiddenPicture& h = m_hidden[static_cast<size_t>(i)];
        if (lift)
            h.times.pts = std::max({h.times.pts, h.times.dts, ms + i});
        WritePacket(h.picture, h.times);
    }
    m_hidden.clear();
}

int64_t CVideoTrack::Ticks(uint64_t timestampUs) const {
    return av_rescale_q_rnd(m_clock.SinceZeroUs(timestampUs), kMicroseconds, m_pStream->time_base,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t CVideoTrack::FrameDurationTicks() const {
    AVRational rate = kFallbackFrameRate;
    if (m_header.frameRateNum() > 0 && m_header.frameRateDen() > 0)
        rate = AVRational{m_header.frameRateNum(), m_header.frameRateDen()};
    return std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), m_pStream->time_base));
}

bool CVideoTrack::WrapPicture(SPicture& picture, AVPacket* packet) {
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

void CVideoTrack::WritePacket(SPicture& picture, const CVideoTimeline::STimes& times) {
    if (!m_file.IsUsable())
        return; // given up by a failure while its pictures were being written
    AVPacket* packet = m_pPacket.get();
    av_packet_unref(packet);
    if (!WrapPicture(picture, packet)) {
        FailFile(AVERROR(ENOMEM), times.pts); // a file with a picture missing would not decode
        return;
    }
    packet->stream_index = m_pStream->index;
    packet->pts = times.pts;
    packet->dts = times.dts;
    packet->duration = times.duration;
    if (m_nFirstDts == INT64_MIN)
        m_nFirstDts = times.dts;
    m_nEndPts = std::max(m_nEndPts, times.pts + times.duration);
    packet->pos = -1;
    if (picture.key)
        packet->flags |= AV_PKT_FLAG_KEY;
    const int rc = m_file.Write(packet, m_pStream);
    av_packet_unref(packet);
    if (rc < 0)
        FailFile(rc, times.pts);
}

void CVideoTrack::FailFile(int rc, int64_t pts) {
    m_file.Fail(OutputFailure::Write, rc);
    printf("MP4 av_interleaved_write_frame 2 Error . %d , PTS: %" PRId64 "\n", rc, pts);
    fflush(stdout);
    // The file is given up: no trailer, it is removed.
    m_file.Discard();
}

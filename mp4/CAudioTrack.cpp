#include "CAudioTrack.h"

#include "COutputFile.h"
#include "CRecordingClock.h"
#include "Log.h"

#include <climits>
#include <cstdio>

namespace {

const AVRational kAudioTimeBase = {1, CAudioTrack::kSampleRate};
const unsigned kSamplingIndex44100 = 4;
const unsigned kChannelConfigMono = 1;
// Record times within one AAC frame of the sample count are jitter; gaps up to an hour are
// filled with silence, overlaps up to ten seconds trimmed. Anything beyond is a clock that jumped.
const int64_t kAudioTolerance = 1024;
const int64_t kMaxAudioGap = 3600LL * CAudioTrack::kSampleRate;
const int64_t kMaxAudioOverlap = 10LL * CAudioTrack::kSampleRate;
// Audio starting this soon after the file is led in with silence from the file's start: the
// writer's own edit then skips the priming samples. Later audio gets an edit of its own.
const int64_t kLeadInSamples = 2 * 1024;
const int64_t kPrimingSamples = 1024;

double SamplesToMs(int64_t samples) {
    return static_cast<double>(samples) * 1000.0 / CAudioTrack::kSampleRate;
}

} // namespace

CAudioTrack::CAudioTrack(COutputFile& file, const CRecordingClock& clock)
    : m_file(file), m_clock(clock), m_nLastDts(INT64_MIN) {
    m_sink = [this](AVPacket* packet) { WritePacket(packet); };
}

void CAudioTrack::MakeAudioSpecificConfig(unsigned samplingIndex, unsigned channelConfig,
                                          uint8_t* out) {
    out[0] = static_cast<uint8_t>((2 << 3) | (samplingIndex >> 1));
    out[1] = static_cast<uint8_t>(((samplingIndex & 1) << 7) | (channelConfig << 3));
}

bool CAudioTrack::AddStream() {
    const int opened = m_encoder.Open(m_file.WantsGlobalHeader());
    if (opened < 0) {
        m_file.Fail(OutputFailure::Encode, opened);
        return false;
    }
    AVStream* stream = m_file.NewStream();
    const int rc = stream ? avcodec_parameters_from_context(stream->codecpar, m_encoder.Context())
                          : AVERROR(ENOMEM);
    if (rc < 0) {
        LogError("AddAudioStream Could not alloc stream..");
        m_file.Fail(OutputFailure::Create, rc);
        return false;
    }
    stream->time_base = kAudioTimeBase;
    // The stream describes itself with the two-byte AudioSpecificConfig (AAC-LC, 44.1 kHz, mono).
    av_freep(&stream->codecpar->extradata);
    stream->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!stream->codecpar->extradata) {
        stream->codecpar->extradata_size = 0;
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    MakeAudioSpecificConfig(kSamplingIndex44100, kChannelConfigMono, stream->codecpar->extradata);
    stream->codecpar->extradata_size = 2;
    m_pStream = stream;
    return true;
}

void CAudioTrack::Add(const FramePtr& record) {
    if (!m_file.IsUsable())
        return; // the output failed, or could not be set up
    if (!m_clock.HasZero() || !m_bStarted) {
        if (!record->data.empty())
            Hold(record);
    } else
        Encode(*record);
}

void CAudioTrack::Hold(const FramePtr& record) {
    m_held.push_back(record);
    m_nHeldSamples += static_cast<int64_t>(record->data.size() / 2);
    while (m_nHeldSamples > kMaxHeldSamples && m_held.size() > 1) {
        const int64_t samples = static_cast<int64_t>(m_held.front()->data.size() / 2);
        if (m_nDroppedHeldSamples == 0)
            LogInfo("%s: no picture yet after %.0f ms of audio; the oldest audio is dropped",
                    m_file.Path().c_str(), SamplesToMs(kMaxHeldSamples));
        m_nDroppedHeldSamples += samples;
        m_nHeldSamples -= samples;
        m_held.pop_front();
    }
}

uint64_t CAudioTrack::ZeroFor(uint64_t firstPictureUs) const {
    // Audio recorded before the first picture moves the file's zero back, as far as what is
    // held could reach; a stray time stamp further back does not.
    const uint64_t window = static_cast<uint64_t>(kMaxHeldSamples) * 1000000 / kSampleRate;
    const bool noPicture = firstPictureUs == UINT64_MAX;
    uint64_t zero = firstPictureUs;
    for (const FramePtr& held : m_held)
        if (held->nTimestamp < zero && (noPicture || firstPictureUs - held->nTimestamp <= window))
            zero = held->nTimestamp;
    return zero;
}

void CAudioTrack::Start(uint64_t firstPictureUs) {
    const uint64_t zero = m_clock.ZeroUs();
    m_bStarted = true;
    m_pAudioClock = std::make_unique<CAudioClock>(kSampleRate, static_cast<int64_t>(zero),
                                                  kAudioTolerance, kMaxAudioGap, kMaxAudioOverlap);
    std::deque<FramePtr> held;
    held.swap(m_held);
    m_nHeldSamples = 0;
    for (const FramePtr& record : held) {
        if (record->nTimestamp >= zero) {
            Encode(*record);
        } else {
            LogInfo("%s: audio record stamped %.3f s before the first picture left out",
                    m_file.Path().c_str(),
                    static_cast<double>(firstPictureUs - record->nTimestamp) / 1e6);
        }
    }
}

void CAudioTrack::Encode(const SFFData& record) {
    const int64_t samples = static_cast<int64_t>(record.data.size() / 2);
    if (!m_pStream || !m_file.IsUsable() || !m_encoder.IsOpen() || samples == 0)
        return;
    const bool first = !m_pAudioClock->HasStarted();
    const CAudioClock::SPlacement place = m_pAudioClock->Place(record.nTimestamp, samples);
    int rc = 0;
    if (first) {
        const int64_t position = m_pAudioClock->FirstPosition();
        const bool leadIn = position > 0 && position < kLeadInSamples;
        m_nShownStart = leadIn ? 0 : position;
        m_encoder.Start(leadIn ? 0 : position);
        if (leadIn)
            rc = m_encoder.WriteSilence(position, m_sink);
    }
    if (place.clockJumped)
        LogInfo("%s: the audio clock jumped by %.1f ms; the audio goes on without a break",
                m_file.Path().c_str(), SamplesToMs(place.driftSamples));
    if (place.silence > 0 && rc == 0) {
        LogInfo("%s: %.1f ms of audio missing before %.3f s, filled with silence",
                m_file.Path().c_str(), SamplesToMs(place.silence),
                static_cast<double>(m_pAudioClock->NextPosition() - samples) / kSampleRate);
        rc = m_encoder.WriteSilence(place.silence, m_sink);
    }
    if (place.skip > 0)
        LogInfo("%s: audio record overlaps the one before by %.1f ms, the overlap is left out",
                m_file.Path().c_str(), SamplesToMs(-place.driftSamples));
    if (rc == 0)
        rc = m_encoder.Write(record.data.data() + 2 * place.skip,
                             static_cast<int>(samples - place.skip), m_sink);
    if (rc < 0)
        FailEncoding(rc);
}

void CAudioTrack::Flush() {
    if (!m_pStream || !m_file.IsUsable())
        return;
    if (const int rc = m_encoder.Flush(m_sink))
        FailEncoding(rc);
}

void CAudioTrack::FailEncoding(int rc) {
    // Samples are lost: the file is failed (and removed once it is closed) rather than left
    // with a gap nobody is told about. The encoder is done with.
    LogError("%s: encoding the audio failed (%s); the file is given up", m_file.Path().c_str(),
             AvErrorText(rc).c_str());
    m_file.Fail(OutputFailure::Encode, rc);
    m_encoder.Close();
}

bool CAudioTrack::GetEdit(CMoovPatch::SEdit& edit) const {
    if (!m_pStream || !m_pAudioClock || m_nShownStart < kLeadInSamples)
        return false;
    edit.trackId = m_pStream->index + 1;
    edit.timeBase = kAudioTimeBase;
    edit.startTicks = m_nShownStart;
    edit.mediaTicks = kPrimingSamples;
    edit.endTicks = m_pAudioClock->NextPosition();
    return true;
}

void CAudioTrack::WritePacket(AVPacket* packet) {
    if (!m_pStream || !m_file.IsUsable())
        return;
    packet->stream_index = m_pStream->index;
    av_packet_rescale_ts(packet, kAudioTimeBase, m_pStream->time_base);
    if (packet->dts <= m_nLastDts) {
        packet->dts = m_nLastDts + 1;
        packet->pts = packet->dts;
    }
    m_nLastDts = packet->dts;
    const int rc = m_file.Write(packet, m_pStream);
    if (rc < 0) {
        // The encoder is mid-call here: the file is given up when it is closed.
        m_file.Fail(OutputFailure::Write, rc);
        printf("av_interleaved_write_frame  1 Error %d .\n", rc);
        fflush(stdout);
    }
}

void CAudioTrack::Release() {
    if (m_nDroppedHeldSamples > 0) {
        LogInfo("%s: %.0f ms of audio before the first picture exceeded what is held and was "
                "dropped",
                m_file.Path().c_str(), SamplesToMs(m_nDroppedHeldSamples));
        m_nDroppedHeldSamples = 0;
    }
    m_encoder.Close();
    m_pAudioClock.reset();
    m_bStarted = false;
    m_nShownStart = 0;
    m_held.clear();
    m_nHeldSamples = 0;
}

#include "CVyrkConverter.h"

#include "ConversionText.h"
#include "Log.h"
#include "Platform.h"
#include "RecordHeader.h"
#include "RecordingOrigin.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>
#include <sys/stat.h>

namespace {

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

CVyrkConverter::CVyrkConverter()
    : m_pLoader(nullptr), m_pClock(std::make_shared<CRecordingClock>()),
      m_pTimeLine(std::make_unique<CRecordingTimeLine>(
          [this](const CRecordingTimeLine::SRecord& r, uint64_t t) { Deliver(r, t); },
          [this](uint64_t zeroUs) { SetZero(zeroUs); })) {
    m_results.fill(ChannelResult::None);
    m_start.channelStartUs.fill(-1);
}

CVyrkConverter::~CVyrkConverter() {
    // The reader ends first (closing the files it fed), then any writer still running, which
    // may wake the reader, and only then the reader goes.
    if (m_pLoader)
        m_pLoader->Stop();
    for (auto& muxer : m_pMP4)
        muxer.reset();
    delete m_pLoader;
    m_pLoader = nullptr;
}

bool CVyrkConverter::Init(std::string path, std::string prefix) {
    m_pLoader = new CFileLoader();
    if (!m_pLoader->Init(path)) {
        if (m_pLoader->GetFileKind() != CFileLoader::FileKind::Regular) {
            // Refused for what it is: no file to open.
            m_initFailure = Failure::NotAFile;
            m_bOpened = true;
            return false;
        }
        m_nOpenError = m_pLoader->GetOpenError() != 0 ? m_pLoader->GetOpenError() : EIO;
        Platform::ShowUserMessage("m_pLoader->Init Error.", "m_pLoader->Init Error.");
        return false;
    }
    m_bOpened = true;
    m_strPrefix = prefix;
    const RecordingHeader& header = m_pLoader->m_header;
    m_initFailure = CheckRecording();
    if (m_initFailure != Failure::None)
        return false;
    if (header.frameRateNum() > 0 && header.frameRateDen() > 0)
        m_nFrameUs =
            std::max<int64_t>(1, int64_t(1000000) * header.frameRateDen() / header.frameRateNum());
    m_lossWatch.SetFrameDuration(m_nFrameUs);
    // A writer whose taking brings what all hold under the low-water mark (or to nothing) lets
    // the paused reader go on at once.
    m_pLoader->SetQueueBudget(m_nQueueBudget);
    CFileLoader* loader = m_pLoader;
    m_pBudget = std::make_shared<CQueueBudget>(m_pLoader->LowWater(), [loader] { loader->Wake(); });
    m_strRecordingName =
        path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const int slots = ChannelSlots();
    for (int32_t i = 0; i < slots; ++i)
        CreateChannel(i);
    return true;
}

// Why the recording cannot be converted at all, judged from its magic and header.
CVyrkConverter::Failure CVyrkConverter::CheckRecording() const {
    const RecordingHeader& header = m_pLoader->m_header;
    if (m_pLoader->GetReadError() != 0)
        return Failure::ReadError;
    if (!m_pLoader->IsRecognised())
        return Failure::NotARecording;
    if (header.channelCount() <= 0)
        return Failure::NoChannels;
    if (header.videoWidth() <= 0 || header.videoHeight() <= 0)
        return Failure::DamagedHeader;
    return Failure::None;
}

int CVyrkConverter::ChannelSlots() const {
    if (!m_pLoader)
        return 0;
    return std::max(0, std::min<int>(m_pLoader->GetChannelCount(), kMaxChannels));
}

int CVyrkConverter::GetChannelSlots() const {
    return ChannelSlots();
}

bool CVyrkConverter::CreateChannel(int32_t index) {
    char name[kFileNameBufferSize] = {};
    const int length = snprintf(name, sizeof(name), "%s%d.mp4", m_strPrefix.c_str(), index);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(name)) {
        LogError("CreateChannel file name too long for channel %d: %s%d.mp4", index,
                 m_strPrefix.c_str(), index);
        m_results[static_cast<size_t>(index)] = ChannelResult::Failed;
        return false;
    }
    const size_t slot = static_cast<size_t>(index);
    m_strFile[slot] = name;
    m_pMP4[slot] = std::make_shared<CMP4>(m_pClock);
    m_pMP4[slot]->SetOutputOptions(m_options);
    const size_t dot = m_strRecordingName.rfind('.');
    m_pMP4[slot]->SetFileTags(m_strRecordingName.substr(0, dot == 0 ? std::string::npos : dot) +
                                  " channel " + std::to_string(index),
                              m_strRecordingName);
    m_stats[slot] = m_pMP4[slot]->GetStats();
    m_pMP4[slot]->SetQueueBudget(m_pBudget);
    if (m_pMP4[slot]->Open(name, true, &m_pLoader->m_header))
        return true;
    // The muxer recorded why; its stats outlive it.
    LogError("CreateChannel cannot set up channel %d's file %s", index, name);
    m_results[slot] = ChannelResult::Failed;
    m_pMP4[slot].reset();
    return false;
}

bool CVyrkConverter::Start() {
    if (!m_pLoader || m_initFailure != Failure::None)
        return false;
    m_pLoader->SetCallback(this);
    return m_pLoader->Start();
}

void CVyrkConverter::Stop() {
    m_bStopRequested = true;
    if (m_pLoader)
        m_pLoader->Stop();
}

bool CVyrkConverter::IsFinished() const {
    return m_pLoader ? m_pLoader->IsFinished() : false;
}

int32_t CVyrkConverter::OnData(const uint8_t* header, const uint8_t* payload) {
    const RecordHeader h = RecordHeader::Decode(header);
    CMP4* muxer = h.channel < kMaxChannels ? m_pMP4[h.channel].get() : nullptr;
    const bool video = h.type == RecordHeader::kVideo && h.subType == 0;
    if (muxer && (video || h.type == RecordHeader::kAudio)) {
        const int32_t size = static_cast<int32_t>(h.payloadSize);
        const int64_t durationUs =
            video ? m_nFrameUs : int64_t(std::max<int32_t>(size, 0) / 2) * 1000000 / 44100;
        const bool afterDamage =
            video && m_lossWatch.LostBefore(h.channel, h.timestamp, m_pLoader->GetDamage().places);
        m_pTimeLine->Add({h.channel * 2 + (video ? 0 : 1), h.timestamp, durationUs, payload, size,
                          h.extra, afterDamage});
    }
    // The reader pauses on what all channels hold together, so memory stays bounded however
    // many channels a recording has.
    return static_cast<int32_t>(std::min<int64_t>(PendingBytes(), INT32_MAX));
}

int64_t CVyrkConverter::PendingBytes() const {
    return m_pBudget ? m_pBudget->Held() : 0;
}

int64_t CVyrkConverter::GetPendingBytes() {
    return PendingBytes();
}

void CVyrkConverter::Deliver(const CRecordingTimeLine::SRecord& record, uint64_t timeUs) {
    CMP4* muxer = m_pMP4[static_cast<size_t>(record.stream / 2)].get();
    if (!muxer)
        return;
    if (record.afterDamage)
        muxer->SkipToRandomAccess();
    if (record.stream % 2 == 0)
        muxer->InputVideo(record.data, record.size, record.extra, timeUs);
    else
        muxer->InputAudio(record.data, record.size, record.extra, timeUs);
}

void CVyrkConverter::SetZero(uint64_t zeroUs) {
    // Before the first frame reaches a muxer: every writer thread sees it.
    const RecordingHeader& header = m_pLoader->m_header;
    m_pClock->SetZero(zeroUs,
                      MakeRecordingOrigin(zeroUs, header.frameRateNum(), header.frameRateDen()));
}

void CVyrkConverter::NoteStart() {
    m_start.known = m_pTimeLine->HasZero();
    if (!m_start.known)
        return;
    m_start.zeroUs = m_pTimeLine->ZeroUs();
    m_start.wallClock = IsWallClock(m_start.zeroUs);
    m_start.origin = m_pClock->Origin();
    m_start.clockSteps = m_pTimeLine->ClockSteps();
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        int64_t video = -1, audio = -1;
        const bool hasVideo = m_pTimeLine->StreamStart(ch * 2, video);
        const bool hasAudio = m_pTimeLine->StreamStart(ch * 2 + 1, audio);
        m_start.channelStartUs[static_cast<size_t>(ch)] = hasVideo && hasAudio
                                                              ? std::min(video, audio)
                                                          : hasVideo ? video
                                                                     : audio;
    }
}

void CVyrkConverter::OnEnd(int32_t status, int32_t, int32_t) {
    if (status != 0)
        return;
    try {
        m_pTimeLine->Finish();
        NoteStart();
    } catch (...) {
        // What the time line still held is lost: no file may pass for complete.
        LogError("the last records could not be placed (out of memory)");
        m_bOutOfMemory = true;
    }
    CloseChannels(EndedEarly());
    NoteDamage();
}

void CVyrkConverter::NoteDamage() {
    const SReadDamage read = m_pLoader->GetDamage();
    m_damage.bytes = read.bytes;
    m_damage.places = read.places;
    m_damage.firstOffset = read.firstOffset;
    m_damage.spanUs = read.spanUs;
    for (const auto& stats : m_stats)
        if (stats)
            m_damage.pictures += stats->picturesDamaged.load();
}

bool CVyrkConverter::EndedEarly() const {
    return Aborted() || !m_pLoader->HasReadToEnd() || m_pLoader->GetReadError() != 0;
}

bool CVyrkConverter::Aborted() const {
    return m_bOutOfMemory || m_pLoader->GetAbortError() != 0;
}

void CVyrkConverter::CloseChannels(bool endedEarly) {
    // A conversion that ended early leaves a complete earlier file under its name in place of
    // the shorter new one: the recording is still there to convert again.
    for (size_t i = 0; i < m_pMP4.size(); ++i) {
        if (!m_pMP4[i])
            continue;
        if (endedEarly && !m_pMP4[i]->HasOutputFailed() && FileExists(m_strFile[i])) {
            m_pMP4[i]->Abandon();
            m_results[i] = ChannelResult::Kept;
        } else if (Aborted() || (endedEarly && !m_pMP4[i]->HasOpenedOutput())) {
            // Given up, or never begun: a channel still waiting for its parameter sets when
            // the recording ends early has not failed.
            m_pMP4[i]->Abandon();
        }
    }
    // Every channel finishes its file at the same time: flushing and syncing them one after
    // the other would leave the processors idle.
    for (const auto& muxer : m_pMP4)
        if (muxer)
            muxer->RequestClose();
    for (size_t i = 0; i < m_pMP4.size(); ++i) {
        std::shared_ptr<CMP4>& muxer = m_pMP4[i];
        if (!muxer)
            continue;
        muxer->Close();
        if (m_results[i] != ChannelResult::Kept)
            m_results[i] = muxer->HasOutputFailed() ? ChannelResult::Failed
                           : muxer->HasOpenedOutput() && !muxer->HasAbandoned()
                               ? ChannelResult::Written
                               : ChannelResult::None;
        muxer.reset();
    }
}

SConversionProgress CVyrkConverter::GetProgress() const {
    SConversionProgress progress;
    if (!m_pLoader)
        return progress;
    progress.bytesTotal = m_pLoader->GetFileSize();
    progress.bytesConsumed = m_pLoader->GetBytesConsumed();
    progress.finished = m_bOpened && m_pLoader->IsFinished();
    progress.channels = ChannelSlots();
    int64_t slowest = INT64_MAX;
    for (size_t ch = 0; ch < m_stats.size(); ++ch) {
        if (!m_stats[ch])
            continue;
        const SOutputStats& stats = *m_stats[ch];
        SConversionProgress::SChannel& out = progress.channel[ch];
        out.mediaUs = stats.mediaUs.load(std::memory_order_relaxed);
        out.packets = stats.packets.load(std::memory_order_relaxed);
        out.bytes = stats.bytes.load(std::memory_order_relaxed);
        progress.bytesPending += stats.pendingBytes.load(std::memory_order_relaxed);
        if (out.packets > 0)
            slowest = std::min(slowest, out.mediaUs);
    }
    progress.mediaUs = slowest == INT64_MAX ? 0 : slowest;
    return progress;
}

CVyrkConverter::State CVyrkConverter::GetState() const {
    if (!m_pLoader)
        return State::Converting; // not set up yet
    if (!m_bOpened)
        return State::Failed;
    if (m_initFailure != Failure::None)
        return State::Failed;
    if (!m_pLoader->IsFinished())
        return State::Converting;
    const Failure failure = GetFailure();
    // Stopped before its end: what was begun is finished, and channels may not have begun.
    const bool stopped = m_bStopRequested && !m_pLoader->HasReadToEnd();
    if (stopped && failure == Failure::None)
        return State::Stopped;
    if (failure != Failure::None)
        return State::Failed;
    return GetDamage().Any() ? State::Damaged : State::Converted;
}

CVyrkConverter::Failure CVyrkConverter::GetFailure() const {
    if (!m_pLoader)
        return Failure::None;
    if (!m_bOpened)
        return Failure::CannotOpen;
    if (m_initFailure != Failure::None)
        return m_initFailure;
    if (m_pLoader->GetReadError() != 0)
        return Failure::ReadError;
    if (Aborted())
        return Failure::Aborted;
    bool written = false;
    for (size_t ch = 0; ch < m_results.size(); ++ch) {
        if (m_results[ch] == ChannelResult::Failed)
            return Failure::ChannelFailed;
        written = written || m_results[ch] == ChannelResult::Written ||
                  m_results[ch] == ChannelResult::Kept;
    }
    // A stop before any file was begun is no failure of the recording.
    const bool stopped = m_bStopRequested && !m_pLoader->HasReadToEnd();
    return written || stopped ? Failure::None : Failure::NoVideo;
}

CVyrkConverter::SDamage CVyrkConverter::GetDamage() const {
    return m_damage;
}

std::string CVyrkConverter::GetDamageText() const {
    return DamageText(m_damage);
}

int CVyrkConverter::GetFailureError() const {
    switch (GetFailure()) {
    case Failure::CannotOpen:
        return m_nOpenError;
    case Failure::ReadError:
        return m_pLoader->GetReadError();
    case Failure::NotAFile:
        return static_cast<int>(m_pLoader->GetFileKind());
    case Failure::Aborted:
        return m_bOutOfMemory ? ENOMEM : m_pLoader->GetAbortError();
    default:
        return 0;
    }
}

std::shared_ptr<const SOutputStats> CVyrkConverter::GetChannelStats(int channel) const {
    if (channel < 0 || channel >= kMaxChannels)
        return nullptr;
    return m_stats[static_cast<size_t>(channel)];
}

bool CVyrkConverter::IsIdle() {
    return PendingBytes() == 0;
}

std::vector<int> CVyrkConverter::GetWrittenChannels() const {
    std::vector<int> written;
    for (int ch = 0; ch < GetChannelSlots(); ++ch)
        if (GetChannelResult(ch) == ChannelResult::Written)
            written.push_back(ch);
    return written;
}

CVyrkConverter::ChannelResult CVyrkConverter::GetChannelResult(int channel) const {
    if (channel < 0 || channel >= kMaxChannels)
        return ChannelResult::None;
    return m_results[static_cast<size_t>(channel)];
}

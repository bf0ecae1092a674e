#include "CMP4.h"

#include "FindNalUnit.h"
#include "Log.h"
#include "NalUnitTypes.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <system_error>

namespace {

const uint8_t kStartCode[] = {0, 0, 0, 1};

// The FFmpeg code for the exception being handled; called in a catch block only.
int CurrentExceptionCode() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return AVERROR(ENOMEM);
    } catch (const std::system_error& e) {
        return e.code().value() > 0 ? AVERROR(e.code().value()) : AVERROR_UNKNOWN;
    } catch (...) {
        return AVERROR_UNKNOWN;
    }
}

} // namespace

CMP4::CMP4(std::shared_ptr<const CRecordingClock> recordingClock)
    : m_pStats(std::make_shared<SOutputStats>()), m_pRecordingClock(std::move(recordingClock)),
      m_file(*m_pStats), m_video(m_file, m_pRecordingClock ? *m_pRecordingClock : m_ownClock),
      m_audio(m_file, m_pRecordingClock ? *m_pRecordingClock : m_ownClock) {}

CMP4::~CMP4() {
    Close();
}

// ---- setup ------------------------------------------------------------------------------------

bool CMP4::Open(std::string path, bool isHevc, const RecordingHeader* header) {
    try {
        if (OpenFile(std::move(path), isHevc, header)) {
            m_bAccepting = true;
            return true;
        }
    } catch (...) {
        m_file.Fail(OutputFailure::Create, CurrentExceptionCode());
    }
    FreeMedia();
    return false;
}

bool CMP4::OpenFile(std::string path, bool isHevc, const RecordingHeader* header) {
    m_bHevc = isHevc;
    m_resume.SetHevc(isHevc);
    if (!m_file.Create(path))
        return false;
    if (!m_video.Configure(isHevc, *header, m_options)) {
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    m_bStop = 0;
    m_bAbandon = false;
    m_bFinished = false;
    m_pThread = std::make_shared<std::thread>(&CMP4::Run, this); // throws when it cannot start
    return true;
}

void CMP4::OpenOutput() {
    if (!m_file.IsUsable())
        return;
    const bool tagsOk = TagOutput();
    if (!tagsOk)
        m_file.Fail(OutputFailure::Create, AVERROR(ENOMEM)); // a tag is refused only for memory
    const bool videoOk = m_video.AddStream();
    const bool parserOk = m_video.OpenParser();
    const bool audioOk = m_audio.AddStream();
    if (!tagsOk || !videoOk || !audioOk || !parserOk || !m_file.Begin(m_options.faststart)) {
        FailOutput();
        return;
    }
    // The recording's zero is known before any frame arrives: the audio held so far can go.
    if (m_pRecordingClock && m_pRecordingClock->HasZero())
        m_audio.Start(m_pRecordingClock->ZeroUs());
}

bool CMP4::TagOutput() {
    bool ok = m_file.SetTag("title", m_strTitle) && m_file.SetTag("comment", m_strComment);
    if (m_pRecordingClock && m_pRecordingClock->HasZero()) {
        const SRecordingOrigin& origin = m_pRecordingClock->Origin();
        ok = ok && m_file.SetTag("creation_time", origin.creationTime);
        m_video.SetTimecode(origin.timecode);
    }
    return ok;
}

void CMP4::FailOutput() {
    m_file.Discard();
    m_audio.Close();
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
    FinishFile(); // the writer thread finished it already, unless it never ran
    FreeMedia();
}

void CMP4::Abandon() {
    m_bAbandon = true;
    Close();
}

void CMP4::FreeMedia() {
    m_file.Free();
    m_audio.Release();
    m_video.Release();
}

// ---- intake (reader thread) -------------------------------------------------------------------

void CMP4::InputVideo(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs) {
    if (!m_bAccepting || !data || size <= 0 || HasOutputFailed())
        return;
    try {
        ForEachNalUnit(data, size, [&](const uint8_t* unit, int32_t length) {
            bool picture = false;
            if (m_resume.Skips(unit, length, &picture)) {
                m_pStats->picturesDamaged += picture ? 1 : 0;
                return;
            }
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
    } catch (...) {
        FailIntake(CurrentExceptionCode());
    }
}

void CMP4::InputAudio(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs) {
    if (!m_bAccepting || size < 0 || (size > 0 && !data) || HasOutputFailed())
        return;
    try {
        auto frame = std::make_shared<SFFData>();
        frame->data.assign(data, data + size);
        frame->nNalType = 0;
        frame->extra = extra;
        frame->nTimestamp = timestampUs;
        frame->bIsVideo = 0;
        PushFrame(std::move(frame));
    } catch (...) {
        FailIntake(CurrentExceptionCode());
    }
}

void CMP4::FailIntake(int code) {
    // A frame that cannot be queued is lost: the channel fails, and from here on its frames are
    // dropped as they come. The writer thread gives the file up at its next frame, or at close.
    m_pStats->Fail(OutputFailure::Write, code);
    printf("MP4 frame of %s could not be queued (%d), the file is given up.\n",
           m_file.Path().c_str(), code);
    fflush(stdout);
}

void CMP4::PushFrame(FramePtr frame) {
    const int64_t size = static_cast<int64_t>(frame->data.size());
    bool wasEmpty;
    {
        Thread::Lock::CLockGuard guard(&m_frameQueue);
        wasEmpty = m_frameQueue.m_items.empty();
        InsertByTimestamp(m_frameQueue.m_items, std::move(frame)); // unchanged when it throws
        m_pStats->pendingBytes += size;
        if (m_pBudget)
            m_pBudget->Hold(size);
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

void CMP4::Run() {
    // Every frame is taken off the queue, written or not, so that the pending bytes always come
    // down to 0 and a reader waiting for them goes on.
    FramePtr frame;
    for (;;) {
        if (m_frameQueue.PopFront(frame))
            TakeFrame(frame);
        else if (m_bStop)
            break;
        else
            WaitForWork();
    }
    // The file is finished here, so that muxers asked to close together finish together.
    FinishFile();
}

void CMP4::WaitForWork() {
    // An idle writer looks again every 200 ms at the latest; a frame arriving in the empty queue
    // or Close wakes it at once.
    try {
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(200),
                        [this] { return m_bStop.load() != 0 || m_bWork; });
        m_bWork = false;
    } catch (...) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // looks again shortly
    }
}

void CMP4::TakeFrame(FramePtr& frame) {
    const int64_t size = static_cast<int64_t>(frame->data.size()); // video bytes are taken
    if (!m_bAbandon) {
        try {
            ProcessFrame(frame);
        } catch (...) {
            GiveUp(CurrentExceptionCode());
        }
    }
    frame.reset();
    m_pStats->pendingBytes.fetch_sub(size);
    if (m_pBudget)
        m_pBudget->Release(size);
}

void CMP4::ProcessFrame(const FramePtr& frame) {
    // A failure recorded anywhere, the intake's included, ends the file at once.
    if (HasOutputFailed() && m_file.IsUsable())
        FailOutput();
    if (frame->bIsVideo)
        WriteVideo(frame);
    else
        m_audio.Add(frame);
}

void CMP4::GiveUp(int code) {
    m_pStats->Fail(OutputFailure::Write, code);
    printf("MP4 %s: a frame could not be written (%d), the file is given up.\n",
           m_file.Path().c_str(), code);
    fflush(stdout);
    FailOutput();
}

void CMP4::WriteVideo(const FramePtr& frame) {
    if (!m_video.HasStream() && m_file.IsUsable() && m_video.TakeParameterSet(*frame))
        OpenOutput();
    if (!m_video.HasStream()) {
        CountUnopened(*frame);
        return;
    }
    CAccessUnitAssembler::SAccessUnit unit;
    if (m_video.Assemble(std::move(*frame), unit))
        WritePicture(unit);
}

void CMP4::CountUnopened(const SFFData& unit) {
    // A picture before the file could be opened is left out: lost to damage when the decoder
    // refused the sets that came before it, and else one of a recording that starts between
    // random-access pictures.
    if (!m_file.IsUsable() || !m_video.StartsPicture(unit))
        return;
    if (m_video.HasRefusedSets())
        ++m_pStats->picturesDamaged;
    else
        ++m_pStats->picturesBeforeSets;
}

void CMP4::WritePicture(CAccessUnitAssembler::SAccessUnit& unit) {
    if (unit.pictureNalType < 0)
        return; // units after the last picture show nothing
    if (!m_pRecordingClock && !m_ownClock.HasZero())
        StartTimeLine(unit.timestampUs);
    if (m_video.HasStream())
        m_video.Write(unit);
}

void CMP4::StartTimeLine(uint64_t firstPictureUs) {
    // The first picture fixes the file's zero, moved back by audio recorded before it.
    m_ownClock.SetZero(m_audio.ZeroFor(firstPictureUs));
    m_audio.Start(firstPictureUs);
}

void CMP4::FinishFile() {
    if (m_bFinished)
        return;
    m_bFinished = true;
    if (m_bAbandon) {
        m_file.Abandon();
        m_pStats->abandoned = true;
        return;
    }
    try {
        if (HasOutputFailed() && m_file.IsUsable())
            FailOutput();
        FlushTracks();
        ReportPicturesLeftOut();
        m_file.Finish();
    } catch (...) {
        GiveUp(CurrentExceptionCode());
    }
}

void CMP4::ReportPicturesLeftOut() {
    const int64_t damaged = m_pStats->picturesDamaged;
    const int64_t early = m_pStats->picturesBeforeSets;
    if (early > 0)
        LogInfo("%s: %lld pictures before the first parameter sets left out", m_file.Path().c_str(),
                static_cast<long long>(early));
    if (damaged > 0)
        LogError("%s: %lld pictures left out, the parameter sets before them cannot be decoded",
                 m_file.Path().c_str(), static_cast<long long>(damaged));
    if (m_file.HasOpened() || !m_file.IsUsable() || damaged + early == 0)
        return;
    m_pStats->Fail(m_video.HasRefusedSets() ? OutputFailure::NoDecodableVideo
                                            : OutputFailure::NoParameterSets,
                   0);
}

void CMP4::FlushTracks() {
    if (!m_video.HasStream())
        return;
    CAccessUnitAssembler::SAccessUnit unit;
    if (m_video.FlushAssembler(unit))
        WritePicture(unit);
    m_video.Flush();
    if (!m_file.IsUsable())
        return;
    // A file without pictures starts with its audio.
    if (!m_pRecordingClock && !m_ownClock.HasZero() && m_audio.IsHolding())
        StartTimeLine(UINT64_MAX);
    m_audio.Flush();
    if (m_file.IsUsable() && !HasOutputFailed())
        FinishIndex();
}

void CMP4::FinishIndex() {
    CMoovPatch::SEdit edit;
    if (m_video.GetEdit(edit))
        m_file.SetEdit(edit);
    if (m_audio.GetEdit(edit))
        m_file.SetEdit(edit);
    if (m_video.Stream())
        m_file.RequireDecoderConfig(m_video.Stream(), m_bHevc);
    if (m_options.hvc1Tag && m_bHevc && m_video.HaveSetsChanged() && m_video.Stream()) {
        LogInfo("%s: parameter sets change within the stream; written as hev1, not hvc1",
                m_file.Path().c_str());
        m_file.UseHev1(m_video.Stream());
        m_pStats->hev1Instead = true;
    }
}

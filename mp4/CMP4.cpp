#include "CMP4.h"

#include "FindNalUnit.h"
#include "Log.h"

#include <chrono>
#include <climits>

namespace {

const uint8_t kStartCode[] = {0, 0, 0, 1};

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
    m_bHevc = isHevc;
    if (!m_file.Create(path))
        return false;
    if (!m_video.Configure(isHevc, *header, m_options)) {
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
    if (!m_file.IsUsable())
        return;
    const bool tagsOk = TagOutput();
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
    FlushTracks();
    m_file.Finish();
    FreeMedia();
}

void CMP4::FreeMedia() {
    m_file.Free();
    m_audio.Release();
    m_video.Release();
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
    FlushTracks();
    m_file.Finish();
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
        WriteVideo(frame);
    else
        m_audio.Add(frame);
    m_pStats->pendingBytes -= size;
}

void CMP4::WriteVideo(const FramePtr& frame) {
    if (!m_video.HasStream() && m_file.IsUsable() && m_video.TakeParameterSet(*frame))
        OpenOutput();
    if (!m_video.HasStream())
        return;
    CAccessUnitAssembler::SAccessUnit unit;
    if (m_video.Assemble(std::move(*frame), unit))
        WritePicture(unit);
}

void CMP4::WritePicture(CAccessUnitAssembler::SAccessUnit& unit) {
    if (unit.pictureNalType < 0)
        return; // units after the last picture show nothing
    if (!m_pRecordingClock && !m_ownClock.HasZero())
        StartTimeLine(unit.timestampUs);
    m_video.Write(unit);
}

void CMP4::StartTimeLine(uint64_t firstPictureUs) {
    // The first picture fixes the file's zero, moved back by audio recorded before it.
    m_ownClock.SetZero(m_audio.ZeroFor(firstPictureUs));
    m_audio.Start(firstPictureUs);
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
    FinishIndex();
}

void CMP4::FinishIndex() {
    CMoovPatch::SEdit edit;
    if (m_video.GetEdit(edit))
        m_file.SetEdit(edit);
    if (m_audio.GetEdit(edit))
        m_file.SetEdit(edit);
    if (m_options.hvc1Tag && m_bHevc && m_video.HaveSetsChanged() && m_video.Stream()) {
        LogInfo("%s: parameter sets change within the stream; written as hev1, not hvc1",
                m_file.Path().c_str());
        m_file.UseHev1(m_video.Stream());
        m_pStats->hev1Instead = true;
    }
}

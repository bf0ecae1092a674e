#pragma once

#include "CAudioTrack.h"
#include "CDamageResume.h"
#include "CDeque.h"
#include "COutputFile.h"
#include "CQueueBudget.h"
#include "CRecordingClock.h"
#include "CVideoTrack.h"
#include "RecordingHeader.h"
#include "SFFData.h"
#include "SOutputOptions.h"
#include "SOutputStats.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Writes one camera channel into one MP4 file: the H.265 (or H.264) video copied as it is, the
// 16-bit mono PCM encoded to AAC. A frame that cannot be written, from an allocation or an
// FFmpeg call that fails anywhere on the way, fails the file with its reason (SOutputStats): the
// file is removed rather than finished with something silently missing. Frames are queued on the
// reader thread (video in the order of the recording, audio placed among it by time) and written by
// the muxer's own writer thread. The muxer wires the queue and the thread to the file (COutputFile)
// and its two tracks (CVideoTrack, CAudioTrack), which take their times from a CRecordingClock. The
// file is created once the video's parameter sets are known. Given the clock of a whole recording,
// the file's time line starts at that recording's zero and carries its timecode and recording time;
// on its own a muxer starts it at its first picture, or at the first audio when that was recorded
// earlier.
class CMP4 {
public:
    explicit CMP4(std::shared_ptr<const CRecordingClock> recordingClock = nullptr);
    CMP4(const CMP4&) = delete;
    CMP4& operator=(const CMP4&) = delete;
    virtual ~CMP4();

    // Shared by the muxers of one conversion: what this one queues is held in it, and released
    // as the writer takes it. Set before Open.
    void SetQueueBudget(std::shared_ptr<CQueueBudget> budget) { m_pBudget = std::move(budget); }
    // Take effect for the next Open.
    void SetOutputOptions(const SOutputOptions& options) { m_options = options; }
    // The file's title and comment tags.
    void SetFileTags(const std::string& title, const std::string& comment) {
        m_strTitle = title;
        m_strComment = comment;
    }
    // Copies the header and starts the writer thread. The file is written under TemporaryPath
    // and gets its own name only once it is finished: a file under its final name is complete.
    // False when the output cannot be set up (the context or a packet cannot be allocated, the
    // writer thread cannot start): the failure is then recorded as Create with its code, and the
    // muxer drops whatever it is handed.
    bool Open(std::string path, bool isHevc, const RecordingHeader* header);
    // An Annex B fragment; each NAL unit is queued on its own, in the order it holds them. Time
    // stamp in microseconds, the record clock. Once the channel has failed, frames are dropped as
    // they come; one that cannot be queued (out of memory) fails it.
    void InputVideo(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs);
    // Damage took pictures of this channel just before the next video: the pictures that refer
    // to them cannot be decoded, so everything up to the next random-access picture is left out
    // (counted as damaged). Reader thread, before that InputVideo.
    void SkipToRandomAccess() { m_resume.Start(); }
    // 16-bit little-endian mono PCM at 44,100 Hz. Time stamp in microseconds.
    void InputAudio(const uint8_t* data, int32_t size, int32_t extra, uint64_t timestampUs);
    // Drains the queue, flushes the video timeline and the audio encoder, writes the trailer and
    // closes the file. A muxer that was handed pictures but could never open its file fails
    // here (NoDecodableVideo or NoParameterSets). Safe to call more than once.
    void Close();
    // Instead of RequestClose/Close: the frames still queued are dropped, the temporary file is
    // removed and no failure is recorded, so an earlier file under the final name stays as it
    // was. Returns once the writer thread has ended.
    void Abandon();
    // True once Abandon gave the file up (a file that was finished before stays finished).
    bool HasAbandoned() const { return m_pStats->abandoned.load(); }
    // Starts what Close does on the writer thread and returns at once: the muxer takes no more
    // frames. Close then waits for it.
    void RequestClose();
    // Bytes handed in and not yet written or dropped; callable from any thread.
    int64_t GetPendingSize() const { return m_pStats->pendingBytes.load(); }
    // True once writing this channel's file failed (it could not be created, a frame could not
    // be written or encoded, finishing it failed, or its pictures could never be decoded).
    bool HasOutputFailed() const { return m_pStats->failure != OutputFailure::None; }
    // Counters and failure of this muxer's file; they outlive the muxer for whoever holds them.
    std::shared_ptr<const SOutputStats> GetStats() const { return m_pStats; }
    // ".N.mp4.part" beside "N.mp4": hidden, and plainly not a finished MP4. This is the name
    // tried first; when a file of that name exists (another conversion writes it, or one that
    // ended early left it), ".N.mp4.<tag>.part" with a tag of its own.
    static std::string TemporaryPath(const std::string& path) {
        return COutputFile::TemporaryPath(path);
    }
    // The name this muxer's file has while it is written; valid once HasOpenedOutput.
    std::string GetTemporaryPath() const {
        return m_file.HasOpened() ? m_file.TempPath() : std::string();
    }
    // True once the file has been created and its header written.
    bool HasOpenedOutput() const { return m_file.HasOpened(); }

private:
    bool OpenFile(std::string path, bool isHevc, const RecordingHeader* header);
    void PushFrame(FramePtr frame);
    void FailIntake(int code);
    void Run();
    void WaitForWork();
    void TakeFrame(FramePtr& frame);
    void ProcessFrame(const FramePtr& frame);
    void GiveUp(int code);
    void FinishFile();
    void CountUnopened(const SFFData& unit);
    void ReportPicturesLeftOut();
    void WriteVideo(const FramePtr& frame);
    void WritePicture(CAccessUnitAssembler::SAccessUnit& unit);
    void StartTimeLine(uint64_t firstPictureUs);
    void OpenOutput();
    bool TagOutput();
    void FinishIndex();
    void FailOutput();
    void FlushTracks();
    void FreeMedia();

    Types::CDeque<FramePtr> m_frameQueue;
    SOutputOptions m_options;
    bool m_bHevc = true; // reader thread: how NAL types are read

    std::string m_strTitle;
    std::string m_strComment;

    std::shared_ptr<SOutputStats> m_pStats; // stored by the writer thread, read by any
    // The clock: the recording's, read only here, or this muxer's own.
    std::shared_ptr<const CRecordingClock> m_pRecordingClock;
    CRecordingClock m_ownClock;
    // The file and its tracks: the writer thread's while it runs.
    COutputFile m_file;
    CVideoTrack m_video;
    CAudioTrack m_audio;

    std::atomic<int> m_bStop{0};
    std::atomic<bool> m_bAbandon{false};
    bool m_bFinished = false; // the writer thread's, then Close's once it has joined
    std::shared_ptr<CQueueBudget> m_pBudget;
    bool m_bAccepting = false; // set once the writer thread runs; reader-thread state only
    CDamageResume m_resume;    // reader-thread state: what damage left undecodable
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_bWork = false; // a frame arrived while the queue was empty; guarded by m_wakeMutex
    std::shared_ptr<std::thread> m_pThread;
};

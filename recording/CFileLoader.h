#pragma once

#include "CReadWindow.h"
#include "CRecordScanner.h"
#include "ILoader.h"
#include "RecordingHeader.h"
#include "SReadDamage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <string>

// Reads a .Vyrk recording on its own thread through one window of at most 64 MiB (no larger
// than the file needs), handing each record to the callback as a pointer into the window; a
// larger record gets a buffer of its own for the call. The window is refilled a few MiB at a
// time, so the first records go out at once. Damaged records are skipped up to the next intact
// one (CRecordScanner says which is which) and counted. When the consumer reports more queued
// than the high-water mark, the reader pauses until what it holds falls below the low-water mark
// (half of it), woken by Wake; at the end it waits until the consumer is idle before OnEnd. No
// exception leaves the reader thread: it ends the reading, and OnEnd is still called once.
class CFileLoader : public ILoader {
public:
    static constexpr int32_t kWindowSize = 64 * 1024 * 1024;
    static constexpr int32_t kReadStep = CReadWindow::kReadStep;
    // What the consumer may hold queued before the reader pauses, unless SetQueueBudget says.
    static constexpr int64_t kHighWaterBytes = 16 * 1024 * 1024;
    // The longest wait for the consumer between two looks, should a Wake never come.
    static constexpr unsigned kPauseStepMs = 100;
    // With an unrecognised magic, records are looked for this far into the file.
    static constexpr int32_t kProbeBytes = 1024 * 1024;

    enum class FileKind { Regular, Fifo, Directory, Device, Socket, Other };

    CFileLoader();
    CFileLoader(const CFileLoader&) = delete;
    CFileLoader& operator=(const CFileLoader&) = delete;

    // False at once when the path cannot be opened or is not a regular file (see GetFileKind).
    bool Init(std::string path) override;
    bool Start() override;
    void Stop() override;
    void SetCallback(ILoaderCallback* callback) override;
    int Reserved() override;
    virtual ~CFileLoader();

    // The high-water mark in bytes (at least 1 MiB); the low-water mark is half of it. Before
    // Start.
    void SetQueueBudget(int64_t highWaterBytes);
    int64_t HighWater() const { return m_nHighWater; }
    int64_t LowWater() const { return m_nHighWater / 2; }
    // Ends a pause for the consumer early, so it looks again; callable from any thread (the
    // consumer's writers, when what they hold falls below the low-water mark or to nothing).
    void Wake();
    // Blocks until IsFinished or the timeout; answers IsFinished.
    bool WaitUntilFinished(std::chrono::milliseconds timeout);

    // True while no reader thread runs, and again once a run has called OnEnd.
    bool IsFinished() const { return m_bStop.load(); }
    int32_t GetChannelCount() const { return m_header.channelCount(); }
    // False when the file does not start with a known magic: then it is not a recording.
    bool IsRecognised() const { return m_bRecognised; }

    // After a failed Init: the errno (EISDIR for a directory, EINVAL for another file that is
    // not regular), and what the path names when it is not a regular file.
    int GetOpenError() const { return m_nOpenError; }
    FileKind GetFileKind() const { return m_eFileKind; }
    // "a FIFO", "a directory", "a device", "a socket", "not a regular file"; "a file".
    static const char* FileKindText(FileKind kind);

    // Progress, readable from any thread: the recording's size, and how far the records handed
    // to the callback (and the damage skipped) reach into it.
    int64_t GetFileSize() const { return m_nFileSize; }
    int64_t GetBytesConsumed() const { return m_nBytesConsumed.load(std::memory_order_relaxed); }
    // Once finished: true when the last run read the recording to its end (it was neither
    // stopped nor aborted first); an errno when reading failed (the magic and header included),
    // which ends the data early, else 0.
    bool HasReadToEnd() const { return m_bReadToEnd.load(); }
    int GetReadError() const { return m_nReadError.load(); }
    // Once finished: an errno when the run was cut short by an exception from the callback or
    // a failed allocation (ENOMEM for out of memory), else 0.
    int GetAbortError() const { return m_nAbortError.load(); }
    // Once finished: true when the magic was not recognised and the first kProbeBytes held no
    // intact record, so nothing was read.
    bool HasGivenUp() const { return m_bGivenUp.load(); }
    // What was skipped as damage so far; complete once finished.
    SReadDamage GetDamage() const;

    // Read by the owner after Init; unchanged afterwards.
    RecordingHeader m_header;

protected:
    // Creates the reader thread; a seam so a failed creation can be exercised.
    virtual bool CreateReaderThread();

private:
    static void* ThreadEntry(void* self);
    void Run();
    void ReadRecords();
    // Reads and hands over the record at offset; false when it cannot be read.
    bool Deliver(int64_t offset, const uint8_t* header, int32_t size, uint64_t timestamp);
    // Skips the damage at offset up to the next intact record; returns where reading goes on.
    int64_t SkipDamage(int64_t offset);
    void NoteDamage(int64_t offset, int64_t bytes);
    // The data from offset on cannot be read although the file size says it is there.
    void NoteCutShort(int64_t offset);
    void NoteRecord(uint64_t timestamp);
    void NoteAbort(int error) noexcept;
    // Waits, woken by Wake, until the condition (asked without a lock held) or a stop.
    template <typename Condition> void WaitUntil(Condition condition);
    void Finish();
    void ReadHeader();
    void CloseFile();

    ILoaderCallback* m_pCallback;
    std::string m_strPath;
    int m_fd = -1;
    pthread_t m_thread;
    bool m_bThreadStarted;
    std::atomic<bool> m_bStop;
    CReadWindow m_window;
    CRecordScanner m_scanner;
    int64_t m_nFileSize = 0;
    int64_t m_nDataStart = 0; // where the first record begins
    bool m_bRecognised = false;
    int m_nHeaderError = 0;
    int m_nOpenError = 0;
    FileKind m_eFileKind = FileKind::Regular;
    std::atomic<int64_t> m_nBytesConsumed{0};
    std::atomic<bool> m_bReadToEnd{false};
    std::atomic<int> m_nReadError{0};
    std::atomic<int> m_nAbortError{0};
    std::atomic<bool> m_bGivenUp{false};
    int64_t m_nHighWater = kHighWaterBytes;

    // Reader thread only: the time stamp of the last record read, and whether damage was
    // skipped since.
    uint64_t m_nLastTimestamp = 0;
    bool m_bHasLastTimestamp = false;
    bool m_bDamageSinceLast = false;

    // Guards what follows; never held while the callback runs.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    uint64_t m_nWakes = 0;
    SReadDamage m_damage;
};

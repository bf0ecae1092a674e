#pragma once

#include "ILoader.h"
#include "RecordingHeader.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <pthread.h>
#include <string>

// Reads a .Vyrk recording on its own thread through one 64 MiB window, handing each record to
// the callback as a pointer into the window. The window is refilled a few MiB at a time (more
// only for a larger record), so only that much of it is ever in memory and the first records
// go out at once. Pauses while the consumer reports too much queued
// data and, at the end, waits until the consumer is idle before OnEnd.
class CFileLoader : public ILoader {
public:
    static constexpr int32_t kWindowSize = 64 * 1024 * 1024;
    static constexpr int32_t kReadStep = 4 * 1024 * 1024;
    static constexpr int32_t kBackPressureBytes = 256 * 1024 * 1024;
    static constexpr unsigned kPauseStepMs = 100;

    CFileLoader();
    CFileLoader(const CFileLoader&) = delete;
    CFileLoader& operator=(const CFileLoader&) = delete;

    bool Init(std::string path) override;
    bool Start() override;
    void Stop() override;
    void SetCallback(ILoaderCallback* callback) override;
    int Reserved() override;
    virtual ~CFileLoader();

    // True while no reader thread runs, and again once a run has called OnEnd.
    bool IsFinished() const { return m_bStop.load(); }
    int32_t GetChannelCount() const { return m_header.channelCount(); }
    // False when the file does not start with a known magic: then it is not a recording.
    bool IsRecognised() const { return m_bRecognised; }

    // Progress, readable from any thread: the recording's size, and how far the records handed
    // to the callback reach into it.
    int64_t GetFileSize() const { return m_nFileSize; }
    int64_t GetBytesConsumed() const { return m_nBytesConsumed.load(std::memory_order_relaxed); }
    // Once finished: true when the last run read the recording to its end (it was not stopped
    // first); an errno when reading failed, which ends the data early, else 0.
    bool HasReadToEnd() const { return m_bReadToEnd.load(); }
    int GetReadError() const { return m_nReadError.load(); }

    // Read by the owner after Init; unchanged afterwards.
    RecordingHeader m_header;

protected:
    // Creates the reader thread; a seam so a failed creation can be exercised.
    virtual bool CreateReaderThread();

private:
    static void* ThreadEntry(void* self);
    void Run();
    void ReadRecords();
    void WaitUntilIdle();
    int32_t Read(int32_t n, const uint8_t** data);
    // Moves the bytes not read yet to the front of the window and reads behind them until it
    // holds n bytes or one read step, whichever is more (the whole window at most), or the file
    // ends.
    void Refill(int32_t n);
    size_t ReadFile(uint8_t* into, size_t n);
    void ReadHeader();
    void ReadPadded(uint8_t* into, int32_t n);
    void FreeWindow();

    ILoaderCallback* m_pCallback;
    std::string m_strPath;
    FILE* m_pFile;
    pthread_t m_thread;
    bool m_bThreadStarted;
    std::atomic<bool> m_bStop;
    // The read window: m_nWindowLength valid bytes at the start of a 64 MiB buffer that is
    // allocated when first needed (not zeroed: it is always filled from the file before use, and
    // pages never filled take no memory).
    std::unique_ptr<uint8_t[]> m_window;
    int32_t m_nWindowLength;
    int32_t m_nReadPos;
    int64_t m_nFileRead = 0; // bytes read from the file into the window so far
    int64_t m_nFileSize = 0;
    bool m_bRecognised = false;
    std::atomic<int64_t> m_nBytesConsumed{0};
    std::atomic<bool> m_bReadToEnd{false};
    std::atomic<int> m_nReadError{0};
};

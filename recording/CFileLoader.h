#pragma once

#include "ILoader.h"
#include "RecordingHeader.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <vector>

// Leaves new bytes uninitialised: the read window is always filled from the file before use,
// so zeroing 64 MiB on every refill would only cost memory bandwidth.
template <typename T> struct UninitialisedAllocator : std::allocator<T> {
    template <typename U> struct rebind { using other = UninitialisedAllocator<U>; };
    UninitialisedAllocator() = default;
    template <typename U> UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
    template <typename U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
};

// Reads a .Vyrk recording on its own thread through one 64 MiB window, handing each record to
// the callback as a pointer into the window. Pauses while the consumer reports too much queued
// data and, at the end, waits until the consumer is idle before OnEnd.
class CFileLoader : public ILoader {
public:
    static constexpr int32_t kWindowSize = 64 * 1024 * 1024;
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
    void FillEmptyWindow();
    void Compact();
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
    std::vector<uint8_t, UninitialisedAllocator<uint8_t>> m_window;
    int32_t m_nReadPos;
};

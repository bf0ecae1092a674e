#include "CFileLoader.h"

#include "ILoaderCallback.h"
#include "Platform.h"
#include "RecordHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>

CFileLoader::CFileLoader()
    : m_pCallback(nullptr), m_pFile(nullptr), m_thread(), m_bThreadStarted(false), m_bStop(true),
      m_nWindowLength(0), m_nReadPos(0) {
    m_header.Clear();
}

CFileLoader::~CFileLoader() {
    Stop();
    FreeWindow();
    if (m_pFile) {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
    m_bStop = true;
    m_pCallback = nullptr;
}

bool CFileLoader::Init(std::string path) {
    m_strPath = path;
    m_pFile = fopen(m_strPath.c_str(), "rb");
    if (!m_pFile)
        return false;
    // Recordings are read once from start to end: ask for aggressive read-ahead.
    posix_fadvise(fileno(m_pFile), 0, 0, POSIX_FADV_SEQUENTIAL);
    struct stat st;
    m_nFileSize = fstat(fileno(m_pFile), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
    m_nReadPos = 0;
    m_nFileRead = 0;
    ReadHeader();
    return true;
}

bool CFileLoader::Start() {
    if (!m_pFile)
        return false;
    m_nReadPos = 0;
    m_nWindowLength = 0; // the buffer itself is kept
    fseek(m_pFile, 0, SEEK_SET);
    m_nFileRead = 0;
    m_nBytesConsumed = 0;
    m_bReadToEnd = false;
    m_nReadError = 0;
    ReadHeader();
    m_bStop = false;
    if (!CreateReaderThread()) {
        m_bStop = true;
        return false;
    }
    m_bThreadStarted = true;
    return true;
}

bool CFileLoader::CreateReaderThread() {
    return pthread_create(&m_thread, nullptr, &CFileLoader::ThreadEntry, this) == 0;
}

void CFileLoader::Stop() {
    m_bStop = true;
    if (m_bThreadStarted) {
        pthread_join(m_thread, nullptr);
        m_bThreadStarted = false;
        m_thread = pthread_t();
    }
    if (m_pFile)
        fseek(m_pFile, 0, SEEK_SET);
    FreeWindow();
}

void CFileLoader::SetCallback(ILoaderCallback* callback) {
    m_pCallback = callback;
}

int CFileLoader::Reserved() {
    return 0;
}

void* CFileLoader::ThreadEntry(void* self) {
    static_cast<CFileLoader*>(self)->Run();
    return nullptr;
}

void CFileLoader::Run() {
    ReadRecords();
    m_bReadToEnd = !m_bStop.load();
    if (m_pCallback) {
        WaitUntilIdle();
        m_pCallback->OnEnd(0, 0, 0);
    }
    FreeWindow();
    m_bStop = true;
}

void CFileLoader::ReadRecords() {
    uint8_t header[RecordHeader::kSize];
    while (!m_bStop) {
        const uint8_t* data = nullptr;
        if (Read(RecordHeader::kSize, &data) < RecordHeader::kSize)
            return;
        memcpy(header, data, sizeof(header));
        const int32_t payloadSize = RecordHeader::Decode(header).payloadSize;
        if (payloadSize < 0)
            return;
        const uint8_t* payload = nullptr;
        if (Read(payloadSize, &payload) != payloadSize)
            return;
        m_nBytesConsumed.store(m_nFileRead - (m_nWindowLength - m_nReadPos),
                               std::memory_order_relaxed);
        if (!m_pCallback)
            continue;
        if (m_pCallback->OnData(header, payload) > kBackPressureBytes)
            WaitUntilIdle();
    }
}

void CFileLoader::WaitUntilIdle() {
    while (!m_bStop && !m_pCallback->IsIdle())
        Platform::SleepMs(kPauseStepMs);
}

int32_t CFileLoader::Read(int32_t n, const uint8_t** data) {
    if (static_cast<int64_t>(m_nReadPos) + n > m_nWindowLength)
        Refill(n);
    if (!m_window)
        return 0;
    const int32_t available = m_nWindowLength - m_nReadPos;
    const int32_t count = n < available ? n : available;
    *data = m_window.get() + m_nReadPos;
    m_nReadPos += count;
    return count;
}

void CFileLoader::Refill(int32_t n) {
    if (!m_window)
        m_window.reset(new (std::nothrow) uint8_t[kWindowSize]);
    if (!m_window)
        return; // no memory for the window: nothing can be read
    const int32_t tail = m_nWindowLength - m_nReadPos;
    memmove(m_window.get(), m_window.get() + m_nReadPos, static_cast<size_t>(tail));
    m_nReadPos = 0;
    m_nWindowLength = tail;
    const int32_t wanted = std::min(kWindowSize, std::max(n, kReadStep));
    if (wanted > tail)
        m_nWindowLength += static_cast<int32_t>(
            ReadFile(m_window.get() + tail, static_cast<size_t>(wanted - tail)));
}

size_t CFileLoader::ReadFile(uint8_t* into, size_t n) {
    if (!m_pFile || n == 0)
        return 0;
    // A read error ends the data just like the end of the file does; it is kept for the report.
    const size_t got = fread(into, 1, n, m_pFile);
    if (got < n && ferror(m_pFile) && m_nReadError == 0)
        m_nReadError = errno != 0 ? errno : EIO;
    m_nFileRead += static_cast<int64_t>(got);
    return got;
}

void CFileLoader::ReadPadded(uint8_t* into, int32_t n) {
    memset(into, 0, static_cast<size_t>(n));
    const uint8_t* data = nullptr;
    const int32_t count = Read(n, &data);
    if (count > 0)
        memcpy(into, data, static_cast<size_t>(count));
}

void CFileLoader::ReadHeader() {
    uint8_t magic[RecordingMagic::kSize];
    ReadPadded(magic, RecordingMagic::kSize);
    m_header.Clear();
    const RecordingMagic::Version version = RecordingMagic::Classify(magic);
    m_bRecognised = version != RecordingMagic::Version::Unrecognised;
    switch (version) {
    case RecordingMagic::Version::V80:
        m_header.SetV80Defaults();
        break;
    case RecordingMagic::Version::V81:
        ReadPadded(m_header.bytes, RecordingHeader::kSize);
        break;
    case RecordingMagic::Version::Unrecognised:
        break;
    }
}

void CFileLoader::FreeWindow() {
    m_window.reset();
    m_nWindowLength = 0;
}

#include "CFileLoader.h"

#include "ILoaderCallback.h"
#include "Log.h"
#include "RecordHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// A gap longer than this between the records around damage says more about a damaged time
// stamp than about the time lost.
const int64_t kMaxSpanUs = int64_t(24) * 3600 * 1000000;

CFileLoader::FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode))
        return CFileLoader::FileKind::Regular;
    if (S_ISFIFO(mode))
        return CFileLoader::FileKind::Fifo;
    if (S_ISDIR(mode))
        return CFileLoader::FileKind::Directory;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return CFileLoader::FileKind::Device;
    if (S_ISSOCK(mode))
        return CFileLoader::FileKind::Socket;
    return CFileLoader::FileKind::Other;
}

// Runs work, turning whatever it throws into an errno.
template <typename F> int Guarded(F&& work) noexcept {
    try {
        work();
        return 0;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::system_error& e) {
        return e.code().value() != 0 ? e.code().value() : ENOTRECOVERABLE;
    } catch (...) {
        return ENOTRECOVERABLE;
    }
}

} // namespace

CFileLoader::CFileLoader()
    : m_pCallback(nullptr), m_thread(), m_bThreadStarted(false), m_bStop(true),
      m_scanner(m_window, m_bStop) {
    m_header.Clear();
}

CFileLoader::~CFileLoader() {
    Stop();
    CloseFile();
    m_pCallback = nullptr;
}

const char* CFileLoader::FileKindText(FileKind kind) {
    switch (kind) {
    case FileKind::Regular:
        return "a file";
    case FileKind::Fifo:
        return "a FIFO";
    case FileKind::Directory:
        return "a directory";
    case FileKind::Device:
        return "a device";
    case FileKind::Socket:
        return "a socket";
    case FileKind::Other:
        break;
    }
    return "not a regular file";
}

bool CFileLoader::Init(std::string path) {
    CloseFile();
    m_strPath = path;
    m_nOpenError = 0;
    m_eFileKind = FileKind::Regular;
    struct stat st;
    // Without O_NONBLOCK a FIFO would wait here for a writer.
    const int fd = open(m_strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        m_nOpenError = errno != 0 ? errno : EIO;
        if (fd >= 0)
            close(fd);
        else if (stat(m_strPath.c_str(), &st) == 0) // a socket cannot be opened at all
            m_eFileKind = KindOf(st.st_mode);
        errno = m_nOpenError;
        return false;
    }
    m_eFileKind = KindOf(st.st_mode);
    if (m_eFileKind != FileKind::Regular) {
        close(fd);
        m_nOpenError = m_eFileKind == FileKind::Directory ? EISDIR : EINVAL;
        LogError("CFileLoader: %s is %s, not a recording", m_strPath.c_str(),
                 FileKindText(m_eFileKind));
        errno = m_nOpenError;
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    m_nFileSize = static_cast<int64_t>(st.st_size);
    // Recordings are read once from start to end: ask for aggressive read-ahead.
    posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    ReadHeader();
    return true;
}

void CFileLoader::ReadHeader() {
    m_window.Reset(m_fd, m_nFileSize, 1);
    auto readPadded = [&](int64_t offset, uint8_t* into, int32_t n) {
        memset(into, 0, static_cast<size_t>(n));
        const int64_t held = std::max<int64_t>(0, std::min<int64_t>(n, m_nFileSize - offset));
        m_window.ReadAt(offset, into, static_cast<size_t>(held));
    };
    uint8_t magic[RecordingMagic::kSize];
    readPadded(0, magic, RecordingMagic::kSize);
    m_header.Clear();
    const RecordingMagic::Version version = RecordingMagic::Classify(magic);
    m_bRecognised = version != RecordingMagic::Version::Unrecognised;
    m_nDataStart = RecordingMagic::kSize;
    if (version == RecordingMagic::Version::V80)
        m_header.SetV80Defaults();
    if (version == RecordingMagic::Version::V81) {
        readPadded(RecordingMagic::kSize, m_header.bytes, RecordingHeader::kSize);
        m_nDataStart += RecordingHeader::kSize;
    }
    m_nHeaderError = m_window.ReadError();
    m_nReadError = m_nHeaderError; // known from Init on
    if (m_nHeaderError != 0) {
        LogError("CFileLoader: reading the header of %s failed: %s", m_strPath.c_str(),
                 strerror(m_nHeaderError));
        m_bRecognised = false;
    }
}

void CFileLoader::CloseFile() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

bool CFileLoader::Start() {
    if (m_fd < 0)
        return false;
    if (m_bThreadStarted)
        Stop();
    // The window holds no more than the records can fill.
    m_window.Reset(m_fd, m_nFileSize,
                   static_cast<int32_t>(std::min<int64_t>(
                       kWindowSize, std::max<int64_t>(1, m_nFileSize - m_nDataStart))));
    m_nBytesConsumed = 0;
    m_bReadToEnd = false;
    m_nReadError = m_nHeaderError;
    m_nAbortError = 0;
    m_bGivenUp = false;
    m_bHasLastTimestamp = false;
    m_bDamageSinceLast = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_damage = SReadDamage();
    }
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
    Wake();
    if (m_bThreadStarted) {
        pthread_join(m_thread, nullptr);
        m_bThreadStarted = false;
        m_thread = pthread_t();
    }
    m_window.Free();
}

void CFileLoader::SetCallback(ILoaderCallback* callback) {
    m_pCallback = callback;
}

int CFileLoader::Reserved() {
    return 0;
}

void CFileLoader::SetQueueBudget(int64_t highWaterBytes) {
    m_nHighWater = std::max<int64_t>(highWaterBytes, 1024 * 1024);
}

void CFileLoader::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nWakes;
    }
    m_wake.notify_all();
}

bool CFileLoader::WaitUntilFinished(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_wake.wait_for(lock, timeout, [this] { return m_bStop.load(); });
}

SReadDamage CFileLoader::GetDamage() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_damage;
}

void* CFileLoader::ThreadEntry(void* self) {
    static_cast<CFileLoader*>(self)->Run();
    return nullptr;
}

void CFileLoader::Run() {
    NoteAbort(Guarded([this] { ReadRecords(); }));
    if (m_window.ReadError() != 0 && m_nReadError == 0)
        m_nReadError = m_window.ReadError();
    if (m_window.OutOfMemory())
        NoteAbort(ENOMEM);
    m_window.Free();
    m_bReadToEnd = !m_bStop.load() && m_nAbortError == 0;
    if (m_pCallback) {
        NoteAbort(Guarded([this] { WaitUntil([this] { return m_pCallback->IsIdle(); }); }));
        NoteAbort(Guarded([this] { m_pCallback->OnEnd(0, 0, 0); }));
    }
    Finish();
}

void CFileLoader::Finish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStop = true;
    m_wake.notify_all();
}

void CFileLoader::NoteAbort(int error) noexcept {
    if (error == 0 || m_nAbortError != 0)
        return;
    m_nAbortError = error;
    Guarded(
        [&] { LogError("CFileLoader: reading %s ended: %s", m_strPath.c_str(), strerror(error)); });
}

void CFileLoader::ReadRecords() {
    if (m_nHeaderError != 0)
        return;
    if (!m_bRecognised && m_scanner.FindIntact(m_nDataStart, m_nDataStart + kProbeBytes) < 0) {
        if (!m_bStop && m_window.ReadError() == 0 && !m_window.OutOfMemory()) {
            m_bGivenUp = true;
            LogInfo("CFileLoader: %s holds no record in its first MiB: not read",
                    m_strPath.c_str());
        }
        return;
    }
    uint8_t header[RecordHeader::kSize];
    int64_t offset = m_nDataStart;
    while (!m_bStop && offset < m_nFileSize && m_window.ReadError() == 0 &&
           !m_window.OutOfMemory()) {
        const uint8_t* bytes = m_nFileSize - offset >= RecordHeader::kSize
                                   ? m_window.View(offset, RecordHeader::kSize)
                                   : nullptr;
        if (!bytes) {
            NoteCutShort(offset); // a header that does not fit, or the file shrank
            return;
        }
        memcpy(header, bytes, sizeof(header));
        const RecordHeader h = RecordHeader::Decode(header);
        if (m_scanner.IsDamaged(offset, h)) {
            offset = SkipDamage(offset);
        } else {
            if (!Deliver(offset, header, h.payloadSize, h.timestamp))
                return;
            offset += RecordHeader::kSize + h.payloadSize;
        }
        m_nBytesConsumed.store(offset, std::memory_order_relaxed);
    }
}

int64_t CFileLoader::SkipDamage(int64_t offset) {
    const int64_t next = m_scanner.FindIntact(offset + 1, m_nFileSize);
    if (next < 0 && (m_bStop || m_window.ReadError() != 0 || m_window.OutOfMemory()))
        return offset; // how far the damage reaches is not known; the reading ends there
    const int64_t end = next < 0 ? m_nFileSize : next;
    NoteDamage(offset, end - offset);
    return end;
}

bool CFileLoader::Deliver(int64_t offset, const uint8_t* header, int32_t size, uint64_t timestamp) {
    const int64_t at = offset + RecordHeader::kSize;
    const uint8_t* payload = nullptr;
    std::unique_ptr<uint8_t[]> own; // for a record larger than the window, freed after the call
    if (size <= m_window.Capacity()) {
        payload = m_window.View(at, size);
    } else {
        own.reset(new uint8_t[static_cast<size_t>(size)]);
        payload = m_window.ReadAt(at, own.get(), static_cast<size_t>(size)) ? own.get() : nullptr;
    }
    if (!payload) {
        NoteCutShort(offset); // the file shrank
        return false;
    }
    NoteRecord(timestamp);
    if (m_pCallback && m_pCallback->OnData(header, payload) > m_nHighWater)
        WaitUntil([this] { return m_pCallback->GetPendingBytes() < LowWater(); });
    return true;
}

void CFileLoader::NoteRecord(uint64_t timestamp) {
    if (m_bDamageSinceLast && m_bHasLastTimestamp && timestamp > m_nLastTimestamp &&
        timestamp - m_nLastTimestamp <= static_cast<uint64_t>(kMaxSpanUs)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_damage.spanUs += static_cast<int64_t>(timestamp - m_nLastTimestamp);
    }
    m_bDamageSinceLast = false;
    m_bHasLastTimestamp = true;
    m_nLastTimestamp = timestamp;
}

void CFileLoader::NoteCutShort(int64_t offset) {
    if (m_window.ReadError() != 0 || m_window.OutOfMemory())
        return; // not damage: reading failed
    NoteDamage(offset, m_nFileSize - offset);
    m_nBytesConsumed.store(m_nFileSize, std::memory_order_relaxed);
}

void CFileLoader::NoteDamage(int64_t offset, int64_t bytes) {
    if (bytes <= 0)
        return;
    m_bDamageSinceLast = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_damage.places == 0)
            m_damage.firstOffset = offset;
        ++m_damage.places;
        m_damage.bytes += bytes;
    }
    LogError("CFileLoader: %s: skipped %lld damaged bytes at offset %lld", m_strPath.c_str(),
             static_cast<long long>(bytes), static_cast<long long>(offset));
}

template <typename Condition> void CFileLoader::WaitUntil(Condition condition) {
    while (!m_bStop) {
        uint64_t wakes;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            wakes = m_nWakes;
        }
        // Asked without the lock held: the consumer may call Wake from within.
        if (condition())
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(kPauseStepMs),
                        [&] { return m_bStop.load() || m_nWakes != wakes; });
    }
}

#include "COutputFile.h"

#include "Platform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const AVRational kMicroseconds = {1, 1000000};
const int kUniqueNameTries = 100;

// Six letters or digits that differ from call to call and from process to process.
std::string UniqueTag() {
    static std::atomic<uint64_t> s_count{0};
    uint64_t x = (static_cast<uint64_t>(getpid()) << 40) ^ s_count.fetch_add(1) ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x += 0x9E3779B97F4A7C15ull; // splitmix64: every input bit reaches every output letter
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tag(6, 'a');
    for (char& c : tag) {
        c = kDigits[x % 36];
        x /= 36;
    }
    return tag;
}

// Creates the file only if no file (nor link) of that name exists; 0 or the errno.
int CreateExclusively(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

} // namespace

std::string COutputFile::TemporaryPath(const std::string& path, const std::string& tag) {
    const size_t slash = path.rfind('/');
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + (tag.empty() ? "" : ".") + tag +
           ".part";
}

bool COutputFile::Create(const std::string& path) {
    m_strPath = path;
    m_strTempPath = TemporaryPath(path);
    const int rc = avformat_alloc_output_context2(&m_pCtx, nullptr, "mp4", m_strTempPath.c_str());
    if (rc < 0) {
        m_pCtx = nullptr;
        m_stats.Fail(OutputFailure::Create, rc);
        return false;
    }
    return true;
}

int COutputFile::CreateTemporary() {
    // Made here, and only if the name is free: a second conversion into the same folder, or a
    // file left by one that ended before finishing, is never truncated; this one takes a name
    // of its own instead.
    std::string name = TemporaryPath(m_strPath);
    int rc = CreateExclusively(name);
    for (int i = 0; rc == EEXIST && i < kUniqueNameTries; ++i) {
        name = TemporaryPath(m_strPath, UniqueTag());
        rc = CreateExclusively(name);
    }
    if (rc != 0)
        return AVERROR(rc);
    // The writer reads the file back through its name to move the index to the front.
    char* url = av_strdup(name.c_str());
    if (!url) {
        remove(name.c_str());
        return AVERROR(ENOMEM);
    }
    av_free(m_pCtx->url);
    m_pCtx->url = url;
    m_strTempPath.swap(name); // cannot throw: the file made is always the one removed later
    return 0;
}

AVStream* COutputFile::NewStream() {
    return avformat_new_stream(m_pCtx, nullptr);
}

bool COutputFile::WantsGlobalHeader() const {
    return (m_pCtx->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

bool COutputFile::SetTag(const char* key, const std::string& value) {
    return value.empty() || av_dict_set(&m_pCtx->metadata, key, value.c_str(), 0) >= 0;
}

bool COutputFile::Begin(bool faststart) {
    int opened = CreateTemporary();
    av_dump_format(m_pCtx, 0, m_strTempPath.c_str(), 1);
    if (opened == 0) {
        opened = avio_open(&m_pCtx->pb, m_strTempPath.c_str(), AVIO_FLAG_WRITE);
        if (opened < 0)
            remove(m_strTempPath.c_str());
    }
    if (opened < 0) {
        printf("avio_open RTMP Error...");
        fflush(stdout);
        m_stats.Fail(OutputFailure::Create, opened);
        return false;
    }
    printf("avio_open RTMP OK...");
    fflush(stdout);
    // With the index moved to the front the trailer rewrites the whole file: writing it to the
    // disk before then would write it twice.
    m_nWriteBackFd = faststart ? -1 : Platform::OpenForWriteBack(m_strTempPath);
    m_nWriteBackFrom = 0;
    AVDictionary* options = nullptr;
    // The index moves to the front when the trailer is written, read back through the file name.
    if (faststart && av_dict_set(&options, "movflags", "+faststart", 0) < 0) {
        m_stats.Fail(OutputFailure::Create, AVERROR(ENOMEM));
        return false;
    }
    const int rc = avformat_write_header(m_pCtx, &options);
    av_dict_free(&options);
    if (rc < 0) {
        m_stats.Fail(OutputFailure::Create, rc);
        printf("avformat_write_header Error %d .\n", rc);
        fflush(stdout);
        return false;
    }
    m_bOpened = true;
    return true;
}

int COutputFile::Write(AVPacket* packet, const AVStream* stream) {
    Count(packet, stream);
    return av_interleaved_write_frame(m_pCtx, packet);
}

void COutputFile::Count(const AVPacket* packet, const AVStream* stream) {
    // Counted as handed to the writer: the interleaving buffer holds a packet only briefly.
    const int64_t endUs =
        av_rescale_q(packet->pts + packet->duration, stream->time_base, kMicroseconds);
    m_stats.packets.fetch_add(1, std::memory_order_relaxed);
    const int64_t bytes = m_stats.bytes.fetch_add(packet->size, std::memory_order_relaxed);
    // What is written goes on to the disk while the conversion runs, so finishing the file does
    // not wait for all of it.
    if (bytes - m_nWriteBackFrom >= kWriteBackBytes) {
        Platform::StartWriteBack(m_nWriteBackFd);
        m_nWriteBackFrom = bytes;
    }
    if (endUs > m_stats.mediaUs.load(std::memory_order_relaxed))
        m_stats.mediaUs.store(endUs, std::memory_order_relaxed);
}

void COutputFile::Discard() {
    Close(false);
    m_stats.Fail(OutputFailure::Create, AVERROR_UNKNOWN); // kept only if nothing said more
}

void COutputFile::Abandon() {
    Platform::CloseWriteBack(m_nWriteBackFd);
    m_nWriteBackFd = -1;
    if (m_pCtx && m_pCtx->pb) {
        avio_closep(&m_pCtx->pb);
        remove(m_strTempPath.c_str());
    }
    Free();
}

void COutputFile::Close(bool writeTrailer) {
    Platform::CloseWriteBack(m_nWriteBackFd);
    m_nWriteBackFd = -1;
    if (!m_pCtx)
        return;
    if (m_pCtx->pb) {
        const int trailer = writeTrailer ? av_write_trailer(m_pCtx) : AVERROR_UNKNOWN;
        const int closed = avio_closep(&m_pCtx->pb);
        Commit(trailer, closed);
        fflush(stdout);
    }
    Free();
}

void COutputFile::Commit(int trailer, int closed) {
    // Only a file that was finished without any error gets its final name; anything else is
    // removed, so an earlier file of that name stays until a complete new one replaces it.
    struct stat st;
    if (stat(m_strTempPath.c_str(), &st) != 0) {
        printf("MP4 output %s disappeared while it was written.\n", m_strTempPath.c_str());
        m_stats.Fail(OutputFailure::Disappeared, AVERROR(errno));
    } else if (trailer < 0 || closed < 0) {
        printf("MP4 cannot finish %s (%d, %d), removed.\n", m_strTempPath.c_str(), trailer, closed);
        m_stats.Fail(OutputFailure::Finish, trailer < 0 ? trailer : closed);
        remove(m_strTempPath.c_str());
    } else if (m_stats.failure != OutputFailure::None) {
        printf("MP4 output %s failed, removed.\n", m_strTempPath.c_str());
        remove(m_strTempPath.c_str());
    } else if (const int error = PatchIndex()) {
        printf("MP4 cannot finish the index of %s (%s), removed.\n", m_strTempPath.c_str(),
               strerror(error));
        m_stats.Fail(OutputFailure::Finish, AVERROR(error));
        remove(m_strTempPath.c_str());
    } else if (const int error = Platform::CommitFile(m_strTempPath, m_strPath)) {
        printf("MP4 cannot name %s %s (%s), removed.\n", m_strTempPath.c_str(), m_strPath.c_str(),
               strerror(error));
        m_stats.Fail(OutputFailure::Finish, AVERROR(error));
        remove(m_strTempPath.c_str());
    } else {
        m_stats.fileBytes = st.st_size;
    }
}

int COutputFile::PatchIndex() {
    std::vector<std::string> skipped;
    const int rc = m_patch.Apply(m_strTempPath, skipped);
    for (const std::string& what : skipped)
        printf("MP4 %s: %s; left as the writer made it.\n", m_strPath.c_str(), what.c_str());
    m_patch = CMoovPatch();
    return rc;
}

void COutputFile::Free() {
    if (m_pCtx) {
        avformat_free_context(m_pCtx);
        m_pCtx = nullptr;
    }
}

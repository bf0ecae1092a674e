#include "COutputFile.h"

#include "Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

const AVRational kMicroseconds = {1, 1000000};

} // namespace

std::string COutputFile::TemporaryPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + ".part";
}

bool COutputFile::Create(const std::string& path) {
    m_strPath = path;
    m_strTempPath = TemporaryPath(path);
    if (avformat_alloc_output_context2(&m_pCtx, nullptr, "mp4", m_strTempPath.c_str()) < 0) {
        m_pCtx = nullptr;
        return false;
    }
    return true;
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
    av_dump_format(m_pCtx, 0, m_strTempPath.c_str(), 1);
    const int opened = avio_open(&m_pCtx->pb, m_strTempPath.c_str(), AVIO_FLAG_WRITE);
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

#pragma once

#include "CMoovPatch.h"
#include "SOutputStats.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <cstdint>
#include <string>

// One channel's MP4 file for its whole life: the FFmpeg output context, created under the
// temporary name; the header; the packets, counted and handed on to the disk as they are
// written; and at the end either the trailer and the final name, or removal. Whatever goes wrong
// is recorded in the stats as the failure kind with its code. Writer thread only, but for
// HasOpened.
class COutputFile {
public:
    explicit COutputFile(SOutputStats& stats) : m_stats(stats) {}
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;
    ~COutputFile() { Free(); }

    // ".N.mp4.part" beside "N.mp4": hidden, and plainly not a finished MP4. The name tried first;
    // when a file of that name exists the temporary file is ".N.mp4.<tag>.part", tag six
    // letters or digits.
    static std::string TemporaryPath(const std::string& path, const std::string& tag = "");

    // Allocates the output context for path; false when that fails, with the failure recorded.
    bool Create(const std::string& path);
    // Streams are added between Create and Begin.
    AVStream* NewStream();
    bool WantsGlobalHeader() const;
    // Sets a tag of the whole file (title, comment, creation_time); before Begin.
    bool SetTag(const char* key, const std::string& value);
    // Creates the temporary file under a name no other file has, opens it and writes the
    // header; false on failure, with its kind recorded.
    bool Begin(bool faststart);
    // Counts the packet and hands it to the interleaving writer; FFmpeg's result.
    int Write(AVPacket* packet, const AVStream* stream);
    // What the index must say beyond what FFmpeg's writer says, applied once the trailer is
    // written (CMoovPatch).
    void SetEdit(const CMoovPatch::SEdit& edit) { m_patch.SetEdit(edit); }
    void UseHev1(const AVStream* stream) { m_patch.UseHev1(stream->index + 1); }
    void RequireDecoderConfig(const AVStream* stream, bool hevc) {
        m_patch.RequireDecoderConfig(stream->index + 1, hevc);
    }
    // Writes the trailer and gives the file its final name, if nothing failed.
    void Finish() { Close(true); }
    // Records why the file fails; the first failure is the one kept.
    void Fail(OutputFailure what, int code) { m_stats.Fail(what, code); }
    // Gives the file up: it is removed, and the failure is Create unless something said more.
    void Discard();
    // Gives the file up on request: closed and removed, and no failure recorded.
    void Abandon();
    // Frees the context without touching the file on disk.
    void Free();

    // False once the file was finished, given up or never set up: nothing is written any more.
    bool IsUsable() const { return m_pCtx != nullptr; }
    // True once the file has been created and its header written; callable from any thread.
    bool HasOpened() const { return m_bOpened.load(); }
    const std::string& Path() const { return m_strPath; }
    // The temporary file's name; set by Begin, readable from any thread once HasOpened.
    const std::string& TempPath() const { return m_strTempPath; }

private:
    int CreateTemporary();
    void Close(bool writeTrailer);
    void Commit(int trailer, int closed);
    void Count(const AVPacket* packet, const AVStream* stream);

    int PatchIndex();

    SOutputStats& m_stats;
    AVFormatContext* m_pCtx = nullptr;
    CMoovPatch m_patch;
    std::string m_strPath;
    std::string m_strTempPath;
    std::atomic<bool> m_bOpened{false};
    int m_nWriteBackFd = -1;
    int64_t m_nWriteBackFrom = 0; // bytes counted when write-back was last started
    static constexpr int64_t kWriteBackBytes = 8 << 20;
};

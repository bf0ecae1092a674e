// libFuzzer target: arbitrary bytes through the NAL-unit splitter and a muxer's frame path.
// The input is taken as an H.265 Annex B stream: each start code begins a new record (time
// stamps 1 ms apart), and every third record is followed by an audio record made of the same
// bytes. The records are much shorter than the time between them, so the audio has gaps the
// muxer fills with silence: 1 ms apart, that silence stays a small part of each run.

#include "CMP4.h"
#include "FindNalUnit.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string g_dir;
const uint64_t kRecordStepUs = 1000;

std::vector<std::pair<const uint8_t*, int32_t>> Records(const uint8_t* data, int32_t size) {
    std::vector<std::pair<const uint8_t*, int32_t>> records;
    int32_t begin = 0;
    for (int32_t i = 1; i + 3 <= size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            records.emplace_back(data + begin, i - begin);
            begin = i;
        }
    records.emplace_back(data + begin, size - begin);
    return records;
}

// Once the muxer is closed the folder holds the finished file, when nothing failed, and nothing
// else: no temporary file is ever left behind.
void CheckFolder(bool failed) {
    DIR* dir = opendir(g_dir.c_str());
    if (!dir)
        abort();
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
            (failed || strcmp(name, "0.mp4") != 0))
            abort();
    }
    closedir(dir);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    char pattern[] = "/tmp/vyrk-fuzz-frames-XXXXXX";
    g_dir = mkdtemp(pattern);
    atexit([] { rmdir(g_dir.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    const int32_t length = static_cast<int32_t>(size);
    // The splitter on its own: every unit lies inside the buffer.
    ForEachNalUnit(data, length, [&](const uint8_t* unit, int32_t n) {
        if (unit < data || unit + n > data + size || n <= 0)
            abort();
    });

    RecordingHeader header;
    header.SetV80Defaults();
    const std::string path = g_dir + "/0.mp4";
    {
        CMP4 muxer;
        if (muxer.Open(path, true, &header)) {
            uint64_t timeUs = 0;
            int index = 0;
            for (const auto& record : Records(data, length)) {
                muxer.InputVideo(record.first, record.second, index, timeUs);
                if (++index % 3 == 0)
                    muxer.InputAudio(record.first, record.second, index, timeUs + 500);
                timeUs += kRecordStepUs;
            }
            muxer.Close();
            if (muxer.GetPendingSize() != 0)
                abort();
        }
        CheckFolder(muxer.HasOutputFailed());
    }
    remove(path.c_str());
    return 0;
}

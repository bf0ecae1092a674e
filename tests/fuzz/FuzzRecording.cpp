// libFuzzer target: arbitrary bytes as a recording, read and converted into a temporary folder.

#include "CVyrkConverter.h"
#include "Platform.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;

void RemoveOutputs() {
    for (int ch = 0; ch < CVyrkConverter::kMaxChannels; ++ch)
        remove((g_dir + "/out/" + std::to_string(ch) + ".mp4").c_str());
}

// The converter offers no blocking wait: look again after a pause that grows from 50 µs to
// 1 ms, so a short input ends at once and a long one leaves the processors to the converter.
void WaitUntilFinished(const CVyrkConverter& converter) {
    useconds_t pauseUs = 50;
    while (!converter.IsFinished()) {
        usleep(pauseUs);
        pauseUs = std::min<useconds_t>(pauseUs * 2, 1000);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    if (!freopen("/dev/null", "w", stdout)) // the muxers' diagnostics
        return 0;
    char pattern[] = "/tmp/vyrk-fuzz-recording-XXXXXX";
    g_dir = mkdtemp(pattern);
    atexit([] {
        remove((g_dir + "/in.Vyrk").c_str());
        rmdir((g_dir + "/out").c_str());
        rmdir(g_dir.c_str());
    });
    Platform::CreateDirectoryOneLevel(g_dir + "/out");
    Platform::SetUserMessageHandler([](const std::string&, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = g_dir + "/in.Vyrk";
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    {
        CVyrkConverter converter;
        if (converter.Init(path, g_dir + "/out/") && converter.Start())
            WaitUntilFinished(converter);
    }
    RemoveOutputs();
    return 0;
}

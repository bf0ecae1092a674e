// vyrk-sample: writes .Vyrk recordings with real H.265 video and PCM audio for tests, demos and
// benchmarks, optionally with the kinds of damage the reader has to survive.

#include "CRecordLayout.h"
#include "CSampleWriter.h"
#include "SChannelVideo.h"
#include "SRecordItem.h"
#include "SSampleOptions.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

// The exit status: 0, 1 when the video or the file cannot be made, 2 when a channel's video has
// no place to cut where asked.
int Run(const SSampleOptions& o) {
    std::vector<SChannelVideo> video(static_cast<size_t>(o.channels));
    for (int ch = 0; ch < o.channels; ++ch) {
        const SChannelVideo::Result result = video[static_cast<size_t>(ch)].Load(o, ch);
        if (result != SChannelVideo::Result::Loaded)
            return result == SChannelVideo::Result::Uncuttable ? 2 : 1;
    }
    const std::vector<SRecordItem> items = CRecordLayout(o).Build(video);
    return CSampleWriter(o).Write(items) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    SSampleOptions options;
    if (!ParseSampleOptions(argc, argv, options)) {
        fputs(kSampleUsage, stderr);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    return Run(options);
}

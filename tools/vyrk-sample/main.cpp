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

bool Run(const SSampleOptions& o) {
    std::vector<SChannelVideo> video(static_cast<size_t>(o.channels));
    for (int ch = 0; ch < o.channels; ++ch)
        if (!video[static_cast<size_t>(ch)].Load(o, ch))
            return false;
    const std::vector<SRecordItem> items = CRecordLayout(o).Build(video);
    return CSampleWriter(o).Write(items);
}

} // namespace

int main(int argc, char** argv) {
    SSampleOptions options;
    if (!ParseSampleOptions(argc, argv, options)) {
        fputs(kSampleUsage, stderr);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    return Run(options) ? 0 : 1;
}

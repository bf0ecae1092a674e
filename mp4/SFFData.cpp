#include "SFFData.h"

void InsertByTimestamp(std::deque<FramePtr>& items, FramePtr frame) {
    if (frame->bIsVideo) {
        items.push_back(std::move(frame));
        return;
    }
    const uint64_t t = frame->nTimestamp;
    auto at = items.end();
    for (size_t steps = 0; steps < kMaxAudioOvertake && at != items.begin(); ++steps) {
        const SFFData& before = **(at - 1);
        if (!before.bIsVideo || before.nTimestamp <= t)
            break;
        --at;
    }
    items.insert(at, std::move(frame));
}

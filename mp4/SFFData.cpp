#include "SFFData.h"

#include <algorithm>

void InsertByTimestamp(std::deque<FramePtr>& items, FramePtr frame) {
    const uint64_t t = frame->nTimestamp;
    if (items.empty() || items.back()->nTimestamp <= t) {
        items.push_back(std::move(frame));
        return;
    }
    auto at =
        std::upper_bound(items.begin(), items.end(), t,
                         [](uint64_t value, const FramePtr& f) { return value < f->nTimestamp; });
    items.insert(at, std::move(frame));
}

#include "CStartWindow.h"

#include "ClockMath.h"

#include <algorithm>

namespace {

// Agreeing means this close to the middle of all records seen so far...
const int64_t kWindowUs = 3000000;
// ... and the start is settled once the agreeing records span this long.
const int64_t kSpanUs = 1000000;

bool Median(const std::vector<CStartWindow::SStamp>& stamps, uint64_t& median) {
    std::vector<uint64_t> values;
    for (const CStartWindow::SStamp& s : stamps)
        if (s.timed)
            values.push_back(s.stampUs);
    if (values.empty())
        return false;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    median = *middle;
    return true;
}

} // namespace

bool CStartWindow::IsSettled(const std::vector<SStamp>& stamps) {
    uint64_t median;
    if (!Median(stamps, median))
        return false;
    uint64_t low = median, high = median;
    for (const SStamp& s : stamps) {
        if (!s.timed || !ClockNear(s.stampUs, median, kWindowUs))
            continue;
        if (ClockDiff(s.stampUs, low) < 0)
            low = s.stampUs;
        if (ClockDiff(s.stampUs, high) > 0)
            high = s.stampUs;
    }
    return ClockDiff(high, low) > kSpanUs;
}

int CStartWindow::PlaceStrays(std::vector<SStamp>& stamps) {
    uint64_t median;
    if (!Median(stamps, median))
        return 0;
    std::vector<bool> agrees(stamps.size());
    uint64_t earliest = median;
    for (size_t i = 0; i < stamps.size(); ++i) {
        agrees[i] = stamps[i].timed && ClockNear(stamps[i].stampUs, median, kWindowUs);
        if (agrees[i] && ClockDiff(stamps[i].stampUs, earliest) < 0)
            earliest = stamps[i].stampUs;
    }
    int strays = 0;
    for (size_t i = 0; i < stamps.size(); ++i) {
        SStamp& s = stamps[i];
        if (agrees[i] || !s.timed)
            continue;
        ++strays;
        s.stampUs = median;
        for (size_t k = i; k-- > 0;)
            if (agrees[k] && stamps[k].stream == s.stream) {
                s.stampUs = stamps[k].stampUs + static_cast<uint64_t>(stamps[k].durationUs);
                break;
            }
        for (size_t k = i + 1; s.stampUs == median && k < stamps.size(); ++k)
            if (agrees[k] && stamps[k].stream == s.stream) {
                s.stampUs = stamps[k].stampUs - static_cast<uint64_t>(s.durationUs);
                break;
            }
        if (ClockDiff(s.stampUs, earliest) < 0)
            s.stampUs = earliest;
    }
    return strays;
}

#include "CVideoTimeline.h"

#include <algorithm>
#include <climits>

namespace {

// Times come from record clocks, which can hold anything: arithmetic on them saturates.
int64_t Saturated(__int128 value) {
    return value > INT64_MAX   ? INT64_MAX
           : value < INT64_MIN ? INT64_MIN
                               : static_cast<int64_t>(value);
}

int64_t After(int64_t time) {
    return Saturated(static_cast<__int128>(time) + 1);
}

// Spacings beyond this many nominal frame durations are gaps in the recording, not a frame rate.
const int64_t kMaxFrameSpacing = 16;

// Waiting pictures beyond which damaged order counts, not the stream's structure, hold the
// output back; everything waiting is then output.
const size_t kMaxWaiting = 4 * CVideoTimeline::kMaxReorderDepth;

} // namespace

CVideoTimeline::CVideoTimeline(int reorderDepth, int64_t frameDuration)
    : m_nDepth(std::clamp(reorderDepth, 0, kMaxReorderDepth)),
      m_nNominalDuration(std::max<int64_t>(frameDuration, 1)),
      m_nFrameDuration(m_nNominalDuration) {}

bool CVideoTimeline::IsFrameSpacing(__int128 spacing) const {
    return spacing > 1 && spacing <= static_cast<__int128>(m_nNominalDuration) * kMaxFrameSpacing;
}

void CVideoTimeline::Add(int64_t stamp, int64_t orderCount, bool startsSequence) {
    if (startsSequence) {
        OutputAll();
        m_bSequenceOutput = false;
    } else if (m_bSequenceOutput && orderCount < m_nLastOutputOrder &&
               m_nDepth < kMaxReorderDepth) {
        // A picture that should have been output before one already was: the stream reorders
        // deeper than it declared. Later windows take it into account.
        ++m_nDepth;
    }
    m_pictures.push_back({m_nAdded++, orderCount, 0, false});
    m_stamps.insert(stamp);
    while (m_stamps.size() > static_cast<size_t>(m_nDepth))
        OutputOne();
    if (m_pictures.size() > kMaxWaiting)
        OutputAll();
}

void CVideoTimeline::Flush() {
    OutputAll();
}

void CVideoTimeline::OutputAll() {
    while (!m_stamps.empty())
        OutputOne();
}

void CVideoTimeline::OutputOne() {
    SPicture* next = nullptr;
    for (SPicture& p : m_pictures)
        if (!p.hasPts && (!next || p.orderCount < next->orderCount))
            next = &p;
    if (!next || m_stamps.empty())
        return;
    int64_t pts = *m_stamps.begin();
    m_stamps.erase(m_stamps.begin());
    if (m_nLastPts != INT64_MIN && pts <= m_nLastPts)
        pts = After(m_nLastPts);
    if (m_nLastPts == INT64_MIN)
        m_nFirstPts = pts;
    else if (IsFrameSpacing(static_cast<__int128>(pts) - m_nLastPts))
        m_nFrameDuration = pts - m_nLastPts;
    m_nLastPts = pts;
    next->pts = pts;
    next->hasPts = true;
    m_outputPts.push_back(pts);
    m_nLastOutputOrder = next->orderCount;
    m_bSequenceOutput = true;
}

int64_t CVideoTimeline::AfterGap(int64_t dts) const {
    // Across a gap in the recording, the pictures after it would be decoded at times from
    // before it: composition offsets as long as the gap, which readers refuse. No picture still
    // to be taken is presented before `earliest`, so decoding may start the depth before it.
    int64_t earliest = After(m_nLastPts);
    for (const SPicture& p : m_pictures)
        if (p.hasPts)
            earliest = std::min(earliest, p.pts);
    const __int128 lead = static_cast<__int128>(m_nDepth) * m_nFrameDuration;
    const __int128 latest = static_cast<__int128>(earliest) - lead;
    if (latest - dts > static_cast<__int128>(m_nFrameDuration) * kMaxFrameSpacing)
        return Saturated(latest);
    return dts;
}

bool CVideoTimeline::OutputTime(int64_t position, int64_t& pts) const {
    if (position < m_nOutputBase ||
        position >= m_nOutputBase + static_cast<int64_t>(m_outputPts.size()))
        return false;
    pts = m_outputPts[static_cast<size_t>(position - m_nOutputBase)];
    return true;
}

bool CVideoTimeline::Next(STimes& times) {
    if (m_pictures.empty() || !m_pictures.front().hasPts)
        return false;
    const SPicture& picture = m_pictures.front();
    const int64_t behind = picture.index - m_nDepth;
    int64_t dts;
    if (behind < 0) {
        // Before the first picture's presentation: step back by the first pictures' spacing.
        int64_t second;
        if (!OutputTime(1, second) && !m_stamps.empty())
            return false;
        const bool spaced =
            OutputTime(1, second) && IsFrameSpacing(static_cast<__int128>(second) - m_nFirstPts);
        const __int128 step =
            spaced ? static_cast<__int128>(second) - m_nFirstPts : m_nFrameDuration;
        dts = Saturated(m_nFirstPts - static_cast<__int128>(-behind) * step);
    } else if (!OutputTime(behind, dts)) {
        if (!m_stamps.empty())
            return false; // that picture is still waiting for its output time
        dts = m_nLastDts == INT64_MIN ? picture.pts : After(m_nLastDts);
    }
    dts = std::max(dts, AfterGap(dts));
    if (m_nLastDts != INT64_MIN && dts <= m_nLastDts)
        dts = After(m_nLastDts);
    times.dts = dts;
    times.pts = std::max(picture.pts, dts);
    times.duration = m_nFrameDuration;
    m_nLastDts = dts;
    m_pictures.pop_front();
    ++m_nTaken;
    // Decode times look back at most the reorder depth: older output times are not needed.
    while (!m_outputPts.empty() && m_nOutputBase < m_nTaken - kMaxReorderDepth - 1) {
        m_outputPts.pop_front();
        ++m_nOutputBase;
    }
    return true;
}

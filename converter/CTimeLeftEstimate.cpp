#include "CTimeLeftEstimate.h"

void CTimeLeftEstimate::Reset(double now, double done) {
    m_samples.clear();
    m_samples.emplace_back(now, done);
}

void CTimeLeftEstimate::Update(double now, double done) {
    if (!m_samples.empty() && now <= m_samples.back().first)
        return;
    m_samples.emplace_back(now, done);
    // Keep one sample at or before the window's start, so the window always spans it fully.
    while (m_samples.size() > 2 && now - m_samples[1].first >= kWindowSeconds)
        m_samples.pop_front();
}

double CTimeLeftEstimate::Rate() const {
    if (m_samples.size() < 2)
        return 0.0;
    const auto& first = m_samples.front();
    const auto& last = m_samples.back();
    const double span = last.first - first.first;
    if (span < kMinimumSpanSeconds || last.second <= first.second)
        return 0.0;
    return (last.second - first.second) / span;
}

double CTimeLeftEstimate::SecondsLeft(double total) const {
    const double rate = Rate();
    if (rate <= 0.0)
        return -1.0;
    const double left = total - m_samples.back().second;
    return left > 0.0 ? left / rate : 0.0;
}

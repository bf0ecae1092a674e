#pragma once

#include <deque>
#include <utility>

// Estimates the time left from how a count of work done grows, such as bytes converted. The
// rate is taken over the last half minute, so it follows a change of pace without jumping at
// every sample; until a few seconds of work have been seen it is unknown.
class CTimeLeftEstimate {
public:
    static constexpr double kWindowSeconds = 30.0;
    static constexpr double kMinimumSpanSeconds = 2.0;

    // Starts again: `done` at time `now` (seconds on any steady clock).
    void Reset(double now, double done);
    void Update(double now, double done);
    // Work per second; 0 while unknown.
    double Rate() const;
    // Seconds until `total` is reached; negative while unknown.
    double SecondsLeft(double total) const;

private:
    std::deque<std::pair<double, double>> m_samples; // (time, done), oldest first
};

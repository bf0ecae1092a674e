#pragma once

#include "CTimeLeftEstimate.h"
#include "SConversionProgress.h"

#include <chrono>
#include <cstdio>
#include <string>

// Progress of the running recording on standard error. On a terminal one line is rewritten in
// place a few times a second (percent, MB/s, time left); otherwise a plain line every ten
// seconds. Disabled, it prints nothing.
class CProgressLine {
public:
    CProgressLine(FILE* out, bool terminal, bool enabled);
    void Begin(int index, int count, const std::string& name);
    void Update(const SConversionProgress& progress);
    // Something the operator should see now, such as a stop being carried out.
    void Note(const std::string& text);
    void End(const std::string& state, const SConversionProgress& progress);

private:
    using Clock = std::chrono::steady_clock;
    double Seconds() const;
    std::string Label() const;
    void Clear();

    FILE* m_out;
    bool m_terminal;
    bool m_enabled;
    std::string m_name;
    int m_index = 0;
    int m_count = 0;
    Clock::time_point m_start;
    double m_lastPrint = 0;
    bool m_lineOpen = false;
    CTimeLeftEstimate m_estimate;
};

#include "CProgressLine.h"

#include <cmath>

namespace {

constexpr double kTerminalInterval = 0.25;
constexpr double kPlainInterval = 10.0;

std::string HoursMinutesSeconds(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    snprintf(text, sizeof(text), "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

double Megabytes(double bytes) {
    return bytes / 1e6;
}

} // namespace

CProgressLine::CProgressLine(FILE* out, bool terminal, bool enabled)
    : m_out(out), m_terminal(terminal), m_enabled(enabled) {}

double CProgressLine::Seconds() const {
    return std::chrono::duration<double>(Clock::now() - m_start).count();
}

std::string CProgressLine::Label() const {
    return m_count > 1
               ? "[" + std::to_string(m_index) + "/" + std::to_string(m_count) + "] " + m_name
               : m_name;
}

void CProgressLine::Begin(int index, int count, const std::string& name) {
    m_index = index;
    m_count = count;
    m_name = name;
    m_start = Clock::now();
    m_lastPrint = 0;
    m_estimate.Reset(0.0, 0.0);
}

void CProgressLine::Update(const SConversionProgress& progress) {
    const double now = Seconds();
    const double done = progress.Fraction() * static_cast<double>(progress.bytesTotal);
    m_estimate.Update(now, done);
    if (!m_enabled || now - m_lastPrint < (m_terminal ? kTerminalInterval : kPlainInterval))
        return;
    m_lastPrint = now;
    const double left = m_estimate.SecondsLeft(static_cast<double>(progress.bytesTotal));
    const double rate = m_estimate.Rate();
    char speed[32] = "--.- MB/s";
    if (rate > 0)
        snprintf(speed, sizeof(speed), "%.1f MB/s", Megabytes(rate));
    char figures[128];
    snprintf(figures, sizeof(figures), "%5.1f%%  %10s  %s left", 100.0 * progress.Fraction(), speed,
             left < 0 ? "-:--:--" : HoursMinutesSeconds(left).c_str());
    if (m_terminal) {
        fprintf(m_out, "\r%s  %s\033[K", Label().c_str(), figures);
        m_lineOpen = true;
    } else {
        fprintf(m_out, "vyrk2mp4: %s  %s\n", Label().c_str(), figures);
    }
    fflush(m_out);
}

void CProgressLine::Clear() {
    if (m_lineOpen)
        fputs("\r\033[K", m_out);
    m_lineOpen = false;
}

void CProgressLine::Note(const std::string& text) {
    if (!m_enabled)
        return;
    Clear();
    fprintf(m_out, "vyrk2mp4: %s\n", text.c_str());
    fflush(m_out);
}

void CProgressLine::End(const std::string& state, const SConversionProgress& progress) {
    if (!m_enabled)
        return;
    Clear();
    const double seconds = Seconds();
    const double megabytes = Megabytes(static_cast<double>(progress.bytesConsumed));
    fprintf(m_out, "vyrk2mp4: %s  %s, %.1f MB in %s (%.1f MB/s)\n", Label().c_str(), state.c_str(),
            megabytes, HoursMinutesSeconds(seconds).c_str(),
            seconds > 0 ? megabytes / seconds : 0.0);
    fflush(m_out);
}

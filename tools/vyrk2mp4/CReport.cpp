#include "CReport.h"

#include <cerrno>
#include <cinttypes>

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // No overlong forms, surrogates or code points past U+10FFFF.
    const unsigned char second = length > 1 ? byte(i + 1) : 0x80;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else if (const size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
            continue;
        } else {
            out += "\\ufffd";
        }
        ++i;
    }
    return out + "\"";
}

CReport::CReport(FILE* out, bool json, std::string logPath)
    : m_out(out), m_json(json), m_logPath(std::move(logPath)) {}

void CReport::Add(const SRecordingOutcome& outcome) {
    errno = 0;
    if (m_json)
        AddJson(outcome);
    else
        AddText(outcome);
    Flush();
}

// A failed fprintf or fflush sets errno and marks the stream for good.
void CReport::Flush() {
    const bool failed = fflush(m_out) != 0 || ferror(m_out);
    if (failed && m_error == 0)
        m_error = errno != 0 ? errno : EIO;
}

void CReport::AddText(const SRecordingOutcome& o) {
    fprintf(m_out, "%s: %s%s%s", o.input.c_str(), o.state.c_str(), o.reason.empty() ? "" : ": ",
            o.reason.c_str());
    if (!o.outputDir.empty())
        fprintf(m_out, " -> %s", o.outputDir.c_str());
    fputc('\n', m_out);
    for (const SRecordingOutcome::SChannel& ch : o.channels) {
        const std::string name =
            ch.file.empty() ? "channel " + std::to_string(ch.channel) : ch.file;
        if (ch.state == "written")
            fprintf(m_out, "  %s: written, %.3f s, %" PRId64 " packets, %" PRId64 " bytes\n",
                    name.c_str(), ch.seconds, ch.packets, ch.bytes);
        else
            fprintf(m_out, "  %s: %s%s%s\n", name.c_str(), ch.state.c_str(),
                    ch.reason.empty() ? "" : ": ", ch.reason.c_str());
    }
}

namespace {

std::string JsonOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

std::string Seconds(double seconds) {
    if (seconds < 0)
        return "null";
    char text[32];
    snprintf(text, sizeof(text), "%.6f", seconds);
    return text;
}

} // namespace

void CReport::AddJson(const SRecordingOutcome& o) {
    fprintf(m_out,
            "{\"input\":%s,\"output\":%s,\"state\":%s,\"reason\":%s,\"start\":%s,"
            "\"timecode\":%s,\"clock_steps\":%d,\"channels\":[",
            JsonString(o.input).c_str(), JsonString(o.outputDir).c_str(),
            JsonString(o.state).c_str(), JsonString(o.reason).c_str(), JsonOrNull(o.start).c_str(),
            JsonOrNull(o.timecode).c_str(), o.clockSteps);
    for (size_t i = 0; i < o.channels.size(); ++i) {
        const SRecordingOutcome::SChannel& ch = o.channels[i];
        fprintf(m_out,
                "%s{\"channel\":%d,\"file\":%s,\"state\":%s,\"reason\":%s,\"duration\":%.3f,"
                "\"packets\":%" PRId64 ",\"bytes\":%" PRId64 ",\"start_offset\":%s,"
                "\"sample_entry\":%s}",
                i ? "," : "", ch.channel, JsonOrNull(ch.file).c_str(), JsonString(ch.state).c_str(),
                JsonString(ch.reason).c_str(), ch.seconds, ch.packets, ch.bytes,
                Seconds(ch.startSeconds).c_str(), JsonOrNull(ch.sampleEntry).c_str());
    }
    fprintf(m_out, "],\"log\":%s}\n", m_logPath.empty() ? "null" : JsonString(m_logPath).c_str());
}

void CReport::Finish() {
    errno = 0;
    if (!m_json && !m_logPath.empty())
        fprintf(m_out, "log: %s\n", m_logPath.c_str());
    Flush();
}

#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What became of one recording, as the report tells it.
struct SRecordingOutcome {
    struct SChannel {
        int channel = 0;
        std::string file;  // empty when the channel has no file name
        std::string state; // "written", "failed", "kept" (an earlier file) or "no video"
        std::string reason;
        double seconds = 0;
        int64_t packets = 0;
        int64_t bytes = 0;        // size of the written file
        double startSeconds = -1; // its first record after the recording's zero; -1: none
        std::string sampleEntry;  // "hev1" or "hvc1" for a written H.265 file
    };
    std::string input;
    std::string outputDir;
    std::string state; // "converted", "damaged", "stopped" or "failed"
    std::string reason;
    std::string start;    // the recording's zero in UTC, ISO 8601; empty when not known
    std::string timecode; // the zero's timecode; empty when the recording had no records
    int clockSteps = 0;
    std::vector<SChannel> channels;
};

// The report on standard output: per recording a line and a line per channel, or one JSON
// object per line with --json. Each recording is written and flushed as soon as it is known.
class CReport {
public:
    CReport(FILE* out, bool json, std::string logPath);
    void Add(const SRecordingOutcome& outcome);
    // The closing line of the text report: where the diagnostics are.
    void Finish();
    // 0 while everything reached the stream; else the errno of the first write that failed
    // (EIO when it is not known).
    int GetError() const { return m_error; }

private:
    void Flush();

    void AddText(const SRecordingOutcome& outcome);
    void AddJson(const SRecordingOutcome& outcome);

    FILE* m_out;
    bool m_json;
    std::string m_logPath;
    int m_error = 0;
};

// A JSON string literal of `text`, quotes included. Bytes that are not UTF-8 become U+FFFD, so
// the output stays valid whatever a file name holds.
std::string JsonString(const std::string& text);

#pragma once

#include "CRecordingWriter.h"
#include "CSampleAudio.h"
#include "SRecordItem.h"
#include "SSampleOptions.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

// Writes the laid-out records into the recording and the stream dumps, listing each with
// --list-records, then cuts the end off with --truncate and prints the summary.
class CSampleWriter {
public:
    explicit CSampleWriter(const SSampleOptions& options);
    // False, with the reason on stderr, when the file cannot be written or truncated.
    bool Write(const std::vector<SRecordItem>& items);

private:
    bool WriteRecords(const std::vector<SRecordItem>& items, CRecordingWriter& writer);
    bool Finish(CRecordingWriter& writer, uint64_t size);
    void PrintSummary(uint64_t size, size_t records) const;

    const SSampleOptions& m_options;
    CSampleAudio m_audio;
    std::map<std::tuple<int, int, int>, long> m_counts; // by channel, type and subType
};

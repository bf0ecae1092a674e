#pragma once

#include "RecordHeader.h"

#include <cstdint>
#include <string>
#include <vector>

// A recording held in memory as its records, so tests can damage it and write it back.
struct RecordingFile {
    struct Record {
        RecordHeader header;
        std::vector<uint8_t> payload; // written as is, whatever header.payloadSize says
        size_t offset = 0;            // where the record starts in the loaded file
    };

    std::vector<uint8_t> prefix; // magic and, for V81, the header block
    std::vector<Record> records;

    // Reads a V81 recording written by vyrk-sample (complete records only).
    bool Load(const std::string& path);
    bool Save(const std::string& path) const;
    std::vector<uint8_t> Bytes() const;
};

// The indices of the video records (type 0, subType 0) of one channel, in file order.
std::vector<size_t> VideoRecordsOf(const RecordingFile& file, int channel);

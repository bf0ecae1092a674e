#pragma once

#include "RecordHeader.h"
#include "RecordingHeader.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes .Vyrk recordings: a 16-byte magic, the header block (V81 only), then records.
class CRecordingWriter {
public:
    enum class Magic { V80, V81, Unrecognised };

    CRecordingWriter() = default;
    CRecordingWriter(const CRecordingWriter&) = delete;
    CRecordingWriter& operator=(const CRecordingWriter&) = delete;
    ~CRecordingWriter();

    // Creates the file and writes the magic (and for V81 the header). False on failure.
    bool Open(const std::string& path, Magic magic, const RecordingHeader& header);
    // Writes the raw 16 magic bytes as given, followed by nothing else.
    bool OpenWithRawMagic(const std::string& path, const uint8_t* magic16);
    bool WriteRecord(const RecordHeader& header, const uint8_t* payload, size_t size);
    bool WriteRecord(uint8_t channel, uint64_t timestampUs, uint8_t type, uint8_t subType,
                     const std::vector<uint8_t>& payload, int32_t extra = 0);
    bool WriteRaw(const void* data, size_t size);
    // Flushes and closes; false if any write failed.
    bool Close();
    uint64_t BytesWritten() const { return m_nBytes; }

private:
    FILE* m_pFile = nullptr;
    bool m_bFailed = false;
    uint64_t m_nBytes = 0;
};

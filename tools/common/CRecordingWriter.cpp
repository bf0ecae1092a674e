#include "CRecordingWriter.h"

#include <cstring>

CRecordingWriter::~CRecordingWriter() {
    Close();
}

bool CRecordingWriter::Open(const std::string& path, Magic magic, const RecordingHeader& header) {
    uint8_t tag[RecordingMagic::kSize] = {};
    const char* text = magic == Magic::V80   ? RecordingMagic::kV80
                       : magic == Magic::V81 ? RecordingMagic::kV81
                                             : "VYRK_001 V99X7";
    memcpy(tag, text, strlen(text));
    if (!OpenWithRawMagic(path, tag))
        return false;
    if (magic == Magic::V81)
        WriteRaw(header.bytes, RecordingHeader::kSize);
    return !m_bFailed;
}

bool CRecordingWriter::OpenWithRawMagic(const std::string& path, const uint8_t* magic16) {
    Close();
    m_pFile = fopen(path.c_str(), "wb");
    m_bFailed = m_pFile == nullptr;
    m_nBytes = 0;
    if (m_pFile)
        WriteRaw(magic16, RecordingMagic::kSize);
    return !m_bFailed;
}

bool CRecordingWriter::WriteRecord(const RecordHeader& header, const uint8_t* payload,
                                   size_t size) {
    uint8_t bytes[RecordHeader::kSize];
    header.Encode(bytes);
    WriteRaw(bytes, sizeof(bytes));
    if (size > 0)
        WriteRaw(payload, size);
    return !m_bFailed;
}

bool CRecordingWriter::WriteRecord(uint8_t channel, uint64_t timestampUs, uint8_t type,
                                   uint8_t subType, const std::vector<uint8_t>& payload,
                                   int32_t extra) {
    RecordHeader h;
    h.channel = channel;
    h.timestamp = timestampUs;
    h.type = type;
    h.subType = subType;
    h.extra = extra;
    h.payloadSize = static_cast<int32_t>(payload.size());
    return WriteRecord(h, payload.data(), payload.size());
}

bool CRecordingWriter::WriteRaw(const void* data, size_t size) {
    if (!m_pFile || fwrite(data, 1, size, m_pFile) != size)
        m_bFailed = true;
    else
        m_nBytes += size;
    return !m_bFailed;
}

bool CRecordingWriter::Close() {
    if (m_pFile) {
        if (fclose(m_pFile) != 0)
            m_bFailed = true;
        m_pFile = nullptr;
    }
    return !m_bFailed;
}

#include "RecordingFile.h"

#include "RecordingHeader.h"
#include "TempDir.h"

#include <cstdio>

bool RecordingFile::Load(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    const size_t headerEnd = RecordingMagic::kSize + RecordingHeader::kSize;
    if (bytes.size() < headerEnd)
        return false;
    prefix.assign(bytes.begin(), bytes.begin() + static_cast<long>(headerEnd));
    records.clear();
    size_t at = headerEnd;
    while (at + RecordHeader::kSize <= bytes.size()) {
        Record r;
        r.offset = at;
        r.header = RecordHeader::Decode(reinterpret_cast<const uint8_t*>(bytes.data() + at));
        at += RecordHeader::kSize;
        const size_t size = static_cast<size_t>(r.header.payloadSize);
        if (r.header.payloadSize < 0 || at + size > bytes.size())
            return false;
        r.payload.assign(bytes.begin() + static_cast<long>(at),
                         bytes.begin() + static_cast<long>(at + size));
        at += size;
        records.push_back(std::move(r));
    }
    return at == bytes.size();
}

std::vector<uint8_t> RecordingFile::Bytes() const {
    std::vector<uint8_t> out = prefix;
    for (const Record& r : records) {
        uint8_t header[RecordHeader::kSize];
        r.header.Encode(header);
        out.insert(out.end(), header, header + sizeof(header));
        out.insert(out.end(), r.payload.begin(), r.payload.end());
    }
    return out;
}

bool RecordingFile::Save(const std::string& path) const {
    const std::vector<uint8_t> bytes = Bytes();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::vector<size_t> VideoRecordsOf(const RecordingFile& file, int channel) {
    std::vector<size_t> out;
    for (size_t i = 0; i < file.records.size(); ++i) {
        const RecordHeader& h = file.records[i].header;
        if (h.channel == channel && h.type == 0 && h.subType == 0)
            out.push_back(i);
    }
    return out;
}

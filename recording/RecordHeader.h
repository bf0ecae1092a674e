#pragma once

#include <cstdint>

#pragma pack(push, 1)
// The 19-byte header in front of every record. Decoded from and encoded to little-endian bytes
// explicitly, so no code ever reads it through an unaligned pointer.
struct RecordHeader {
    static constexpr int kSize = 19;
    enum Type : uint8_t { kVideo = 0, kAudio = 2 };

    uint8_t channel;
    uint64_t timestamp; // microseconds
    uint8_t type;
    uint8_t subType;
    int32_t extra;
    int32_t payloadSize;

    static RecordHeader Decode(const uint8_t* bytes);
    void Encode(uint8_t* bytes) const;
};
#pragma pack(pop)

static_assert(sizeof(RecordHeader) == RecordHeader::kSize, "record header must be packed");

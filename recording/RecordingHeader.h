#pragma once

#include <cstdint>
#include <cstring>

// The 1068-byte block of recording-wide parameters, kept byte for byte as stored in the file.
// Fields are read at their offsets, little-endian; the bytes no one interprets travel along.
struct RecordingHeader {
    static constexpr int kSize = 1068;
    static constexpr int kChannelCountOffset = 12;
    static constexpr int kVideoWidthOffset = 16;
    static constexpr int kVideoHeightOffset = 20;
    static constexpr int kFrameRateDenOffset = 24;
    static constexpr int kFrameRateNumOffset = 28;
    static constexpr int kVideoBitRateOffset = 32;

    uint8_t bytes[kSize];

    void Clear() { memset(bytes, 0, sizeof(bytes)); }
    // The values a V80 recording implies, since it stores no header of its own.
    void SetV80Defaults();

    int32_t FieldAt(int offset) const;
    void SetFieldAt(int offset, int32_t value);

    int32_t channelCount() const { return FieldAt(kChannelCountOffset); }
    int32_t videoWidth() const { return FieldAt(kVideoWidthOffset); }
    int32_t videoHeight() const { return FieldAt(kVideoHeightOffset); }
    int32_t frameRateDen() const { return FieldAt(kFrameRateDenOffset); }
    int32_t frameRateNum() const { return FieldAt(kFrameRateNumOffset); }
    uint32_t videoBitRate() const { return static_cast<uint32_t>(FieldAt(kVideoBitRateOffset)); }
};

static_assert(sizeof(RecordingHeader) == RecordingHeader::kSize, "header block must be 1068 bytes");

// Magic tags at the start of a recording (16 bytes; byte 15 always counts as zero).
namespace RecordingMagic {
const int kSize = 16;
const char* const kV80 = "VYRK_001 V80X7";
const char* const kV81 = "VYRK_001 V81X7";

enum class Version { V80, V81, Unrecognised };

// Classifies the 16 magic bytes.
Version Classify(const uint8_t* magic);
} // namespace RecordingMagic

#include "RecordingHeader.h"

#include "ByteOrder.h"

#include <string>

void RecordingHeader::SetV80Defaults() {
    static constexpr int32_t kValues[] = {0, 7, 0, 7, 2592, 1944, 1, 30, 7000, 2592, 1944};
    Clear();
    for (int i = 0; i < 11; ++i)
        SetFieldAt(i * 4, kValues[i]);
}

int32_t RecordingHeader::FieldAt(int offset) const {
    return ByteOrder::ReadI32(bytes + offset);
}

void RecordingHeader::SetFieldAt(int offset, int32_t value) {
    ByteOrder::WriteU32(bytes + offset, static_cast<uint32_t>(value));
}

namespace RecordingMagic {

Version Classify(const uint8_t* magic) {
    char tag[kSize];
    memcpy(tag, magic, kSize);
    tag[kSize - 1] = '\0';
    const std::string text(tag);
    if (text == kV80)
        return Version::V80;
    if (text == kV81)
        return Version::V81;
    return Version::Unrecognised;
}

} // namespace RecordingMagic

#include "RecordHeader.h"

#include "ByteOrder.h"

RecordHeader RecordHeader::Decode(const uint8_t* bytes) {
    RecordHeader h;
    h.channel = bytes[0];
    h.timestamp = ByteOrder::ReadU64(bytes + 1);
    h.type = bytes[9];
    h.subType = bytes[10];
    h.extra = ByteOrder::ReadI32(bytes + 11);
    h.payloadSize = ByteOrder::ReadI32(bytes + 15);
    return h;
}

void RecordHeader::Encode(uint8_t* bytes) const {
    bytes[0] = channel;
    ByteOrder::WriteU64(bytes + 1, timestamp);
    bytes[9] = type;
    bytes[10] = subType;
    ByteOrder::WriteU32(bytes + 11, static_cast<uint32_t>(extra));
    ByteOrder::WriteU32(bytes + 15, static_cast<uint32_t>(payloadSize));
}

#pragma once

#include <cstdint>

// Little-endian field access that works on any host and never dereferences unaligned pointers.
namespace ByteOrder {

inline uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline int32_t ReadI32(const uint8_t* p) {
    return static_cast<int32_t>(ReadU32(p));
}

inline uint64_t ReadU64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadU32(p)) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

inline void WriteU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void WriteU64(uint8_t* p, uint64_t v) {
    WriteU32(p, static_cast<uint32_t>(v));
    WriteU32(p + 4, static_cast<uint32_t>(v >> 32));
}

} // namespace ByteOrder

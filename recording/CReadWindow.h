#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A window over a file that is read forward: the bytes of [Start(), Start() + length) held in
// one buffer, refilled a read step at a time (more only for a larger view). Reads never pass the
// file size given to Reset, so every check against that size agrees with what can be read. A
// read error or a failed allocation is kept; from then on nothing more is read.
class CReadWindow {
public:
    static constexpr int32_t kReadStep = 4 * 1024 * 1024;

    CReadWindow() = default;
    CReadWindow(const CReadWindow&) = delete;
    CReadWindow& operator=(const CReadWindow&) = delete;

    // Starts over on a descriptor (not owned) of fileSize bytes, with a buffer of capacity bytes
    // that is allocated when first needed.
    void Reset(int fd, int64_t fileSize, int32_t capacity);
    // Frees the buffer; the next view allocates it again.
    void Free();

    // n bytes at offset (n at most the capacity), read in if needed; valid until the next call
    // that reads. Views are meant to move forward: one behind the window's start reads again. Null
    // when the file holds fewer, on a read error or when the buffer cannot be allocated.
    const uint8_t* View(int64_t offset, int32_t n);
    // n bytes at offset if the window already holds them, else null; never reads.
    const uint8_t* Peek(int64_t offset, int32_t n) const;
    // Reads n bytes at offset straight from the file, past the window. False when the file
    // holds fewer or on a read error.
    bool ReadAt(int64_t offset, uint8_t* into, size_t n);

    int64_t FileSize() const { return m_nFileSize; }
    int32_t Capacity() const { return m_nCapacity; }
    // errno of the first failed read, else 0.
    int ReadError() const { return m_nReadError; }
    // True when the buffer could not be allocated.
    bool OutOfMemory() const { return m_bOutOfMemory; }

private:
    // Reads up to n bytes at offset, retrying short reads; returns how many arrived.
    size_t ReadFile(int64_t offset, uint8_t* into, size_t n);

    int m_fd = -1;
    int64_t m_nFileSize = 0;
    int32_t m_nCapacity = 0;
    // Not zeroed: always filled from the file before use, and pages never filled take no memory.
    std::unique_ptr<uint8_t[]> m_buffer;
    int64_t m_nStart = 0;
    int32_t m_nLength = 0;
    int m_nReadError = 0;
    bool m_bOutOfMemory = false;
};

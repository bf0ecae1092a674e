#include "CReadWindow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

void CReadWindow::Reset(int fd, int64_t fileSize, int32_t capacity) {
    m_fd = fd;
    m_nFileSize = fileSize;
    if (capacity != m_nCapacity)
        m_buffer.reset();
    m_nCapacity = std::max<int32_t>(capacity, 1);
    m_nStart = 0;
    m_nLength = 0;
    m_nReadError = 0;
    m_bOutOfMemory = false;
}

void CReadWindow::Free() {
    m_buffer.reset();
    m_nLength = 0;
}

const uint8_t* CReadWindow::Peek(int64_t offset, int32_t n) const {
    if (offset < m_nStart || n < 0 || offset + n > m_nStart + m_nLength)
        return nullptr;
    return m_buffer.get() + (offset - m_nStart);
}

const uint8_t* CReadWindow::View(int64_t offset, int32_t n) {
    if (const uint8_t* held = Peek(offset, n))
        return held;
    if (n < 0 || n > m_nCapacity || offset < 0 || offset + n > m_nFileSize || m_nReadError != 0 ||
        m_bOutOfMemory)
        return nullptr;
    if (!m_buffer) {
        m_buffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_nCapacity)]);
        m_nLength = 0;
    }
    if (!m_buffer) {
        m_bOutOfMemory = true;
        return nullptr;
    }
    // Keep what is held from offset on, at the front, and read behind it. A view behind the
    // window's start reads it all again.
    const int64_t keep =
        offset < m_nStart ? 0 : std::max<int64_t>(0, m_nStart + m_nLength - offset);
    if (keep > 0)
        memmove(m_buffer.get(), m_buffer.get() + (offset - m_nStart), static_cast<size_t>(keep));
    m_nStart = offset;
    m_nLength = static_cast<int32_t>(keep);
    const int64_t wanted =
        std::min<int64_t>({m_nCapacity, std::max(n, kReadStep), m_nFileSize - offset});
    if (wanted > m_nLength)
        m_nLength += static_cast<int32_t>(ReadFile(offset + m_nLength, m_buffer.get() + m_nLength,
                                                   static_cast<size_t>(wanted - m_nLength)));
    return Peek(offset, n);
}

bool CReadWindow::ReadAt(int64_t offset, uint8_t* into, size_t n) {
    if (offset < 0 || offset + static_cast<int64_t>(n) > m_nFileSize || m_nReadError != 0)
        return false;
    return ReadFile(offset, into, n) == n;
}

size_t CReadWindow::ReadFile(int64_t offset, uint8_t* into, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = pread(m_fd, into + got, n - got, static_cast<off_t>(offset) + got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && m_nReadError == 0)
            m_nReadError = errno != 0 ? errno : EIO;
        break; // an error, or the file is shorter than it was
    }
    return got;
}

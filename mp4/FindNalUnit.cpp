#include "FindNalUnit.h"

#include <cstring>

namespace {

// The first zero byte at or after from and before limit, or limit when there is none. memchr
// compares many bytes at a time, and in coded video zero bytes are rare: one in a few hundred.
int32_t NextZero(const uint8_t* buf, int32_t from, int32_t limit) {
    if (from >= limit)
        return limit;
    const void* zero = memchr(buf + from, 0, static_cast<size_t>(limit - from));
    return zero ? static_cast<int32_t>(static_cast<const uint8_t*>(zero) - buf) : limit;
}

// 00 00 01 or 00 00 00 01 at i: the offset just past it, else 0. Needs four readable bytes.
int32_t StartCodeEnd(const uint8_t* p, int32_t i) {
    if (p[i] != 0 || p[i + 1] != 0)
        return 0;
    if (p[i + 2] == 1)
        return i + 3;
    return p[i + 2] == 0 && p[i + 3] == 1 ? i + 4 : 0;
}

// Where a start code begins, looked for at 0 and then at 1 up to len - 5; the offset just past
// it, or 0 when there is none.
int32_t FindStartCode(const uint8_t* buf, int32_t len) {
    if (len >= 4) {
        if (const int32_t end = StartCodeEnd(buf, 0))
            return end;
    } else if (len == 3 && buf[0] == 0 && buf[1] == 0 && buf[2] == 1) {
        return 3;
    }
    const int32_t limit = len - 4; // positions before it leave four bytes to compare
    for (int32_t i = NextZero(buf, 1, limit); i < limit; i = NextZero(buf, i + 1, limit)) {
        const int32_t end = StartCodeEnd(buf, i);
        if (end != 0)
            return end;
    }
    return 0;
}

// 00 00 00 or 00 00 01 at j, which needs three readable bytes.
bool EndsUnit(const uint8_t* p, int32_t j) {
    return p[j] == 0 && p[j + 1] == 0 && p[j + 2] <= 1;
}

// Where the unit that begins at start ends: looked for at start and then at start + 1 up to
// len - 4; len when it runs to the end.
int32_t FindUnitEnd(const uint8_t* buf, int32_t len, int32_t start) {
    if (start + 3 <= len && EndsUnit(buf, start))
        return start;
    const int32_t limit = len - 3;
    for (int32_t j = NextZero(buf, start + 1, limit); j < limit; j = NextZero(buf, j + 1, limit))
        if (EndsUnit(buf, j))
            return j;
    return len;
}

} // namespace

int32_t FindNalUnit(const uint8_t* buf, int32_t len, int32_t* start, int32_t* end) {
    *start = 0;
    *end = 0;
    if (len < 3)
        return 0;
    const int32_t found = FindStartCode(buf, len);
    if (found == 0)
        return 0;
    *start = found;
    *end = FindUnitEnd(buf, len, found);
    return *end == len ? -1 : *end - *start;
}

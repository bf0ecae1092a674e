#include "FindNalUnit.h"

namespace {

bool Matches(const uint8_t* buf, int32_t len, int32_t at, const uint8_t* pattern, int32_t n) {
    if (at < 0 || at + n > len)
        return false;
    for (int32_t i = 0; i < n; ++i)
        if (buf[at + i] != pattern[i])
            return false;
    return true;
}

const uint8_t kStart3[] = {0, 0, 1};
const uint8_t kStart4[] = {0, 0, 0, 1};
const uint8_t kZeros3[] = {0, 0, 0};

} // namespace

int32_t FindNalUnit(const uint8_t* buf, int32_t len, int32_t* start, int32_t* end) {
    *start = 0;
    *end = 0;
    int32_t i = 0;
    for (;;) {
        if (Matches(buf, len, i, kStart3, 3)) {
            *start = i + 3;
            break;
        }
        if (Matches(buf, len, i, kStart4, 4)) {
            *start = i + 4;
            break;
        }
        ++i;
        if (i + 4 >= len)
            return 0;
    }
    for (int32_t j = *start;;) {
        if (Matches(buf, len, j, kZeros3, 3) || Matches(buf, len, j, kStart3, 3)) {
            *end = j;
            return *end - *start;
        }
        ++j;
        if (j + 3 >= len) {
            *end = len;
            return -1;
        }
    }
}

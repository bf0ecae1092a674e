#include "FindNalUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Units(const Bytes& data) {
    std::vector<Bytes> units;
    ForEachNalUnit(data.data(), static_cast<int32_t>(data.size()),
                   [&](const uint8_t* p, int32_t n) { units.emplace_back(p, p + n); });
    return units;
}

} // namespace

TEST(FindNalUnit, FindsUnitsBehindThreeAndFourByteStartCodes) {
    const Bytes data = {0,    0,    0,    1, 0x40, 0x01, 0xAA, 0,    0,    0,   1,
                        0x42, 0x01, 0xBB, 0, 0,    1,    0x44, 0x01, 0xCC, 0xDD};
    int32_t start = -1, end = -1;
    EXPECT_EQ(FindNalUnit(data.data(), static_cast<int32_t>(data.size()), &start, &end), 3);
    EXPECT_EQ(start, 4);
    EXPECT_EQ(end, 7);
    // The last unit runs to the end of the buffer.
    const int32_t last = 14;
    EXPECT_EQ(
        FindNalUnit(data.data() + last, static_cast<int32_t>(data.size()) - last, &start, &end),
        -1);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(end, static_cast<int32_t>(data.size()) - last);
    const std::vector<Bytes> expected = {
        {0x40, 0x01, 0xAA}, {0x42, 0x01, 0xBB}, {0x44, 0x01, 0xCC, 0xDD}};
    EXPECT_EQ(Units(data), expected);
}

TEST(FindNalUnit, ReportsNoUnitWhereThereIsNone) {
    const std::vector<Bytes> none = {
        {},
        {0, 0},
        {0x11, 0x22, 0x33, 0x44, 0x55, 0x66},    // no start code at all
        {0, 0, 0, 1, 0, 0, 0, 0x26, 0x01},       // start code followed by 00 00 00
        {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1},    // only start codes
        {0, 0, 0, 1, 0, 0, 1, 0x26, 0x01, 0xAF}, // start code followed by a start code
        {0x12, 0, 0, 1},                         // a start code with nothing behind it
        {0, 0, 0, 1},
    };
    for (const Bytes& data : none) {
        int32_t start = -1, end = -1;
        const int32_t r = FindNalUnit(data.data(), static_cast<int32_t>(data.size()), &start, &end);
        EXPECT_LE(r, 0) << "size " << data.size();
        EXPECT_TRUE(Units(data).empty()) << "size " << data.size();
    }
}

TEST(FindNalUnit, DropsLeadingJunkAndTrailingZeros) {
    const Bytes data = {0x99, 0x98, 0, 0, 1, 0x26, 0x01, 0x55, 0, 0, 0, 0, 0};
    const std::vector<Bytes> expected = {{0x26, 0x01, 0x55}};
    EXPECT_EQ(Units(data), expected);
}

TEST(FindNalUnit, NeverReadsPastTheBuffer) {
    // Each prefix of a valid stream is walked with nothing after it in memory that could match.
    const Bytes data = {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0, 0, 1, 0x42, 0x01, 0x01, 0, 0, 0};
    for (size_t n = 0; n <= data.size(); ++n) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[n ? n : 1]);
        std::copy(data.begin(), data.begin() + static_cast<long>(n), exact.get());
        int32_t units = 0;
        ForEachNalUnit(exact.get(), static_cast<int32_t>(n), [&](const uint8_t*, int32_t len) {
            EXPECT_GT(len, 0);
            ++units;
        });
        EXPECT_LE(units, 2);
    }
}

namespace {

// The plain byte-by-byte scan: every position compared in turn, with a bounds check each time.
int32_t ScanByteByByte(const uint8_t* buf, int32_t len, int32_t* start, int32_t* end) {
    auto at = [&](int32_t i, std::initializer_list<uint8_t> pattern) {
        if (i + static_cast<int32_t>(pattern.size()) > len)
            return false;
        return std::equal(pattern.begin(), pattern.end(), buf + i);
    };
    *start = *end = 0;
    for (int32_t i = 0;; ++i) {
        if (i > 0 && i + 4 >= len)
            return 0;
        if (at(i, {0, 0, 1}) || at(i, {0, 0, 0, 1})) {
            *start = i + (at(i, {0, 0, 1}) ? 3 : 4);
            break;
        }
    }
    for (int32_t j = *start;; ++j) {
        if (j > *start && j + 3 >= len) {
            *end = len;
            return -1;
        }
        if (at(j, {0, 0, 0}) || at(j, {0, 0, 1})) {
            *end = j;
            return j - *start;
        }
    }
}

} // namespace

TEST(FindNalUnit, AgreesWithAByteByByteScanOnEveryPattern) {
    // Bytes mostly 0 and 1 make start codes, zero runs and near misses at every position and
    // at both ends of the buffer.
    std::mt19937 random(12345);
    const uint8_t alphabet[] = {0, 0, 0, 1, 1, 2, 0x26, 0xFF};
    for (int round = 0; round < 200000; ++round) {
        const size_t n = random() % 24;
        std::unique_ptr<uint8_t[]> data(new uint8_t[n ? n : 1]);
        for (size_t i = 0; i < n; ++i)
            data[i] = alphabet[random() % sizeof(alphabet)];
        int32_t start = -1, end = -1, expectedStart = -1, expectedEnd = -1;
        const int32_t len = static_cast<int32_t>(n);
        const int32_t expected = ScanByteByByte(data.get(), len, &expectedStart, &expectedEnd);
        ASSERT_EQ(FindNalUnit(data.get(), len, &start, &end), expected)
            << testing::PrintToString(Bytes(data.get(), data.get() + n));
        ASSERT_EQ(start, expectedStart);
        ASSERT_EQ(end, expectedEnd);
    }
}

#include "CFileLoader.h"
#include "CRecordingWriter.h"
#include "RecordHeader.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Magic(const char* text, uint8_t at14, uint8_t at15) {
    std::vector<uint8_t> m(16, 0);
    memcpy(m.data(), text, strlen(text));
    m[14] = at14;
    m[15] = at15;
    return m;
}

RecordingHeader LoadHeader(const std::string& path) {
    CFileLoader loader;
    EXPECT_TRUE(loader.Init(path));
    return loader.m_header;
}

} // namespace

TEST(RecordHeader, DecodesLittleEndianFieldsAtTheirOffsets) {
    const uint8_t bytes[19] = {0x07, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x81, 0x02,
                               0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x10, 0x20, 0x00, 0x00};
    const RecordHeader h = RecordHeader::Decode(bytes);
    // Packed fields are copied out before comparing: gtest binds its arguments by reference.
    EXPECT_EQ(uint8_t{h.channel}, 7);
    EXPECT_EQ(uint64_t{h.timestamp}, 0x8102030405060708ull);
    EXPECT_EQ(uint8_t{h.type}, 2);
    EXPECT_EQ(uint8_t{h.subType}, 1);
    EXPECT_EQ(int32_t{h.extra}, -2);
    EXPECT_EQ(int32_t{h.payloadSize}, 0x2010);
    uint8_t again[19];
    h.Encode(again);
    EXPECT_EQ(0, memcmp(bytes, again, sizeof(bytes)));
}

TEST(RecordingHeader, V80GetsTheBuiltInValues) {
    TempDir dir;
    WriteBytes(dir.File("a.Vyrk"), Magic("VYRK_001 V80X7", 0, 0));
    const RecordingHeader h = LoadHeader(dir.File("a.Vyrk"));
    const int32_t expected[] = {0, 7, 0, 7, 2592, 1944, 1, 30, 7000, 2592, 1944};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(h.FieldAt(i * 4), expected[i]) << "offset " << i * 4;
    for (int i = 44; i < RecordingHeader::kSize; ++i)
        ASSERT_EQ(h.bytes[i], 0) << "offset " << i;
    EXPECT_EQ(h.channelCount(), 7);
    EXPECT_EQ(h.videoBitRate(), 7000u);
}

TEST(RecordingHeader, V81IsTakenFromTheFileByteForByte) {
    TempDir dir;
    RecordingHeader stored;
    for (int i = 0; i < RecordingHeader::kSize; ++i)
        stored.bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    stored.SetFieldAt(RecordingHeader::kChannelCountOffset, 3);
    stored.SetFieldAt(RecordingHeader::kVideoBitRateOffset, -1);
    std::vector<uint8_t> file = Magic("VYRK_001 V81X7", 0, 0xAB); // byte 15 never matters
    file.insert(file.end(), stored.bytes, stored.bytes + RecordingHeader::kSize);
    WriteBytes(dir.File("b.Vyrk"), file);
    const RecordingHeader h = LoadHeader(dir.File("b.Vyrk"));
    EXPECT_EQ(0, memcmp(h.bytes, stored.bytes, RecordingHeader::kSize));
    EXPECT_EQ(h.channelCount(), 3);
    EXPECT_EQ(h.videoBitRate(), 0xFFFFFFFFu);
}

TEST(RecordingHeader, UnrecognisedOrShortFilesGiveAZeroHeader) {
    TempDir dir;
    const std::vector<std::vector<uint8_t>> files = {
        {},                              // empty file
        Magic("VYRK_001 V81X7", ' ', 0), // space at offset 14
        Magic("vyrk_001 v81x7", 0, 0),   // case matters
        Magic("VYRK_001 V81X", 0, 0),    // one character short
        {'V', 'Y', 'R', 'K'},            // ends inside the magic
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string path = dir.File("u" + std::to_string(i) + ".Vyrk");
        WriteBytes(path, files[i]);
        const RecordingHeader h = LoadHeader(path);
        for (int b = 0; b < RecordingHeader::kSize; ++b)
            ASSERT_EQ(h.bytes[b], 0) << "file " << i << " offset " << b;
    }
}

TEST(RecordingHeader, V81EndingInsideTheHeaderReadsZeroForTheRest) {
    TempDir dir;
    std::vector<uint8_t> file = Magic("VYRK_001 V81X7", 0, 0);
    for (int i = 0; i < 20; ++i)
        file.push_back(static_cast<uint8_t>(i + 1));
    WriteBytes(dir.File("c.Vyrk"), file);
    const RecordingHeader h = LoadHeader(dir.File("c.Vyrk"));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(h.bytes[i], i + 1);
    for (int i = 20; i < RecordingHeader::kSize; ++i)
        ASSERT_EQ(h.bytes[i], 0);
}

TEST(RecordingHeader, MissingFileFailsToOpen) {
    CFileLoader loader;
    EXPECT_FALSE(loader.Init("/nonexistent/folder/x.Vyrk"));
    EXPECT_FALSE(loader.Start());
    EXPECT_TRUE(loader.IsFinished());
}

#include "CRecorder.h"

#include "Wait.h"

#include <gtest/gtest.h>

bool Delivered::operator==(const Delivered& o) const {
    return header.channel == o.header.channel && header.timestamp == o.header.timestamp &&
           header.type == o.header.type && header.subType == o.header.subType &&
           header.extra == o.header.extra && header.payloadSize == o.header.payloadSize &&
           hash == o.hash;
}

uint64_t Hash(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t s = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        s = s * 1664525u + 1013904223u;
        v[i] = static_cast<uint8_t>(s >> 24);
    }
    return v;
}

std::vector<uint8_t> VideoPayload(size_t n, uint32_t seed) {
    std::vector<uint8_t> v = Pattern(n, seed);
    const uint8_t startCode[] = {0, 0, 0, 1};
    std::copy(startCode, startCode + std::min<size_t>(n, 4), v.begin());
    return v;
}

int32_t CRecorder::OnData(const uint8_t* header, const uint8_t* payload) {
    const RecordHeader h = RecordHeader::Decode(header);
    EXPECT_NE(payload, nullptr);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({h, Hash(payload, static_cast<size_t>(h.payloadSize))});
    return m_result ? m_result(m_records.size() - 1) : 0;
}

void CRecorder::OnEnd(int32_t status, int32_t a, int32_t b) {
    EXPECT_EQ(status, 0);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    ++m_nEnds;
    if (m_onEnd)
        m_onEnd();
}

bool CRecorder::IsIdle() {
    ++m_nIdleCalls;
    return m_bIdle.load();
}

int64_t CRecorder::GetPendingBytes() {
    ++m_nPendingCalls;
    return m_nPending.load();
}

size_t CRecorder::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records.size();
}

std::vector<Delivered> CRecorder::Records() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

SReadOutcome ReadOutcome(const std::string& path, CRecorder& recorder) {
    CFileLoader loader;
    SReadOutcome out;
    EXPECT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    EXPECT_TRUE(loader.Start());
    EXPECT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    out.records = recorder.Records();
    out.damage = loader.GetDamage();
    out.bytesConsumed = loader.GetBytesConsumed();
    out.readToEnd = loader.HasReadToEnd();
    out.readError = loader.GetReadError();
    out.abortError = loader.GetAbortError();
    out.givenUp = loader.HasGivenUp();
    return out;
}

std::vector<Delivered> ReadAll(const std::string& path, CRecorder& recorder) {
    return ReadOutcome(path, recorder).records;
}

std::vector<Delivered> ReadAll(const std::string& path) {
    CRecorder recorder;
    auto records = ReadAll(path, recorder);
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
    return records;
}

Delivered WriteRecord(CRecordingWriter& writer, RecordHeader header,
                      const std::vector<uint8_t>& payload) {
    writer.WriteRecord(header, payload.data(), payload.size());
    return {header, Hash(payload.data(), payload.size())};
}

std::vector<Delivered> WriteRecords(CRecordingWriter& writer, const std::vector<size_t>& sizes) {
    std::vector<Delivered> expected;
    for (size_t i = 0; i < sizes.size(); ++i) {
        RecordHeader h;
        h.channel = static_cast<uint8_t>(i % 3);
        h.timestamp = 1000 * i;
        h.type = static_cast<uint8_t>(i % 2 ? 2 : 0);
        h.subType = 0;
        h.extra = static_cast<int32_t>(i) - 5;
        h.payloadSize = static_cast<int32_t>(sizes[i]);
        expected.push_back(WriteRecord(writer, h, Pattern(sizes[i], static_cast<uint32_t>(i))));
    }
    return expected;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::vector<size_t>& sizes,
                      std::vector<Delivered>& expected, CRecordingWriter::Magic magic) {
    CRecordingWriter writer;
    RecordingHeader header;
    header.SetV80Defaults();
    const std::string path = dir.File(name);
    EXPECT_TRUE(writer.Open(path, magic, header));
    expected = WriteRecords(writer, sizes);
    EXPECT_TRUE(writer.Close());
    return path;
}

void AppendBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

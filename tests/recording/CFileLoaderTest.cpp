#include "CFileLoader.h"
#include "CRecordingWriter.h"
#include "ILoaderCallback.h"
#include "RecordHeader.h"

#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

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

struct Delivered {
    RecordHeader header;
    uint64_t hash;
    bool operator==(const Delivered& o) const {
        return header.channel == o.header.channel && header.timestamp == o.header.timestamp &&
               header.type == o.header.type && header.subType == o.header.subType &&
               header.extra == o.header.extra && header.payloadSize == o.header.payloadSize &&
               hash == o.hash;
    }
};

// A consumer that records what reaches it and answers as the test tells it to.
class CRecorder : public ILoaderCallback {
public:
    int32_t OnData(const uint8_t* header, const uint8_t* payload) override {
        const RecordHeader h = RecordHeader::Decode(header);
        EXPECT_NE(payload, nullptr);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back({h, Hash(payload, static_cast<size_t>(h.payloadSize))});
        return m_result ? m_result(m_records.size() - 1) : 0;
    }
    void OnEnd(int32_t status, int32_t a, int32_t b) override {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(a, 0);
        EXPECT_EQ(b, 0);
        if (m_onEnd)
            m_onEnd();
        ++m_nEnds;
    }
    bool IsIdle() override {
        ++m_nIdleCalls;
        return m_bIdle.load();
    }
    virtual ~CRecorder() = default;

    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records.size();
    }
    std::vector<Delivered> Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }

    std::function<int32_t(size_t)> m_result;
    std::function<void()> m_onEnd;
    std::atomic<bool> m_bIdle{true};
    std::atomic<int> m_nIdleCalls{0};
    std::atomic<int> m_nEnds{0};

private:
    std::mutex m_mutex;
    std::vector<Delivered> m_records;
};

std::vector<Delivered> ReadAll(const std::string& path, CRecorder& recorder) {
    CFileLoader loader;
    EXPECT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    EXPECT_TRUE(loader.Start());
    EXPECT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    return recorder.Records();
}

std::vector<Delivered> ReadAll(const std::string& path) {
    CRecorder recorder;
    auto records = ReadAll(path, recorder);
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
    return records;
}

// Writes records with the given payload sizes and returns what a reader should deliver.
std::vector<Delivered> WriteRecords(CRecordingWriter& writer, const std::vector<size_t>& sizes) {
    std::vector<Delivered> expected;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::vector<uint8_t> payload = Pattern(sizes[i], static_cast<uint32_t>(i));
        RecordHeader h;
        h.channel = static_cast<uint8_t>(i % 3);
        h.timestamp = 1000 * i;
        h.type = static_cast<uint8_t>(i % 2 ? 2 : 0);
        h.subType = 0;
        h.extra = static_cast<int32_t>(i) - 5;
        h.payloadSize = static_cast<int32_t>(sizes[i]);
        writer.WriteRecord(h, payload.data(), payload.size());
        expected.push_back({h, Hash(payload.data(), payload.size())});
    }
    return expected;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::vector<size_t>& sizes,
                      std::vector<Delivered>& expected,
                      CRecordingWriter::Magic magic = CRecordingWriter::Magic::V81) {
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

const size_t kWindow = static_cast<size_t>(CFileLoader::kWindowSize);

} // namespace

TEST(CFileLoader, DeliversEveryRecordInFileOrderForEachMagic) {
    TempDir dir;
    for (auto magic : {CRecordingWriter::Magic::V80, CRecordingWriter::Magic::V81,
                       CRecordingWriter::Magic::Unrecognised}) {
        std::vector<Delivered> expected;
        const std::string path = WriteFile(dir, "r.Vyrk", {10, 0, 4096, 1, 0, 77}, expected, magic);
        EXPECT_EQ(ReadAll(path), expected);
    }
}

TEST(CFileLoader, TruncatedRecordsEndTheStreamAfterEarlierOnes) {
    TempDir dir;
    std::vector<Delivered> expected;
    // Ends 10 bytes into a record header.
    std::string path = WriteFile(dir, "h.Vyrk", {100, 200}, expected);
    AppendBytes(path, std::vector<uint8_t>(10, 1));
    EXPECT_EQ(ReadAll(path), expected);

    // A payload cut short by the end of the file is not delivered.
    path = WriteFile(dir, "p.Vyrk", {100, 200, 300}, expected);
    ASSERT_EQ(truncate(path.c_str(), FileSize(path) - 1), 0);
    expected.pop_back();
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(CFileLoader, NegativeOrOversizedPayloadSizeEndsTheStream) {
    TempDir dir;
    for (int32_t bad : {-1, INT32_MIN, CFileLoader::kWindowSize + 1, INT32_MAX}) {
        std::vector<Delivered> expected;
        CRecordingWriter writer;
        RecordingHeader header;
        header.Clear();
        const std::string path = dir.File("n.Vyrk");
        ASSERT_TRUE(writer.Open(path, CRecordingWriter::Magic::V81, header));
        expected = WriteRecords(writer, {5, 6});
        RecordHeader h{};
        h.payloadSize = bad;
        const std::vector<uint8_t> tail(64, 0);
        writer.WriteRecord(h, tail.data(), tail.size());
        WriteRecords(writer, {7}); // never reached
        writer.Close();
        EXPECT_EQ(ReadAll(path), expected) << "payloadSize " << bad;
    }
}

TEST(CFileLoader, DeliversRecordsStraddlingTheWindowEdge) {
    TempDir dir;
    const size_t firstRecord = 16 + RecordingHeader::kSize + RecordHeader::kSize;
    // Header of the second record straddles the window end by 10 bytes, the payload of the
    // fourth straddles the end of the refilled window.
    const size_t first = kWindow - firstRecord - 10;
    std::vector<Delivered> expected;
    const std::string path =
        WriteFile(dir, "s.Vyrk", {first, 5000, kWindow - 6000, 300000, 12}, expected);
    EXPECT_EQ(ReadAll(path), expected);

    // The same at the edges of the smaller reads that fill the window, and a record larger
    // than one read.
    const size_t step = static_cast<size_t>(CFileLoader::kReadStep);
    const std::string steps = WriteFile(
        dir, "t.Vyrk", {step - firstRecord - 10, 5000, 2 * step + 7, step - 40, 12}, expected);
    EXPECT_EQ(ReadAll(steps), expected);
}

TEST(CFileLoader, PayloadOfExactlyTheWindowIsDeliveredOneMoreEndsTheStream) {
    TempDir dir;
    std::vector<Delivered> expected;
    std::string path = WriteFile(dir, "w.Vyrk", {3, kWindow, 4}, expected);
    EXPECT_EQ(ReadAll(path), expected);

    path = WriteFile(dir, "w1.Vyrk", {3, kWindow + 1, 4}, expected);
    expected.resize(1);
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(CFileLoader, BackPressurePausesUntilTheConsumerIsIdle) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "b.Vyrk", {1, 2, 3, 4, 5, 6}, expected);

    CRecorder recorder;
    recorder.m_bIdle = false;
    recorder.m_result = [](size_t i) { return i == 1 ? CFileLoader::kBackPressureBytes + 1 : 0; };
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return recorder.m_nIdleCalls.load() >= 3; }));
    EXPECT_EQ(recorder.Count(), 2u) << "the reader went on while the consumer was busy";
    EXPECT_FALSE(loader.IsFinished());
    recorder.m_bIdle = true;
    ASSERT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    EXPECT_EQ(recorder.Records(), expected);
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
}

TEST(CFileLoader, ResultAtTheThresholdDoesNotPause) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "t.Vyrk", {1, 2, 3}, expected);
    CRecorder recorder;
    recorder.m_result = [](size_t) { return CFileLoader::kBackPressureBytes; };
    std::atomic<int> idleCallsBeforeEnd{-1};
    recorder.m_onEnd = [&] { idleCallsBeforeEnd = recorder.m_nIdleCalls.load(); };
    EXPECT_EQ(ReadAll(path, recorder), expected);
    EXPECT_EQ(idleCallsBeforeEnd.load(), 1) << "only the final idle check may ask";
}

TEST(CFileLoader, EndWaitsForIdleBeforeOnEnd) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "e.Vyrk", {1}, expected);
    CRecorder recorder;
    recorder.m_bIdle = false;
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return recorder.m_nIdleCalls.load() >= 2; }));
    EXPECT_EQ(recorder.m_nEnds.load(), 0);
    recorder.m_bIdle = true;
    ASSERT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
}

TEST(CFileLoader, StopDuringAPauseEndsItAndStillCallsOnEndOnce) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "p.Vyrk", {1, 2, 3}, expected);
    CRecorder recorder;
    recorder.m_bIdle = false;
    recorder.m_result = [](size_t) { return INT32_MAX; };
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return recorder.m_nIdleCalls.load() >= 2; }));
    // The consumer never becomes idle: only a stop seen inside the pause lets it end.
    FinishesOrAbort("stopping a paused loader", [&] { loader.Stop(); });
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
    EXPECT_EQ(recorder.Count(), 1u);
    EXPECT_TRUE(loader.IsFinished());
}

TEST(CFileLoader, StopThenStartDeliversTheSameRecordsAgain) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "a.Vyrk", {9, 0, 70000, 3}, expected);
    CRecorder recorder;
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    loader.Stop();
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    std::vector<Delivered> twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    EXPECT_EQ(recorder.Records(), twice);
    EXPECT_EQ(recorder.m_nEnds.load(), 2);
}

TEST(CFileLoader, FinishedOnlyAfterOnEndHasReturned) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "f.Vyrk", {1}, expected);
    CRecorder recorder;
    CFileLoader loader;
    EXPECT_TRUE(loader.IsFinished());
    ASSERT_TRUE(loader.Init(path));
    EXPECT_TRUE(loader.IsFinished());
    std::atomic<bool> sawFinishedInEnd{true};
    std::atomic<bool> release{false};
    std::atomic<bool> inEnd{false};
    recorder.m_onEnd = [&] {
        inEnd = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawFinishedInEnd = loader.IsFinished();
    };
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    EXPECT_FALSE(loader.IsFinished());
    ASSERT_TRUE(WaitFor([&] { return inEnd.load(); }));
    EXPECT_FALSE(loader.IsFinished());
    release = true;
    ASSERT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    EXPECT_FALSE(sawFinishedInEnd.load());
}

TEST(CFileLoader, WithoutCallbackRecordsAreDroppedAndTheRunEnds) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "n.Vyrk", {1, 2}, expected);
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    ASSERT_TRUE(loader.Start());
    EXPECT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
}

namespace {
class CNoThreadLoader : public CFileLoader {
protected:
    bool CreateReaderThread() override { return false; }
};
} // namespace

TEST(CFileLoader, FailedThreadCreationIsReported) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "x.Vyrk", {1}, expected);
    CNoThreadLoader loader;
    ASSERT_TRUE(loader.Init(path));
    EXPECT_FALSE(loader.Start());
    EXPECT_TRUE(loader.IsFinished());
}

TEST(CFileLoader, ReadsSampleRecordingsWithTheCountsTheyWereWrittenWith) {
    TempDir dir;
    const std::string path = dir.File("sample.Vyrk");
    const std::string written =
        MakeSample(path, {"--channels", "3", "--header-channels", "2", "--seconds", "1", "--width",
                          "64", "--height", "64", "--audio-samples", "441", "--inject-other-types",
                          "--inject-subtype1", "--inject-foreign", "--inject-empty"});
    const SubprocessResult info = RunProgram({BinPath("vyrk-info"), path});
    ASSERT_EQ(info.exitCode, 0) << info.output;
    auto countLines = [](const std::string& text) {
        std::string lines;
        size_t at = 0;
        while ((at = text.find("channel ", at)) != std::string::npos) {
            const size_t end = text.find('\n', at);
            lines += text.substr(at, end - at + 1);
            at = end;
        }
        return lines;
    };
    EXPECT_FALSE(countLines(written).empty());
    EXPECT_EQ(countLines(info.output), countLines(written));
    EXPECT_NE(info.output.find("channelCount 2\n"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("channel 0 type 0 subType 0 records 27\n"), std::string::npos)
        << info.output; // 25 pictures + 2 empty records
    EXPECT_NE(info.output.find("channel 2 type 2 subType 0 records 102\n"), std::string::npos)
        << info.output; // 100 blocks of 441 samples + 2 empty records
}

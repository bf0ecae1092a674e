#include "CRecorder.h"

#include "Subprocess.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

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

TEST(CFileLoader, ARecordCutShortEndsTheStreamAfterEarlierOnesAndCountsAsDamage) {
    TempDir dir;
    std::vector<Delivered> expected;
    // Ends 10 bytes into a record header.
    std::string path = WriteFile(dir, "h.Vyrk", {100, 200}, expected);
    const int64_t cutAt = FileSize(path);
    AppendBytes(path, std::vector<uint8_t>(10, 1));
    CRecorder headerCut;
    SReadOutcome read = ReadOutcome(path, headerCut);
    EXPECT_EQ(read.records, expected);
    EXPECT_EQ(read.damage.bytes, 10);
    EXPECT_EQ(read.damage.places, 1);
    EXPECT_EQ(read.damage.firstOffset, cutAt);
    EXPECT_EQ(read.bytesConsumed, cutAt + 10);
    EXPECT_TRUE(read.readToEnd);

    // A payload cut short by the end of the file is not delivered.
    path = WriteFile(dir, "p.Vyrk", {100, 200, 300}, expected);
    ASSERT_EQ(truncate(path.c_str(), FileSize(path) - 1), 0);
    expected.pop_back();
    CRecorder payloadCut;
    read = ReadOutcome(path, payloadCut);
    EXPECT_EQ(read.records, expected);
    EXPECT_EQ(read.damage.bytes, RecordHeader::kSize + 299);
    EXPECT_EQ(read.damage.places, 1);
    EXPECT_EQ(read.damage.spanUs, 0) << "no record after the damage";
}

TEST(CFileLoader, NegativeOrOversizedPayloadSizeIsSkippedAsDamage) {
    TempDir dir;
    for (int32_t bad : {-1, INT32_MIN, CRecordScanner::kMaxPayloadSize + 1, INT32_MAX}) {
        std::vector<Delivered> expected;
        CRecordingWriter writer;
        RecordingHeader header;
        header.Clear();
        const std::string path = dir.File("n.Vyrk");
        ASSERT_TRUE(writer.Open(path, CRecordingWriter::Magic::V81, header));
        expected = WriteRecords(writer, {5, 6});
        const int64_t damageAt = static_cast<int64_t>(writer.BytesWritten());
        RecordHeader h{};
        h.payloadSize = bad;
        const std::vector<uint8_t> tail(64, 0);
        writer.WriteRecord(h, tail.data(), tail.size());
        RecordHeader after{};
        after.channel = 1;
        after.timestamp = 5000;
        after.type = RecordHeader::kAudio;
        after.payloadSize = 7;
        expected.push_back(WriteRecord(writer, after, Pattern(7, 9)));
        writer.Close();
        CRecorder recorder;
        const SReadOutcome read = ReadOutcome(path, recorder);
        EXPECT_EQ(read.records, expected) << "payloadSize " << bad;
        EXPECT_EQ(read.damage.bytes, RecordHeader::kSize + 64) << bad;
        EXPECT_EQ(read.damage.places, 1) << bad;
        EXPECT_EQ(read.damage.firstOffset, damageAt) << bad;
        EXPECT_EQ(read.damage.spanUs, 4000) << bad;
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

TEST(CFileLoader, PayloadsOfTheWindowAndLargerAreDeliveredWhole) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "w.Vyrk", {3, kWindow, kWindow + 1, 4}, expected);
    CRecorder recorder;
    const SReadOutcome read = ReadOutcome(path, recorder);
    EXPECT_EQ(read.records, expected);
    EXPECT_EQ(read.damage.places, 0);
}

// Above the high-water mark the reader pauses; it goes on once the consumer holds less than the
// low-water mark, without waiting for it to be idle, and a result at the mark never pauses.
TEST(CFileLoader, PausesAboveTheHighWaterMarkUntilBelowTheLowWaterMark) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "b.Vyrk", {1, 2, 3, 4, 5, 6}, expected);
    constexpr int64_t kHigh = 8 * 1024 * 1024;

    CRecorder recorder;
    recorder.m_bIdle = false;
    std::atomic<int> callsAtThird{-1};
    recorder.m_result = [&](size_t i) {
        if (i == 3)
            callsAtThird = recorder.m_nPendingCalls.load();
        return i == 1 ? kHigh + 1 : i == 3 ? kHigh : 0;
    };
    recorder.m_nPending = kHigh / 2; // at the low-water mark: no room yet
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    loader.SetQueueBudget(kHigh);
    EXPECT_EQ(loader.LowWater(), kHigh / 2);
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return recorder.m_nPendingCalls.load() >= 1; }));
    const int callsBefore = recorder.m_nPendingCalls.load();
    loader.Wake(); // a wake without room: the reader looks and pauses again
    ASSERT_TRUE(WaitFor([&] { return recorder.m_nPendingCalls.load() > callsBefore; }));
    EXPECT_EQ(recorder.Count(), 2u) << "the reader went on without room";
    recorder.m_nPending = kHigh / 2 - 1;
    loader.Wake();
    ASSERT_TRUE(WaitFor([&] { return recorder.Count() == expected.size(); }));
    EXPECT_FALSE(loader.IsFinished()) << "the end still waits for an idle consumer";
    recorder.m_bIdle = true;
    ASSERT_TRUE(WaitFor([&] { return loader.IsFinished(); }));
    EXPECT_EQ(recorder.Records(), expected);
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
    EXPECT_EQ(callsAtThird.load(), recorder.m_nPendingCalls.load())
        << "a result at the high-water mark paused the reader";
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
    recorder.m_nPending = INT32_MAX;
    CFileLoader loader;
    ASSERT_TRUE(loader.Init(path));
    loader.SetCallback(&recorder);
    ASSERT_TRUE(loader.Start());
    ASSERT_TRUE(WaitFor([&] { return recorder.m_nPendingCalls.load() >= 2; }));
    // The consumer never has room: only a stop seen inside the pause lets it end.
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

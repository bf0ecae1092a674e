// The loader over damaged recordings and inputs that are no recordings: damage is skipped up to
// the next intact record and counted, and whatever the input, the run ends with OnEnd once.

#include "CRecorder.h"

#include "Wait.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const int64_t kFrameUs = 40000;

// Writes records one after the other, each stamped with the next frame time, and keeps what an
// intact one should deliver.
class CDamagedFile {
public:
    explicit CDamagedFile(const std::string& path) {
        RecordingHeader header;
        header.SetV80Defaults();
        EXPECT_TRUE(m_writer.Open(path, CRecordingWriter::Magic::V81, header));
    }
    int64_t Offset() const { return static_cast<int64_t>(m_writer.BytesWritten()); }
    // A record whose header says claimedSize (-1: the payload's size); intact ones are expected.
    int64_t Add(uint8_t channel, uint8_t type, const std::vector<uint8_t>& payload,
                int64_t claimedSize = -1) {
        const int64_t at = Offset();
        RecordHeader h{};
        h.channel = channel;
        h.timestamp = static_cast<uint64_t>(kFrameUs * m_nRecords++);
        h.type = type;
        h.extra = static_cast<int32_t>(m_nRecords);
        h.payloadSize = static_cast<int32_t>(claimedSize < 0 ? payload.size() : claimedSize);
        const Delivered d = WriteRecord(m_writer, h, payload);
        if (claimedSize < 0)
            expected.push_back(d);
        return at;
    }
    int64_t AddRaw(const std::vector<uint8_t>& bytes) {
        const int64_t at = Offset();
        m_writer.WriteRaw(bytes.data(), bytes.size());
        return at;
    }
    void Close() { EXPECT_TRUE(m_writer.Close()); }

    std::vector<Delivered> expected;

private:
    CRecordingWriter m_writer;
    int64_t m_nRecords = 0;
};

} // namespace

TEST(CFileLoader, DamageIsSkippedUpToTheNextIntactRecordAndCounted) {
    TempDir dir;
    const std::string path = dir.File("damaged.Vyrk");
    CDamagedFile file(path);
    const uint8_t video = RecordHeader::kVideo, audio = RecordHeader::kAudio;
    file.Add(0, video, VideoPayload(1000, 1));
    file.Add(1, audio, Pattern(882, 2));
    // A size field turned into 2^31-1: the payload behind it is lost, the records after it not.
    const int64_t maxSize = file.Add(0, video, VideoPayload(500, 3), INT32_MAX);
    file.Add(0, video, VideoPayload(1200, 4));
    file.Add(1, audio, Pattern(600, 5));
    file.AddRaw(Pattern(64 * 1024, 6));
    file.Add(2, video, VideoPayload(3000, 7));
    // One bit too many in a size that still fits the file: it would swallow the 70 MiB record.
    file.Add(0, video, VideoPayload(2000, 8), 2000 | (1 << 20));
    file.Add(0, video, VideoPayload(70 * 1024 * 1024, 9)); // more than the window holds
    file.Add(1, audio, Pattern(882, 10));
    file.Add(0, video, VideoPayload(900, 11));
    const int64_t cut = file.AddRaw(Pattern(10, 12)); // the start of a header, cut short
    file.Close();

    CRecorder recorder;
    const SReadOutcome read = ReadOutcome(path, recorder);
    EXPECT_EQ(read.records, file.expected);
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
    EXPECT_EQ(read.damage.places, 4);
    EXPECT_EQ(read.damage.firstOffset, maxSize);
    EXPECT_EQ(read.damage.bytes,
              (RecordHeader::kSize + 500) + 64 * 1024 + (RecordHeader::kSize + 2000) + 10);
    // Around each place but the last, two frames and one frame are missing in turn.
    EXPECT_EQ(read.damage.spanUs, 2 * kFrameUs + kFrameUs + 2 * kFrameUs);
    EXPECT_EQ(read.bytesConsumed, cut + 10);
    EXPECT_TRUE(read.readToEnd);
    EXPECT_EQ(read.readError, 0);
    EXPECT_EQ(read.abortError, 0);
}

TEST(CFileLoader, InputsThatAreNoRecordingFilesAreRefusedOrGivenUpAtOnce) {
    TempDir dir;
    const std::string fifo = dir.File("fifo.Vyrk");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = dir.File("socket.Vyrk");
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

    struct SCase {
        std::string path;
        CFileLoader::FileKind kind;
        int error;
    };
    using Kind = CFileLoader::FileKind;
    for (const SCase& c :
         {SCase{"/dev/zero", Kind::Device, EINVAL},
          SCase{fifo, Kind::Fifo, EINVAL}, // no writer: must not wait for one
          SCase{dir.Path(), Kind::Directory, EISDIR}, SCase{socketPath, Kind::Socket, ENXIO},
          SCase{dir.File("missing.Vyrk"), Kind::Regular, ENOENT}}) {
        CFileLoader loader;
        bool opened = true;
        FinishesOrAbort("opening what is no file", [&] { opened = loader.Init(c.path); });
        EXPECT_FALSE(opened) << c.path;
        EXPECT_EQ(loader.GetFileKind(), c.kind) << c.path;
        EXPECT_EQ(loader.GetOpenError(), c.error) << c.path;
        EXPECT_FALSE(loader.Start()) << c.path;
    }
    close(s);

    // 4 GiB of zeros (sparse): no magic, no record in the first MiB, so nothing more is read.
    const std::string zeros = dir.File("zeros.Vyrk");
    FILE* f = fopen(zeros.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ASSERT_EQ(truncate(zeros.c_str(), int64_t(4) << 30), 0);
    CRecorder recorder;
    const SReadOutcome read = ReadOutcome(zeros, recorder);
    EXPECT_TRUE(read.givenUp);
    EXPECT_TRUE(read.records.empty());
    EXPECT_EQ(read.bytesConsumed, 0);
    EXPECT_EQ(read.damage.places, 0);
    EXPECT_EQ(recorder.m_nEnds.load(), 1);
}

TEST(CFileLoader, AnExceptionFromTheConsumerEndsTheRunAndOnEndIsStillCalledOnce) {
    TempDir dir;
    std::vector<Delivered> expected;
    const std::string path = WriteFile(dir, "x.Vyrk", {1, 2, 3, 4}, expected);

    CRecorder outOfMemory;
    outOfMemory.m_result = [](size_t i) -> int32_t {
        if (i == 1)
            throw std::bad_alloc();
        return 0;
    };
    SReadOutcome read = ReadOutcome(path, outOfMemory);
    EXPECT_EQ(read.records.size(), 2u) << "reading stops at the record the consumer failed on";
    EXPECT_EQ(read.abortError, ENOMEM);
    EXPECT_FALSE(read.readToEnd);
    EXPECT_EQ(outOfMemory.m_nEnds.load(), 1);

    CRecorder failingEnd;
    failingEnd.m_onEnd = [] { throw std::runtime_error("closing failed"); };
    read = ReadOutcome(path, failingEnd);
    EXPECT_EQ(read.records, expected);
    EXPECT_EQ(read.abortError, ENOTRECOVERABLE);
    EXPECT_EQ(failingEnd.m_nEnds.load(), 1);
}

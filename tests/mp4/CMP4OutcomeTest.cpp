// How a muxer's file ends: written, failed with a reason, given up on request; and what it leaves
// in the folder.

#include "CMP4.h"
#include "CMoovPatch.h"
#include "MuxerInput.h"

#include "Mp4Reader.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace MuxerInput;

namespace {

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Makes the access unit's SPS one a decoder refuses: more sub-layers than there can be.
void DamageSps(Bytes& accessUnit) {
    const Bytes spsStart = {0, 0, 1, 0x42, 0x01};
    const auto at =
        std::search(accessUnit.begin(), accessUnit.end(), spsStart.begin(), spsStart.end());
    ASSERT_NE(at, accessUnit.end());
    *(at + 5) |= 0x0E; // sps_max_sub_layers_minus1 = 7
}

size_t VideoPackets(const std::string& path) {
    const Mp4Contents mp4 = ReadMp4(path);
    return mp4.opened ? mp4.PacketsOf(mp4.VideoIndex()).size() : 0;
}

// Writes the units as one channel's file at path, with audio beside them; true if it was written.
bool WriteChannelFile(const std::string& path, const Units& units) {
    const RecordingHeader header = Header();
    CMP4 muxer;
    if (!muxer.Open(path, true, &header))
        return false;
    Feed(muxer, units, EvenTimes(units.size()), 1024, 0);
    muxer.Close();
    return !muxer.HasOutputFailed();
}

} // namespace

TEST(CMP4Outcome, PicturesWithoutUsableParameterSetsAreCountedAndWithoutAFileFailTheChannel) {
    const Units aus = Encode(30, 10); // parameter sets before pictures 0, 10 and 20
    Units allDamaged = aus;
    for (size_t key : {0, 10, 20})
        DamageSps(allDamaged[key]);
    Units firstDamaged = aus;
    DamageSps(firstDamaged[0]);
    struct SCase {
        const char* name;
        Units units;
        OutputFailure failure;
        int64_t damaged;
        int64_t beforeSets;
        size_t written;
    };
    const std::vector<SCase> cases = {
        {"every set damaged", allDamaged, OutputFailure::NoDecodableVideo, 30, 0, 0},
        {"first set damaged", firstDamaged, OutputFailure::None, 10, 0, 20},
        {"starts mid-group", Units(aus.begin() + 5, aus.end()), OutputFailure::None, 0, 5, 20},
        {"no sets at all", Units(aus.begin() + 1, aus.begin() + 10), OutputFailure::NoParameterSets,
         0, 9, 0},
    };
    const RecordingHeader header = Header();
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("0.mp4");
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(path, true, &header));
        Feed(muxer, c.units, EvenTimes(c.units.size()), 1024, 0);
        muxer.Close();
        const SOutputStats& stats = *muxer.GetStats();
        EXPECT_EQ(stats.failure, c.failure);
        EXPECT_EQ(muxer.HasOutputFailed(), c.failure != OutputFailure::None);
        EXPECT_EQ(stats.picturesDamaged, c.damaged);
        EXPECT_EQ(stats.picturesBeforeSets, c.beforeSets);
        EXPECT_EQ(muxer.GetPendingSize(), 0);
        if (c.written == 0) {
            EXPECT_TRUE(FolderEntries(dir.Path()).empty()) << "nothing is left behind";
            continue;
        }
        EXPECT_EQ(VideoPackets(path), c.written);
        EXPECT_EQ(DecodeErrors(path), "");
    }
}

TEST(CMP4Outcome, AbandonKeepsTheEarlierFileAsItWasAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.File("0.mp4");
    const RecordingHeader header = Header();
    const Units aus = Encode(60, 10);
    ASSERT_TRUE(WriteChannelFile(path, Units(aus.begin(), aus.begin() + 10)));
    const Bytes earlierBytes = ReadFileBytes(path);
    ASSERT_FALSE(earlierBytes.empty());

    CMP4 muxer;
    std::atomic<int> drained{0};
    auto budget = std::make_shared<CQueueBudget>(0, [&] { ++drained; });
    muxer.SetQueueBudget(budget);
    ASSERT_TRUE(muxer.Open(path, true, &header));
    Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
    ASSERT_TRUE(WaitFor([&] { return muxer.HasOpenedOutput(); }));
    EXPECT_TRUE(FileExists(muxer.GetTemporaryPath()));
    muxer.Abandon(); // the writer thread may still be busy with the queue
    EXPECT_TRUE(muxer.HasAbandoned());
    EXPECT_FALSE(muxer.HasOutputFailed());
    EXPECT_EQ(muxer.GetPendingSize(), 0);
    EXPECT_EQ(budget->Held(), 0);
    EXPECT_GT(drained.load(), 0) << "the queue came down to empty at least once";
    muxer.Close();
    EXPECT_EQ(ReadFileBytes(path), earlierBytes);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"0.mp4"});
}

TEST(CMP4Outcome, MuxersWritingOneNameAtOnceNeverShareOrTruncateATemporaryFile) {
    TempDir dir;
    const std::string path = dir.File("0.mp4");
    // Left by a conversion that ended before it could finish: kept, not written over.
    const std::string leftover = CMP4::TemporaryPath(path);
    std::ofstream(leftover) << "left over";
    const RecordingHeader header = Header();
    const Units shorter = Encode(10, 10);
    const Units longer = Encode(40, 10);
    CMP4 a;
    CMP4 b;
    ASSERT_TRUE(a.Open(path, true, &header));
    ASSERT_TRUE(b.Open(path, true, &header));
    Feed(a, shorter, EvenTimes(shorter.size()), 1024, 0);
    Feed(b, longer, EvenTimes(longer.size()), 1024, 0);
    ASSERT_TRUE(WaitFor([&] { return a.HasOpenedOutput() && b.HasOpenedOutput(); }));
    const std::regex ownName(".*/\\.0\\.mp4\\.[a-z0-9]{6}\\.part");
    EXPECT_TRUE(std::regex_match(a.GetTemporaryPath(), ownName)) << a.GetTemporaryPath();
    EXPECT_TRUE(std::regex_match(b.GetTemporaryPath(), ownName)) << b.GetTemporaryPath();
    EXPECT_NE(a.GetTemporaryPath(), b.GetTemporaryPath());

    a.Close();
    EXPECT_EQ(VideoPackets(path), shorter.size());
    EXPECT_EQ(DecodeErrors(path), "");
    b.Close(); // the file finished last has the name
    EXPECT_FALSE(a.HasOutputFailed() || b.HasOutputFailed());
    EXPECT_EQ(VideoPackets(path), longer.size());
    EXPECT_EQ(DecodeErrors(path), "");
    EXPECT_EQ(ReadWholeFile(leftover), "left over");
    EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{".0.mp4.part", "0.mp4"}));
}

// FFmpeg's writer leaves the hvcC box empty and reports success when an allocation fails while
// it builds the box in the trailer; the check after the trailer must tell such a file apart.
TEST(CMoovPatch, AnIncompleteDecoderConfigurationIsRefusedAndAnIntactOneLeftAsItIs) {
    TempDir dir;
    const std::string path = dir.File("0.mp4");
    ASSERT_TRUE(WriteChannelFile(path, Encode(10, 10)));
    const Bytes intact = ReadFileBytes(path);
    CMoovPatch check;
    check.RequireDecoderConfig(1, true);
    std::vector<std::string> skipped;
    EXPECT_EQ(check.Apply(path, skipped), 0);
    EXPECT_EQ(ReadFileBytes(path), intact);

    // The same box with its PPS array renamed: the configuration lacks a PPS.
    Bytes broken = intact;
    const Bytes hvcC = {'h', 'v', 'c', 'C'};
    const auto box = std::search(broken.begin(), broken.end(), hvcC.begin(), hvcC.end());
    ASSERT_NE(box, broken.end());
    bool renamed = false;
    size_t at = size_t(box - broken.begin()) + 4 + 22; // the number of arrays
    for (unsigned i = 0, arrays = broken[at++]; i < arrays && !renamed; ++i) {
        if ((broken[at] & 0x3F) == 34) {
            broken[at] = static_cast<uint8_t>((broken[at] & 0xC0) | 39); // a prefix SEI array
            renamed = true;
        }
        const size_t units = size_t(broken[at + 1]) << 8 | broken[at + 2];
        at += 3;
        for (size_t u = 0; u < units; ++u)
            at += 2 + (size_t(broken[at]) << 8 | broken[at + 1]);
    }
    ASSERT_TRUE(renamed);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(broken.data()), std::streamsize(broken.size()));
    EXPECT_EQ(check.Apply(path, skipped), ENOMEM);
    EXPECT_TRUE(skipped.empty());
}

// Recordings cut short or damaged: every conversion finishes, and every file it yields is
// complete and holds what could be read.

#include "CVyrkConverter.h"
#include "FindNalUnit.h"

#include "Mp4Reader.h"
#include "RecordingFile.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

struct ChannelOutcome {
    bool exists = false;
    bool complete = false;
    size_t videoPackets = 0;
    std::string decodeErrors;
};

// Converts the recording (a recording refused at once converts nothing); its state in *state.
std::vector<ChannelOutcome> Convert(const std::string& recording, const std::string& prefix,
                                    int channels, bool decode = true,
                                    CVyrkConverter::State* state = nullptr) {
    {
        CVyrkConverter converter;
        if (converter.Init(recording, prefix)) {
            EXPECT_TRUE(converter.Start());
            EXPECT_TRUE(WaitFor([&] { return converter.IsFinished(); }))
                << "conversion hangs: " << recording;
        }
        if (state)
            *state = converter.GetState();
    }
    std::vector<ChannelOutcome> out(static_cast<size_t>(channels));
    for (int ch = 0; ch < channels; ++ch) {
        const std::string path = prefix + std::to_string(ch) + ".mp4";
        ChannelOutcome& o = out[static_cast<size_t>(ch)];
        o.exists = FileExists(path);
        if (!o.exists)
            continue;
        const Mp4Contents mp4 = ReadMp4(path);
        o.complete = mp4.opened;
        o.videoPackets = mp4.opened ? mp4.PacketsOf(mp4.VideoIndex()).size() : 0;
        if (decode)
            o.decodeErrors = DecodeErrors(path);
    }
    return out;
}

RecordingFile Sample(const TempDir& dir, const std::vector<std::string>& options) {
    const std::string path = dir.File("base.Vyrk");
    std::vector<std::string> all = {"--width", "64", "--height", "64", "--quiet"};
    all.insert(all.end(), options.begin(), options.end());
    MakeSample(path, all);
    RecordingFile file;
    EXPECT_TRUE(file.Load(path));
    return file;
}

} // namespace

TEST(DamagedRecording, EveryCutYieldsCompleteFilesWithEverythingBeforeIt) {
    TempDir dir;
    const RecordingFile file = Sample(dir, {"--channels", "2", "--seconds", "0.24", "--gop", "3"});
    const Bytes bytes = file.Bytes();
    std::vector<size_t> cuts;
    for (const auto& r : file.records) {
        cuts.push_back(r.offset);
        cuts.push_back(r.offset + 10);
        cuts.push_back(r.offset + RecordHeader::kSize + r.payload.size() / 2);
    }
    cuts.push_back(bytes.size());
    const std::string rec = dir.File("cut.Vyrk");
    for (size_t cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        FILE* f = fopen(rec.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, cut, f);
        fclose(f);
        const std::string prefix = dir.File("out-" + std::to_string(cut) + "-");
        const auto outcome = Convert(rec, prefix, 2);
        for (int ch = 0; ch < 2; ++ch) {
            size_t delivered = 0;
            for (size_t i : VideoRecordsOf(file, ch))
                if (file.records[i].offset + RecordHeader::kSize + file.records[i].payload.size() <=
                    cut)
                    ++delivered;
            const ChannelOutcome& o = outcome[static_cast<size_t>(ch)];
            EXPECT_EQ(o.exists, delivered > 0) << "channel " << ch;
            if (!o.exists)
                continue;
            EXPECT_TRUE(o.complete) << "channel " << ch << " has no moov";
            EXPECT_EQ(o.videoPackets, delivered) << "channel " << ch;
            EXPECT_EQ(o.decodeErrors, "") << "channel " << ch;
        }
    }
}

TEST(DamagedRecording, ChannelCountsWithoutChannelsConvertNothing) {
    TempDir dir;
    RecordingFile file = Sample(dir, {"--channels", "1", "--seconds", "0.3"});
    for (int32_t count : {-1, 0, INT32_MIN}) {
        RecordHeader unused{};
        (void)unused;
        RecordingHeader header;
        memcpy(header.bytes, file.prefix.data() + RecordingMagic::kSize, RecordingHeader::kSize);
        header.SetFieldAt(RecordingHeader::kChannelCountOffset, count);
        memcpy(file.prefix.data() + RecordingMagic::kSize, header.bytes, RecordingHeader::kSize);
        const std::string rec = dir.File("c.Vyrk");
        ASSERT_TRUE(file.Save(rec));
        CVyrkConverter::State state;
        const auto outcome =
            Convert(rec, dir.File("c" + std::to_string(count) + "-"), 1, true, &state);
        EXPECT_FALSE(outcome[0].exists) << count;
        EXPECT_EQ(state, CVyrkConverter::State::Failed) << count;
    }
}

// A record whose size cannot be is skipped as damage; the pictures that needed it are left out
// up to the next key picture, and the rest of the recording is converted.
TEST(DamagedRecording, ImpossiblePayloadSizesAreSkippedAsDamage) {
    TempDir dir;
    const RecordingFile base = Sample(dir, {"--channels", "1", "--seconds", "1", "--gop", "5"});
    const std::vector<size_t> video = VideoRecordsOf(base, 0);
    const size_t at = video[10]; // the eleventh picture's record
    for (int32_t size : {-1, -67108864, 67108865, INT32_MAX}) {
        RecordingFile file = base;
        file.records[at].header.payloadSize = size;
        const std::string rec = dir.File("p.Vyrk");
        ASSERT_TRUE(file.Save(rec));
        CVyrkConverter::State state;
        const auto outcome =
            Convert(rec, dir.File("p" + std::to_string(size) + "-"), 1, true, &state);
        ASSERT_TRUE(outcome[0].complete) << size;
        // Pictures 0-9, then 15-24 from the next key picture: the damaged one was a key picture.
        EXPECT_EQ(outcome[0].videoPackets, 20u) << size;
        EXPECT_EQ(outcome[0].decodeErrors, "") << size;
        EXPECT_EQ(state, CVyrkConverter::State::Damaged) << size;
    }
}

TEST(DamagedRecording, AWholeWindowOfPayloadIsReadAndTheStreamGoesOn) {
    TempDir dir;
    RecordingFile file = Sample(dir, {"--channels", "1", "--seconds", "1"});
    RecordingFile::Record big;
    big.header = file.records[5].header;
    big.header.type = 7; // not for the muxers; it only has to be read past
    big.header.payloadSize = 67108864;
    big.payload.assign(67108864, 0x5A);
    file.records.insert(file.records.begin() + 6, big);
    const std::string rec = dir.File("big.Vyrk");
    ASSERT_TRUE(file.Save(rec));
    const auto outcome = Convert(rec, dir.File("big-"), 1);
    ASSERT_TRUE(outcome[0].complete);
    EXPECT_EQ(outcome[0].videoPackets, 25u);
}

TEST(DamagedRecording, StrangeTimeStampsChannelsAndUnitsDoNotStopTheConversion) {
    TempDir dir;
    RecordingFile file = Sample(dir, {"--channels", "2", "--seconds", "1"});
    const std::vector<size_t> video = VideoRecordsOf(file, 1);
    // Channel 1: top-bit time stamps on a picture and on an audio record.
    file.records[video[12]].header.timestamp |= 0x8000000000000000ull;
    for (auto& r : file.records)
        if (r.header.channel == 1 && r.header.type == 2 && r.header.timestamp > 500000) {
            r.header.timestamp |= 0x8000000000000000ull;
            break;
        }
    // Records for every channel without an output, and video records without usable units.
    std::vector<RecordingFile::Record> extra;
    for (int ch = 8; ch <= 255; ++ch) {
        RecordingFile::Record r = file.records[video[3]];
        r.header.channel = static_cast<uint8_t>(ch);
        extra.push_back(r);
    }
    for (const Bytes& payload :
         {Bytes{0x12, 0x34, 0x56, 0x78, 0x9A}, Bytes{0, 0, 1, 0, 0, 1, 0, 0, 0, 1},
          Bytes{0, 0, 0, 1, 0, 0, 0, 0x26, 0x01, 0xAF}, Bytes{}}) {
        RecordingFile::Record r = file.records[video[3]];
        r.header.channel = 0;
        r.payload = payload;
        r.header.payloadSize = static_cast<int32_t>(payload.size());
        extra.push_back(r);
    }
    file.records.insert(file.records.begin() + static_cast<long>(video[4]), extra.begin(),
                        extra.end());
    const std::string rec = dir.File("s.Vyrk");
    ASSERT_TRUE(file.Save(rec));
    testing::internal::CaptureStdout();
    const auto outcome = Convert(rec, dir.File("s-"), 2);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(FileExists(dir.File("s-8.mp4")));
    ASSERT_TRUE(outcome[0].complete);
    EXPECT_EQ(outcome[0].videoPackets, 25u);
    EXPECT_EQ(outcome[0].decodeErrors, "");
    // The picture stamped far in the future comes last; nothing before it is lost.
    ASSERT_TRUE(outcome[1].complete) << out;
    EXPECT_GE(outcome[1].videoPackets, 24u) << out;
}

TEST(DamagedRecording, FlippedBytesInPicturesNeverStopTheConversion) {
    TempDir dir;
    const RecordingFile base = Sample(dir, {"--channels", "1", "--seconds", "1", "--gop", "5"});
    std::mt19937 random(1234);
    for (int round = 0; round < 8; ++round) {
        RecordingFile file = base;
        for (size_t i : VideoRecordsOf(file, 0)) {
            Bytes& p = file.records[i].payload;
            for (int flips = 0; flips < 4 && !p.empty(); ++flips)
                p[random() % p.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        const std::string rec = dir.File("f.Vyrk");
        ASSERT_TRUE(file.Save(rec));
        const auto outcome = Convert(rec, dir.File("f" + std::to_string(round) + "-"), 1, false);
        if (outcome[0].exists) {
            EXPECT_TRUE(outcome[0].complete) << round;
        }
    }
}

#include "CMP4.h"
#include "CAnnexBSource.h"
#include "CVideoEncoder.h"
#include "FindNalUnit.h"
#include "MuxerInput.h"

#include "Mp4Reader.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace MuxerInput;

TEST(CMP4, WritesEveryAccessUnitBitForBitWithKeyFlagsOnRandomAccessPictures) {
    TempDir dir;
    const Units aus = Encode(30, 10);
    const RecordingHeader header = Header();
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("v.mp4"), true, &header));
        Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
        muxer.Close();
        EXPECT_EQ(muxer.GetPendingSize(), 0);
        EXPECT_TRUE(muxer.HasOpenedOutput());
        EXPECT_FALSE(muxer.HasOutputFailed());
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("v.mp4"));
    ASSERT_TRUE(mp4.opened);
    const auto video = mp4.PacketsOf(mp4.VideoIndex());
    ASSERT_EQ(video.size(), aus.size()) << "the last access unit must not stay in the parser";
    // The leading VPS, SPS and PPS went into the stream header; everything else is in the packets.
    Units expected = AllNalUnits(aus);
    ASSERT_GT(expected.size(), 3u);
    ASSERT_EQ(HevcType(expected[0]), 32);
    expected.erase(expected.begin(), expected.begin() + 3);
    EXPECT_TRUE(mp4.VideoNalUnits() == expected);
    for (size_t i = 0; i < aus.size(); ++i)
        EXPECT_EQ(video[i].key, IsRandomAccess(aus[i])) << "access unit " << i;
    EXPECT_EQ(std::count_if(video.begin(), video.end(), [](const Mp4Packet& p) { return p.key; }),
              3);
    EXPECT_EQ(mp4.streams[static_cast<size_t>(mp4.VideoIndex())].width, 320);
    EXPECT_EQ(mp4.streams[static_cast<size_t>(mp4.VideoIndex())].height, 240);
    EXPECT_EQ(DecodeErrors(dir.File("v.mp4")), "");
    EXPECT_EQ(DecodeErrors(dir.File("v.mp4"), "0.7"), "") << "seeking must land on a key frame";
}

TEST(CMP4, EachAccessUnitKeepsItsOwnTimeStamp) {
    TempDir dir;
    const Units aus = Encode(12, 12);
    std::vector<uint64_t> times;
    for (size_t i = 0; i < aus.size(); ++i)
        times.push_back(1000 + i * 40 + (i % 3) * 9); // irregular on purpose
    const RecordingHeader header = Header();
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("t.mp4"), true, &header));
        Feed(muxer, aus, times, 0, 0);
        muxer.Close();
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("t.mp4"));
    const auto video = mp4.PacketsOf(mp4.VideoIndex());
    ASSERT_EQ(video.size(), aus.size());
    const Mp4Stream& s = mp4.streams[static_cast<size_t>(mp4.VideoIndex())];
    for (size_t i = 1; i + 1 < video.size(); ++i) {
        const int64_t deltaMs = static_cast<int64_t>(times[i + 1] - times[i]);
        EXPECT_EQ(video[i + 1].pts - video[i].pts, deltaMs * s.timeBaseDen / 1000 / s.timeBaseNum)
            << "packet " << i;
    }
}

TEST(CMP4, EqualAndFallingTimeStampsKeepEveryPictureInOrder) {
    TempDir dir;
    const Units aus = Encode(5, 5);
    const RecordingHeader header = Header();
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("e.mp4"), true, &header));
        const std::vector<uint64_t> times = {1000000, 1040000, 1040000, 500000, 1120000};
        for (size_t i = 0; i < aus.size(); ++i) {
            muxer.InputVideo(aus[i].data(), static_cast<int32_t>(aus[i].size()), 0, times[i]);
            ASSERT_TRUE(WaitIdle(muxer)); // keep the arrival order: no overtaking in the queue
        }
        muxer.Close();
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("e.mp4"));
    const auto video = mp4.PacketsOf(mp4.VideoIndex());
    ASSERT_EQ(video.size(), 5u) << "a picture with an older time stamp is still written";
    for (size_t i = 1; i < video.size(); ++i) {
        EXPECT_GT(video[i].dts, video[i - 1].dts);
        EXPECT_GT(video[i].pts, video[i - 1].pts);
    }
    EXPECT_EQ(video[2].pts - video[1].pts, 1 * 1) << "same time stamp: one tick later";
    EXPECT_TRUE(mp4.VideoNalUnits() == [&] {
        Units expected = AllNalUnits(aus);
        expected.erase(expected.begin(), expected.begin() + 3);
        return expected;
    }()) << "units in file order";
}

TEST(CMP4, AudioOfAnyRecordSizeIsEncodedCompletely) {
    const Units aus = Encode(50, 25);
    for (int samples : {441, 1024, 4410}) {
        TempDir dir;
        const RecordingHeader header = Header();
        long long handed = 0;
        {
            CMP4 muxer;
            ASSERT_TRUE(muxer.Open(dir.File("a.mp4"), true, &header));
            // Audio that arrives before the file can open is held, not dropped.
            handed = Feed(muxer, aus, EvenTimes(aus.size()), samples, 0);
            muxer.Close();
            EXPECT_EQ(muxer.GetPendingSize(), 0);
        }
        const long long decoded = DecodedAudioSamples(dir.File("a.mp4"));
        EXPECT_GE(decoded, handed) << samples << "-sample records lost audio";
        EXPECT_LE(decoded, handed + 1024 + samples) << samples << "-sample records gained audio";
        EXPECT_EQ(DecodeErrors(dir.File("a.mp4")), "");
    }
}

TEST(CMP4, AStreamWithoutPrefixSeiOpensAtItsFirstPicture) {
    TempDir dir;
    Units aus;
    std::string error;
    ASSERT_TRUE(CAnnexBSource::Load(
        std::string(VYRK_TESTDATA_DIR) + "/hevc/libvpl_cars_320x240.h265", aus, error))
        << error;
    const RecordingHeader header = Header(320, 240, 30);
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("n.mp4"), true, &header));
        Feed(muxer, aus, EvenTimes(aus.size(), 33), 1024, 0);
        muxer.Close();
        EXPECT_TRUE(muxer.HasOpenedOutput());
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("n.mp4"));
    ASSERT_EQ(mp4.PacketsOf(mp4.VideoIndex()).size(), aus.size());
    Units expected = AllNalUnits(aus);
    expected.erase(expected.begin(), expected.begin() + 3);
    EXPECT_TRUE(mp4.VideoNalUnits() == expected);
    EXPECT_TRUE(mp4.PacketsOf(mp4.VideoIndex()).front().key);
}

TEST(CMP4, NoFileWithoutEnoughToOpenIt) {
    TempDir dir;
    const RecordingHeader header = Header();
    const Units aus = Encode(1, 1);
    Units params;
    for (const Bytes& u : AnnexBNalUnits(aus[0]))
        if (HevcType(u) >= 32 && HevcType(u) <= 34) {
            Bytes withStart = {0, 0, 0, 1};
            withStart.insert(withStart.end(), u.begin(), u.end());
            params.push_back(withStart);
        }
    ASSERT_EQ(params.size(), 3u);
    {
        CMP4 idle;
        ASSERT_TRUE(idle.Open(dir.File("idle.mp4"), true, &header));
        const Bytes pcm = Pcm(1024, 0);
        idle.InputAudio(pcm.data(), static_cast<int32_t>(pcm.size()), 0, 0);
        FinishesOrAbort("closing a muxer that never saw video", [&] { idle.Close(); });
        EXPECT_EQ(idle.GetPendingSize(), 0);
    }
    {
        CMP4 paramsOnly;
        ASSERT_TRUE(paramsOnly.Open(dir.File("params.mp4"), true, &header));
        for (size_t i = 0; i < params.size(); ++i)
            paramsOnly.InputVideo(params[i].data(), static_cast<int32_t>(params[i].size()), 0, i);
        paramsOnly.Close();
        EXPECT_FALSE(paramsOnly.HasOpenedOutput());
    }
    EXPECT_FALSE(FileExists(dir.File("idle.mp4")));
    EXPECT_FALSE(FileExists(dir.File("params.mp4")));
}

TEST(CMP4, AnOutputThatCannotBeCreatedDropsEverythingAndDrains) {
    TempDir dir;
    const RecordingHeader header = Header();
    const Units aus = Encode(10, 5);
    testing::internal::CaptureStdout();
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("missing/x.mp4"), true, &header));
        Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
        EXPECT_TRUE(WaitIdle(muxer)) << "a failed output must still consume its frames";
        Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
        EXPECT_TRUE(WaitIdle(muxer));
        muxer.Close();
        EXPECT_TRUE(muxer.HasOutputFailed());
        EXPECT_FALSE(muxer.HasOpenedOutput());
    }
    const std::string out = testing::internal::GetCapturedStdout();
    size_t count = 0;
    for (size_t at = out.find("avio_open RTMP Error..."); at != std::string::npos;
         at = out.find("avio_open RTMP Error...", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << out;
    EXPECT_FALSE(FileExists(dir.File("missing/x.mp4")));
}

TEST(CMP4, CloseTwiceAndInputAfterCloseAreHarmless) {
    TempDir dir;
    const RecordingHeader header = Header();
    const Units aus = Encode(3, 3);
    CMP4 muxer;
    ASSERT_TRUE(muxer.Open(dir.File("c.mp4"), true, &header));
    Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
    muxer.Close();
    const long long size = FileSize(dir.File("c.mp4"));
    EXPECT_GT(size, 0);
    muxer.InputVideo(aus[0].data(), static_cast<int32_t>(aus[0].size()), 0, 5000);
    EXPECT_EQ(muxer.GetPendingSize(), 0);
    muxer.Close();
    EXPECT_EQ(FileSize(dir.File("c.mp4")), size);
    EXPECT_EQ(DecodeErrors(dir.File("c.mp4")), "");
}

TEST(CMP4, AudioSpecificConfigForAacLcMono44100) {
    uint8_t asc[2] = {};
    CAudioTrack::MakeAudioSpecificConfig(4, 1, asc);
    EXPECT_EQ(asc[0], 0x12);
    EXPECT_EQ(asc[1], 0x08);
    TempDir dir;
    const RecordingHeader header = Header();
    const Units aus = Encode(2, 2);
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("s.mp4"), true, &header));
        Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
        muxer.Close();
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("s.mp4"));
    ASSERT_GE(mp4.AudioIndex(), 0);
    const Mp4Stream& audio = mp4.streams[static_cast<size_t>(mp4.AudioIndex())];
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_EQ(audio.extradata, (Bytes{0x12, 0x08}));
}

TEST(CMP4, H264ModeCopiesAnH264Stream) {
    TempDir dir;
    CVideoEncoder::Settings settings;
    settings.width = 160;
    settings.height = 96;
    settings.keyInterval = 10;
    settings.h264 = true;
    CVideoEncoder encoder(settings, 2);
    Units aus;
    std::string error;
    ASSERT_TRUE(encoder.Open(error) && encoder.Encode(20, aus, error)) << error;
    const RecordingHeader header = Header();
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("h.mp4"), false, &header));
        Feed(muxer, aus, EvenTimes(aus.size()), 1024, 0);
        muxer.Close();
        EXPECT_TRUE(muxer.HasOpenedOutput());
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("h.mp4"));
    ASSERT_TRUE(mp4.opened);
    EXPECT_EQ(mp4.streams[static_cast<size_t>(mp4.VideoIndex())].codecId, AV_CODEC_ID_H264);
    const auto video = mp4.PacketsOf(mp4.VideoIndex());
    ASSERT_EQ(video.size(), aus.size());
    // The SPS went into the header; the PPS that completed the set is written with the picture.
    Units expected = AllNalUnits(aus);
    ASSERT_EQ(expected[0][0] & 0x1F, 7);
    expected.erase(expected.begin());
    EXPECT_TRUE(mp4.VideoNalUnits() == expected);
    for (size_t i = 0; i < video.size(); ++i)
        EXPECT_EQ(video[i].key, i % 10 == 0) << i;
    EXPECT_EQ(DecodeErrors(dir.File("h.mp4")), "");
}

TEST(CMP4, DamagedParameterSetsNeverReachTheFileHeader) {
    // Found by fuzzing: an SPS whose long-term picture count is absurd made the MP4 writer's own
    // parameter-set parser loop for minutes while it wrote the trailer.
    const std::string bytes =
        ReadWholeFile(std::string(VYRK_SOURCE_DIR) +
                      "/tests/fuzz/corpus/frames/regression-damaged-sps-long-trailer.hevc");
    ASSERT_FALSE(bytes.empty());
    const Bytes data(bytes.begin(), bytes.end());
    TempDir dir;
    const RecordingHeader header = Header();
    CMP4 muxer;
    ASSERT_TRUE(muxer.Open(dir.File("d.mp4"), true, &header));
    uint64_t t = 0;
    ForEachNalUnit(
        data.data(), static_cast<int32_t>(data.size()), [&](const uint8_t* unit, int32_t n) {
            Bytes record = {0, 0, 0, 1};
            record.insert(record.end(), unit, unit + n);
            muxer.InputVideo(record.data(), static_cast<int32_t>(record.size()), 0, t += 10);
        });
    FinishesOrAbort("closing after damaged parameter sets", [&] { muxer.Close(); });
    EXPECT_EQ(muxer.GetPendingSize(), 0);
}

TEST(CMP4, AStrayAudioTimeStampLongBeforeThePicturesDoesNotMoveTheFilesZero) {
    TempDir dir;
    const Units aus = Encode(10, 10);
    const RecordingHeader header = Header();
    const uint64_t epoch = 1733740000000000ull; // the camera counts microseconds since 1970
    {
        CMP4 muxer;
        ASSERT_TRUE(muxer.Open(dir.File("z.mp4"), true, &header));
        const Bytes pcm = Pcm(1024, 0);
        muxer.InputAudio(pcm.data(), static_cast<int32_t>(pcm.size()), 0, 5);
        for (size_t i = 0; i < aus.size(); ++i) {
            muxer.InputAudio(pcm.data(), static_cast<int32_t>(pcm.size()), 0, epoch + i * 23220);
            muxer.InputVideo(aus[i].data(), static_cast<int32_t>(aus[i].size()), 0,
                             epoch + i * 40000);
        }
        muxer.Close();
    }
    const Mp4Contents mp4 = ReadMp4(dir.File("z.mp4"));
    const auto video = mp4.PacketsOf(mp4.VideoIndex());
    ASSERT_EQ(video.size(), aus.size());
    EXPECT_EQ(video.front().pts, 0) << "the file starts at the first picture";
    const auto audio = mp4.PacketsOf(mp4.AudioIndex());
    ASSERT_FALSE(audio.empty());
    EXPECT_GE(audio.front().pts, -1024) << "the stray record is left out";
    EXPECT_EQ(DecodeErrors(dir.File("z.mp4")), "");
}

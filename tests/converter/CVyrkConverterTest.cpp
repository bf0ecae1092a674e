#include "CVyrkConverter.h"
#include "Platform.h"

#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

bool Convert(CVyrkConverter& converter, const std::string& recording, const std::string& prefix) {
    if (!converter.Init(recording, prefix))
        return false;
    EXPECT_TRUE(converter.Start());
    EXPECT_TRUE(WaitFor([&] { return converter.IsFinished(); })) << "the conversion hangs";
    return true;
}

bool ConvertFile(const std::string& recording, const std::string& prefix) {
    CVyrkConverter converter;
    return Convert(converter, recording, prefix);
}

// The MD5 of every decoded picture, in output order, each picture kept with its own time.
std::vector<std::string> PictureHashes(const std::string& path) {
    const SubprocessResult r =
        RunProgram({"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v",
                    "-fps_mode", "passthrough", "-f", "framemd5", "-"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> hashes;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            hashes.push_back(line.substr(line.rfind(',') + 1));
    return hashes;
}

} // namespace

TEST(CVyrkConverter, ConvertsEveryChannelOfASampleRecordingExactly) {
    TempDir dir;
    const std::string rec = dir.File("lobby.Vyrk");
    MakeSample(rec,
               {"--channels", "3", "--seconds", "3", "--gop", "15", "--width", "160", "--height",
                "96", "--audio-samples", "1024", "--dump-streams", "--inject-other-types",
                "--inject-subtype1", "--inject-foreign", "--inject-empty"});
    const std::string prefix = dir.File("lobby/");
    ASSERT_TRUE(Platform::CreateDirectoryOneLevel(prefix));
    CVyrkConverter converter;
    ASSERT_TRUE(Convert(converter, rec, prefix));
    EXPECT_TRUE(converter.IsIdle());
    EXPECT_EQ(converter.GetState(), CVyrkConverter::State::Converted);
    const SConversionProgress progress = converter.GetProgress();
    EXPECT_EQ(progress.bytesConsumed, FileSize(rec));
    EXPECT_EQ(progress.bytesTotal, FileSize(rec));
    EXPECT_EQ(progress.bytesPending, 0);
    EXPECT_EQ(progress.Fraction(), 1.0);
    for (int ch = 0; ch < 3; ++ch) {
        SCOPED_TRACE("channel " + std::to_string(ch));
        EXPECT_EQ(converter.GetChannelResult(ch), CVyrkConverter::ChannelResult::Written);
        const std::string mp4Path = prefix + std::to_string(ch) + ".mp4";
        const Mp4Contents mp4 = ReadMp4(mp4Path);
        ASSERT_TRUE(mp4.opened);
        EXPECT_FALSE(FileExists(CMP4::TemporaryPath(mp4Path)));
        const SOutputStats& stats = *converter.GetChannelStats(ch);
        EXPECT_EQ(stats.packets, static_cast<int64_t>(mp4.packets.size()));
        EXPECT_EQ(stats.fileBytes, FileSize(mp4Path));
        EXPECT_NEAR(static_cast<double>(progress.channel[ch].mediaUs), 3e6, 50e3);
        auto expected =
            AnnexBNalUnits(ReadFileBytes(dir.File("lobby.ch" + std::to_string(ch) + ".hevc")));
        ASSERT_GT(expected.size(), 3u);
        expected.erase(expected.begin(), expected.begin() + 3); // VPS, SPS, PPS are in the header
        EXPECT_TRUE(mp4.VideoNalUnits() == expected) << "video must be copied bit for bit";
        EXPECT_EQ(mp4.PacketsOf(mp4.VideoIndex()).size(), 75u);
        // 3 s of audio in 1024-sample records, less the first record (before the output opened).
        const long long pcmSamples =
            FileSize(dir.File("lobby.ch" + std::to_string(ch) + ".pcm")) / 2;
        const long long decoded = DecodedAudioSamples(mp4Path);
        EXPECT_GE(decoded, pcmSamples - 1024);
        EXPECT_LE(decoded, pcmSamples + 1024);
        EXPECT_EQ(DecodeErrors(mp4Path), "");
        EXPECT_EQ(DecodeErrors(mp4Path, "2.1"), "");
    }
    EXPECT_FALSE(FileExists(prefix + "3.mp4"));
}

TEST(CVyrkConverter, V80RecordingOpensSevenMuxersWithTheBuiltInPictureSize) {
    TempDir dir;
    const std::string rec = dir.File("old.Vyrk");
    MakeSample(rec, {"--magic", "v80", "--seconds", "0.5", "--width", "64", "--height", "64"});
    ASSERT_TRUE(ConvertFile(rec, dir.Path() + "/"));
    for (int ch = 0; ch < 7; ++ch) {
        const Mp4Contents mp4 = ReadMp4(dir.File(std::to_string(ch) + ".mp4"));
        ASSERT_TRUE(mp4.opened) << ch;
        const Mp4Stream& v = mp4.streams[static_cast<size_t>(mp4.VideoIndex())];
        EXPECT_EQ(v.width, 2592);
        EXPECT_EQ(v.height, 1944);
    }
    EXPECT_FALSE(FileExists(dir.File("7.mp4")));
}

TEST(CVyrkConverter, ConvertsOnlyTheChannelsTheHeaderNamesAndAtMostEight) {
    TempDir dir;
    const std::string three = dir.File("three.Vyrk");
    MakeSample(three, {"--channels", "6", "--header-channels", "3", "--seconds", "0.4", "--width",
                       "64", "--height", "64"});
    ASSERT_TRUE(ConvertFile(three, dir.File("three-")));
    for (int ch = 0; ch < 6; ++ch)
        EXPECT_EQ(FileExists(dir.File("three-" + std::to_string(ch) + ".mp4")), ch < 3) << ch;

    for (const char* count : {"9", "255"}) {
        const std::string many = dir.File(std::string("many") + count + ".Vyrk");
        MakeSample(many, {"--channels", "9", "--header-channels", count, "--seconds", "0.3",
                          "--width", "64", "--height", "64", "--no-audio"});
        const std::string prefix = dir.File(std::string("many") + count + "-");
        CVyrkConverter converter;
        ASSERT_TRUE(Convert(converter, many, prefix));
        EXPECT_EQ(converter.GetChannelSlots(), 8);
        for (int ch = 0; ch < 9; ++ch)
            EXPECT_EQ(FileExists(prefix + std::to_string(ch) + ".mp4"), ch < 8)
                << count << " " << ch;
    }
}

TEST(CVyrkConverter, RefusesFileNamesThatDoNotFitAndStillFinishes) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "1", "--seconds", "0.3", "--width", "64", "--height", "64"});
    // Build a folder whose path plus "/0.mp4" is exactly 259 characters: it fits.
    std::string folder = dir.Path();
    while (folder.size() + 1 + 6 < 259) {
        const size_t part = std::min<size_t>(100, 259 - 6 - folder.size() - 1);
        folder += "/" + std::string(part, 'd');
        ASSERT_TRUE(Platform::CreateDirectoryOneLevel(folder));
    }
    ASSERT_EQ(folder.size() + 6, 258u + 1);
    {
        CVyrkConverter converter;
        ASSERT_TRUE(Convert(converter, rec, folder + "/"));
        EXPECT_TRUE(FileExists(folder + "/0.mp4"));
    }
    // One character more does not fit the 260-byte name buffer: refused, nothing written.
    const std::string longer = folder + "/x";
    testing::internal::CaptureStdout();
    CVyrkConverter converter;
    ASSERT_TRUE(Convert(converter, rec, longer));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR]"), std::string::npos) << out;
    EXPECT_EQ(converter.GetChannelResult(0), CVyrkConverter::ChannelResult::Failed);
    EXPECT_FALSE(FileExists(longer + "0.mp4"));
}

TEST(CVyrkConverter, UnreadableRecordingShowsTheMessageOnceAndIsFinished) {
    std::vector<std::string> messages;
    Platform::SetUserMessageHandler([&](const std::string& text, const std::string& caption) {
        messages.push_back(text + "|" + caption);
    });
    CVyrkConverter converter;
    EXPECT_FALSE(converter.IsFinished()) << "no loader yet";
    EXPECT_FALSE(converter.Init("/nonexistent/rec.Vyrk", "/tmp/"));
    Platform::SetUserMessageHandler(nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "m_pLoader->Init Error.|m_pLoader->Init Error.");
    EXPECT_TRUE(converter.IsFinished());
    EXPECT_FALSE(converter.Start());
    EXPECT_TRUE(converter.IsIdle());
    EXPECT_EQ(converter.GetState(), CVyrkConverter::State::Failed);
    EXPECT_EQ(converter.GetFailure(), CVyrkConverter::Failure::CannotOpen);
    EXPECT_EQ(converter.GetFailureError(), ENOENT);
}

TEST(CVyrkConverter, UnrecognisedRecordingEndsWithNoFiles) {
    TempDir dir;
    const std::string rec = dir.File("u.Vyrk");
    MakeSample(rec, {"--magic", "other", "--channels", "2", "--seconds", "0.3", "--width", "64",
                     "--height", "64"});
    CVyrkConverter converter;
    EXPECT_FALSE(converter.Init(rec, dir.File("u-"))); // refused at once, nothing read
    EXPECT_FALSE(converter.Start());
    EXPECT_TRUE(converter.IsFinished());
    EXPECT_EQ(converter.GetChannelSlots(), 0);
    EXPECT_FALSE(FileExists(dir.File("u-0.mp4")));
    EXPECT_EQ(converter.GetState(), CVyrkConverter::State::Failed);
    EXPECT_EQ(converter.GetFailure(), CVyrkConverter::Failure::NotARecording);
}

TEST(CVyrkConverter, SaysWhetherARecordingWasConvertedStoppedOrMadeNothing) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "30", "--unique", "10", "--noise", "20"});
    {
        // Progress is read on this thread while the reader and writers run (TSan watches).
        CVyrkConverter converter;
        ASSERT_TRUE(converter.Init(rec, dir.File("a-")));
        ASSERT_TRUE(converter.Start());
        int64_t media = 0;
        EXPECT_TRUE(WaitFor([&] {
            media = std::max(media, converter.GetProgress().mediaUs);
            return converter.IsFinished();
        }));
        EXPECT_GT(media, 0);
        EXPECT_EQ(converter.GetState(), CVyrkConverter::State::Converted);
    }
    {
        CVyrkConverter converter;
        ASSERT_TRUE(converter.Init(rec, dir.File("s-")));
        ASSERT_TRUE(converter.Start());
        converter.Stop(); // every file begun is finished
        // Stopped, unless a stalled test thread let the reader get to the end first.
        const bool readAll = converter.GetProgress().bytesConsumed == FileSize(rec);
        EXPECT_EQ(converter.GetState(),
                  readAll ? CVyrkConverter::State::Converted : CVyrkConverter::State::Stopped);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_NE(converter.GetChannelResult(ch), CVyrkConverter::ChannelResult::Failed);
    }
    const std::string empty = dir.File("none.Vyrk");
    MakeSample(empty, {"--channels", "1", "--header-channels", "0", "--seconds", "0.2"});
    CVyrkConverter converter;
    EXPECT_FALSE(converter.Init(empty, dir.File("n-")));
    EXPECT_EQ(converter.GetState(), CVyrkConverter::State::Failed);
    EXPECT_EQ(converter.GetFailure(), CVyrkConverter::Failure::NoChannels);
}

TEST(CVyrkConverter, ThirdPartyStreamsKeepEveryPicture) {
    const std::vector<std::pair<std::string, size_t>> streams = {
        {"libvpl_cars_320x240.h265", 30},
        {"dovi_regular_demux_bl_annexb.hevc", 259},
        {"membrane_input-30-640x480-no-bframes.h265", 30}};
    for (const auto& s : streams) {
        SCOPED_TRACE(s.first);
        TempDir dir;
        const std::string rec = dir.File("t.Vyrk");
        MakeSample(rec, {"--channels", "1", "--seconds", "2", "--hevc",
                         "0=" + std::string(VYRK_TESTDATA_DIR) + "/hevc/" + s.first});
        ASSERT_TRUE(ConvertFile(rec, dir.File("t-")));
        const Mp4Contents mp4 = ReadMp4(dir.File("t-0.mp4"));
        ASSERT_TRUE(mp4.opened);
        const auto video = mp4.PacketsOf(mp4.VideoIndex());
        EXPECT_EQ(video.size(), s.second);
        EXPECT_TRUE(video.front().key);
        // Presentation times rise in output order, and the pictures decode as the raw stream's.
        std::vector<int64_t> pts;
        for (const Mp4Packet& p : video)
            pts.push_back(p.pts);
        std::sort(pts.begin(), pts.end());
        EXPECT_EQ(std::adjacent_find(pts.begin(), pts.end()), pts.end());
        const std::vector<std::string> hashes = PictureHashes(dir.File("t-0.mp4"));
        EXPECT_EQ(hashes.size(), s.second);
        EXPECT_EQ(hashes, PictureHashes(std::string(VYRK_TESTDATA_DIR) + "/hevc/" + s.first));
    }
}

// Timing and sync of converted files, read back with the ffprobe and ffmpeg commands: a white
// flash and a 1 kHz burst recorded at the same moment must play together, whatever the camera's
// layout of records, its stamps, B-pictures or gaps.

#include "CVyrkConverter.h"

#include "Markers.h"
#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

void Convert(const std::string& recording, const std::string& prefix) {
    CVyrkConverter converter;
    ASSERT_TRUE(converter.Init(recording, prefix));
    ASSERT_TRUE(converter.Start());
    EXPECT_TRUE(WaitFor([&] { return converter.IsFinished(); })) << "the conversion hangs";
}

// Presentation times of the decoded pictures, in the order a decoder outputs them.
std::vector<double> DecodedPictureTimes(const std::string& mp4) {
    std::vector<double> times;
    for (const auto& f : CsvLines({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v",
                                   "-show_entries", "frame=pts_time", "-of", "csv=p=0", mp4}))
        times.push_back(std::stod(f[0]));
    return times;
}

// What the recording's video holds after the parameter sets that open the file's header.
std::vector<Bytes> UnitsAfterHeader(const std::string& dump) {
    auto units = AnnexBNalUnits(ReadFileBytes(dump));
    units.erase(units.begin(), units.begin() + 3);
    return units;
}

bool StrictlyRising(const std::vector<double>& v) {
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i] <= v[i - 1])
            return false;
    return true;
}

} // namespace

TEST(Timing, ParameterSetsOfTheirOwnConstantRateAndWholeAacFrames) {
    TempDir dir;
    const std::string rec = dir.File("p.Vyrk");
    MakeSample(rec, {"--channels", "1", "--fps", "30", "--seconds", "3", "--gop", "15",
                     "--params-record", "--mixed-start-codes", "--audio-samples", "4410",
                     "--dump-streams", "--quiet"});
    Convert(rec, dir.File("p-"));
    const std::string mp4 = dir.File("p-0.mp4");
    const Mp4Contents contents = ReadMp4(mp4);
    ASSERT_TRUE(contents.opened);
    EXPECT_TRUE(contents.VideoNalUnits() == UnitsAfterHeader(dir.File("p.ch0.hevc")))
        << "every unit, the first picture's included, in the recording's order";
    const auto video = contents.PacketsOf(contents.VideoIndex());
    ASSERT_EQ(video.size(), 90u);
    const Mp4Stream& vs = contents.streams[static_cast<size_t>(contents.VideoIndex())];
    for (size_t i = 0; i < video.size(); ++i) {
        EXPECT_EQ(video[i].key, i % 15 == 0) << "picture " << i;
        // Every picture lasts 1/30 s within 0.2 ms.
        if (i > 0) {
            const double seconds = static_cast<double>(video[i].dts - video[i - 1].dts) *
                                   vs.timeBaseNum / vs.timeBaseDen;
            EXPECT_NEAR(seconds, 1.0 / 30, 0.0002) << "picture " << i;
        }
    }
    const SubprocessResult rate =
        RunProgram({"/usr/bin/mediainfo", "--Inform=Video;%FrameRate_Mode% %FrameRate%", mp4});
    EXPECT_EQ(rate.output, "CFR 30.000\n");

    const auto audio = contents.PacketsOf(contents.AudioIndex());
    const Mp4Stream& as = contents.streams[static_cast<size_t>(contents.AudioIndex())];
    ASSERT_GT(audio.size(), 100u);
    for (size_t i = 0; i + 1 < audio.size(); ++i)
        EXPECT_EQ(audio[i].duration * as.timeBaseNum * 44100 / as.timeBaseDen, 1024) << i;
    const long long recorded = FileSize(dir.File("p.ch0.pcm")) / 2;
    EXPECT_NEAR(DecodedAudioSamples(mp4), recorded, 1024);
    EXPECT_EQ(DecodeErrors(mp4), "");
}

TEST(Timing, AFlashAndABurstRecordedTogetherPlayTogether) {
    const std::vector<std::vector<std::string>> layouts = {
        {"--bframes", "3", "--stamps", "decode"},
        {"--bframes", "3", "--stamps", "capture", "--audio-samples", "4410"},
        {"--audio-offset", "-300", "--clock-base", "1000000"}, // audio before the video
        {"--audio-offset", "250"},                             // video before the audio
        {"--audio-gap", "0.8-1.5", "--audio-samples", "4410"},
        {"--clock-base", "1733740000000000", "--bframes", "3", "--stamps", "capture",
         "--audio-jitter", "3000"}};
    for (const auto& layout : layouts) {
        std::string name;
        for (const std::string& option : layout)
            name += option + " ";
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string rec = dir.File("f.Vyrk");
        std::vector<std::string> options = {"--channels",     "1",      "--fps",      "30",
                                            "--seconds",      "3",      "--flash-at", "0.5,2.2",
                                            "--dump-streams", "--quiet"};
        options.insert(options.end(), layout.begin(), layout.end());
        MakeSample(rec, options);
        Convert(rec, dir.File("f-"));
        const std::string mp4 = dir.File("f-0.mp4");
        const std::vector<double> flashes = FlashTimes(mp4);
        const std::vector<double> bursts = BurstOnsets(mp4, dir.File("a.pcm"));
        ASSERT_EQ(flashes.size(), 2u);
        ASSERT_EQ(bursts.size(), 2u);
        for (size_t i = 0; i < 2; ++i)
            EXPECT_NEAR(flashes[i], bursts[i], 0.015) << "flash " << i;
        EXPECT_NEAR(flashes[1] - flashes[0], 1.7, 0.0001);
        EXPECT_TRUE(StrictlyRising(DecodedPictureTimes(mp4)));
        EXPECT_TRUE(ReadMp4(mp4).VideoNalUnits() == UnitsAfterHeader(dir.File("f.ch0.hevc")));
        // All recorded audio is in the file, also what came before the first picture.
        EXPECT_GE(DecodedAudioSamples(mp4), FileSize(dir.File("f.ch0.pcm")) / 2 - 1024);
        EXPECT_EQ(DecodeErrors(mp4), "");
    }
}

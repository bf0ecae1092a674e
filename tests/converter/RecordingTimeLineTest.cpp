// The channels of one recording on one time line, read back with ffprobe, mediainfo, GStreamer
// and mkvmerge: a moment all cameras saw plays at the same time in every file, the files carry the
// recording's timecode and time, a step of the rig's clock leaves no trace, and every reader
// starts each track at the same picture.

#include "Markers.h"
#include "MediaReaders.h"
#include "Mp4Reader.h"
#include "RecordingFile.h"
#include "Subprocess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace {

const char* const kWallBase = "1733740000000000"; // 2024-12-09T10:26:40Z

// Runs vyrk2mp4; its report (JSON with --json) goes to `report` when one is given.
int Vyrk2Mp4(const TempDir& dir, std::vector<std::string> args, const std::string& report = "") {
    args.insert(args.begin(), {BinPath("vyrk2mp4"), "-q", "--log", dir.File("vyrk2mp4.log")});
    const SubprocessResult r = RunProgram(args);
    if (!report.empty()) {
        FILE* out = fopen(report.c_str(), "w");
        if (out) {
            fputs(r.output.c_str(), out);
            fclose(out);
        }
    }
    return r.exitCode;
}

// One value ffprobe shows, such as "format_tags=creation_time".
std::string Probe(const std::string& file, const std::string& entry,
                  const std::string& streams = "") {
    std::vector<std::string> argv = {"/usr/bin/ffprobe", "-v", "error"};
    if (!streams.empty())
        argv.insert(argv.end(), {"-select_streams", streams});
    argv.insert(argv.end(), {"-show_entries", entry, "-of", "default=nw=1:nk=1", file});
    std::string out = RunProgram(argv).output;
    return out.substr(0, out.find('\n'));
}

std::string Jq(const std::string& expression, const std::string& json) {
    std::string out = RunProgram({"/usr/bin/jq", "-r", expression, json}).output;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// The local time of day of the wall-clock base, as the timecode of its first frame.
std::string TimeOfDay(const char* wallUs) {
    const time_t seconds = static_cast<time_t>(std::stoll(wallUs) / 1000000);
    struct tm local;
    localtime_r(&seconds, &local);
    char text[16];
    strftime(text, sizeof(text), "%H:%M:%S:00", &local);
    return text;
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double within, const char* what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], within) << what << " " << i;
}

// Flashes at the recorded moments, each with its burst, every picture and sample decodable.
void ExpectMarkers(const std::string& mp4, const std::string& scratch,
                   const std::vector<double>& moments) {
    const std::vector<double> flashes = FlashTimes(mp4);
    ExpectNear(flashes, moments, 0.001, "flash");
    ExpectNear(BurstOnsets(mp4, scratch), flashes, 0.015, "burst");
    EXPECT_EQ(DecodeErrors(mp4), "");
}

} // namespace

TEST(RecordingTimeLine, ChannelsStartingApartLineUpCarryTheTimecodeAndGiveTheSameBytes) {
    TempDir dir;
    const std::string rec = dir.File("rig.Vyrk");
    MakeSample(rec, {"--channels",      "3",       "--fps",           "30",
                     "--seconds",       "4",       "--flash-at",      "1.0,3.0",
                     "--bframes",       "3",       "--stamps",        "capture",
                     "--channel-start", "1:0.4",   "--channel-start", "2:0.6:0.1",
                     "--clock-base",    kWallBase, "--dump-streams",  "--quiet"});
    const std::string json = dir.File("a.json");
    ASSERT_EQ(Vyrk2Mp4(dir, {"--json", "-o", dir.File("a"), rec}, json), 0);
    ASSERT_EQ(Vyrk2Mp4(dir, {"-o", dir.File("b"), rec}), 0);
    ASSERT_EQ(Vyrk2Mp4(dir, {"--faststart", "--tag", "hvc1", "-o", dir.File("c"), rec}), 0);
    EXPECT_EQ(Jq(".start + \" \" + .timecode", json),
              "2024-12-09T10:26:40.000000Z " + TimeOfDay(kWallBase));
    EXPECT_EQ(Jq("[.channels[].start_offset] | map(tostring) | join(\" \")", json), "0 0.4 0.1");
    const double videoStart[] = {0, 0.4, 0.6};
    const double audioStart[] = {0, 0.4, 0.1};
    for (int ch = 0; ch < 3; ++ch) {
        SCOPED_TRACE("channel " + std::to_string(ch));
        const std::string name = "/rig/" + std::to_string(ch) + ".mp4";
        EXPECT_TRUE(ReadWholeFile(dir.File("a") + name) == ReadWholeFile(dir.File("b") + name))
            << "the same recording converted twice gives the same bytes";
        for (const std::string& mp4 : {dir.File("a") + name, dir.File("c") + name}) {
            ExpectMarkers(mp4, dir.File("a.pcm"), {1.0, 3.0});
            EXPECT_EQ(Probe(mp4, "stream_tags=timecode", "v"), TimeOfDay(kWallBase));
            EXPECT_EQ(Probe(mp4, "format_tags=creation_time"), "2024-12-09T10:26:40.000000Z");
            EXPECT_EQ(Probe(mp4, "format_tags=title"), "rig channel " + std::to_string(ch));
            EXPECT_EQ(Probe(mp4, "format_tags=comment"), "rig.Vyrk");
            const PresentedTimes gst = PresentedByGstreamer(mp4);
            ASSERT_TRUE(gst.read && !gst.videoTimes.empty());
            EXPECT_NEAR(gst.videoTimes.front(), videoStart[ch], 0.001) << "GStreamer";
            EXPECT_EQ(gst.videoTimes.size(),
                      static_cast<size_t>(std::lround((4 - videoStart[ch]) * 30)));
            ASSERT_TRUE(gst.audioStart.has_value());
            EXPECT_NEAR(*gst.audioStart, audioStart[ch], 0.001) << "GStreamer";
        }
        EXPECT_EQ(Probe(dir.File("c") + name, "stream=codec_tag_string", "v"), "hvc1");
        const long long recorded = FileSize(dir.File("rig.ch" + std::to_string(ch) + ".pcm")) / 2;
        EXPECT_NEAR(DecodedAudioSamples(dir.File("a") + name), recorded, 1024);
    }
}

TEST(RecordingTimeLine, AClockSetBackOrForwardKeepsThePicturesAtTheirRateAndTheSoundInSync) {
    const std::vector<std::vector<std::string>> steps = {
        {"--clock-step", "2.0:-300", "--clock-base", "1000000000"}, {"--clock-step", "2.0:3600"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step[1]);
        TempDir dir;
        const std::string rec = dir.File("s.Vyrk");
        std::vector<std::string> options = {"--channels", "2",           "--fps",
                                            "30",         "--seconds",   "6",
                                            "--flash-at", "1.0,2.5,4.0", "--quiet"};
        options.insert(options.end(), step.begin(), step.end());
        MakeSample(rec, options);
        const std::string json = dir.File("s.json");
        ASSERT_EQ(Vyrk2Mp4(dir, {"--json", "-o", dir.File("out"), rec}, json), 0);
        EXPECT_EQ(Jq(".clock_steps", json), "1");
        for (int ch = 0; ch < 2; ++ch) {
            const std::string mp4 = dir.File("out/s/" + std::to_string(ch) + ".mp4");
            ExpectMarkers(mp4, dir.File("a.pcm"), {1.0, 2.5, 4.0});
            EXPECT_EQ(RunProgram({"/usr/bin/mediainfo",
                                  "--Inform=Video;%FrameRate_Mode% %FrameRate% %FrameCount%", mp4})
                          .output,
                      "CFR 30.000 180\n");
            EXPECT_NEAR(std::stod(Probe(mp4, "format=duration")), 6.0, 0.05);
            // A clock counting from its own start: no recording time, a timecode from zero.
            EXPECT_EQ(Probe(mp4, "format_tags=creation_time"), "");
            EXPECT_EQ(Probe(mp4, "stream_tags=timecode", "v"), "00:00:00:00");
        }
    }
}

TEST(RecordingTimeLine, ALateChannelAndAStrayStampLeaveTheOtherChannelsAlone) {
    TempDir dir;
    const std::string rec = dir.File("late.Vyrk");
    MakeSample(rec, {"--channels", "2", "--fps", "30", "--seconds", "32", "--width", "160",
                     "--height", "96", "--flash-at", "5.0,31.0", "--channel-start", "1:30",
                     "--clock-base", kWallBase, "--quiet"});
    RecordingFile file;
    ASSERT_TRUE(file.Load(rec));
    // One picture of channel 0, ten seconds in, stamped twenty years later.
    file.records[VideoRecordsOf(file, 0)[300]].header.timestamp += 20ULL * 365 * 86400 * 1000000;
    ASSERT_TRUE(file.Save(rec));
    ASSERT_EQ(Vyrk2Mp4(dir, {"-o", dir.File("out"), rec}), 0);
    const std::string first = dir.File("out/late/0.mp4");
    const std::string late = dir.File("out/late/1.mp4");
    ExpectMarkers(first, dir.File("a.pcm"), {5.0, 31.0});
    EXPECT_EQ(DecodedPictureCount(first), 960);
    EXPECT_NEAR(std::stod(Probe(first, "format=duration")), 32.0, 0.05);
    EXPECT_EQ(FlashTimes(late), std::vector<double>({31.0}));
    EXPECT_EQ(Probe(late, "stream=start_time", "v"), "30.000000");
    EXPECT_EQ(Probe(late, "stream=start_time", "a"), "30.000000");
    EXPECT_EQ(Probe(late, "stream_tags=timecode", "v"), Probe(first, "stream_tags=timecode", "v"));
}

TEST(RecordingTimeLine, EveryReaderStartsAtTheFirstDecodablePictureAndTheRecordedSound) {
    const std::string dovi =
        std::string(VYRK_TESTDATA_DIR) + "/hevc/dovi_regular_demux_bl_annexb.hevc";
    const std::vector<std::vector<std::string>> layouts = {
        {"--gop", "15", "--bframes", "3", "--stamps", "capture", "--cut-before-irap", "0:5"},
        {"--hevc", "0=" + dovi, "--cut-before-irap", "0:5", "--seconds", "8"},
        {"--audio-offset", "300"}}; // the video first
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.back());
        TempDir dir;
        const std::string rec = dir.File("r.Vyrk");
        std::vector<std::string> options = {"--channels", "1", "--fps",          "30",
                                            "--seconds",  "4", "--dump-streams", "--quiet"};
        options.insert(options.end(), layout.begin(), layout.end());
        MakeSample(rec, options);
        ASSERT_EQ(Vyrk2Mp4(dir, {"-o", dir.File("out"), rec}), 0);
        const std::string mp4 = dir.File("out/r/0.mp4");
        const PresentedTimes ffprobe = PresentedByFfprobe(mp4);
        const PresentedTimes gst = PresentedByGstreamer(mp4);
        const PresentedTimes mkv = PresentedByMkvmerge(mp4, dir.Path());
        ASSERT_TRUE(ffprobe.read && gst.read && mkv.read);
        ASSERT_FALSE(ffprobe.videoTimes.empty());
        EXPECT_NEAR(gst.videoTimes.front(), ffprobe.videoTimes.front(), 0.001);
        EXPECT_EQ(gst.videoTimes.size(), ffprobe.videoTimes.size());
        EXPECT_NEAR(gst.audioStart.value_or(-1), ffprobe.audioStart.value_or(-2), 0.001);
        // mkvmerge keeps every sample from the first key frame on (an opening CRA's skipped
        // leading pictures and the AAC priming too) and moves all tracks alike until the earliest
        // is at 0: the pictures the others show are there, at the same times.
        ASSERT_GE(mkv.videoTimes.size(), ffprobe.videoTimes.size());
        const size_t extra = mkv.videoTimes.size() - ffprobe.videoTimes.size();
        const double shift = mkv.videoTimes.back() - ffprobe.videoTimes.back();
        EXPECT_NEAR(shift, 0.012, 0.012) << "at most the priming";
        for (size_t i = 0; i < ffprobe.videoTimes.size(); ++i)
            EXPECT_NEAR(mkv.videoTimes[i + extra] - shift, ffprobe.videoTimes[i], 0.0015) << i;
        EXPECT_EQ(DecodeErrors(mp4), "") << "no picture that cannot be decoded is shown";
        // The first decoded audio is the recorded tone, not the encoder's silent priming.
        EXPECT_GT(LeadingAudioLevel(mp4, dir.File("a.pcm"), 256), 3000);
        const long long recorded = FileSize(dir.File("r.ch0.pcm")) / 2;
        EXPECT_NEAR(DecodedAudioSamples(mp4), recorded, 1024);
    }
}

TEST(RecordingTimeLine, ParameterSetsChangingWithinTheStreamWriteHev1InsteadOfHvc1) {
    TempDir dir;
    std::string joined;
    // Two encoders' streams one after the other: the second brings sets of its own.
    for (const char* preset : {"ultrafast", "slow"}) {
        MakeSample(dir.File(std::string(preset) + ".Vyrk"),
                   {"--channels", "1", "--seconds", "1", "--preset", preset, "--no-audio",
                    "--dump-streams", "--quiet"});
        joined += ReadWholeFile(dir.File(std::string(preset) + ".ch0.hevc"));
    }
    FILE* out = fopen(dir.File("joined.hevc").c_str(), "wb");
    ASSERT_TRUE(out && fwrite(joined.data(), 1, joined.size(), out) == joined.size());
    fclose(out);
    const std::string rec = dir.File("j.Vyrk");
    MakeSample(rec, {"--channels", "1", "--seconds", "2", "--hevc", "0=" + dir.File("joined.hevc"),
                     "--quiet"});
    const std::string json = dir.File("j.json");
    ASSERT_EQ(Vyrk2Mp4(dir, {"--json", "--tag", "hvc1", "-o", dir.File("out"), rec}, json), 0);
    EXPECT_EQ(Jq(".channels[0].sample_entry", json), "hev1");
    const std::string mp4 = dir.File("out/j/0.mp4");
    EXPECT_EQ(Probe(mp4, "stream=codec_tag_string", "v"), "hev1");
    EXPECT_EQ(DecodedPictureCount(mp4), 50);
    EXPECT_EQ(DecodeErrors(mp4), "");
}

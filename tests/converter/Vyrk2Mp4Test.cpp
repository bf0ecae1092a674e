// The command-line converter as a script or an operator uses it: the real binary on real files,
// read back with ffprobe, ffmpeg and jq.

#include "COutputFolders.h"
#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

SubprocessResult Shell(const std::string& command) {
    return RunProgram({"/bin/sh", "-c", command});
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// True when ffprobe reads the file's index and streams without a word at error level.
bool PlaysCleanly(const std::string& path) {
    const SubprocessResult r = RunProgram({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                           "format=duration", "-of", "csv=p=0", path});
    return r.exitCode == 0 && std::regex_match(r.output, std::regex("[0-9.]+\n"));
}

// Every N.mp4 in the folder is finished and playable; anything else is a temporary .N.mp4.part.
// Returns the finished files.
std::vector<std::string> ExpectOnlyFinishedFiles(const std::string& folder) {
    std::vector<std::string> finished;
    if (!fs::exists(folder))
        return finished;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (name == COutputFolders::kOwnerFile)
            continue;
        if (std::regex_match(name, std::regex("[0-7]\\.mp4"))) {
            EXPECT_TRUE(ReadMp4(entry.path()).opened) << name << " has no index";
            EXPECT_TRUE(PlaysCleanly(entry.path())) << name;
            finished.push_back(name);
        } else {
            EXPECT_TRUE(std::regex_match(name, std::regex("\\.[0-7]\\.mp4\\.part"))) << name;
        }
    }
    return finished;
}

long long LargestPart(const std::string& folder) {
    long long largest = -1;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (std::regex_match(entry.path().filename().string(),
                             std::regex("\\.[0-9]+\\.mp4.*\\.part")))
            largest = std::max(largest, FileSize(entry.path().string()));
    return largest;
}

// Starts a conversion and, once a temporary file holds `partBytes`, sends the signals.
int InterruptedConversion(const TempDir& dir, const std::string& rec, const std::string& out,
                          long long partBytes, std::vector<int> signals) {
    const int pid =
        StartProgram({BinPath("vyrk2mp4"), "--json", "--log", dir.File("log"), "-o", out, rec},
                     dir.File("report.json"), dir.File("stderr"));
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(WaitFor([&] { return LargestPart(out + "/rec") >= partBytes; }));
    for (int signal : signals)
        kill(pid, signal);
    return WaitProgram(pid);
}

std::string Jq(const std::string& filter, const std::string& file) {
    const SubprocessResult r = Shell("jq -r " + Quote(filter) + " " + Quote(file));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

// Top-level box types of an MP4 file, in order.
std::vector<std::string> TopLevelBoxes(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::vector<std::string> boxes;
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint64_t size = (uint64_t(bytes[at]) << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) |
                        bytes[at + 3];
        boxes.emplace_back(bytes.begin() + at + 4, bytes.begin() + at + 8);
        if (size == 1 && at + 16 <= bytes.size()) {
            size = 0;
            for (int i = 0; i < 8; ++i)
                size = (size << 8) | bytes[at + 8 + i];
        }
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

std::string DecodedVideoMd5(const std::string& path) {
    const SubprocessResult r = RunProgram({"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-i", path,
                                           "-map", "0:v", "-f", "framemd5", "-"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

} // namespace

TEST(Vyrk2Mp4, BehavesLikeACommandLineTool) {
    TempDir dir;
    const std::string tool = BinPath("vyrk2mp4");
    const SubprocessResult help = RunProgram({tool, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("128+N"), std::string::npos) << help.output;
    const SubprocessResult version = RunProgram({tool, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("vyrk2mp4 ", 0), 0u) << version.output;
    for (const std::vector<std::string>& usage : {std::vector<std::string>{tool},
                                                  {tool, "--bogus", "x.Vyrk"},
                                                  {tool, "-o"},
                                                  {tool, "-x", "x.Vyrk"},
                                                  {tool, "--tag", "avc9", "x.Vyrk"}}) {
        const SubprocessResult r = RunProgram(usage);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }

    // Standard output carries the report alone; FFmpeg's and the engine's words go to the log.
    const std::string rec = dir.File("a.b.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "0.5", "--width", "64", "--height", "64"});
    const std::string out = dir.File("out/new/deeper");
    const std::string log = dir.File("state/v.log");
    EXPECT_EQ(Shell(tool + " -o " + Quote(out) + " --log " + Quote(log) + " " + Quote(rec) + " >" +
                    Quote(dir.File("report")) + " 2>" + Quote(dir.File("stderr")))
                  .exitCode,
              0);
    const std::string report = ReadWholeFile(dir.File("report"));
    EXPECT_TRUE(std::regex_match(
        report, std::regex(".*: converted -> .*/a/\n"
                           "(  .*/a/[01]\\.mp4: written, 0\\.[0-9]+ s, [0-9]+ packets, [0-9]+ "
                           "bytes\n){2}log: .*/state/v\\.log\n")))
        << report;
    const std::string stderrText = ReadWholeFile(dir.File("stderr"));
    EXPECT_EQ(stderrText.find("Output #0"), std::string::npos) << stderrText;
    EXPECT_NE(ReadWholeFile(log).find("Output #0"), std::string::npos);
    EXPECT_NE(ReadWholeFile(log).find("avio_open RTMP OK..."), std::string::npos);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_TRUE(PlaysCleanly(out + "/a/" + std::to_string(ch) + ".mp4"));
    // A report or a log that cannot be written fails the run, in a line on standard error.
    const SubprocessResult full = Shell(tool + " -q --log " + Quote(log) + " -o " + Quote(out) +
                                        " " + Quote(rec) + " >/dev/full");
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(full.output, "vyrk2mp4: cannot write the report: No space left on device\n");
    const SubprocessResult noLog = RunProgram({tool, "-q", "--log", "/dev/full", "-o", out, rec});
    EXPECT_EQ(noLog.exitCode, 1);
    EXPECT_NE(
        noLog.output.find("vyrk2mp4: cannot write the log /dev/full: No space left on device"),
        std::string::npos)
        << noLog.output;
    EXPECT_NE(noLog.output.find("a.b.Vyrk: converted -> "), std::string::npos);

    // Quiet, beside the source; a missing recording and an output folder that is a file fail
    // their recording, with the reason in the report, and the others still convert.
    ASSERT_EQ(RunProgram({"/usr/bin/touch", dir.File("r")}).exitCode, 0);
    MakeSample(dir.File("r.Vyrk"), {"--channels", "1", "--seconds", "0.3"});
    // A copy whose name shares the part before the first dot gets a folder of its own, and an
    // empty file is no recording.
    ASSERT_EQ(RunProgram({"/bin/cp", rec, dir.File("a.copy.Vyrk")}).exitCode, 0);
    ASSERT_EQ(RunProgram({"/usr/bin/touch", dir.File("empty.Vyrk")}).exitCode, 0);
    EXPECT_EQ(Shell(tool + " -q --log " + Quote(log) + " " + Quote(dir.File("missing.Vyrk")) + " " +
                    Quote(dir.File("r.Vyrk")) + " " + Quote(rec) + " " +
                    Quote(dir.File("a.copy.Vyrk")) + " " + Quote(dir.File("empty.Vyrk")) + " >" +
                    Quote(dir.File("report")) + " 2>" + Quote(dir.File("stderr")))
                  .exitCode,
              1);
    EXPECT_EQ(ReadWholeFile(dir.File("stderr")), "");
    const std::string mixed = ReadWholeFile(dir.File("report"));
    EXPECT_NE(mixed.find("missing.Vyrk: failed: cannot open the recording: No such file"),
              std::string::npos)
        << mixed;
    EXPECT_NE(mixed.find("r.Vyrk: failed: cannot create the output folder: Not a directory"),
              std::string::npos);
    EXPECT_TRUE(PlaysCleanly(dir.File("a/1.mp4")));
    EXPECT_NE(mixed.find("a.copy.Vyrk: converted -> " + dir.File("a.copy/")), std::string::npos);
    EXPECT_TRUE(PlaysCleanly(dir.File("a.copy/1.mp4")));
    EXPECT_NE(mixed.find("empty.Vyrk: failed: not a recording"), std::string::npos);
}

TEST(Vyrk2Mp4, JsonReportMatchesTheFilesAndTheLayoutOptionsKeepTheVideo) {
    TempDir dir;
    const std::string rec = dir.File("rec.Vyrk");
    MakeSample(rec, {"--channels", "3", "--seconds", "2", "--bframes", "2"});
    const std::string tool = BinPath("vyrk2mp4");
    const std::string plain = dir.File("plain");
    ASSERT_EQ(RunProgram({tool, "-q", "--log", dir.File("log"), "-o", plain, rec}).exitCode, 0);
    const std::string report = dir.File("report.json");
    EXPECT_EQ(Shell(tool + " --json --faststart --tag hvc1 --log " + Quote(dir.File("log")) +
                    " -o " + Quote(dir.File("web")) + " " + Quote(rec) + " " +
                    Quote(dir.File("none.Vyrk")) + " >" + Quote(report) + " 2>/dev/null")
                  .exitCode,
              1);
    EXPECT_EQ(Jq("[.input, .state] | join(\" \")", report),
              rec + " converted\n" + dir.File("none.Vyrk") + " failed\n");
    const std::string channels =
        Jq(".channels[] | [.file, .state, .bytes, .packets, .duration] | join(\" \")", report);
    std::istringstream lines(channels);
    int count = 0;
    for (std::string file, state; lines >> file >> state; ++count) {
        long long bytes = 0, packets = 0;
        double duration = 0;
        lines >> bytes >> packets >> duration;
        EXPECT_EQ(state, "written");
        EXPECT_EQ(bytes, FileSize(file)) << file;
        const Mp4Contents web = ReadMp4(file);
        EXPECT_EQ(static_cast<long long>(web.packets.size()), packets) << file;
        EXPECT_NEAR(duration, 2.0, 0.05);
        // The index in front, the sample entry Apple wants, and the same video as without them.
        const std::vector<std::string> boxes = TopLevelBoxes(file);
        const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
        EXPECT_LT(moov - boxes.begin(),
                  std::find(boxes.begin(), boxes.end(), "mdat") - boxes.begin());
        EXPECT_EQ(Shell("ffprobe -v error -select_streams v -show_entries stream=codec_tag_string "
                        "-of csv=p=0 " +
                        Quote(file))
                      .output,
                  "hvc1\n");
        const std::string same = plain + "/rec/" + fs::path(file).filename().string();
        EXPECT_EQ(web.VideoNalUnits(), ReadMp4(same).VideoNalUnits());
        EXPECT_EQ(DecodedVideoMd5(file), DecodedVideoMd5(same));
    }
    EXPECT_EQ(count, 3);
    EXPECT_NE(Jq(".reason", report).find("cannot open"), std::string::npos);
}

TEST(Vyrk2Mp4, SignalsAndKillsNeverLeaveABrokenFileUnderAFinalName) {
    TempDir dir;
    const std::string rec = dir.File("rec.Vyrk");
    MakeSample(rec, {"--channels", "4", "--seconds", "60", "--unique", "25", "--width", "640",
                     "--height", "360", "--noise", "20", "--quiet"});
    // Stops at several moments: each signal's status, only finished files and temporary ones.
    const std::vector<std::pair<int, long long>> stops = {
        {SIGTERM, 0}, {SIGINT, 2 << 20}, {SIGHUP, 8 << 20}};
    for (const auto& [signal, partBytes] : stops) {
        const std::string out = dir.File("stop" + std::to_string(signal));
        EXPECT_EQ(InterruptedConversion(dir, rec, out, partBytes, {signal}), 128 + signal);
        const std::vector<std::string> finished = ExpectOnlyFinishedFiles(out + "/rec");
        const std::string report = dir.File("report.json");
        const std::string state = Jq(".state", report);
        EXPECT_TRUE(state == "stopped\n" || state == "converted\n") << state;
        EXPECT_EQ(std::stoul(Jq("[.channels[] | select(.state == \"written\")] | length", report)),
                  finished.size());
    }
    // A second signal ends at once; kill -9 too: temporary files only.
    const std::string twice = dir.File("twice");
    EXPECT_EQ(InterruptedConversion(dir, rec, twice, 2 << 20, {SIGINT, SIGTERM}), 128 + SIGTERM);
    ExpectOnlyFinishedFiles(twice + "/rec");
    const std::string killed = dir.File("killed");
    EXPECT_EQ(InterruptedConversion(dir, rec, killed, 2 << 20, {SIGKILL}), 128 + SIGKILL);
    EXPECT_TRUE(ExpectOnlyFinishedFiles(killed + "/rec").empty());

    // Over a finished export, a killed or stopped one leaves the earlier files or new finished
    // ones, never a mix with broken ones.
    const std::string again = dir.File("again");
    ASSERT_EQ(RunProgram({BinPath("vyrk2mp4"), "-q", "--log", dir.File("log"), "-o", again, rec})
                  .exitCode,
              0);
    std::vector<std::vector<uint8_t>> earlier;
    for (int ch = 0; ch < 4; ++ch)
        earlier.push_back(ReadFileBytes(again + "/rec/" + std::to_string(ch) + ".mp4"));
    EXPECT_EQ(InterruptedConversion(dir, rec, again, 2 << 20, {SIGKILL}), 128 + SIGKILL);
    EXPECT_EQ(ExpectOnlyFinishedFiles(again + "/rec").size(), 4u);
    EXPECT_TRUE(ReadFileBytes(again + "/rec/0.mp4") == earlier[0]);
    // A stop keeps the complete earlier files rather than finishing shorter ones over them.
    for (long long partBytes : {1LL, 2LL << 20, 6LL << 20}) {
        SCOPED_TRACE("stopped after " + std::to_string(partBytes) + " bytes");
        EXPECT_EQ(InterruptedConversion(dir, rec, again, partBytes, {SIGTERM}), 128 + SIGTERM);
        EXPECT_EQ(ExpectOnlyFinishedFiles(again + "/rec").size(), 4u);
        const std::string report = dir.File("report.json");
        if (Jq(".state", report) != "stopped\n")
            continue; // the stop came after the last record
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_TRUE(ReadFileBytes(again + "/rec/" + std::to_string(ch) + ".mp4") ==
                        earlier[static_cast<size_t>(ch)])
                << ch;
        EXPECT_EQ(Jq("[.channels[] | select(.state == \"kept\")] | length", report), "4\n");
    }
}

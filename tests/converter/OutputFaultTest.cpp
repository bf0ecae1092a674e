// Outputs that cannot be written: the conversion finishes, the failure is reported, nothing
// hangs, the queues drain, and no unfinished file is left behind.

#include "CVyrkConverter.h"

#include "Mp4Reader.h"
#include "ScopedTmpfs.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    std::string stdoutText;
    std::vector<CVyrkConverter::ChannelResult> results;
    std::vector<OutputFailure> failures;
    std::vector<int> errors;
    CVyrkConverter::State state;
};

Outcome Convert(const std::string& recording, const std::string& prefix, int channels,
                const std::function<void()>& whileRunning = nullptr) {
    Outcome run;
    testing::internal::CaptureStdout();
    {
        CVyrkConverter converter;
        EXPECT_TRUE(converter.Init(recording, prefix));
        EXPECT_TRUE(converter.Start());
        if (whileRunning)
            whileRunning();
        EXPECT_TRUE(WaitFor([&] { return converter.IsFinished(); })) << "the conversion hangs";
        EXPECT_TRUE(converter.IsIdle());
        for (int ch = 0; ch < channels; ++ch) {
            run.results.push_back(converter.GetChannelResult(ch));
            run.failures.push_back(converter.GetChannelStats(ch)->failure);
            run.errors.push_back(converter.GetChannelStats(ch)->error);
        }
        run.state = converter.GetState();
    }
    run.stdoutText = testing::internal::GetCapturedStdout();
    return run;
}

// A failed channel leaves neither its file nor its temporary file behind.
void ExpectNoUnfinishedFiles(const std::string& prefix, const Outcome& run) {
    for (size_t ch = 0; ch < run.results.size(); ++ch) {
        const std::string path = prefix + std::to_string(ch) + ".mp4";
        EXPECT_FALSE(FileExists(CMP4::TemporaryPath(path))) << path;
        if (run.results[ch] == CVyrkConverter::ChannelResult::Failed) {
            EXPECT_FALSE(FileExists(path)) << path;
        } else if (FileExists(path)) {
            EXPECT_TRUE(ReadMp4(path).opened) << path << " is left without its trailer";
        }
    }
}

} // namespace

TEST(OutputFault, AFolderThatIsAFileFailsEveryChannel) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "0.5", "--width", "64", "--height", "64"});
    ASSERT_EQ(RunProgram({"/usr/bin/touch", dir.File("file")}).exitCode, 0);
    const Outcome run = Convert(rec, dir.File("file/"), 2);
    for (auto r : run.results)
        EXPECT_EQ(r, CVyrkConverter::ChannelResult::Failed);
    EXPECT_NE(run.stdoutText.find("avio_open RTMP Error..."), std::string::npos) << run.stdoutText;
}

TEST(OutputFault, AFolderThatCannotBeWrittenFailsEveryChannel) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "0.5", "--width", "64", "--height", "64"});
    const std::string out = dir.File("ro");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    std::unique_ptr<ScopedTmpfs> readOnly;
    if (geteuid() == 0) {
        readOnly = std::make_unique<ScopedTmpfs>(out, "size=1m,mode=0555");
        if (!readOnly->Mounted() ||
            mount(nullptr, out.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            GTEST_SKIP() << "root, and no read-only mount allowed here";
    } else {
        ASSERT_EQ(chmod(out.c_str(), 0555), 0);
    }
    const Outcome run = Convert(rec, out + "/", 2);
    for (auto r : run.results)
        EXPECT_EQ(r, CVyrkConverter::ChannelResult::Failed);
    EXPECT_NE(run.stdoutText.find("avio_open RTMP Error..."), std::string::npos) << run.stdoutText;
    chmod(out.c_str(), 0755);
}

TEST(OutputFault, AFullDeviceIsReportedAndLeavesNoBrokenFile) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "4", "--width", "320", "--height", "240",
                     "--noise", "30"});
    // A file system already full: every write fails with ENOSPC. An earlier 0.mp4 stays.
    const std::string devFull = dir.File("full/");
    ASSERT_EQ(mkdir(devFull.c_str(), 0755), 0);
    ScopedTmpfs full(devFull, "size=64k");
    if (!full.Mounted())
        GTEST_SKIP() << "no tmpfs mount allowed here";
    ASSERT_EQ(RunProgram({"/bin/sh", "-c",
                          "echo earlier > " + devFull + "0.mp4; cat /dev/zero > " + devFull +
                              "filler 2>/dev/null; true"})
                  .exitCode,
              0);
    Outcome run = Convert(rec, devFull, 2);
    for (size_t ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(run.results[ch], CVyrkConverter::ChannelResult::Failed);
        EXPECT_EQ(run.errors[ch], AVERROR(ENOSPC)) << static_cast<int>(run.failures[ch]);
    }
    EXPECT_EQ(run.state, CVyrkConverter::State::Failed);
    EXPECT_EQ(ReadFileBytes(devFull + "0.mp4").size(), 8u);
    EXPECT_FALSE(FileExists(devFull + "1.mp4"));
    EXPECT_NE(run.stdoutText.find("Error"), std::string::npos) << run.stdoutText;

    // A small file system that fills up part of the way through.
    const std::string small = dir.File("small");
    ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
    ScopedTmpfs tmpfs(small, "size=200k");
    ASSERT_TRUE(tmpfs.Mounted());
    run = Convert(rec, small + "/", 2);
    EXPECT_NE(
        std::find(run.results.begin(), run.results.end(), CVyrkConverter::ChannelResult::Failed),
        run.results.end());
    EXPECT_NE(run.stdoutText.find("Error"), std::string::npos) << run.stdoutText;
    ExpectNoUnfinishedFiles(small + "/", run);
}

TEST(OutputFault, AFolderRemovedDuringTheConversionIsReported) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "60", "--unique", "25", "--width", "320",
                     "--height", "240", "--noise", "20"});
    const std::string out = dir.File("gone/");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const Outcome run = Convert(rec, out, 2, [&] {
        // Once channel 1 has written into its file, the file is open.
        EXPECT_TRUE(WaitFor([&] { return FileSize(CMP4::TemporaryPath(out + "1.mp4")) > 0; }));
        std::filesystem::remove_all(out); // in-process: the conversion must still be running
    });
    for (size_t ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(run.results[ch], CVyrkConverter::ChannelResult::Failed);
        // A channel whose file was not created yet finds no folder to create it in.
        EXPECT_TRUE(run.failures[ch] == OutputFailure::Disappeared ||
                    run.failures[ch] == OutputFailure::Create);
    }
    EXPECT_NE(run.stdoutText.find("disappeared"), std::string::npos) << run.stdoutText;
}

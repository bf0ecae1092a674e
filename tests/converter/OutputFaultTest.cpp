// Outputs that cannot be written: the conversion finishes, the failure is reported, nothing
// hangs, the queues drain, and no unfinished file is left behind.

#include "CVyrkConverter.h"

#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

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
        for (int ch = 0; ch < channels; ++ch)
            run.results.push_back(converter.GetChannelResult(ch));
    }
    run.stdoutText = testing::internal::GetCapturedStdout();
    return run;
}

// A small tmpfs of our own; false where this machine does not allow mounting.
class ScopedTmpfs {
public:
    ScopedTmpfs(const std::string& path, const std::string& options)
        : m_path(path), m_mounted(mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0) {}
    ~ScopedTmpfs() {
        if (m_mounted)
            umount2(m_path.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return m_mounted; }

private:
    std::string m_path;
    bool m_mounted;
};

void ExpectNoUnfinishedFiles(const std::string& prefix, int channels) {
    for (int ch = 0; ch < channels; ++ch) {
        const std::string path = prefix + std::to_string(ch) + ".mp4";
        if (FileExists(path)) {
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
    // Writes to /dev/full always fail with ENOSPC.
    const std::string devFull = dir.File("devfull/");
    ASSERT_EQ(mkdir(devFull.c_str(), 0755), 0);
    for (int ch = 0; ch < 2; ++ch)
        ASSERT_EQ(symlink("/dev/full", (devFull + std::to_string(ch) + ".mp4").c_str()), 0);
    Outcome run = Convert(rec, devFull, 2);
    for (auto r : run.results)
        EXPECT_EQ(r, CVyrkConverter::ChannelResult::Failed);
    EXPECT_NE(run.stdoutText.find("Error"), std::string::npos) << run.stdoutText;

    // A small file system that fills up part of the way through.
    const std::string small = dir.File("small");
    ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
    ScopedTmpfs tmpfs(small, "size=200k");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "no tmpfs mount allowed here; /dev/full covered the case";
    run = Convert(rec, small + "/", 2);
    EXPECT_NE(
        std::find(run.results.begin(), run.results.end(), CVyrkConverter::ChannelResult::Failed),
        run.results.end());
    EXPECT_NE(run.stdoutText.find("Error"), std::string::npos) << run.stdoutText;
    ExpectNoUnfinishedFiles(small + "/", 2);
}

TEST(OutputFault, AFolderRemovedDuringTheConversionIsReported) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "60", "--unique", "25", "--width", "320",
                     "--height", "240", "--noise", "20"});
    const std::string out = dir.File("gone/");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const Outcome run = Convert(rec, out, 2, [&] {
        EXPECT_TRUE(WaitFor([&] { return FileExists(out + "1.mp4"); }));
        std::filesystem::remove_all(out); // in-process: the conversion must still be running
    });
    for (auto r : run.results)
        EXPECT_EQ(r, CVyrkConverter::ChannelResult::Failed);
    EXPECT_NE(run.stdoutText.find("disappeared"), std::string::npos) << run.stdoutText;
}

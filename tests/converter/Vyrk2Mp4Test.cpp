#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

TEST(Vyrk2Mp4, ConvertsIntoANestedOutputFolderNamedAfterTheRecording) {
    TempDir dir;
    const std::string rec = dir.File("a.b.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "0.5", "--width", "64", "--height", "64"});
    const SubprocessResult r =
        RunProgram({BinPath("vyrk2mp4"), "-o", dir.File("out/new/deeper"), rec});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    for (int ch = 0; ch < 2; ++ch) {
        const std::string path = dir.File("out/new/deeper/a/" + std::to_string(ch) + ".mp4");
        EXPECT_TRUE(ReadMp4(path).opened) << path;
        EXPECT_EQ(DecodeErrors(path), "");
    }
    // Beside the source when no folder is given.
    const SubprocessResult beside = RunProgram({BinPath("vyrk2mp4"), rec});
    EXPECT_EQ(beside.exitCode, 0) << beside.output;
    EXPECT_TRUE(FileExists(dir.File("a/0.mp4")));
}

TEST(Vyrk2Mp4, ReportsFailuresInItsExitStatus) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "1", "--seconds", "0.3", "--width", "64", "--height", "64"});
    EXPECT_EQ(RunProgram({BinPath("vyrk2mp4"), dir.File("missing.Vyrk")}).exitCode, 1);
    EXPECT_EQ(RunProgram({BinPath("vyrk2mp4"), "-o", "/proc/no/such/folder", rec}).exitCode, 1);
    // The output folder is a file: the channel cannot be written.
    ASSERT_EQ(RunProgram({"/usr/bin/touch", dir.File("r")}).exitCode, 0);
    const SubprocessResult r = RunProgram({BinPath("vyrk2mp4"), rec});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("avio_open RTMP Error..."), std::string::npos) << r.output;
    EXPECT_EQ(RunProgram({BinPath("vyrk2mp4")}).exitCode, 2);
}

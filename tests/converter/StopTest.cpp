// Stopping a conversion at any moment finishes every file it began and leaves no thread behind.

#include "CVyrkConverter.h"

#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <thread>

namespace {

int ThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(tasks))
            if (e->d_name[0] != '.')
                ++count;
        closedir(tasks);
    }
    return count;
}

// A joined thread can stay listed for a moment until the kernel has reaped it; a thread that
// really outlived its conversion stays for good.
int SettledThreadCount(int expected) {
    int count = ThreadCount();
    for (int i = 0; i < 200 && count != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = ThreadCount();
    }
    return count;
}

// Starts and stops one conversion, so threads the runtime creates once on first use (a
// sanitizer's own helper thread, say) already exist when the count is taken.
int ThreadCountAfterWarmUp(const std::string& recording, const std::string& prefix) {
    {
        CVyrkConverter converter;
        if (converter.Init(recording, prefix) && converter.Start())
            converter.Stop();
    }
    return ThreadCount();
}

} // namespace

TEST(StopConversion, AtAnyMomentEveryBegunFileIsFinished) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "3", "--seconds", "30", "--unique", "25", "--width", "320",
                     "--height", "240", "--noise", "25", "--quiet"});
    const int threadsBefore = ThreadCountAfterWarmUp(rec, dir.File("warm-"));
    for (int delayMs : {0, 1, 3, 10, 30, 80, 200, 500, 1500}) {
        SCOPED_TRACE("stop after " + std::to_string(delayMs) + " ms");
        const std::string prefix = dir.File("s" + std::to_string(delayMs) + "-");
        {
            CVyrkConverter converter;
            ASSERT_TRUE(converter.Init(rec, prefix));
            ASSERT_TRUE(converter.Start());
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            converter.Stop();
            EXPECT_TRUE(converter.IsFinished());
            EXPECT_TRUE(converter.IsIdle());
        }
        EXPECT_EQ(SettledThreadCount(threadsBefore), threadsBefore)
            << "a thread outlived its conversion";
        for (int ch = 0; ch < 3; ++ch) {
            const std::string path = prefix + std::to_string(ch) + ".mp4";
            if (!FileExists(path))
                continue;
            EXPECT_TRUE(ReadMp4(path).opened) << path;
            EXPECT_EQ(DecodeErrors(path), "") << path;
        }
    }
}

TEST(StopConversion, DestroyingARunningConverterStopsIt) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "20", "--unique", "25", "--width", "160",
                     "--height", "120", "--quiet"});
    const int threadsBefore = ThreadCountAfterWarmUp(rec, dir.File("warm-"));
    {
        CVyrkConverter converter;
        ASSERT_TRUE(converter.Init(rec, dir.File("d-")));
        ASSERT_TRUE(converter.Start());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(SettledThreadCount(threadsBefore), threadsBefore);
    for (int ch = 0; ch < 2; ++ch)
        if (FileExists(dir.File("d-" + std::to_string(ch) + ".mp4"))) {
            EXPECT_TRUE(ReadMp4(dir.File("d-" + std::to_string(ch) + ".mp4")).opened);
        }
}

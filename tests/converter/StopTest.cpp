// Stopping a conversion at any moment finishes every file it began and leaves no thread behind.

#include "CVyrkConverter.h"

#include "Mp4Reader.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <set>
#include <thread>

namespace {

std::set<int> ThreadIds() {
    std::set<int> ids;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(tasks))
            if (e->d_name[0] != '.')
                ids.insert(atoi(e->d_name));
        closedir(tasks);
    }
    return ids;
}

// Threads alive now that were not alive before. A joined thread can stay listed until the kernel
// has reaped it, which takes longer on a busy machine; one that really outlived its conversion
// stays for good. Threads that ended meanwhile (a runtime's helper, say) are no concern.
std::set<int> ThreadsLeftSince(const std::set<int>& before) {
    std::set<int> left;
    WaitFor([&] {
        left.clear();
        for (int id : ThreadIds())
            if (!before.count(id))
                left.insert(id);
        return left.empty();
    });
    return left;
}

std::string Describe(const std::set<int>& ids) {
    std::string text;
    for (int id : ids) {
        text += " " + std::to_string(id) + ":";
        text += ReadWholeFile("/proc/self/task/" + std::to_string(id) + "/comm");
    }
    return text;
}

// Starts and stops one conversion, so threads the runtime creates once on first use (a
// sanitizer's own helper thread, say) already exist when the threads are listed.
std::set<int> ThreadIdsAfterWarmUp(const std::string& recording, const std::string& prefix) {
    {
        CVyrkConverter converter;
        if (converter.Init(recording, prefix) && converter.Start())
            converter.Stop();
    }
    return ThreadIds();
}

} // namespace

TEST(StopConversion, AtAnyMomentEveryBegunFileIsFinished) {
    TempDir dir;
    const std::string rec = dir.File("r.Vyrk");
    MakeSample(rec, {"--channels", "3", "--seconds", "30", "--unique", "25", "--width", "320",
                     "--height", "240", "--noise", "25", "--quiet"});
    const std::set<int> threadsBefore = ThreadIdsAfterWarmUp(rec, dir.File("warm-"));
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
        const std::set<int> left = ThreadsLeftSince(threadsBefore);
        EXPECT_TRUE(left.empty()) << "threads outlived their conversion:" << Describe(left);
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
    const std::set<int> threadsBefore = ThreadIdsAfterWarmUp(rec, dir.File("warm-"));
    {
        CVyrkConverter converter;
        ASSERT_TRUE(converter.Init(rec, dir.File("d-")));
        ASSERT_TRUE(converter.Start());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::set<int> left = ThreadsLeftSince(threadsBefore);
    EXPECT_TRUE(left.empty()) << "threads outlived their conversion:" << Describe(left);
    for (int ch = 0; ch < 2; ++ch)
        if (FileExists(dir.File("d-" + std::to_string(ch) + ".mp4"))) {
            EXPECT_TRUE(ReadMp4(dir.File("d-" + std::to_string(ch) + ".mp4")).opened);
        }
}

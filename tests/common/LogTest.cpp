#include "Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

const char* const kStamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})";

} // namespace

TEST(Log, EachLevelWritesOneStampedLine) {
    testing::internal::CaptureStdout();
    LogError("AddAudioStream Codec not found..");
    LogInfo("value %d and %s", 42, "text");
    LogDebug("%s", "");
    const std::string out = testing::internal::GetCapturedStdout();
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(std::string(R"(\[ERROR\]\[)") + kStamp +
                                              R"(\] -> AddAudioStream Codec not found\.\.)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(std::string(R"(\[INFO\]\[)") + kStamp + R"(\] -> value 42 and text)")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2],
                                 std::regex(std::string(R"(\[DEBUG\]\[)") + kStamp + R"(\] -> )")))
        << lines[2];
}

TEST(Log, TimeStringHasNineteenCharacters) {
    const std::string stamp = GetCurrentTimeString();
    EXPECT_EQ(stamp.size(), 19u);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(kStamp))) << stamp;
}

TEST(Log, LongMessageIsCutTo10239Bytes) {
    const std::string message(20000, 'x');
    testing::internal::CaptureStdout();
    LogError("%s", message.c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    const size_t arrow = out.find("] -> ");
    ASSERT_NE(arrow, std::string::npos);
    const std::string body = out.substr(arrow + 5);
    EXPECT_EQ(body, std::string(10239, 'x') + "\n");
}

TEST(Log, IsFlushedAtOnce) {
    // The line must already be in the file when the call returns, without any flush of ours.
    fflush(stdout);
    testing::internal::CaptureStdout();
    LogInfo("flushed");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("flushed\n"), std::string::npos);
}

TEST(Log, LinesFromManyThreadsStayWhole) {
    const int kThreads = 4, kLines = 500;
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            const std::string payload(200, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i)
                LogError("%s", payload.c_str());
        });
    for (auto& th : threads)
        th.join();
    const auto lines = Lines(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex whole(std::string(R"(\[ERROR\]\[)") + kStamp +
                           R"(\] -> (a{200}|b{200}|c{200}|d{200}))");
    for (const auto& line : lines)
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

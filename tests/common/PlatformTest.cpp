#include "Platform.h"

#include "TempDir.h"

#include <gtest/gtest.h>

TEST(Platform, CreatesOneLevelOnlyAndAcceptsTrailingSlash) {
    TempDir dir;
    EXPECT_TRUE(Platform::CreateDirectoryOneLevel(dir.File("a/")));
    EXPECT_TRUE(FileExists(dir.File("a")));
    EXPECT_FALSE(Platform::CreateDirectoryOneLevel(dir.File("a")));      // exists already
    EXPECT_FALSE(Platform::CreateDirectoryOneLevel(dir.File("x/y/z/"))); // parents missing
    EXPECT_FALSE(FileExists(dir.File("x")));
}

TEST(Platform, UserMessagesGoToTheInstalledHandler) {
    std::vector<std::pair<std::string, std::string>> seen;
    Platform::SetUserMessageHandler([&](const std::string& text, const std::string& caption) {
        seen.emplace_back(text, caption);
    });
    Platform::ShowUserMessage("text", "caption");
    Platform::SetUserMessageHandler(nullptr);
    testing::internal::CaptureStderr();
    Platform::ShowUserMessage("to stderr", "caption");
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, "text");
    EXPECT_EQ(seen[0].second, "caption");
    EXPECT_EQ(err, "to stderr\n");
}

#include "COutputFolders.h"

#include "CFolderLock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(COutputFolders, EachRecordingOfAnExportGetsAFolderOfItsOwn) {
    COutputFolders folders;
    folders.Reserve("/out/done/"); // an entry converted earlier keeps its folder
    EXPECT_EQ(folders.Claim("/out", "/rec/2024.05.01 AM.Vyrk"), "/out/2024/");
    EXPECT_EQ(folders.Claim("/out", "/rec/2024.05.01 PM.Vyrk"), "/out/2024.05.01 PM/");
    EXPECT_EQ(folders.Claim("/out", "/plain/cam_a.Vyrk"), "/out/cam_a/");
    // The same name from another folder; "/out/" and "/out/./" are the same folder.
    EXPECT_EQ(folders.Claim("/out/.", "/other/cam_a.Vyrk"), "/out/./cam_a_2/");
    EXPECT_EQ(folders.Claim("/out/", "/third/cam_a.Vyrk"), "/out//cam_a_3/");
    EXPECT_EQ(folders.Claim("/out", "/rec/done.Vyrk"), "/out/done_2/");
    // Names of dots alone never point at the folder itself or its parent.
    EXPECT_EQ(folders.Claim("/out", "/rec/.Vyrk"), "/out/.Vyrk/");
    EXPECT_EQ(folders.Claim("/out", "/rec/..Vyrk"), "/out/..Vyrk/");
    EXPECT_EQ(folders.Claim("/out", "/rec/..."), "/out/recording/");
    // Beside each source, equal names in different folders do not meet.
    EXPECT_EQ(folders.Claim("/plain", "/plain/x.Vyrk"), "/plain/x/");
    EXPECT_EQ(folders.Claim("/other", "/other/x.Vyrk"), "/other/x/");
}

TEST(COutputFolders, NeverTakesAFolderHoldingAnotherRecordingsFiles) {
    const fs::path dir = fs::temp_directory_path() / ("owners-" + std::to_string(getpid()));
    const std::string out = dir.string();
    fs::create_directories(dir / "cam");
    std::ofstream(dir / "cam" / "0.mp4") << "x"; // an export of unknown origin
    fs::create_directories(dir / "empty");
    std::ofstream(dir / "empty" / "notes.txt") << "x";
    COutputFolders first;
    EXPECT_EQ(first.Claim(out, "/a/cam.Vyrk"), out + "/cam_2/");
    EXPECT_EQ(first.Claim(out, "/a/empty.Vyrk"), out + "/empty/"); // no channel files in it
    fs::create_directories(dir / "cam_2");
    std::ofstream(dir / "cam_2" / "0.mp4") << "x";
    ASSERT_EQ(COutputFolders::MarkOwner(out + "/cam_2/", "/a/cam.Vyrk"), 0);
    // A later export: the same recording gets its folder back, another one does not.
    COutputFolders later;
    EXPECT_EQ(later.Claim(out, "/b/cam.Vyrk"), out + "/cam_3/");
    COutputFolders again;
    EXPECT_EQ(again.Claim(out, "/a/./cam.Vyrk"), out + "/cam_2/");
    fs::remove_all(dir);
}

TEST(COutputFolders, RemovesOnlyTheChannelFilesAConversionDidNotWrite) {
    const fs::path dir = fs::temp_directory_path() / ("folders-" + std::to_string(getpid()));
    fs::create_directories(dir / "9.mp4.d");
    const char* names[] = {"0.mp4",     "1.mp4", "2.mp4",       "7.mp4",    "07.mp4",
                           "notes.txt", "a.mp4", ".3.mp4.part", "3.mp4.bak"};
    for (const char* name : names)
        std::ofstream(dir / name) << "x";
    EXPECT_EQ(COutputFolders::RemoveOtherChannelFiles(dir.string(), {0, 1}), 2);
    for (const char* kept :
         {"0.mp4", "1.mp4", "07.mp4", "notes.txt", "a.mp4", ".3.mp4.part", "3.mp4.bak", "9.mp4.d"})
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    EXPECT_FALSE(fs::exists(dir / "2.mp4"));
    EXPECT_FALSE(fs::exists(dir / "7.mp4"));
    EXPECT_EQ(COutputFolders::RemoveOtherChannelFiles((dir / "missing").string(), {}), 0);
    fs::remove_all(dir);
}

TEST(COutputFolders, AFolderIsWrittenByOneConversionAtATime) {
    const fs::path dir = fs::temp_directory_path() / ("locks-" + std::to_string(getpid()));
    const std::string out = dir.string();
    fs::create_directories(dir);
    using Take = COutputFolders::Take;
    int error = 0;
    CFolderLock first, second, third;
    ASSERT_EQ(COutputFolders::TakeFolder(out + "/rec/", "/a/rec.Vyrk", first, error), Take::Taken);
    std::ifstream owner(dir / "rec" / COutputFolders::kOwnerFile);
    std::string line;
    EXPECT_TRUE(std::getline(owner, line) && line == "/a/rec.Vyrk");
    // Held, the folder is refused even to the same recording, and the naming rule moves on.
    EXPECT_EQ(COutputFolders::TakeFolder(out + "/rec", "/a/rec.Vyrk", second, error), Take::InUse);
    COutputFolders folders;
    std::string folder;
    EXPECT_EQ(folders.ClaimAndTake(out, "/b/rec.Vyrk", third, folder, error), Take::Taken);
    EXPECT_EQ(folder, out + "/rec_2/");
    // A conversion that wrote nothing leaves no folder; a folder given up can be taken again.
    COutputFolders::RecordConversion(folder, {}, false);
    EXPECT_FALSE(fs::exists(dir / "rec_2"));
    first.Release();
    EXPECT_EQ(COutputFolders::TakeFolder(out + "/rec/", "/a/rec.Vyrk", second, error), Take::Taken);
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(COutputFolders::TakeFolder(out + "/file/", "/a/file.Vyrk", first, error),
              Take::CannotOpen);
    EXPECT_EQ(error, ENOTDIR);
    fs::remove_all(dir);
}

// vyrk2mp4's output folders when several conversions meet: two processes converting into one
// folder at once, and a folder whose owner file cannot be written. The real binary on real
// recordings; reports read with jq.

#include "COutputFolders.h"
#include "ScopedTmpfs.h"
#include "Subprocess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/mount.h>

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// The report's recording as "input output state", then "file bytes" per channel.
std::vector<std::string> ReportLines(const std::string& report) {
    const SubprocessResult r =
        RunProgram({"/bin/sh", "-c",
                    "jq -r '([.input, .output, .state] | join(\" \")), (.channels[] | "
                    "[.file, (.bytes | tostring)] | join(\" \"))' " +
                        Quote(report)});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Runs one vyrk2mp4 per recording at the same time, all into `out`; the JSON report of each.
std::vector<std::string> ConvertAtOnce(const TempDir& dir, const std::string& out,
                                       const std::vector<std::string>& recordings) {
    std::vector<int> pids;
    std::vector<std::string> reports;
    for (const std::string& rec : recordings) {
        reports.push_back(dir.File("report" + std::to_string(reports.size()) + ".json"));
        pids.push_back(StartProgram(
            {BinPath("vyrk2mp4"), "-q", "--json", "--log", dir.File("log"), "-o", out, rec},
            reports.back(), dir.File("stderr" + std::to_string(pids.size()))));
    }
    for (int pid : pids)
        EXPECT_EQ(WaitProgram(pid), 0);
    return reports;
}

// Each report names its recording's folder under `out` and its files there, each a complete
// copy of the recording's conversion alone (in `solo`, by input); `out` holds those folders
// and files alone, with no temporary file. Returns the folders named, once per report.
std::multiset<std::string> ExpectCompleteCopies(const std::string& out,
                                                const std::vector<std::string>& reports,
                                                const std::map<std::string, std::string>& solo) {
    std::multiset<std::string> folders;
    for (const std::string& report : reports) {
        const std::vector<std::string> lines = ReportLines(report);
        EXPECT_GE(lines.size(), 2u) << report;
        if (lines.empty())
            continue;
        std::istringstream head(lines[0]);
        std::string input, folder, state;
        head >> input >> folder >> state;
        EXPECT_EQ(state, "converted") << lines[0];
        folders.insert(fs::path(folder).parent_path().filename());
        for (size_t i = 1; i < lines.size(); ++i) {
            std::istringstream channel(lines[i]);
            std::string file;
            long long bytes = 0;
            channel >> file >> bytes;
            EXPECT_EQ(FileSize(file), bytes) << file;
            const std::string same = solo.at(input) + "/" + fs::path(file).filename().string();
            EXPECT_TRUE(ReadFileBytes(file) == ReadFileBytes(same)) << file << " vs " << same;
        }
        EXPECT_EQ(ReadWholeFile(folder + COutputFolders::kOwnerFile),
                  fs::canonical(input).string() + "\n");
    }
    std::set<std::string> present;
    for (const fs::directory_entry& entry : fs::directory_iterator(out)) {
        present.insert(entry.path().filename());
        for (const fs::directory_entry& file : fs::directory_iterator(entry.path())) {
            const std::string name = file.path().filename();
            EXPECT_TRUE(name == COutputFolders::kOwnerFile ||
                        std::regex_match(name, std::regex("[0-7]\\.mp4")))
                << file.path();
        }
    }
    EXPECT_EQ(present, std::set<std::string>(folders.begin(), folders.end()));
    return folders;
}

} // namespace

TEST(Vyrk2Mp4Folders, ConversionsRunningAtOnceNeverShareAFolder) {
    TempDir dir;
    fs::create_directories(dir.File("a"));
    fs::create_directories(dir.File("b"));
    const std::string a = dir.File("a/long.Vyrk");
    const std::string b = dir.File("b/long.Vyrk");
    MakeSample(a, {"--channels", "2", "--seconds", "2", "--quiet"});
    MakeSample(b, {"--channels", "3", "--seconds", "3", "--noise", "10", "--quiet"});
    for (const std::string& rec : {a, b})
        ASSERT_EQ(
            RunProgram({BinPath("vyrk2mp4"), "-q", "--log", dir.File("log"), "-o",
                        dir.File("solo" + fs::path(rec).parent_path().filename().string()), rec})
                .exitCode,
            0);
    const std::map<std::string, std::string> solo = {{a, dir.File("soloa/long")},
                                                     {b, dir.File("solob/long")}};

    // Two recordings of one name: one folder each, whichever process came first.
    const std::string out = dir.File("out");
    EXPECT_EQ(ExpectCompleteCopies(out, ConvertAtOnce(dir, out, {a, b}), solo),
              std::multiset<std::string>({"long", "long_2"}));
    // One recording twice: while one process holds its folder the other takes the next name;
    // after it, the same folder again. Either way each folder holds one whole conversion.
    const std::string twice = dir.File("twice");
    const std::multiset<std::string> folders =
        ExpectCompleteCopies(twice, ConvertAtOnce(dir, twice, {a, a}), solo);
    EXPECT_TRUE(folders == std::multiset<std::string>({"long", "long_2"}) ||
                folders == std::multiset<std::string>({"long", "long"}));
}

TEST(Vyrk2Mp4Folders, AnOwnerFileThatCannotBeWrittenFailsTheRunAndLeavesNothing) {
    TempDir dir;
    const std::string rec = dir.File("rec.Vyrk");
    MakeSample(rec, {"--channels", "2", "--seconds", "0.5", "--quiet"});
    const auto convert = [&](const std::string& out, const std::string& input) {
        return RunProgram({BinPath("vyrk2mp4"), "-q", "--log", dir.File("log"), "-o", out, input});
    };
    // In a folder that exists: the run fails with the cause and the folder stays as it was.
    const std::string out = dir.File("out");
    fs::create_directories(out + "/rec/" + COutputFolders::kOwnerFile);
    SubprocessResult r = convert(out, rec);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("rec.Vyrk: failed: cannot write the folder's owner file .vyrk-source: "
                            "Is a directory -> " +
                            out + "/rec/\n"),
              std::string::npos)
        << r.output;
    size_t left = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(out))
        left += entry.path().filename() != COutputFolders::kOwnerFile;
    EXPECT_EQ(left, 1u); // the folder "rec" alone
    // A recording that produces nothing leaves no folder behind.
    ASSERT_EQ(RunProgram({"/usr/bin/touch", dir.File("empty.Vyrk")}).exitCode, 0);
    EXPECT_EQ(convert(out, dir.File("empty.Vyrk")).exitCode, 1);
    EXPECT_FALSE(fs::exists(out + "/empty"));

    // On a file system out of inodes, the folder made for the run is removed again.
    ScopedTmpfs full(dir.File("full"), "size=1m,nr_inodes=2");
    if (!full.Mounted())
        GTEST_SKIP() << "no tmpfs mount allowed here";
    r = convert(dir.File("full"), rec);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("owner file .vyrk-source: No space left on device"), std::string::npos)
        << r.output;
    EXPECT_TRUE(fs::is_empty(dir.File("full")));
}

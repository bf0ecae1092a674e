// vyrk2mp4 under injected faults: for each kind of libc call the conversion depends on, chosen
// calls fail one at a time (libfiu's POSIX preload, steered by our fault control). Every run
// either converts every file byte for byte as a run without faults does, or fails naming the
// fault and leaves no broken final file and no temporary file; none ends by a signal.
//
// One kind alone: --gtest_filter='*/malloc'. VYRK_FAULT_RUNS (default 8) sets the runs per
// kind, VYRK_FAULT_SEED (default 1) the choice of calls, and VYRK_FAULT_KEEP=DIR keeps each
// run's report, log, standard error (the failing call's stack) and files in DIR.

#include "FaultRun.h"

#include "Subprocess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

struct SSuiteState {
    TempDir dir;
    std::string unusable; // why the suite cannot run here
    std::string recording;
    std::map<std::string, std::string> reference;
    std::map<std::string, long> counts;
    std::map<std::string, std::vector<std::string>> badRunsByCause;
};

std::unique_ptr<SSuiteState> g_suite;

long EnvNumber(const char* name, long fallback) {
    const char* text = getenv(name);
    return text && *text ? atol(text) : fallback;
}

std::string RunFolder(const SFaultKind& kind, long call) {
    const char* keep = getenv("VYRK_FAULT_KEEP");
    const std::string base = keep && *keep ? keep : g_suite->dir.Path();
    mkdir(base.c_str(), 0755);
    return base + "/" + kind.name + "-" + std::to_string(call);
}

// The program's own words on standard error: what it said when it ended, not the stack.
std::vector<std::string> ProgramMessages(const std::string& errors) {
    std::vector<std::string> messages;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line) && messages.size() < 3;)
        if (!line.empty() && line.rfind("fault: ", 0) != 0 &&
            line.find(")[0x") == std::string::npos)
            messages.push_back(line);
    return messages;
}

// A problem with its numbers left out (not those that end a word, as in "mp4"), so runs that
// went wrong the same way group together.
std::string CauseOf(const std::string& problem) {
    std::string cause;
    for (size_t i = 0; i < problem.size(); ++i) {
        const bool digit = isdigit(static_cast<unsigned char>(problem[i]));
        if (digit && i > 0 && isalpha(static_cast<unsigned char>(problem[i - 1])))
            cause += problem[i];
        else if (!digit)
            cause += problem[i];
        else if (i == 0 || !isdigit(static_cast<unsigned char>(problem[i - 1])))
            cause += 'N';
    }
    return cause;
}

std::string Verdict(const SConverterRun& run, const std::vector<std::string>& problems) {
    if (problems.empty()) {
        if (run.status > 128)
            return "tolerated: FFmpeg crashed inside itself after its allocation failed";
        if (run.fired == 0)
            return "ok: the call was not reached";
        return run.status == 0 ? "ok: converted" : "ok: failed and reported";
    }
    std::string text = "BAD:";
    for (const std::string& problem : problems)
        text += " " + problem + ";";
    return text;
}

// Waits for one run, prints its row of the table and files its problems under their causes.
void JudgeAndPrint(const SFaultKind& kind, long call, long calls, int pid,
                   std::vector<std::string>& badRuns) {
    const std::string folder = RunFolder(kind, call);
    const SConverterRun run = FinishConverter(pid, folder);
    const std::vector<std::string> problems = JudgeRun(kind, run, g_suite->reference);
    printf("%-14s %5ld/%-5ld %-8s %s\n", kind.name.c_str(), call, calls,
           StatusText(run.status).c_str(), Verdict(run, problems).c_str());
    for (const std::string& message :
         problems.empty() ? std::vector<std::string>() : ProgramMessages(run.errors))
        printf("%34s%s\n", "", message.c_str());
    const std::string name = kind.name + "@" + std::to_string(call);
    for (const std::string& problem : problems)
        g_suite->badRunsByCause[CauseOf(problem)].push_back(name);
    if (!problems.empty())
        badRuns.push_back(name);
    if (!getenv("VYRK_FAULT_KEEP"))
        std::filesystem::remove_all(folder);
}

} // namespace

class FaultInjection : public testing::TestWithParam<size_t> {
public:
    static void SetUpTestSuite() {
        g_suite = std::make_unique<SSuiteState>();
        const rlimit noCore = {0, 0}; // a run that aborts leaves no core file behind
        setrlimit(RLIMIT_CORE, &noCore);
        if (!FileExists(VYRK_FIU_POSIX_PRELOAD)) {
            g_suite->unusable = "libfiu's POSIX preload is not installed (Debian's fiu-utils)";
            return;
        }
        g_suite->recording = g_suite->dir.File("sample.Vyrk");
        MakeSample(g_suite->recording, {"--channels", "2", "--seconds", "2", "--width", "320",
                                        "--height", "240", "--noise", "30"});
        // A plain conversion is the reference. One under the fault control that fails nothing
        // must match it byte for byte; it counts the calls of every point.
        const std::string plain = g_suite->dir.File("plain");
        const SubprocessResult reference =
            RunProgram({BinPath("vyrk2mp4"), "-q", "--log", g_suite->dir.File("plain.log"), "-o",
                        plain, g_suite->recording});
        ASSERT_EQ(reference.exitCode, 0) << reference.output;
        g_suite->reference = FilesUnder(plain);
        const std::string countFolder = g_suite->dir.File("counted");
        const SConverterRun counted = FinishConverter(
            StartConverter(g_suite->recording, countFolder, AllFaultPoints(), 0, 0), countFolder);
        ASSERT_EQ(counted.status, 0) << counted.report << counted.errors;
        EXPECT_TRUE(counted.files == g_suite->reference) << "the fault control alone changes files";
        g_suite->counts = counted.counts;
        printf("calls while main runs, without faults:");
        for (const auto& [point, calls] : g_suite->counts)
            printf(" %s %ld,", point.c_str(), calls);
        printf("\n%-14s %11s %-8s %s\n", "kind", "call/calls", "status", "verdict");
    }

    static void TearDownTestSuite() {
        if (!g_suite->badRunsByCause.empty())
            printf("\nruns that went wrong, by cause:\n");
        for (const auto& [cause, runs] : g_suite->badRunsByCause) {
            printf("  %s\n   ", cause.c_str());
            for (const std::string& run : runs)
                printf(" %s", run.c_str());
            printf("\n");
        }
        g_suite.reset();
    }
};

TEST_P(FaultInjection, EachFailedCallIsReportedOrHarmless) {
    if (!g_suite->unusable.empty())
        GTEST_SKIP() << g_suite->unusable;
    ASSERT_FALSE(g_suite->reference.empty());
    const SFaultKind& kind = FaultKinds()[GetParam()];
    const long calls = g_suite->counts[kind.point];
    ASSERT_GT(calls, 0) << kind.point << " is never called while main runs";
    const int runs = static_cast<int>(EnvNumber("VYRK_FAULT_RUNS", 8));
    const auto seed = static_cast<unsigned>(EnvNumber("VYRK_FAULT_SEED", 1));
    const std::vector<long> chosen = ChooseCalls(calls, runs, seed, GetParam());
    std::vector<std::string> badRuns;
    // Two runs at a time, one per core: each is a process of its own.
    for (size_t first = 0; first < chosen.size(); first += 2) {
        const size_t end = std::min(chosen.size(), first + 2);
        std::vector<int> pids;
        for (size_t i = first; i < end; ++i)
            pids.push_back(StartConverter(g_suite->recording, RunFolder(kind, chosen[i]),
                                          {kind.point}, chosen[i], kind.error));
        for (size_t i = first; i < end; ++i)
            JudgeAndPrint(kind, chosen[i], calls, pids[i - first], badRuns);
    }
    fflush(stdout);
    EXPECT_TRUE(badRuns.empty()) << badRuns.size() << " of the runs went wrong (see the table)";
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultInjection, testing::Range<size_t>(0, FaultKinds().size()),
                         [](const testing::TestParamInfo<size_t>& info) {
                             return FaultKinds()[info.param].name;
                         });

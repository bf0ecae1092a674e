#include "FaultRun.h"

#include "Subprocess.h"
#include "TempDir.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

void ReadCounts(const std::string& path, SConverterRun& run) {
    std::istringstream lines(ReadWholeFile(path));
    for (std::string first, second; lines >> first >> second;) {
        if (first == "fired")
            lines >> run.fired;
        else
            run.counts[first] = std::stol(second);
    }
}

// The reasons the report gives for a failed recording or channel.
std::vector<std::string> ReportedReasons(const std::string& report) {
    std::vector<std::string> reasons;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(": failed: ");
        if (at == std::string::npos)
            continue;
        std::string reason = line.substr(at + 10);
        reason = reason.substr(0, reason.rfind(" -> "));
        reasons.push_back(reason);
    }
    return reasons;
}

bool NamesTheFault(const SFaultKind& kind, const std::vector<std::string>& reasons) {
    for (const std::string& reason : reasons) {
        if (reason.find(strerror(kind.error)) != std::string::npos)
            return true;
        for (const std::string& word : kind.words)
            if (reason.find(word) != std::string::npos)
                return true;
    }
    return false;
}

bool IsTemporary(const std::string& path) {
    const std::string name = fs::path(path).filename();
    return name.size() > 6 && name[0] == '.' && name.compare(name.size() - 5, 5, ".part") == 0;
}

// Every file present is the reference's, byte for byte; a temporary one is left over.
void CheckFilesPresent(const SConverterRun& run,
                       const std::map<std::string, std::string>& reference, bool crashed,
                       std::vector<std::string>& problems) {
    for (const auto& [path, bytes] : run.files) {
        if (IsTemporary(path)) {
            if (!crashed)
                problems.push_back("temporary " + path + " left");
            continue;
        }
        const auto expected = reference.find(path);
        if (expected == reference.end())
            problems.push_back("unexpected " + path);
        else if (expected->second != bytes)
            problems.push_back(path + " differs");
    }
}

} // namespace

const std::vector<SFaultKind>& FaultKinds() {
    static const std::vector<SFaultKind> kinds = {
        {"write_enospc", "posix/io/rw/write", ENOSPC, {"writing", "write"}},
        {"write_eio", "posix/io/rw/write", EIO, {"writing", "write"}},
        {"open", "posix/io/oc/open", EMFILE, {"open", "creat"}},
        {"close", "posix/io/oc/close", EIO, {"clos"}},
        {"fsync", "posix/io/sync/fsync", EIO, {"flush", "sync", "disk"}},
        {"rename", "posix/io/dir/rename", EIO, {"renam"}},
        {"malloc", "libc/mm/malloc", ENOMEM, {"memory"}},
        {"realloc", "libc/mm/realloc", ENOMEM, {"memory"}},
        {"posix_memalign", "libc/mm/posix_memalign", ENOMEM, {"memory"}},
        {"pread", "posix/io/rw/pread", EIO, {"read", "index"}},
        {"readdir", "posix/io/dir/readdir", EIO, {"folder", "list"}},
    };
    return kinds;
}

std::vector<std::string> AllFaultPoints() {
    std::vector<std::string> points;
    for (const SFaultKind& kind : FaultKinds())
        if (points.empty() || points.back() != kind.point)
            points.push_back(kind.point);
    return points;
}

std::vector<long> ChooseCalls(long calls, int runs, unsigned seed, size_t kindIndex) {
    std::vector<long> chosen;
    if (calls <= runs) {
        for (long call = 1; call <= calls; ++call)
            chosen.push_back(call);
        return chosen;
    }
    std::seed_seq seeds{seed, static_cast<unsigned>(kindIndex)};
    std::mt19937 random(seeds);
    for (long stretch = 0; stretch < runs; ++stretch) {
        const long first = 1 + calls * stretch / runs;
        const long last = calls * (stretch + 1) / runs;
        chosen.push_back(
            first + static_cast<long>(random() % static_cast<unsigned long>(last - first + 1)));
    }
    return chosen;
}

int StartConverter(const std::string& recording, const std::string& runDir,
                   const std::vector<std::string>& points, long failAt, int error) {
    mkdir(runDir.c_str(), 0755);
    const std::vector<std::string> argv = {"/usr/bin/timeout",
                                           "-s",
                                           "KILL",
                                           "60",
                                           "/usr/bin/env",
                                           std::string("LD_PRELOAD=") + VYRK_FAULT_CONTROL + ":" +
                                               VYRK_FIU_POSIX_PRELOAD,
                                           "VYRK_FAULT_POINTS=" + Joined(points, ","),
                                           "VYRK_FAULT_AT=" + std::to_string(failAt),
                                           "VYRK_FAULT_ERRNO=" + std::to_string(error),
                                           "VYRK_FAULT_COUNTS=" + runDir + "/counts",
                                           BinPath("vyrk2mp4"),
                                           "-q",
                                           "--log",
                                           runDir + "/log",
                                           "-o",
                                           runDir + "/out",
                                           recording};
    return StartProgram(argv, runDir + "/report", runDir + "/stderr");
}

SConverterRun FinishConverter(int pid, const std::string& runDir) {
    SConverterRun run;
    run.status = WaitProgram(pid);
    run.report = ReadWholeFile(runDir + "/report");
    run.errors = ReadWholeFile(runDir + "/stderr");
    ReadCounts(runDir + "/counts", run);
    run.files = FilesUnder(runDir + "/out");
    return run;
}

std::map<std::string, std::string> FilesUnder(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (it->is_regular_file(error))
            files[fs::relative(it->path(), folder).string()] = ReadWholeFile(it->path());
    return files;
}

bool CrashedInsideFfmpeg(const SConverterRun& run) {
    // The first frame under the crash handler and the signal trampoline is where it happened.
    const size_t crash = run.errors.find("crash: signal");
    if (crash == std::string::npos)
        return false;
    std::istringstream lines(run.errors.substr(crash));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line))
        if (line.find("libvyrk_fault_control") == std::string::npos &&
            line.find("libc.so") == std::string::npos)
            return line.find("/libavformat.so") != std::string::npos ||
                   line.find("/libavcodec.so") != std::string::npos ||
                   line.find("/libavutil.so") != std::string::npos;
    return false;
}

std::vector<std::string> JudgeRun(const SFaultKind& kind, const SConverterRun& run,
                                  const std::map<std::string, std::string>& reference) {
    std::vector<std::string> problems;
    const bool crashed = run.status > 128;
    // FFmpeg 5.1 itself crashes after some failed allocations inside it (the hvcC writer's
    // clean-up, avio_open2): no program of its own can prevent that. Such a run must still
    // leave no broken final file.
    const bool ffmpegsOwn = crashed && kind.error == ENOMEM && CrashedInsideFfmpeg(run);
    if (crashed && !ffmpegsOwn)
        problems.push_back("ended by " + StatusText(run.status));
    CheckFilesPresent(run, reference, crashed, problems);
    // FFmpeg's parser drops a failed allocation of its own and reads that picture as no key
    // picture: the file is complete and plays, its index names one key picture fewer.
    const std::string faultStack = run.errors.substr(0, run.errors.find("crash: signal"));
    if (run.status == 0 && kind.error == ENOMEM &&
        faultStack.find("(av_parser_parse2+") != std::string::npos)
        problems.erase(std::remove_if(problems.begin(), problems.end(),
                                      [](const std::string& p) {
                                          return p.size() > 8 &&
                                                 p.compare(p.size() - 8, 8, " differs") == 0;
                                      }),
                       problems.end());
    if (run.status == 0) {
        for (const auto& entry : reference)
            if (run.files.count(entry.first) == 0)
                problems.push_back("converted without " + entry.first);
    } else if (run.status == 1) {
        if (run.fired == 0)
            problems.push_back("failed though no call was failed");
        else if (!NamesTheFault(kind, ReportedReasons(run.report)))
            problems.push_back("failed without naming the fault: " +
                               Joined(ReportedReasons(run.report), " | "));
    } else if (!crashed) {
        problems.push_back("exit status " + std::to_string(run.status));
    }
    return problems;
}

std::string StatusText(int status) {
    if (status <= 128)
        return "exit " + std::to_string(status);
    const char* name = sigabbrev_np(status - 128);
    return name ? std::string("SIG") + name : "signal " + std::to_string(status - 128);
}

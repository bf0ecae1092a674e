#pragma once

#include <map>
#include <string>
#include <vector>

// One kind of injected fault: a libfiu failure point of the POSIX preload and the errno its
// failing call leaves.
struct SFaultKind {
    std::string name;               // also the test's name: write_enospc, malloc, ...
    std::string point;              // posix/io/rw/write, libc/mm/malloc, ...
    int error;                      // ENOSPC, ENOMEM, ...
    std::vector<std::string> words; // what a reason that names the failing operation says
};

// Every kind the conversion is tried under, in a fixed order.
const std::vector<SFaultKind>& FaultKinds();
// Every kind's failure point, for a run that only counts calls.
std::vector<std::string> AllFaultPoints();

// The calls of a point to fail, counted from 1: every call when there are no more than `runs`,
// otherwise one drawn from each of `runs` equal stretches of [1, calls], so the start, the
// middle and the end are all tried. The same seed and kind always give the same calls.
std::vector<long> ChooseCalls(long calls, int runs, unsigned seed, size_t kindIndex);

// One vyrk2mp4 run under the fault control.
struct SConverterRun {
    int status = -1;                          // exit status, or 128 + N when signal N ended it
    std::string report;                       // standard output
    std::string errors;                       // standard error: the failing call's stack, if any
    std::map<std::string, long> counts;       // calls of each point while main ran
    long fired = 0;                           // the call that was failed, 0 if none
    std::map<std::string, std::string> files; // what the output folder holds, by relative path
};

// Starts converting the recording into runDir/out with the fault control and libfiu's POSIX
// preload preloaded, counting the calls of `points` and failing call `failAt` (0: none) of the
// first with `error`. Returns the process id for FinishConverter.
int StartConverter(const std::string& recording, const std::string& runDir,
                   const std::vector<std::string>& points, long failAt, int error);
// Waits for the run (one that hangs is killed after a minute) and collects what it left.
SConverterRun FinishConverter(int pid, const std::string& runDir);

// The files under a folder (relative path to bytes), also the hidden ones.
std::map<std::string, std::string> FilesUnder(const std::string& folder);

// What is wrong with a run under `kind`, one phrase per problem; empty when it either converted
// every file byte for byte as `reference`, or failed naming the fault and left no broken or
// temporary file.
std::vector<std::string> JudgeRun(const SFaultKind& kind, const SConverterRun& run,
                                  const std::map<std::string, std::string>& reference);

// "exit 1", "SIGABRT", ...
std::string StatusText(int status);

// vyrk2mp4: converts .Vyrk recordings into one folder of MP4 files each, without a window.
// For a recording DIR/NAME.EXT the files go to OUT/NAME/0.mp4, 1.mp4, ... where OUT is the
// folder given with -o (created with its parents) or else the recording's own folder.

#include "CDiagnosticsLog.h"
#include "CFolderLock.h"
#include "COutputFolders.h"
#include "CProgressLine.h"
#include "CReport.h"
#include "CVyrkConverter.h"
#include "ConversionText.h"
#include "Log.h"
#include "Platform.h"
#include "SOptions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The first stop signal, 0 while none came.
std::atomic<int> g_stopSignal{0};

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

// The first code of ours to run, once the system has loaded the libraries and before their
// initialisers: blocks the stop signals, so one that comes before main waits for the thread
// WatchStopSignals starts instead of ending the process unreported. No library (nor a
// sanitizer's runtime) may be ready yet, so the kernel is asked directly, with its 64-bit mask.
void BlockStopSignalsEarly(int, char**, char**) {
    const uint64_t mask = (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1)) | (1ULL << (SIGHUP - 1));
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, &mask, nullptr, sizeof(mask));
}

__attribute__((section(".preinit_array"),
               used)) void (*const g_blockEarly)(int, char**, char**) = BlockStopSignalsEarly;

// The stop signals are blocked in every thread and taken by one thread of their own, so no
// engine call is interrupted. The first asks for a stop; a second ends the process at once,
// leaving only temporary files behind.
void WatchStopSignals() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // before any other thread exists
    try {
        std::thread([set] {
            int signal = 0;
            while (sigwait(&set, &signal) == 0) {
                if (g_stopSignal.load() != 0)
                    _exit(128 + signal);
                g_stopSignal = signal;
            }
        }).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr); // no watcher: the signals end the process
    }
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void DescribeChannels(const CVyrkConverter& converter, bool hvc1, SRecordingOutcome& outcome) {
    const CVyrkConverter::SRecordingStart start = converter.GetRecordingStart();
    if (start.known) {
        outcome.start = start.origin.creationTime;
        outcome.timecode = start.origin.timecode;
        outcome.clockSteps = start.clockSteps;
    }
    for (int ch = 0; ch < converter.GetChannelSlots(); ++ch) {
        SRecordingOutcome::SChannel channel;
        channel.channel = ch;
        channel.file = converter.GetFileName(ch);
        const int64_t startUs = start.channelStartUs[static_cast<size_t>(ch)];
        channel.startSeconds =
            start.known && startUs >= 0 ? static_cast<double>(startUs) / 1e6 : -1;
        const auto stats = converter.GetChannelStats(ch);
        switch (converter.GetChannelResult(ch)) {
        case CVyrkConverter::ChannelResult::Written:
            channel.state = "written";
            channel.seconds = static_cast<double>(stats->mediaUs) / 1e6;
            channel.packets = stats->packets;
            channel.bytes = stats->fileBytes;
            channel.sampleEntry = hvc1 && !stats->hev1Instead ? "hvc1" : "hev1";
            break;
        case CVyrkConverter::ChannelResult::Failed:
            channel.state = "failed";
            channel.reason = stats ? OutputFailureText(stats->failure, stats->error)
                                   : "the file name is too long";
            break;
        case CVyrkConverter::ChannelResult::Kept:
            channel.state = "kept";
            channel.reason = "stopped before the end; the complete earlier file is kept";
            break;
        case CVyrkConverter::ChannelResult::None:
            channel.state = "no video";
            break;
        }
        outcome.channels.push_back(channel);
    }
}

void RunToEnd(CVyrkConverter& converter, CProgressLine& progress) {
    bool stopping = false;
    // The end is noticed within 10 ms; progress is taken every 100 ms.
    for (int tick = 0; !converter.IsFinished(); ++tick) {
        if (g_stopSignal.load() != 0 && !stopping) {
            stopping = true;
            progress.Note("stopping: finishing the files already begun (again to quit at once)");
            LogInfo("stopped by signal %d", g_stopSignal.load());
            converter.Stop(); // returns once every begun file is finished
        }
        if (tick % 10 == 0)
            progress.Update(converter.GetProgress());
        Platform::SleepMs(10);
    }
}

// Why the recording's folder could not be taken.
std::string TakeFailureText(COutputFolders::Take take, int error) {
    if (take == COutputFolders::Take::CannotMark)
        return std::string("cannot write the folder's owner file ") + COutputFolders::kOwnerFile +
               ": " + strerror(error);
    return std::string("cannot create the output folder: ") + strerror(error);
}

bool Complete(CVyrkConverter::State state) {
    return state == CVyrkConverter::State::Converted || state == CVyrkConverter::State::Damaged;
}

// The queue budget a benchmark asks for in VYRK2MP4_QUEUE_MIB (whole MiB), else the default.
int64_t QueueBudget() {
    const char* text = getenv("VYRK2MP4_QUEUE_MIB");
    char* end = nullptr;
    const long long mib = text ? strtoll(text, &end, 10) : 0;
    return text && *end == '\0' && mib > 0 && mib <= 4096 ? mib * 1024 * 1024
                                                          : CFileLoader::kHighWaterBytes;
}

// Converts into a folder of the recording's own under `parent`, taken with `lock`.
void Convert(const std::string& parent, COutputFolders& folders, CFolderLock& lock,
             const SOptions& options, CProgressLine& progress, SRecordingOutcome& outcome) {
    int error = 0;
    const COutputFolders::Take take =
        folders.ClaimAndTake(parent, outcome.input, lock, outcome.outputDir, error);
    if (take != COutputFolders::Take::Taken) {
        outcome.reason = TakeFailureText(take, error);
        return;
    }
    CVyrkConverter converter;
    SOutputOptions output;
    output.faststart = options.faststart;
    output.hvc1Tag = options.hvc1;
    converter.SetOutputOptions(output);
    converter.SetQueueBudget(QueueBudget());
    if (!converter.Init(outcome.input, outcome.outputDir) || !converter.Start()) {
        COutputFolders::RecordConversion(outcome.outputDir, {}, false);
        outcome.reason =
            converter.GetFailure() != CVyrkConverter::Failure::None
                ? RecordingFailureText(converter.GetFailure(), converter.GetFailureError())
                : "cannot start reading the recording";
        return;
    }
    RunToEnd(converter, progress);
    const CVyrkConverter::State state = converter.GetState();
    COutputFolders::RecordConversion(outcome.outputDir, converter.GetWrittenChannels(),
                                     Complete(state));
    outcome.state = StateText(state);
    outcome.reason =
        state == CVyrkConverter::State::Damaged
            ? converter.GetDamageText()
            : RecordingFailureText(converter.GetFailure(), converter.GetFailureError());
    DescribeChannels(converter, options.hvc1, outcome);
    progress.End(outcome.state, converter.GetProgress());
}

// A conversion that threw: failed, and its folder settled as one that received no file (the
// converter has finished its files by now; the lock is still held).
void Fail(const std::string& reason, const CFolderLock& lock, SRecordingOutcome& outcome) {
    outcome.state = "failed";
    outcome.reason = reason;
    outcome.channels.clear();
    LogError("%s: %s", outcome.input.c_str(), reason.c_str());
    if (lock.IsHeld())
        COutputFolders::RecordConversion(outcome.outputDir, {}, false);
}

// The recording converted by Convert, with what it threw reported as the recording's failure.
SRecordingOutcome ConvertOrFail(const std::string& input, const std::string& parent,
                                COutputFolders& folders, const SOptions& options,
                                CProgressLine& progress) {
    SRecordingOutcome outcome;
    outcome.input = input;
    outcome.state = "failed";
    CFolderLock lock; // held until the folder is settled
    try {
        Convert(parent, folders, lock, options, progress, outcome);
    } catch (const std::bad_alloc&) {
        Fail("out of memory", lock, outcome);
    } catch (const std::exception& e) {
        Fail(std::string("unexpected error: ") + e.what(), lock, outcome);
    }
    return outcome;
}

void PrintVersion() {
    printf("vyrk2mp4 %s\n", VYRK_VERSION);
    printf("libavformat %s, libavcodec %s\n", AV_STRINGIFY(LIBAVFORMAT_VERSION),
           AV_STRINGIFY(LIBAVCODEC_VERSION));
}

std::string RunStartLine(int argc, char** argv) {
    std::string command;
    for (int i = 0; i < argc; ++i)
        command += (i ? " " : "") + std::string(argv[i]);
    return "vyrk2mp4 " + std::string(VYRK_VERSION) + ", process " + std::to_string(getpid()) +
           ": " + command;
}

// The -o folder with its parents; false (and said on standard error) when it cannot be made.
bool MakeOutputFolder(const std::string& folder) {
    std::error_code made, checked;
    if (folder.empty() || std::filesystem::create_directories(folder, made) ||
        std::filesystem::is_directory(folder, checked))
        return true;
    fprintf(stderr, "vyrk2mp4: cannot create the output folder %s: %s\n", folder.c_str(),
            made ? made.message().c_str() : strerror(ENOTDIR));
    return false;
}

// What the recordings came to, for the exit status.
struct STally {
    bool failed = false;
    bool damaged = false;
};

STally ConvertAll(const SOptions& options, CReport& report, CProgressLine& progress) {
    STally tally;
    COutputFolders folders;
    const int count = static_cast<int>(options.inputs.size());
    for (int i = 0; i < count; ++i) {
        const std::string& input = options.inputs[static_cast<size_t>(i)];
        SRecordingOutcome outcome;
        if (g_stopSignal.load() != 0) {
            outcome.input = input;
            outcome.state = "stopped";
            outcome.reason = "not begun";
        } else {
            progress.Begin(i + 1, count, FileName(input));
            const std::string parent =
                options.outputDir.empty() ? DirectoryOf(input) : options.outputDir;
            outcome = ConvertOrFail(input, parent, folders, options, progress);
        }
        tally.failed = tally.failed || outcome.state == "failed";
        tally.damaged = tally.damaged || outcome.state == "damaged";
        report.Add(outcome);
    }
    return tally;
}

// 128+N after stop signal N; else 1 when a recording failed or the report or the log could not
// be written, 3 when a recording was converted with damage, 0 when all converted.
int ExitStatus(const STally& tally, bool undelivered) {
    if (const int signal = g_stopSignal.load())
        return 128 + signal;
    if (tally.failed || undelivered)
        return 1;
    return tally.damaged ? 3 : 0;
}

// Ends the report; false (and said on standard error) when some of it did not reach its reader.
bool CloseReport(CReport& report, FILE* stream) {
    report.Finish();
    int error = report.GetError();
    errno = 0;
    if (fclose(stream) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0)
        fprintf(stderr, "vyrk2mp4: cannot write the report: %s\n", strerror(error));
    return error == 0;
}

// Help and version on standard output, which must take them.
int Print(void (*print)()) {
    print();
    if (fflush(stdout) == 0 && !ferror(stdout))
        return 0;
    fprintf(stderr, "vyrk2mp4: cannot write to standard output: %s\n", strerror(errno));
    return 1;
}

void PrintUsage() {
    fputs(kUsage, stdout);
}

// Diagnostics into the log the options name, its first line written; the report's stream, or
// null when standard output cannot be kept. Problems are said on standard error.
FILE* StartLog(const SOptions& options, int argc, char** argv, CDiagnosticsLog& log) {
    std::string problem;
    FILE* report = log.Open(options.verbose           ? ""
                            : options.logPath.empty() ? CDiagnosticsLog::DefaultPath()
                                                      : options.logPath,
                            problem);
    if (!report) {
        fprintf(stderr, "vyrk2mp4: cannot keep standard output for the report\n");
        return nullptr;
    }
    if (!problem.empty())
        fprintf(stderr, "vyrk2mp4: %s\n", problem.c_str());
    problem = log.Begin(RunStartLine(argc, argv));
    if (!problem.empty())
        fprintf(stderr, "vyrk2mp4: %s\n", problem.c_str());
    return report;
}

int Run(int argc, char** argv) {
    SOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        fprintf(stderr, "vyrk2mp4: %s (see vyrk2mp4 --help)\n", error.c_str());
        return 2;
    }
    if (options.help)
        return Print(PrintUsage);
    if (options.version)
        return Print(PrintVersion);
    CDiagnosticsLog log;
    FILE* reportStream = StartLog(options, argc, argv, log);
    if (!reportStream)
        return 1;
    if (!MakeOutputFolder(options.outputDir))
        return 1;
    CReport report(reportStream, options.json, log.Path());
    CProgressLine progress(stderr, isatty(STDERR_FILENO) && !options.verbose, !options.quiet);
    const STally tally = ConvertAll(options, report, progress);
    const bool delivered = CloseReport(report, reportStream);
    const std::string logProblem =
        log.Finish("vyrk2mp4, process " + std::to_string(getpid()) + ": done");
    if (!logProblem.empty())
        fprintf(stderr, "vyrk2mp4: %s\n", logProblem.c_str());
    return ExitStatus(tally, !delivered || log.HasFailed());
}

} // namespace

int main(int argc, char** argv) {
    WatchStopSignals(); // first: a stop signal from here on is answered with a report
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        fputs("vyrk2mp4: out of memory\n", stderr);
    } catch (const std::exception& e) {
        fprintf(stderr, "vyrk2mp4: %s\n", e.what());
    }
    return 1;
}

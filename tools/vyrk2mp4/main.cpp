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
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The first stop signal, 0 while none came.
std::atomic<int> g_stopSignal{0};

// The stop signals are blocked in every thread and taken by one thread of their own, so no
// engine call is interrupted. The first asks for a stop; a second ends the process at once,
// leaving only temporary files behind.
void WatchStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // before any other thread exists
    std::thread([set] {
        int signal = 0;
        while (sigwait(&set, &signal) == 0) {
            if (g_stopSignal.load() != 0)
                _exit(128 + signal);
            g_stopSignal = signal;
        }
    }).detach();
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

void LogRunStart(int argc, char** argv) {
    std::string command;
    for (int i = 0; i < argc; ++i)
        command += (i ? " " : "") + std::string(argv[i]);
    LogInfo("vyrk2mp4 %s, process %d: %s", VYRK_VERSION, static_cast<int>(getpid()),
            command.c_str());
}

} // namespace

int main(int argc, char** argv) {
    SOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        fprintf(stderr, "vyrk2mp4: %s (see vyrk2mp4 --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        PrintVersion();
        return 0;
    }
    WatchStopSignals();
    CDiagnosticsLog log;
    FILE* reportStream =
        log.Open(options.verbose
                     ? ""
                     : (options.logPath.empty() ? CDiagnosticsLog::DefaultPath() : options.logPath),
                 error);
    if (!error.empty())
        fprintf(stderr, "vyrk2mp4: %s\n", error.c_str());
    if (!reportStream) {
        fprintf(stderr, "vyrk2mp4: cannot keep standard output for the report\n");
        return 1;
    }
    LogRunStart(argc, argv);
    std::error_code made;
    if (!options.outputDir.empty() &&
        !std::filesystem::create_directories(options.outputDir, made) &&
        !std::filesystem::is_directory(options.outputDir)) {
        fprintf(stderr, "vyrk2mp4: cannot create the output folder %s: %s\n",
                options.outputDir.c_str(), made ? made.message().c_str() : "not a folder");
        return 1;
    }
    CReport report(reportStream, options.json, log.Path());
    CProgressLine progress(stderr, isatty(STDERR_FILENO) && !options.verbose, !options.quiet);
    bool failed = false;
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
        failed = failed || outcome.state == "failed";
        report.Add(outcome);
    }
    report.Finish();
    fclose(reportStream);
    if (const int signal = g_stopSignal.load())
        return 128 + signal;
    return failed ? 1 : 0;
}

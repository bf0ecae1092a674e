#include "CExportRunner.h"

#include "CFolderLock.h"
#include "COutputFolders.h"
#include "CTimeLeftEstimate.h"
#include "CVyrkConverter.h"
#include "EntryText.h"
#include "Platform.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaObject>
#include <QtCore/QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>

namespace {

// The runner's texts are the window's, in the window's translation context.
QString Tr(const char* text) {
    return QCoreApplication::translate("MainWindow", text);
}

// Seconds on a steady clock.
double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The name of an output folder given as a prefix ending in "/".
QString FolderName(const QString& prefix) {
    return QFileInfo(QDir::cleanPath(prefix)).fileName();
}

// Takes the job's folder for its conversion: "" once held, else why the job cannot run. A
// folder that cannot be made is left to the conversion, whose channels then say why.
QString TakeJobFolder(const ExportJob& job, CFolderLock& lock) {
    int error = 0;
    switch (COutputFolders::TakeFolder(job.outputPrefix, job.inputPath, lock, error)) {
    case COutputFolders::Take::Taken:
        return QString();
    case COutputFolders::Take::CannotOpen:
        // A folder that cannot be made is left to the conversion, whose channels say why; one
        // that exists but cannot be locked could be shared with another conversion.
        if (!QFileInfo(QString::fromLocal8Bit(job.outputPrefix.c_str())).isDir())
            return QString();
        return Tr("无法锁定输出文件夹（%1）").arg(EntryText::SystemError(error));
    case COutputFolders::Take::InUse:
        return Tr("输出文件夹正被另一个转换使用");
    case COutputFolders::Take::Foreign:
        return Tr("输出文件夹中已有另一个录像的通道文件");
    case COutputFolders::Take::CannotMark:
        break;
    }
    return Tr("无法写入输出文件夹中的 %1 文件（%2）")
        .arg(COutputFolders::kOwnerFile)
        .arg(EntryText::SystemError(error));
}

} // namespace

// How far the export has come, kept by the worker for its progress reports.
struct CExportRunner::SPace {
    int index = 0; // jobs finished
    int jobs = 0;
    int64_t finishedBytes = 0;
    int64_t totalBytes = 0;
    CTimeLeftEstimate job;
    CTimeLeftEstimate all;
    double lastReport = 0;

    // The export's percentage, by bytes (by recordings when all are empty), at most `cap`.
    int Percent(int64_t doneBytes, int cap) const {
        if (totalBytes <= 0)
            return jobs > 0 ? std::min(cap, index * 100 / jobs) : 0;
        return static_cast<int>(std::min<int64_t>(cap, doneBytes * 100 / totalBytes));
    }
};

CExportRunner::~CExportRunner() {
    Stop();
}

bool CExportRunner::Start(std::deque<ExportJob> jobs) {
    // The previous export's worker has already ended (no export could start until then).
    Join();
    m_jobs = std::move(jobs);
    m_bCancelExport = false;
    m_bExportThreadStarted =
        pthread_create(&m_exportThread, nullptr, &CExportRunner::ExportThreadProc, this) == 0;
    return m_bExportThreadStarted;
}

void CExportRunner::Stop() {
    Cancel();
    Join();
}

void CExportRunner::Join() {
    if (!m_bExportThreadStarted)
        return;
    pthread_join(m_exportThread, nullptr);
    m_bExportThreadStarted = false;
}

void* CExportRunner::ExportThreadProc(void* runner) {
    static_cast<CExportRunner*>(runner)->RunJobs();
    return nullptr;
}

void CExportRunner::RunJobs() {
    try {
        RunQueue();
    } catch (...) {
        // Out of memory in a report: the export ends here, and the window still hears of it.
    }
    QMetaObject::invokeMethod(
        this, [this] { emit Finished(); }, Qt::QueuedConnection);
}

void CExportRunner::RunQueue() {
    SPace pace;
    pace.jobs = static_cast<int>(m_jobs.size());
    for (const ExportJob& job : m_jobs)
        pace.totalBytes += job.inputBytes;
    pace.all.Reset(Now(), 0);
    for (const ExportJob& queued : m_jobs) {
        if (m_bCancelExport)
            break;
        const ExportJob job = queued;
        PostRunning(job);
        const SJobOutcome outcome = RunGuarded(job, pace);
        pace.finishedBytes += job.inputBytes;
        ++pace.index;
        PostOutcome(job, outcome, pace.Percent(pace.finishedBytes, 100));
    }
}

// No exception leaves the worker: a job that throws (out of memory) fails with the reason.
SJobOutcome CExportRunner::RunGuarded(const ExportJob& job, SPace& pace) {
    try {
        return RunJob(job, pace);
    } catch (const std::exception& e) {
        SJobOutcome outcome;
        outcome.reason = dynamic_cast<const std::bad_alloc*>(&e)
                             ? EntryText::SystemError(ENOMEM)
                             : Tr("转换出错：%1").arg(QString::fromLocal8Bit(e.what()));
        outcome.status = EntryText::Failed(outcome.reason);
        return outcome;
    }
}

SJobOutcome CExportRunner::RunJob(const ExportJob& job, SPace& pace) {
    CFolderLock lock; // held until the folder is settled, so released after the converter ends
    CVyrkConverter converter;
    SJobOutcome outcome;
    if (!converter.Init(job.inputPath, job.outputPrefix)) {
        outcome.reason =
            EntryText::RecordingFailure(converter.GetFailure(), converter.GetFailureError());
        outcome.status = EntryText::Failed(outcome.reason);
        return outcome;
    }
    outcome.reason = TakeJobFolder(job, lock);
    if (!outcome.reason.isEmpty()) {
        outcome.status = EntryText::Failed(outcome.reason);
        return outcome;
    }
    if (!converter.Start()) {
        COutputFolders::RecordConversion(job.outputPrefix, {}, false);
        outcome.reason = Tr("无法开始读取录像");
        outcome.status = EntryText::Failed(outcome.reason);
        return outcome;
    }
    pace.job.Reset(Now(), 0);
    pace.lastReport = 0;
    while (!converter.IsFinished()) {
        if (m_bCancelExport)
            converter.Stop(); // still finishes every file it began
        else
            ReportProgress(job, converter.GetProgress(), pace);
        Platform::SleepMs(5);
    }
    Platform::SleepMs(10);
    return Outcome(converter, job);
}

// What the finished conversion made of the job, with the folder settled: cleared of old
// channel files once complete (read to its end), removed if it holds none.
SJobOutcome CExportRunner::Outcome(const CVyrkConverter& converter, const ExportJob& job) {
    const std::vector<int> written = converter.GetWrittenChannels();
    const bool complete = converter.GetState() == CVyrkConverter::State::Converted ||
                          converter.GetState() == CVyrkConverter::State::Damaged;
    COutputFolders::RecordConversion(job.outputPrefix, written, complete);
    const QString folder = QString::fromLocal8Bit(job.outputPrefix.c_str());
    SJobOutcome outcome;
    outcome.files = static_cast<int>(written.size());
    const CVyrkConverter::SRecordingStart start = converter.GetRecordingStart();
    if (start.known && start.wallClock)
        outcome.recorded =
            Tr("录制时间：%1")
                .arg(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(start.zeroUs / 1000))
                         .toString("yyyy-MM-dd HH:mm:ss"));
    switch (converter.GetState()) {
    case CVyrkConverter::State::Converted:
        outcome.state = EntryState::Done;
        outcome.status = EntryText::Done(outcome.files, FolderName(folder));
        break;
    case CVyrkConverter::State::Damaged:
        outcome.state = EntryState::Damaged;
        outcome.status = EntryText::Damaged(outcome.files, FolderName(folder));
        outcome.reason = EntryText::Damage(converter.GetDamage());
        break;
    case CVyrkConverter::State::Stopped:
        outcome.state = EntryState::Stopped;
        outcome.status = EntryText::Stopped(outcome.files);
        outcome.reason = Tr("导出被停止，录像没有转换完；已写完的通道文件只含停止前的部分。");
        break;
    default:
        outcome.reason = FailureReason(converter);
        outcome.status = EntryText::Failed(outcome.reason);
        break;
    }
    return outcome;
}

// Which channel files failed and why, or else why the recording produced nothing.
QString CExportRunner::FailureReason(const CVyrkConverter& converter) {
    QStringList failures;
    for (int ch = 0; ch < converter.GetChannelSlots(); ++ch) {
        if (converter.GetChannelResult(ch) != CVyrkConverter::ChannelResult::Failed)
            continue;
        const auto stats = converter.GetChannelStats(ch);
        failures << (stats ? EntryText::ChannelFailure(ch, stats->failure, stats->error)
                           : Tr("通道 %1 的文件名太长").arg(ch));
    }
    return failures.isEmpty()
               ? EntryText::RecordingFailure(converter.GetFailure(), converter.GetFailureError())
               : failures.join(Tr("；"));
}

// Four times a second: the running entry's percentage and time left, and the export's.
void CExportRunner::ReportProgress(const ExportJob& job, const SConversionProgress& progress,
                                   SPace& pace) {
    const double now = Now();
    if (now - pace.lastReport < 0.25)
        return;
    pace.lastReport = now;
    const int64_t done = std::max<int64_t>(0, progress.bytesConsumed - progress.bytesPending);
    pace.job.Update(now, static_cast<double>(done));
    pace.all.Update(now, static_cast<double>(pace.finishedBytes + done));
    SJobProgress report;
    report.percent = std::min(99, static_cast<int>(progress.Fraction() * 100));
    report.status = EntryText::Running(
        report.percent, pace.job.SecondsLeft(static_cast<double>(progress.bytesTotal)));
    report.overall = pace.Percent(pace.finishedBytes + done, 99);
    report.overallText = EntryText::Overall(
        pace.index, pace.jobs, pace.all.SecondsLeft(static_cast<double>(pace.totalBytes)));
    report.finished = pace.index;
    QListWidgetItem* item = job.item;
    QMetaObject::invokeMethod(
        this, [this, item, report] { emit JobProgress(item, report); }, Qt::QueuedConnection);
}

void CExportRunner::PostRunning(const ExportJob& job) {
    QListWidgetItem* item = job.item;
    const QString folder = QString::fromLocal8Bit(job.outputPrefix.c_str());
    QMetaObject::invokeMethod(
        this, [this, item, folder] { emit JobStarted(item, folder); }, Qt::QueuedConnection);
}

void CExportRunner::PostOutcome(const ExportJob& job, const SJobOutcome& outcome, int overall) {
    QListWidgetItem* item = job.item;
    QMetaObject::invokeMethod(
        this, [this, item, outcome, overall] { emit JobFinished(item, outcome, overall); },
        Qt::QueuedConnection);
}

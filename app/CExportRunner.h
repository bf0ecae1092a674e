#pragma once

#include "ExportJob.h"
#include "SJobOutcome.h"
#include "SJobProgress.h"

#include <QtCore/QObject>

#include <atomic>
#include <deque>
#include <pthread.h>

class CVyrkConverter;
class QListWidgetItem;
struct SConversionProgress;

// Converts an export's recordings one after another on a worker thread of its own. Lives on the
// GUI thread, and so do its signals: the worker queues each report to it with copied values,
// and never touches a widget or a list entry itself. The entries named in the jobs must stay
// listed until the export has finished.
class CExportRunner : public QObject {
    Q_OBJECT

public:
    CExportRunner() = default;
    // Stops a running export first, as Stop does.
    ~CExportRunner() override;

    // Starts the worker on these jobs; false when the system cannot create the thread. GUI
    // thread, and only once the previous export has finished.
    bool Start(std::deque<ExportJob> jobs);
    // The running conversion stops where it is, finishing every file it began; no other job
    // starts. Finished follows as usual.
    void Cancel() { m_bCancelExport = true; }
    // Cancels, then waits until the worker has ended.
    void Stop();

signals:
    void JobStarted(QListWidgetItem* item, const QString& outputFolder);
    void JobProgress(QListWidgetItem* item, const SJobProgress& progress);
    // overall: the export's percentage once this job is done.
    void JobFinished(QListWidgetItem* item, const SJobOutcome& outcome, int overall);
    // The export's last report, queued by the worker as its last act.
    void Finished();

private:
    struct SPace;

    // Waits for a worker that was started and not yet waited for.
    void Join();
    static void* ExportThreadProc(void* runner);
    void RunJobs();
    void RunQueue();
    SJobOutcome RunGuarded(const ExportJob& job, SPace& pace);
    SJobOutcome RunJob(const ExportJob& job, SPace& pace);
    static SJobOutcome Outcome(const CVyrkConverter& converter, const ExportJob& job);
    static QString FailureReason(const CVyrkConverter& converter);
    void ReportProgress(const ExportJob& job, const SConversionProgress& progress, SPace& pace);
    void PostRunning(const ExportJob& job);
    void PostOutcome(const ExportJob& job, const SJobOutcome& outcome, int overall);

    pthread_t m_exportThread{};
    bool m_bExportThreadStarted = false; // GUI thread only
    // Filled by Start before the worker begins, then read by the worker alone until it ends.
    std::deque<ExportJob> m_jobs;
    std::atomic<bool> m_bCancelExport{false};
};

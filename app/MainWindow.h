#pragma once

#include "EntryState.h"
#include "ExportJob.h"
#include "SJobOutcome.h"

#include <QtCore/QPoint>
#include <QtCore/QStringList>
#include <QtGui/QIcon>
#include <QtWidgets/QDialog>

#include <atomic>
#include <deque>
#include <memory>
#include <pthread.h>
#include <set>
#include <string>

class CGuiMessageRelay;
class CVyrkConverter;
class CWindowChrome;
class QListWidgetItem;
class QCloseEvent;
class QKeyEvent;
class QMouseEvent;
class QProgressBar;
struct SConversionProgress;

namespace Ui {
class MainWindow;
}

// The converter's only window: a frameless dialog with its own title bar (CWindowChrome), the list
// of recordings, the output-folder controls and the export runner. Each list entry shows its state
// (icon and a status text with the reason of a failure); while an export runs, the export button
// stops it and a bar shows the overall progress.
class MainWindow : public QDialog {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    using EntryState = ::EntryState;
    const QIcon& IconFor(EntryState state) const;
    bool IsExporting() const { return m_exporting; }

    // Adds recordings not yet listed (judged on the canonical path), in the given order.
    void AddRecordings(const QStringList& paths);

signals:
    void EnabledUI(bool enable);

private slots:
    void OnEnabledUI(bool enable);
    void on_btnMenu_Close_clicked();
    void on_btnMenu_Max_clicked();
    void on_btnMenu_Min_clicked();
    void on_AddFButton_clicked();
    void on_SelectExportDir_clicked();
    void on_DeleteButton_clicked();
    void on_DeleteAllButton_clicked();
    void on_ExportButton_clicked();
    void on_UseSrcDirCheckBox_stateChanged(int state);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct SPace;

    static void* ExportThreadProc(void* window);
    void RunJobs();
    SJobOutcome RunJob(const ExportJob& job, SPace& pace);
    static SJobOutcome Outcome(const CVyrkConverter& converter, const ExportJob& job);
    static QString FailureReason(const CVyrkConverter& converter);
    void ReportProgress(const ExportJob& job, const SConversionProgress& progress, SPace& pace);
    void PostRunning(const ExportJob& job);
    void PostOutcome(const ExportJob& job, const SJobOutcome& outcome, int overall);
    void ApplyOutcome(QListWidgetItem* item, const SJobOutcome& outcome, int overall);
    void StopExport();
    void RequestStop();
    void SetExporting(bool exporting);
    bool ConfirmQuit();
    bool HasEntriesToConvert() const;
    void BuildJobs(const QString& outputDir, bool beside);
    void ClearWaitingTexts();

    void ShowEntryMenu(const QPoint& pos);
    void RemoveEntries(const QList<QListWidgetItem*>& items);
    void ResetEntry(QListWidgetItem* item);
    void ShowReason(QListWidgetItem* item);
    static void SetEntryData(QListWidgetItem* item, EntryState state, const QString& status,
                             const QString& reason);
    void LoadSettings();
    void InitListAndProgress();

    QIcon m_iconDone;
    QIcon m_iconError;
    QIcon m_iconProcess;
    QIcon m_iconProcess1;
    QIcon m_iconStopped;
    Ui::MainWindow* ui;
    pthread_t m_exportThread;
    std::deque<ExportJob> m_jobs;
    std::set<std::wstring> m_listedPaths;

    bool m_bExportThreadStarted;
    std::atomic<bool> m_bCancelExport;
    std::unique_ptr<CWindowChrome> m_pChrome;
    std::unique_ptr<CGuiMessageRelay> m_pMessages;

    // GUI thread only, but for m_jobCount, which the worker reads like m_jobs.
    bool m_exporting = false;
    bool m_stopRequested = false;
    int m_jobCount = 0;
    int m_done = 0, m_failed = 0, m_stopped = 0;
    QString m_baseTitle;
    QProgressBar* m_pProgress = nullptr;
};

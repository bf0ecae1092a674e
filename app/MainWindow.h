#pragma once

#include "EntryState.h"
#include "SJobOutcome.h"

#include <QtCore/QPoint>
#include <QtCore/QStringList>
#include <QtGui/QIcon>
#include <QtWidgets/QDialog>

#include <memory>

class CExportRunner;
class CGuiMessageRelay;
class CRecordingList;
class CWindowChrome;
class QListWidgetItem;
class QCloseEvent;
class QKeyEvent;
class QMouseEvent;
class QProgressBar;
struct SJobProgress;

namespace Ui {
class MainWindow;
}

// The converter's only window: a frameless dialog with its own title bar (CWindowChrome), the
// list of recordings (CRecordingList), the output-folder controls, and the export, which
// CExportRunner converts. Each list entry shows its state (icon and a status text with the
// reason of a failure); while an export runs, the export button stops it and a bar shows the
// overall progress.
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
    void ShowProgress(QListWidgetItem* item, const SJobProgress& progress);
    void ApplyOutcome(QListWidgetItem* item, const SJobOutcome& outcome, int overall);
    void ShowOverall(int percent, const QString& text, int finished);
    bool MakeOutputFolder(const QString& outputDir);
    void StartExport(const QString& outputDir, bool beside);
    void RequestStop();
    void SetExporting(bool exporting);
    bool ConfirmQuit();
    void ShowEntryMenu(const QPoint& pos);
    void ShowReason(QListWidgetItem* item);
    void LoadSettings();
    void InitListAndProgress();
    void InitRunner();

    Ui::MainWindow* ui;
    std::unique_ptr<CWindowChrome> m_pChrome;
    std::unique_ptr<CRecordingList> m_pRecordings;
    std::unique_ptr<CGuiMessageRelay> m_pMessages;
    std::unique_ptr<CExportRunner> m_pRunner;

    // The export as the window shows it; GUI thread only.
    bool m_exporting = false;
    bool m_stopRequested = false;
    int m_jobCount = 0;
    int m_done = 0, m_failed = 0, m_stopped = 0;
    int m_damaged = 0; // among the done
    QString m_baseTitle;
    QProgressBar* m_pProgress = nullptr;
};

#pragma once

#include "ExportJob.h"

#include <QtCore/QPoint>
#include <QtCore/QRect>
#include <QtGui/QIcon>
#include <QtWidgets/QDialog>

#include <atomic>
#include <deque>
#include <memory>
#include <pthread.h>
#include <set>
#include <string>

class CGuiMessageRelay;
class QListWidgetItem;
class QMouseEvent;

namespace Ui {
class MainWindow;
}

// The converter's only window: a frameless dialog with its own title bar, the list of
// recordings, the output-folder controls and the export runner.
class MainWindow : public QDialog {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // How an entry's icon shows its job's state.
    enum class EntryState { Waiting, Running, Done, Failed };
    const QIcon& IconFor(EntryState state) const;

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
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    static void* ExportThreadProc(void* window);
    void RunJobs();
    bool RunJob(const ExportJob& job);
    void SetEntryState(QListWidgetItem* item, EntryState state);
    void StopExport();
    void InitWindowChrome();
    void ToggleMaximized();
    void LoadSettings();

    QPoint m_dragOffset;
    bool m_dragging;
    bool m_maximized;
    QRect m_normalGeometry;
    QIcon m_iconDone;
    QIcon m_iconError;
    QIcon m_iconProcess;
    QIcon m_iconProcess1;
    Ui::MainWindow* ui;
    pthread_t m_exportThread;
    std::deque<ExportJob> m_jobs;
    std::set<std::wstring> m_listedPaths;

    bool m_bExportThreadStarted;
    std::atomic<bool> m_bCancelExport;
    std::unique_ptr<CGuiMessageRelay> m_pMessages;
};

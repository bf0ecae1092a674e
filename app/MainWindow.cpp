#include "MainWindow.h"

#include "CEntryDelegate.h"
#include "CExportRunner.h"
#include "CGuiMessageRelay.h"
#include "CRecordingDropTarget.h"
#include "CRecordingList.h"
#include "CWindowChrome.h"
#include "EntryText.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "ui_MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QSettings>
#include <QtCore/QStandardPaths>
#include <QtCore/QUrl>
#include <QtCore/QVector>
#include <QtGui/QDesktopServices>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QShortcut>

namespace {

const char* const kUseSourceDirKey = "isUseSrcDir";
const char* const kDirKey = "Dir";

// The per-user settings store, opened anew for every read or write.
std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Tarnvel",
                                       "vyrk-converter");
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QDialog(parent), ui(new Ui::MainWindow) {
    ui->setupUi(this);
    m_pChrome = std::make_unique<CWindowChrome>(*this, *ui);
    m_pRecordings = std::make_unique<CRecordingList>(*ui->FileList);
    LoadSettings();
    qRegisterMetaType<QVector<int>>("QVector<int>");
    connect(this, SIGNAL(EnabledUI(bool)), this, SLOT(OnEnabledUI(bool)));
    m_pMessages = std::make_unique<CGuiMessageRelay>(this);
    InitListAndProgress();
    InitRunner();
}

void MainWindow::InitListAndProgress() {
    m_baseTitle = windowTitle();
    QListWidget* list = ui->FileList;
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setItemDelegate(new CEntryDelegate(list));
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &MainWindow::ShowEntryMenu);
    auto* drops = new CRecordingDropTarget(list->viewport());
    connect(drops, &CRecordingDropTarget::RecordingsDropped, this, &MainWindow::AddRecordings);
    auto* remove = new QShortcut(QKeySequence::Delete, list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, [this] {
        if (!m_exporting)
            m_pRecordings->Remove(ui->FileList->selectedItems());
    });
    connect(ui->ExportDirEdit, &QLineEdit::editingFinished, this,
            [this] { OpenSettings()->setValue(kDirKey, ui->ExportDirEdit->text()); });
    m_pProgress = new QProgressBar(ui->frame);
    m_pProgress->setObjectName("ExportProgress");
    m_pProgress->setRange(0, 100);
    m_pProgress->hide();
    ui->verticalLayout->insertWidget(1, m_pProgress);
}

// The runner's reports arrive queued, on the GUI thread, in the order the worker made them.
void MainWindow::InitRunner() {
    m_pRunner = std::make_unique<CExportRunner>();
    CExportRunner* runner = m_pRunner.get();
    connect(runner, &CExportRunner::JobStarted, this,
            [this](QListWidgetItem* item, const QString& folder) {
                m_pRecordings->ShowRunning(item, folder);
            });
    connect(runner, &CExportRunner::JobProgress, this, &MainWindow::ShowProgress);
    connect(runner, &CExportRunner::JobFinished, this, &MainWindow::ApplyOutcome);
    connect(runner, &CExportRunner::Finished, this, [this] { emit EnabledUI(true); });
}

MainWindow::~MainWindow() {
    // A running export is stopped first: every file it began is finished, and the worker is
    // gone before anything it uses is destroyed.
    m_pRunner->Stop();
    m_pMessages.reset();
    delete ui;
}

void MainWindow::LoadSettings() {
    auto settings = OpenSettings();
    ui->UseSrcDirCheckBox->setChecked(settings->value(kUseSourceDirKey, true).toBool());
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    ui->ExportDirEdit->setText(settings->value(kDirKey, desktop).toString());
    settings->setValue(kUseSourceDirKey, ui->UseSrcDirCheckBox->isChecked());
    settings->setValue(kDirKey, ui->ExportDirEdit->text());
}

// ---- keys, closing and the title bar -----------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Esc would reject the dialog and so close the program; Enter would press a button the
    // operator did not aim at. Buttons with focus take their own Enter.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!ConfirmQuit()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool MainWindow::ConfirmQuit() {
    return !m_exporting ||
           MessageBoxes::Ask(this, tr("正在导出，确定要退出吗？"),
                             tr("正在转换的录像会在当前位置停止，已开始的通道文件会保存完整；"
                                "其余录像不会转换。"));
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    m_pChrome->MousePress(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    m_pChrome->MouseMove(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    m_pChrome->MouseRelease();
}

void MainWindow::on_btnMenu_Max_clicked() {
    m_pChrome->ToggleMaximized();
}

void MainWindow::on_btnMenu_Min_clicked() {
    m_pChrome->Minimize();
}

void MainWindow::on_btnMenu_Close_clicked() {
    if (ConfirmQuit())
        QCoreApplication::exit(0);
}

// ---- list and output folder -------------------------------------------------------------------

void MainWindow::on_AddFButton_clicked() {
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilter("Vyrk(*.Vyrk)");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted)
        return;
    AddRecordings(dialog.selectedFiles());
}

void MainWindow::AddRecordings(const QStringList& paths) {
    m_pRecordings->Add(paths);
}

void MainWindow::on_SelectExportDir_clicked() {
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        ui->ExportDirEdit->setText(dialog.selectedFiles().first());
    OpenSettings()->setValue(kDirKey, ui->ExportDirEdit->text());
}

void MainWindow::on_DeleteButton_clicked() {
    QList<QListWidgetItem*> items = ui->FileList->selectedItems();
    if (items.isEmpty() && ui->FileList->currentItem())
        items << ui->FileList->currentItem();
    m_pRecordings->Remove(items);
}

void MainWindow::on_DeleteAllButton_clicked() {
    m_pRecordings->Clear();
}

void MainWindow::on_UseSrcDirCheckBox_stateChanged(int) {
    const bool beside = ui->UseSrcDirCheckBox->isChecked();
    ui->ExportDirEdit->setEnabled(!beside);
    ui->SelectExportDir->setEnabled(!beside);
    OpenSettings()->setValue(kUseSourceDirKey, beside);
}

void MainWindow::ShowEntryMenu(const QPoint& pos) {
    QListWidgetItem* item = ui->FileList->itemAt(pos);
    if (!item && !m_exporting)
        return;
    if (item && !item->isSelected())
        ui->FileList->setCurrentItem(item);
    QMenu menu(this);
    QAction* open = menu.addAction(tr("打开输出文件夹"));
    QAction* reason = menu.addAction(tr("查看原因"));
    QAction* again = menu.addAction(tr("重新转换"));
    QAction* remove = menu.addAction(tr("移除"));
    const QString folder = item ? item->data(EntryRole::kOutputFolder).toString() : QString();
    open->setEnabled(!folder.isEmpty() && QDir(folder).exists());
    reason->setEnabled(item && !item->data(EntryRole::kReason).toString().isEmpty());
    again->setEnabled(item && !m_exporting && CRecordingList::StateOf(item) != EntryState::Waiting);
    remove->setEnabled(item && !m_exporting);
    QAction* stop = nullptr;
    if (m_exporting) {
        menu.addSeparator();
        stop = menu.addAction(tr("停止导出"));
        stop->setEnabled(!m_stopRequested);
    }
    QAction* chosen = menu.exec(ui->FileList->viewport()->mapToGlobal(pos));
    if (chosen == open)
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    else if (chosen == reason)
        ShowReason(item);
    else if (chosen == again)
        for (QListWidgetItem* selected : ui->FileList->selectedItems())
            m_pRecordings->Reset(selected);
    else if (chosen == remove)
        m_pRecordings->Remove(ui->FileList->selectedItems());
    else if (chosen && chosen == stop)
        RequestStop();
}

void MainWindow::ShowReason(QListWidgetItem* item) {
    MessageBoxes::Show(this, item->data(EntryRole::kStatusText).toString(),
                       item->text() + "\n\n" + item->data(EntryRole::kReason).toString());
}

// ---- export -----------------------------------------------------------------------------------

void MainWindow::on_ExportButton_clicked() {
    if (m_exporting) {
        RequestStop();
        return;
    }
    if (!m_pRecordings->HasEntriesToConvert()) {
        MessageBoxes::Show(this, tr("没有需要导出的录像"),
                           ui->FileList->count() == 0
                               ? tr("请先添加录像。")
                               : tr("列表中的录像都已导出。要再次导出某个录像，请在它的右键菜单中"
                                    "选择“重新转换”。"));
        return;
    }
    const QString outputDir = ui->ExportDirEdit->text();
    const bool beside = ui->UseSrcDirCheckBox->isChecked();
    if (beside || MakeOutputFolder(outputDir))
        StartExport(outputDir, beside);
}

// Remembers the folder and makes it; false, and said so, when it cannot be made.
bool MainWindow::MakeOutputFolder(const QString& outputDir) {
    OpenSettings()->setValue(kDirKey, outputDir);
    QDir().mkpath(outputDir);
    // An empty text would name the current folder and put the outputs at the root.
    if (!outputDir.isEmpty() && QDir(outputDir).exists())
        return true;
    MessageBoxes::Show(nullptr, QString::fromUtf8("输出目录不存在."));
    return false;
}

void MainWindow::StartExport(const QString& outputDir, bool beside) {
    std::deque<ExportJob> jobs = m_pRecordings->BuildJobs(outputDir, beside);
    m_jobCount = static_cast<int>(jobs.size());
    SetExporting(true);
    if (!m_pRunner->Start(std::move(jobs))) {
        LogError("ExportButton cannot start the export thread..");
        SetExporting(false);
        m_pRecordings->ClearWaitingTexts();
        MessageBoxes::Show(this, tr("无法开始导出"), tr("系统无法创建导出线程。"));
    }
}

void MainWindow::SetExporting(bool exporting) {
    m_exporting = exporting;
    for (QPushButton* b : {ui->DeleteAllButton, ui->DeleteButton, ui->AddFButton})
        b->setEnabled(!exporting);
    ui->ExportButton->setEnabled(true);
    ui->ExportButton->setText(exporting ? tr("停止导出") : tr("开始导出"));
    m_pProgress->setVisible(exporting);
    m_pProgress->setValue(0);
    m_pProgress->setFormat(EntryText::Overall(0, m_jobCount, -1));
    setWindowTitle(exporting ? EntryText::Title(m_baseTitle, 0, 0, m_jobCount) : m_baseTitle);
    if (exporting) {
        m_stopRequested = false;
        m_done = m_failed = m_stopped = m_damaged = 0;
    }
}

void MainWindow::RequestStop() {
    if (!m_exporting || m_stopRequested)
        return;
    m_stopRequested = true;
    m_pRunner->Cancel();
    ui->ExportButton->setText(tr("正在停止…"));
    ui->ExportButton->setEnabled(false);
}

void MainWindow::ShowProgress(QListWidgetItem* item, const SJobProgress& progress) {
    m_pRecordings->ShowProgress(item, progress.percent, progress.status);
    ShowOverall(progress.overall, progress.overallText, progress.finished);
}

void MainWindow::ApplyOutcome(QListWidgetItem* item, const SJobOutcome& outcome, int overall) {
    m_pRecordings->ShowOutcome(item, outcome);
    (IsConverted(outcome.state)            ? m_done
     : outcome.state == EntryState::Failed ? m_failed
                                           : m_stopped)++;
    m_damaged += outcome.state == EntryState::Damaged ? 1 : 0;
    const int finished = m_done + m_failed + m_stopped;
    ShowOverall(overall, EntryText::Overall(finished, m_jobCount, -1), finished);
}

// The bar never goes back, though the estimate of a job's share may.
void MainWindow::ShowOverall(int percent, const QString& text, int finished) {
    m_pProgress->setValue(std::max(m_pProgress->value(), percent));
    m_pProgress->setFormat("%p%  " + text);
    setWindowTitle(EntryText::Title(m_baseTitle, m_pProgress->value(), finished, m_jobCount));
}

const QIcon& MainWindow::IconFor(EntryState state) const {
    return m_pRecordings->IconFor(state);
}

void MainWindow::OnEnabledUI(bool enable) {
    const bool stopped = m_stopRequested;
    const int notBegun = m_jobCount - m_done - m_failed - m_stopped;
    SetExporting(!enable);
    for (QPushButton* b : {ui->ExportButton, ui->DeleteAllButton, ui->DeleteButton, ui->AddFButton})
        b->setEnabled(enable);
    m_pRecordings->ClearWaitingTexts();
    if (enable)
        MessageBoxes::Show(this, stopped ? tr("导出已停止") : tr("导出完成"),
                           EntryText::Counts(m_done, m_failed, m_stopped, notBegun, m_damaged));
}

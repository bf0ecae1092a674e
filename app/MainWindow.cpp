#include "MainWindow.h"

#include "CEntryDelegate.h"
#include "CExportRunner.h"
#include "CGuiMessageRelay.h"
#include "COutputFolders.h"
#include "CRecordingDropTarget.h"
#include "CWindowChrome.h"
#include "EntryText.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "ui_MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
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

// The key that judges two paths to be one recording: links and "." resolved.
QString RecordingKey(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

EntryState StateOf(const QListWidgetItem* item) {
    return static_cast<EntryState>(item->data(EntryRole::kState).toInt());
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QDialog(parent), ui(new Ui::MainWindow) {
    ui->setupUi(this);
    m_pChrome = std::make_unique<CWindowChrome>(*this, *ui);
    m_iconDone.addFile("./skin/done.png");
    m_iconError.addFile("./skin/error.png");
    m_iconProcess.addFile("./skin/Process.png");
    m_iconProcess1.addFile("./skin/Process1.png");
    m_iconStopped.addFile("./skin/stopped.png");
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
            RemoveEntries(ui->FileList->selectedItems());
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
    connect(runner, &CExportRunner::JobStarted, this, &MainWindow::ShowRunning);
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
    for (const QString& path : paths) {
        const QString key = RecordingKey(path);
        if (m_listedPaths.count(key.toStdWString()))
            continue;
        auto* item = new QListWidgetItem();
        item->setIcon(m_iconProcess);
        item->setData(Qt::DisplayRole, path);
        item->setData(EntryRole::kState, static_cast<int>(EntryState::Waiting));
        item->setData(EntryRole::kKey, key);
        item->setToolTip(path);
        ui->FileList->addItem(item);
        m_listedPaths.insert(key.toStdWString());
    }
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
    RemoveEntries(items);
}

void MainWindow::RemoveEntries(const QList<QListWidgetItem*>& items) {
    for (QListWidgetItem* item : items) {
        m_listedPaths.erase(item->data(EntryRole::kKey).toString().toStdWString());
        delete ui->FileList->takeItem(ui->FileList->row(item));
    }
}

void MainWindow::on_DeleteAllButton_clicked() {
    m_listedPaths.clear();
    ui->FileList->clear();
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
    again->setEnabled(item && !m_exporting && StateOf(item) != EntryState::Waiting);
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
            ResetEntry(selected);
    else if (chosen == remove)
        RemoveEntries(ui->FileList->selectedItems());
    else if (chosen && chosen == stop)
        RequestStop();
}

void MainWindow::ShowReason(QListWidgetItem* item) {
    MessageBoxes::Show(this, item->data(EntryRole::kStatusText).toString(),
                       item->text() + "\n\n" + item->data(EntryRole::kReason).toString());
}

void MainWindow::ResetEntry(QListWidgetItem* item) {
    item->setIcon(m_iconProcess);
    SetEntryData(item, EntryState::Waiting, QString(), QString());
    item->setData(EntryRole::kProgress, QVariant());
}

void MainWindow::SetEntryData(QListWidgetItem* item, EntryState state, const QString& status,
                              const QString& reason) {
    item->setData(EntryRole::kState, static_cast<int>(state));
    item->setData(EntryRole::kStatusText, status);
    item->setData(EntryRole::kReason, reason);
    QString tip = item->text();
    if (!status.isEmpty())
        tip += "\n" + status;
    if (!reason.isEmpty() && reason != status)
        tip += "\n" + reason;
    const QString folder = item->data(EntryRole::kOutputFolder).toString();
    if (!folder.isEmpty() && state != EntryState::Waiting)
        tip += "\n" + tr("输出目录：%1").arg(QDir::toNativeSeparators(QDir::cleanPath(folder)));
    item->setToolTip(tip);
}

// ---- export -----------------------------------------------------------------------------------

void MainWindow::on_ExportButton_clicked() {
    if (m_exporting) {
        RequestStop();
        return;
    }
    if (!HasEntriesToConvert()) {
        MessageBoxes::Show(this, tr("没有需要导出的录像"),
                           ui->FileList->count() == 0
                               ? tr("请先添加录像。")
                               : tr("列表中的录像都已导出。要再次导出某个录像，请在它的右键菜单中"
                                    "选择“重新转换”。"));
        return;
    }
    const QString outputDir = ui->ExportDirEdit->text();
    const bool beside = ui->UseSrcDirCheckBox->isChecked();
    if (!beside) {
        OpenSettings()->setValue(kDirKey, outputDir);
        QDir().mkpath(outputDir);
        // An empty text would name the current folder and put the outputs at the root.
        if (outputDir.isEmpty() || !QDir(outputDir).exists()) {
            MessageBoxes::Show(nullptr, QString::fromUtf8("输出目录不存在."));
            return;
        }
    }
    std::deque<ExportJob> jobs = BuildJobs(outputDir, beside);
    SetExporting(true);
    if (!m_pRunner->Start(std::move(jobs))) {
        LogError("ExportButton cannot start the export thread..");
        SetExporting(false);
        ClearWaitingTexts();
        MessageBoxes::Show(this, tr("无法开始导出"), tr("系统无法创建导出线程。"));
    }
}

bool MainWindow::HasEntriesToConvert() const {
    for (int row = 0; row < ui->FileList->count(); ++row)
        if (StateOf(ui->FileList->item(row)) != EntryState::Done)
            return true;
    return false;
}

void MainWindow::ClearWaitingTexts() {
    for (int row = 0; row < ui->FileList->count(); ++row) {
        QListWidgetItem* item = ui->FileList->item(row);
        if (StateOf(item) == EntryState::Waiting)
            SetEntryData(item, EntryState::Waiting, QString(), QString());
    }
}

// One job per entry not yet done, each with a folder no other recording of the export uses,
// nor any entry converted earlier.
std::deque<ExportJob> MainWindow::BuildJobs(const QString& outputDir, bool beside) {
    COutputFolders folders;
    for (int row = 0; row < ui->FileList->count(); ++row) {
        const QListWidgetItem* item = ui->FileList->item(row);
        const QString folder = item->data(EntryRole::kOutputFolder).toString();
        if (StateOf(item) == EntryState::Done && !folder.isEmpty())
            folders.Reserve(folder.toLocal8Bit().toStdString());
    }
    std::deque<ExportJob> jobs;
    for (int row = 0; row < ui->FileList->count(); ++row) {
        QListWidgetItem* item = ui->FileList->item(row);
        if (StateOf(item) == EntryState::Done)
            continue;
        const QString path = item->text();
        const QFileInfo info(path);
        const QString dir = beside ? info.absolutePath() : outputDir;
        const std::string input = path.toLocal8Bit().toStdString();
        jobs.push_back(
            {item, folders.Claim(dir.toLocal8Bit().toStdString(), input), input, info.size()});
        item->setIcon(m_iconProcess);
        SetEntryData(item, EntryState::Waiting, tr("等待导出"), QString());
    }
    m_jobCount = static_cast<int>(jobs.size());
    return jobs;
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
        m_done = m_failed = m_stopped = 0;
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

void MainWindow::ShowRunning(QListWidgetItem* item, const QString& outputFolder) {
    item->setIcon(m_iconProcess1);
    item->setData(EntryRole::kOutputFolder, outputFolder);
    item->setData(EntryRole::kProgress, 0);
    SetEntryData(item, EntryState::Running, EntryText::Running(0, -1), QString());
}

void MainWindow::ShowProgress(QListWidgetItem* item, const SJobProgress& progress) {
    item->setData(EntryRole::kProgress, progress.percent);
    item->setData(EntryRole::kStatusText, progress.status);
    ShowOverall(progress.overall, progress.overallText, progress.finished);
}

void MainWindow::ApplyOutcome(QListWidgetItem* item, const SJobOutcome& outcome, int overall) {
    item->setIcon(IconFor(outcome.state));
    if (outcome.state == EntryState::Done)
        item->setData(EntryRole::kProgress, 100);
    SetEntryData(item, outcome.state, outcome.status, outcome.reason);
    (outcome.state == EntryState::Done     ? m_done
     : outcome.state == EntryState::Failed ? m_failed
                                           : m_stopped)++;
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
    switch (state) {
    case EntryState::Running:
        return m_iconProcess1;
    case EntryState::Done:
        return m_iconDone;
    case EntryState::Failed:
        return m_iconError;
    case EntryState::Stopped:
        return m_iconStopped;
    case EntryState::Waiting:
        break;
    }
    return m_iconProcess;
}

void MainWindow::OnEnabledUI(bool enable) {
    const bool stopped = m_stopRequested;
    const int notBegun = m_jobCount - m_done - m_failed - m_stopped;
    SetExporting(!enable);
    for (QPushButton* b : {ui->ExportButton, ui->DeleteAllButton, ui->DeleteButton, ui->AddFButton})
        b->setEnabled(enable);
    ClearWaitingTexts();
    if (enable)
        MessageBoxes::Show(this, stopped ? tr("导出已停止") : tr("导出完成"),
                           EntryText::Counts(m_done, m_failed, m_stopped, notBegun));
}

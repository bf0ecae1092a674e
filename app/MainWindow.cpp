#include "MainWindow.h"

#include "CEntryDelegate.h"
#include "CGuiMessageRelay.h"
#include "COutputFolders.h"
#include "CRecordingDropTarget.h"
#include "CTimeLeftEstimate.h"
#include "CVyrkConverter.h"
#include "CWindowChrome.h"
#include "EntryText.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "Platform.h"
#include "ui_MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaObject>
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

#include <chrono>

namespace {

const char* const kUseSourceDirKey = "isUseSrcDir";
const char* const kDirKey = "Dir";

// The per-user settings store, opened anew for every read or write.
std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Tarnvel",
                                       "vyrk-converter");
}

// Seconds on a steady clock.
double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
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

// The name of an output folder given as a prefix ending in "/".
QString FolderName(const QString& prefix) {
    return QFileInfo(QDir::cleanPath(prefix)).fileName();
}

} // namespace

// How far the export has come, kept by the worker for its progress reports.
struct MainWindow::SPace {
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

MainWindow::MainWindow(QWidget* parent)
    : QDialog(parent), ui(new Ui::MainWindow), m_exportThread(), m_bExportThreadStarted(false),
      m_bCancelExport(false) {
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

MainWindow::~MainWindow() {
    // A running export is stopped first: every file it began is finished, and the worker is
    // gone before anything it uses is destroyed.
    StopExport();
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
    BuildJobs(outputDir, beside);
    SetExporting(true);
    if (m_bExportThreadStarted) {
        // The previous export's worker has already ended (no export could start until then).
        pthread_join(m_exportThread, nullptr);
        m_bExportThreadStarted = false;
    }
    m_bCancelExport = false;
    if (pthread_create(&m_exportThread, nullptr, &MainWindow::ExportThreadProc, this) != 0) {
        LogError("ExportButton cannot start the export thread..");
        SetExporting(false);
        ClearWaitingTexts();
        MessageBoxes::Show(this, tr("无法开始导出"), tr("系统无法创建导出线程。"));
        return;
    }
    m_bExportThreadStarted = true;
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
void MainWindow::BuildJobs(const QString& outputDir, bool beside) {
    COutputFolders folders;
    for (int row = 0; row < ui->FileList->count(); ++row) {
        const QListWidgetItem* item = ui->FileList->item(row);
        const QString folder = item->data(EntryRole::kOutputFolder).toString();
        if (StateOf(item) == EntryState::Done && !folder.isEmpty())
            folders.Reserve(folder.toLocal8Bit().toStdString());
    }
    m_jobs.clear();
    for (int row = 0; row < ui->FileList->count(); ++row) {
        QListWidgetItem* item = ui->FileList->item(row);
        if (StateOf(item) == EntryState::Done)
            continue;
        const QString path = item->text();
        const QFileInfo info(path);
        const QString dir = beside ? info.absolutePath() : outputDir;
        const std::string input = path.toLocal8Bit().toStdString();
        m_jobs.push_back(
            {item, folders.Claim(dir.toLocal8Bit().toStdString(), input), input, info.size()});
        item->setIcon(m_iconProcess);
        SetEntryData(item, EntryState::Waiting, tr("等待导出"), QString());
    }
    m_jobCount = static_cast<int>(m_jobs.size());
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
    m_bCancelExport = true;
    ui->ExportButton->setText(tr("正在停止…"));
    ui->ExportButton->setEnabled(false);
}

void* MainWindow::ExportThreadProc(void* window) {
    static_cast<MainWindow*>(window)->RunJobs();
    return nullptr;
}

void MainWindow::RunJobs() {
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
        const SJobOutcome outcome = RunJob(job, pace);
        pace.finishedBytes += job.inputBytes;
        ++pace.index;
        PostOutcome(job, outcome, pace.Percent(pace.finishedBytes, 100));
    }
    emit EnabledUI(true);
}

SJobOutcome MainWindow::RunJob(const ExportJob& job, SPace& pace) {
    CVyrkConverter converter;
    SJobOutcome outcome;
    if (!converter.Init(job.inputPath, job.outputPrefix)) {
        outcome.reason =
            EntryText::RecordingFailure(converter.GetFailure(), converter.GetFailureError());
        outcome.status = EntryText::Failed(outcome.reason);
        return outcome;
    }
    Platform::CreateDirectoryOneLevel(job.outputPrefix);
    if (!converter.Start()) {
        outcome.reason = tr("无法开始读取录像");
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

// What the finished conversion made of the job, with the folder settled: marked as the
// recording's, cleared of old channel files once complete, removed if left empty.
SJobOutcome MainWindow::Outcome(const CVyrkConverter& converter, const ExportJob& job) {
    const std::vector<int> written = converter.GetWrittenChannels();
    const bool complete = converter.GetState() == CVyrkConverter::State::Converted;
    COutputFolders::RecordConversion(job.outputPrefix, job.inputPath, written, complete);
    const QString folder = QString::fromLocal8Bit(job.outputPrefix.c_str());
    if (written.empty()) // a folder with anything in it stays
        QDir().rmdir(folder);
    SJobOutcome outcome;
    outcome.files = static_cast<int>(written.size());
    switch (converter.GetState()) {
    case CVyrkConverter::State::Converted:
        outcome.state = EntryState::Done;
        outcome.status = EntryText::Done(outcome.files, FolderName(folder));
        break;
    case CVyrkConverter::State::Stopped:
        outcome.state = EntryState::Stopped;
        outcome.status = EntryText::Stopped(outcome.files);
        outcome.reason = tr("导出被停止，录像没有转换完；已写完的通道文件只含停止前的部分。");
        break;
    default:
        outcome.reason = FailureReason(converter);
        outcome.status = EntryText::Failed(outcome.reason);
        break;
    }
    return outcome;
}

// Which channel files failed and why, or else why the recording produced nothing.
QString MainWindow::FailureReason(const CVyrkConverter& converter) {
    QStringList failures;
    for (int ch = 0; ch < converter.GetChannelSlots(); ++ch) {
        if (converter.GetChannelResult(ch) != CVyrkConverter::ChannelResult::Failed)
            continue;
        const auto stats = converter.GetChannelStats(ch);
        failures << (stats ? EntryText::ChannelFailure(ch, stats->failure, stats->error)
                           : tr("通道 %1 的文件名太长").arg(ch));
    }
    return failures.isEmpty()
               ? EntryText::RecordingFailure(converter.GetFailure(), converter.GetFailureError())
               : failures.join(tr("；"));
}

// Four times a second: the running entry's percentage and time left, and the export's.
void MainWindow::ReportProgress(const ExportJob& job, const SConversionProgress& progress,
                                SPace& pace) {
    const double now = Now();
    if (now - pace.lastReport < 0.25)
        return;
    pace.lastReport = now;
    const int64_t done = std::max<int64_t>(0, progress.bytesConsumed - progress.bytesPending);
    pace.job.Update(now, static_cast<double>(done));
    pace.all.Update(now, static_cast<double>(pace.finishedBytes + done));
    const int percent = std::min(99, static_cast<int>(progress.Fraction() * 100));
    const QString status =
        EntryText::Running(percent, pace.job.SecondsLeft(static_cast<double>(progress.bytesTotal)));
    const int overall = pace.Percent(pace.finishedBytes + done, 99);
    const QString overallText = EntryText::Overall(
        pace.index, m_jobCount, pace.all.SecondsLeft(static_cast<double>(pace.totalBytes)));
    QListWidgetItem* item = job.item;
    const int index = pace.index;
    QMetaObject::invokeMethod(
        this,
        [this, item, percent, status, overall, overallText, index] {
            item->setData(EntryRole::kProgress, percent);
            item->setData(EntryRole::kStatusText, status);
            m_pProgress->setValue(std::max(m_pProgress->value(), overall));
            m_pProgress->setFormat("%p%  " + overallText);
            setWindowTitle(EntryText::Title(m_baseTitle, m_pProgress->value(), index, m_jobCount));
        },
        Qt::QueuedConnection);
}

void MainWindow::PostRunning(const ExportJob& job) {
    QListWidgetItem* item = job.item;
    const QString folder = QString::fromLocal8Bit(job.outputPrefix.c_str());
    QMetaObject::invokeMethod(
        this,
        [this, item, folder] {
            item->setIcon(m_iconProcess1);
            item->setData(EntryRole::kOutputFolder, folder);
            item->setData(EntryRole::kProgress, 0);
            SetEntryData(item, EntryState::Running, EntryText::Running(0, -1), QString());
        },
        Qt::QueuedConnection);
}

void MainWindow::PostOutcome(const ExportJob& job, const SJobOutcome& outcome, int overall) {
    QListWidgetItem* item = job.item;
    QMetaObject::invokeMethod(
        this, [this, item, outcome, overall] { ApplyOutcome(item, outcome, overall); },
        Qt::QueuedConnection);
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
    m_pProgress->setValue(std::max(m_pProgress->value(), overall));
    m_pProgress->setFormat("%p%  " + EntryText::Overall(finished, m_jobCount, -1));
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

void MainWindow::StopExport() {
    if (!m_bExportThreadStarted)
        return;
    m_bCancelExport = true;
    pthread_join(m_exportThread, nullptr);
    m_bExportThreadStarted = false;
}

#include "MainWindow.h"

#include "CGuiMessageRelay.h"
#include "CVyrkConverter.h"
#include "IconHelper.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "Platform.h"
#include "ui_MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaObject>
#include <QtCore/QSettings>
#include <QtCore/QStandardPaths>
#include <QtCore/QVector>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>

namespace {

const QChar kGlyphClose(0xF00D);
const QChar kGlyphMaximize(0xF096);
const QChar kGlyphRestore(0xF079);
const QChar kGlyphMinimize(0xF068);
const QChar kGlyphCamera(0xF030);
const int kStatusRole = Qt::UserRole;
const char* const kUseSourceDirKey = "isUseSrcDir";
const char* const kDirKey = "Dir";

// The per-user settings store, opened anew for every read or write.
std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Tarnvel",
                                       "vyrk-converter");
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QDialog(parent), m_dragging(false), m_maximized(false), ui(new Ui::MainWindow),
      m_exportThread(), m_bExportThreadStarted(false), m_bCancelExport(false) {
    ui->setupUi(this);
    InitWindowChrome();
    m_iconDone.addFile("./skin/done.png");
    m_iconError.addFile("./skin/error.png");
    m_iconProcess.addFile("./skin/Process.png");
    m_iconProcess1.addFile("./skin/Process1.png");
    LoadSettings();
    qRegisterMetaType<QVector<int>>("QVector<int>");
    connect(this, SIGNAL(EnabledUI(bool)), this, SLOT(OnEnabledUI(bool)));
    m_pMessages = std::make_unique<CGuiMessageRelay>(this);
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

// ---- window chrome ----------------------------------------------------------------------------

void MainWindow::InitWindowChrome() {
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint);
    m_normalGeometry = geometry();
    m_maximized = false;
    m_dragging = false;
    ui->lab_Title->installEventFilter(this);
    IconHelper::Instance()->SetIcon(ui->btnMenu_Close, kGlyphClose, 10);
    IconHelper::Instance()->SetIcon(ui->btnMenu_Max, kGlyphMaximize, 10);
    IconHelper::Instance()->SetIcon(ui->btnMenu_Min, kGlyphMinimize, 10);
    IconHelper::Instance()->SetIcon(ui->lab_Ico, kGlyphCamera, 12);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        ToggleMaximized();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_dragOffset = event->globalPos() - pos();
    event->accept();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging || event->buttons() == Qt::NoButton || m_maximized)
        return;
    move(event->globalPos() - m_dragOffset);
    event->accept();
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    m_dragging = false;
}

void MainWindow::on_btnMenu_Max_clicked() {
    ToggleMaximized();
}

void MainWindow::ToggleMaximized() {
    if (m_maximized) {
        setGeometry(m_normalGeometry);
        IconHelper::Instance()->SetIcon(ui->btnMenu_Max, kGlyphMaximize, 10);
        ui->btnMenu_Max->setToolTip(tr("最大化"));
    } else {
        m_normalGeometry = geometry();
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        IconHelper::Instance()->SetIcon(ui->btnMenu_Max, kGlyphRestore, 10);
        ui->btnMenu_Max->setToolTip(tr("还原"));
    }
    m_maximized = !m_maximized;
}

void MainWindow::on_btnMenu_Min_clicked() {
    showMinimized();
}

void MainWindow::on_btnMenu_Close_clicked() {
    QCoreApplication::exit(0);
}

// ---- list and output folder -------------------------------------------------------------------

void MainWindow::on_AddFButton_clicked() {
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setNameFilter("Vyrk(*.Vyrk)");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted)
        return;
    for (const QString& path : dialog.selectedFiles()) {
        const std::wstring key = path.toStdWString();
        if (m_listedPaths.count(key))
            continue;
        auto* item = new QListWidgetItem();
        item->setIcon(m_iconProcess);
        item->setData(Qt::DisplayRole, path);
        item->setData(kStatusRole, 0);
        ui->FileList->addItem(item);
        m_listedPaths.insert(key);
    }
}

void MainWindow::on_SelectExportDir_clicked() {
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        ui->ExportDirEdit->setText(dialog.selectedFiles().first());
    OpenSettings()->setValue(kDirKey, ui->ExportDirEdit->text());
}

void MainWindow::on_DeleteButton_clicked() {
    if (QListWidgetItem* current = ui->FileList->currentItem())
        m_listedPaths.erase(current->text().toStdWString());
    delete ui->FileList->takeItem(ui->FileList->currentIndex().row());
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

// ---- export -----------------------------------------------------------------------------------

void MainWindow::on_ExportButton_clicked() {
    const QString outputDir = ui->ExportDirEdit->text();
    const bool beside = ui->UseSrcDirCheckBox->isChecked();
    if (!beside) {
        QDir().mkpath(outputDir);
        // An empty text would name the current folder and put the outputs at the root.
        if (outputDir.isEmpty() || !QDir(outputDir).exists()) {
            MessageBoxes::Show(nullptr, QString::fromUtf8("输出目录不存在."));
            return;
        }
    }
    m_jobs.clear();
    for (int row = 0; row < ui->FileList->count(); ++row) {
        QListWidgetItem* item = ui->FileList->item(row);
        if (item->data(kStatusRole).toInt() == 1)
            continue;
        const QString path = item->text();
        const QFileInfo info(path);
        const QString dir = beside ? info.absolutePath() : outputDir;
        const QString prefix = dir + "/" + info.baseName() + "/";
        m_jobs.push_back(
            {item, prefix.toLocal8Bit().toStdString(), path.toLocal8Bit().toStdString()});
    }
    for (QPushButton* b : {ui->ExportButton, ui->DeleteAllButton, ui->DeleteButton, ui->AddFButton})
        b->setEnabled(false);
    if (m_bExportThreadStarted) {
        // The previous export's worker has already ended (the buttons were disabled until then).
        pthread_join(m_exportThread, nullptr);
        m_bExportThreadStarted = false;
    }
    m_bCancelExport = false;
    if (pthread_create(&m_exportThread, nullptr, &MainWindow::ExportThreadProc, this) != 0) {
        LogError("ExportButton cannot start the export thread..");
        for (QPushButton* b :
             {ui->ExportButton, ui->DeleteAllButton, ui->DeleteButton, ui->AddFButton})
            b->setEnabled(true);
        return;
    }
    m_bExportThreadStarted = true;
}

void* MainWindow::ExportThreadProc(void* window) {
    static_cast<MainWindow*>(window)->RunJobs();
    return nullptr;
}

void MainWindow::RunJobs() {
    for (const ExportJob& queued : m_jobs) {
        if (m_bCancelExport)
            break;
        const ExportJob job = queued;
        SetEntryState(job.item, EntryState::Running);
        const bool ok = RunJob(job);
        SetEntryState(job.item, ok ? EntryState::Done : EntryState::Failed);
    }
    emit EnabledUI(true);
}

bool MainWindow::RunJob(const ExportJob& job) {
    CVyrkConverter converter;
    Platform::CreateDirectoryOneLevel(job.outputPrefix);
    const bool opened = converter.Init(job.inputPath, job.outputPrefix);
    if (opened && converter.Start()) {
        while (!converter.IsFinished()) {
            if (m_bCancelExport)
                converter.Stop(); // still finishes every file it began
            Platform::SleepMs(5);
        }
    }
    Platform::SleepMs(10);
    if (!opened)
        return false;
    for (int ch = 0; ch < converter.GetChannelSlots(); ++ch)
        if (converter.GetChannelResult(ch) == CVyrkConverter::ChannelResult::Failed)
            return false;
    return true;
}

void MainWindow::SetEntryState(QListWidgetItem* item, EntryState state) {
    QMetaObject::invokeMethod(
        this, [this, item, state] { item->setIcon(IconFor(state)); }, Qt::QueuedConnection);
}

const QIcon& MainWindow::IconFor(EntryState state) const {
    switch (state) {
    case EntryState::Running:
        return m_iconProcess1;
    case EntryState::Done:
        return m_iconDone;
    case EntryState::Failed:
        return m_iconError;
    case EntryState::Waiting:
        break;
    }
    return m_iconProcess;
}

void MainWindow::OnEnabledUI(bool enable) {
    for (QPushButton* b : {ui->ExportButton, ui->DeleteAllButton, ui->DeleteButton, ui->AddFButton})
        b->setEnabled(enable);
    if (enable)
        MessageBoxes::Show(this, tr("导出完成"));
}

void MainWindow::StopExport() {
    if (!m_bExportThreadStarted)
        return;
    m_bCancelExport = true;
    if (m_pMessages)
        m_pMessages->Release();
    pthread_join(m_exportThread, nullptr);
    m_bExportThreadStarted = false;
}

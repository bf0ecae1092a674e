#include "GuiDriver.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMessageBox>

GuiDriver::GuiDriver() {
    connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start(15);
}

void GuiDriver::AcceptNextFileDialog(const QStringList& files) {
    m_answer = Answer::Files;
    m_files = files;
}

void GuiDriver::AcceptNextFolderDialog(const QString& folder) {
    m_answer = Answer::Folder;
    m_folder = folder;
}

void GuiDriver::CancelNextFileDialog() {
    m_answer = Answer::Cancel;
}

void GuiDriver::ChooseNextMenuAction(const QString& text) {
    m_menuChoice = text;
}

void GuiDriver::Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            m_messageBoxes << box->text();
            m_messageDetails << box->informativeText();
            QAbstractButton* button = box->button(QMessageBox::Ok);
            if (!button)
                button = box->button(m_answerNo ? QMessageBox::No : QMessageBox::Yes);
            button->click();
            return;
        }
        if (auto* menu = qobject_cast<QMenu*>(w)) {
            m_menuActions.clear();
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                if (action->isEnabled() && !action->isSeparator())
                    m_menuActions << action->text();
                if (action->isEnabled() && action->text() == m_menuChoice)
                    chosen = action;
            }
            m_menuChoice.clear();
            if (chosen) {
                menu->setActiveAction(chosen);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog || m_answer == Answer::None)
            continue;
        ++m_fileDialogsSeen;
        const Answer answer = m_answer;
        m_answer = Answer::None;
        if (answer == Answer::Cancel) {
            dialog->reject();
        } else if (answer == Answer::Folder) {
            // In folder mode, accepting with nothing typed selects the folder being shown; this
            // does not wait for the dialog's file model to load.
            dialog->setDirectory(m_folder);
            static_cast<QDialog*>(dialog)->accept();
        } else {
            dialog->setDirectory(QFileInfo(m_files.first()).absolutePath());
            QStringList quoted;
            for (const QString& f : m_files)
                quoted << "\"" + QFileInfo(f).fileName() + "\"";
            // Typed into the name field, as an operator would; selectFile() leaves the field alone
            // once it has focus.
            if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
                name->setText(quoted.join(' '));
            else
                dialog->selectFile(quoted.join(' '));
            static_cast<QDialog*>(dialog)->accept();
        }
        return;
    }
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

namespace {

// The window's settings and the logs of the programs a test starts go to a folder of this
// process, never into the user's home: tests clear the settings they start from, and several
// test processes run at once.
void KeepSettingsOutOfTheHome() {
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home.filePath("state")));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(KeepSettingsOutOfTheHome)

void ClearSettings() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Tarnvel", "vyrk-converter");
    settings.clear();
    settings.sync();
}

bool RunOurProgram(const QString& name, const QStringList& arguments, QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString(VYRK_BIN_DIR) + "/" + name, arguments);
    if (!process.waitForFinished(600000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString DecodeErrors(const QString& path) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("/usr/bin/ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
    process.waitForFinished(600000);
    const QString out = QString::fromLocal8Bit(process.readAll());
    return process.exitCode() == 0 ? out
                                   : "exit " + QString::number(process.exitCode()) + ": " + out;
}

// window-screenshots OUTDIR: drives the real window and saves pictures of it: empty, the add
// dialog, recordings listed, an export running (with a failed entry and its reason), the
// context menu of that entry, and the window when the export is over. scripts/screenshot.sh
// runs it under Xvfb.

#include "ApplicationLook.h"
#include "EntryState.h"
#include "GuiDriver.h"
#include "MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>

#include <cstdio>

namespace {

bool Report(bool ok, const QString& path) {
    printf("%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
    return ok;
}

bool Save(QWidget& w, const QString& path) {
    QCoreApplication::processEvents();
    return Report(w.grab().save(path), path);
}

// The whole screen, for pictures with menus and dialogs, which are windows of their own.
bool SaveScreen(const QString& path) {
    QCoreApplication::processEvents();
    return Report(QGuiApplication::primaryScreen()->grabWindow(0).save(path), path);
}

template <typename T> T* Visible() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(w); found && found->isVisible())
            return found;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: window-screenshots OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    ApplicationLook::Apply(app);

    QTemporaryDir dir;
    QStringList recordings;
    QFile corrupt(dir.filePath(QString::fromUtf8("损坏的录像.Vyrk")));
    corrupt.open(QIODevice::WriteOnly);
    corrupt.write(QByteArray(3 << 20, '\x5a'));
    corrupt.close();
    recordings << corrupt.fileName();
    for (const QString& name : {QString::fromUtf8("会场A-主机位.Vyrk"), QString("lobby-north.Vyrk"),
                                QString::fromUtf8("演播厅 2026-12-09.Vyrk")}) {
        const QString path = dir.filePath(name);
        RunOurProgram("vyrk-sample", {"-o", path, "--seconds", "40", "--unique", "25", "--width",
                                      "640", "--height", "360", "--noise", "20", "--quiet"});
        recordings << path;
    }

    GuiDriver driver;
    MainWindow window;
    window.show();
    window.move(40, 40);
    QTest::qWait(300);
    bool ok = Save(window, out + "/empty.png");

    // The add dialog, as the operator sees it before choosing.
    QTimer::singleShot(1500, [&] {
        if (QFileDialog* dialog = Visible<QFileDialog>()) {
            dialog->setDirectory(dir.path());
            QTest::qWait(800);
            ok = SaveScreen(out + "/add-dialog.png") && ok;
        }
        driver.AcceptNextFileDialog(recordings);
    });
    QTest::mouseClick(window.findChild<QPushButton*>("AddFButton"), Qt::LeftButton);
    QListWidget* list = window.findChild<QListWidget*>("FileList");
    list->setCurrentRow(1);
    QTest::qWait(200);
    ok = Save(window, out + "/listed.png") && ok;

    QTest::mouseClick(window.findChild<QPushButton*>("ExportButton"), Qt::LeftButton);
    WaitUntil([&] { return list->item(2)->data(EntryRole::kProgress).toInt() >= 30; }, 600000);
    list->clearSelection();
    ok = Save(window, out + "/exporting.png") && ok;

    // The failed entry's context menu, then its reason.
    const QPoint at = list->visualItemRect(list->item(0)).center();
    QTimer::singleShot(600, [&] {
        ok = SaveScreen(out + "/menu.png") && ok;
        if (QMenu* menu = Visible<QMenu>())
            menu->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &menuEvent);

    WaitUntil([&] { return !window.IsExporting(); }, 600000);
    QTest::qWait(300);
    list->setCurrentRow(0);
    ok = Save(window, out + "/done.png") && ok;
    return ok ? 0 : 1;
}

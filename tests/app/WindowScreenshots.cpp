// window-screenshots OUTDIR: drives the real window and saves pictures of it: empty, with
// recordings listed, and during an export. scripts/screenshot.sh runs it under Xvfb.

#include "ApplicationLook.h"
#include "GuiDriver.h"
#include "MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>

#include <cstdio>

namespace {

bool Save(QWidget& w, const QString& path) {
    QCoreApplication::processEvents();
    const bool ok = w.grab().save(path);
    printf("%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
    return ok;
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

    driver.AcceptNextFileDialog(recordings);
    QTest::mouseClick(window.findChild<QPushButton*>("AddFButton"), Qt::LeftButton);
    window.findChild<QListWidget*>("FileList")->setCurrentRow(1);
    QTest::qWait(200);
    ok = Save(window, out + "/listed.png") && ok;

    QTest::mouseClick(window.findChild<QPushButton*>("ExportButton"), Qt::LeftButton);
    QListWidget* list = window.findChild<QListWidget*>("FileList");
    WaitUntil([&] {
        return list->item(1)->icon().cacheKey() ==
               window.IconFor(MainWindow::EntryState::Running).cacheKey();
    });
    QTest::qWait(300);
    ok = Save(window, out + "/exporting.png") && ok;
    WaitUntil([&] { return driver.m_messageBoxes.size() == 1; }, 600000);
    QTest::qWait(200);
    ok = Save(window, out + "/done.png") && ok;
    return ok ? 0 : 1;
}

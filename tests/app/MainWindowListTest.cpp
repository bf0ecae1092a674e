// The recording list, the output-folder controls and the two stored settings.

#include "GuiDriver.h"
#include "MainWindow.h"

#include <QtCore/QSettings>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <QtGui/QContextMenuEvent>
#include <QtGui/QDropEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>
#include <memory>

namespace {

std::unique_ptr<QSettings> Store() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Tarnvel",
                                       "vyrk-converter");
}

QStringList Listed(MainWindow& w) {
    QStringList out;
    QListWidget* list = Child<QListWidget>(w, "FileList");
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

QString Touch(const QTemporaryDir& dir, const QString& name) {
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write("x");
    return QFileInfo(f).absoluteFilePath();
}

} // namespace

class MainWindowListTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearSettings(); }
    void firstStartStoresTheDefaults();
    void storedFalseUnticksAndEnablesTheFolderControls();
    void settingsFollowTheControls();
    void addsThroughTheFileDialogWithoutDuplicates();
    void removeAndClearFreeThePathsAgain();
    void dropsKeysAndTheMenuChangeTheList();

private:
    GuiDriver m_driver;
};

void MainWindowListTest::firstStartStoresTheDefaults() {
    MainWindow w;
    QVERIFY(Child<QCheckBox>(w, "UseSrcDirCheckBox")->isChecked());
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QCOMPARE(Child<QLineEdit>(w, "ExportDirEdit")->text(), desktop);
    QVERIFY(!Child<QLineEdit>(w, "ExportDirEdit")->isEnabled());
    QVERIFY(!Child<QPushButton>(w, "SelectExportDir")->isEnabled());
    auto s = Store();
    QCOMPARE(s->value("isUseSrcDir").toBool(), true);
    QVERIFY(s->contains("isUseSrcDir"));
    QCOMPARE(s->value("Dir").toString(), desktop);
}

void MainWindowListTest::storedFalseUnticksAndEnablesTheFolderControls() {
    {
        auto s = Store();
        s->setValue("isUseSrcDir", false);
        s->setValue("Dir", "/srv/exports");
    }
    MainWindow w;
    QVERIFY(!Child<QCheckBox>(w, "UseSrcDirCheckBox")->isChecked());
    QVERIFY(Child<QLineEdit>(w, "ExportDirEdit")->isEnabled());
    QVERIFY(Child<QPushButton>(w, "SelectExportDir")->isEnabled());
    QCOMPARE(Child<QLineEdit>(w, "ExportDirEdit")->text(), QString("/srv/exports"));
    QCOMPARE(Store()->value("isUseSrcDir").toBool(), false);
}

void MainWindowListTest::settingsFollowTheControls() {
    QTemporaryDir dir;
    {
        MainWindow w;
        w.show();
        QCheckBox* box = Child<QCheckBox>(w, "UseSrcDirCheckBox");
        box->setChecked(false);
        QCOMPARE(Store()->value("isUseSrcDir").toBool(), false);
        QVERIFY(Child<QLineEdit>(w, "ExportDirEdit")->isEnabled());
        // Typed by hand: stored only when the folder dialog closes, even when cancelled.
        Child<QLineEdit>(w, "ExportDirEdit")->setText("/typed/by/hand");
        QCOMPARE(Store()->value("Dir").toString(),
                 QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
        m_driver.CancelNextFileDialog();
        QTest::mouseClick(Child<QPushButton>(w, "SelectExportDir"), Qt::LeftButton);
        QCOMPARE(Store()->value("Dir").toString(), QString("/typed/by/hand"));
        m_driver.AcceptNextFolderDialog(dir.path());
        QTest::mouseClick(Child<QPushButton>(w, "SelectExportDir"), Qt::LeftButton);
        QCOMPARE(Child<QLineEdit>(w, "ExportDirEdit")->text(), dir.path());
        QCOMPARE(Store()->value("Dir").toString(), dir.path());
        // Typed and finished with Enter: stored at once, and no button is pressed.
        QLineEdit* edit = Child<QLineEdit>(w, "ExportDirEdit");
        edit->clear();
        QTest::keyClicks(edit, "/typed/again");
        const int dialogs = m_driver.m_fileDialogsSeen;
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(Store()->value("Dir").toString(), QString("/typed/again"));
        QTest::qWait(100);
        QCOMPARE(m_driver.m_fileDialogsSeen, dialogs);
        edit->setText(dir.path());
        emit edit->editingFinished();
        box->setChecked(true);
        QCOMPARE(Store()->value("isUseSrcDir").toBool(), true);
        QCOMPARE(Child<QLineEdit>(w, "ExportDirEdit")->text(), dir.path());
    }
    MainWindow again;
    QVERIFY(Child<QCheckBox>(again, "UseSrcDirCheckBox")->isChecked());
    QCOMPARE(Child<QLineEdit>(again, "ExportDirEdit")->text(), dir.path());
    QCOMPARE(m_driver.m_fileDialogsSeen >= 2, true);
}

void MainWindowListTest::addsThroughTheFileDialogWithoutDuplicates() {
    QTemporaryDir dir;
    const QString a = Touch(dir, "a.Vyrk");
    const QString b = Touch(dir, "b.Vyrk");
    const QString upper = Touch(dir, "A.Vyrk");
    MainWindow w;
    w.show();
    QPushButton* add = Child<QPushButton>(w, "AddFButton");
    m_driver.AcceptNextFileDialog({a, b});
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(Listed(w), QStringList({a, b}));
    QListWidget* list = Child<QListWidget>(w, "FileList");
    QCOMPARE(list->item(0)->icon().cacheKey(),
             w.IconFor(MainWindow::EntryState::Waiting).cacheKey());
    QCOMPARE(list->item(0)->data(Qt::UserRole).toInt(), 0);

    m_driver.AcceptNextFileDialog({b, upper});
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(Listed(w), QStringList({a, b, upper})); // b skipped; A.Vyrk is another path

    m_driver.CancelNextFileDialog();
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(Listed(w).size(), 3);
}

void MainWindowListTest::removeAndClearFreeThePathsAgain() {
    QTemporaryDir dir;
    const QString a = Touch(dir, "a.Vyrk");
    const QString b = Touch(dir, "b.Vyrk");
    MainWindow w;
    w.show();
    QListWidget* list = Child<QListWidget>(w, "FileList");
    QPushButton* add = Child<QPushButton>(w, "AddFButton");
    m_driver.AcceptNextFileDialog({a, b});
    QTest::mouseClick(add, Qt::LeftButton);
    list->setCurrentRow(-1);
    QTest::mouseClick(Child<QPushButton>(w, "DeleteButton"), Qt::LeftButton);
    QCOMPARE(Listed(w), QStringList({a, b})); // no current entry: nothing removed
    list->setCurrentRow(0);
    QTest::mouseClick(Child<QPushButton>(w, "DeleteButton"), Qt::LeftButton);
    QCOMPARE(Listed(w), QStringList({b}));
    m_driver.AcceptNextFileDialog({a});
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(Listed(w), QStringList({b, a}));
    QTest::mouseClick(Child<QPushButton>(w, "DeleteAllButton"), Qt::LeftButton);
    QCOMPARE(list->count(), 0);
    m_driver.AcceptNextFileDialog({a, b});
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(Listed(w), QStringList({a, b}));
}

void MainWindowListTest::dropsKeysAndTheMenuChangeTheList() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("day/sub/deeper"));
    const QString x = Touch(dir, "day/x.Vyrk");
    const QString y = Touch(dir, "day/sub/deeper/y.VYRK");
    Touch(dir, "day/sub/notes.txt");
    const QString z = Touch(dir, "z.Vyrk");
    const QString note = Touch(dir, "readme.txt");
    QVERIFY(QFile::link(z, dir.filePath("link.Vyrk")));
    MainWindow w;
    w.show();
    QListWidget* list = Child<QListWidget>(w, "FileList");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dir.filePath("day")), QUrl::fromLocalFile(z),
                  QUrl::fromLocalFile(dir.filePath("link.Vyrk")), QUrl::fromLocalFile(note),
                  QUrl("https://example.com/a.Vyrk")});
    // As a drag from a file manager arrives: enter, then drop; true when both were taken.
    auto dropOnList = [&] {
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &drop);
        return enter.isAccepted() && drop.isAccepted();
    };
    QVERIFY(dropOnList());
    // Folders searched through, sorted; the link is the same file as z.Vyrk; no other files.
    QCOMPARE(Listed(w), QStringList({y, x, z}));
    QVERIFY(dropOnList());
    QCOMPARE(Listed(w).size(), 3);
    m_driver.AcceptNextFileDialog({dir.filePath("link.Vyrk")});
    QTest::mouseClick(Child<QPushButton>(w, "AddFButton"), Qt::LeftButton);
    QCOMPARE(Listed(w).size(), 3);

    // Several entries at once: Delete on the list, then the menu's remove.
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    QApplication::setActiveWindow(&w);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Listed(w), QStringList({x}));
    m_driver.ChooseNextMenuAction(QString::fromUtf8("移除"));
    const QPoint row = list->visualItemRect(list->item(0)).center();
    QContextMenuEvent menu(QContextMenuEvent::Mouse, row, list->viewport()->mapToGlobal(row));
    QApplication::sendEvent(list->viewport(), &menu);
    QVERIFY(WaitUntil([&] { return list->count() == 0; }, 5000));
    QCOMPARE(m_driver.m_menuActions, QStringList({QString::fromUtf8("移除")}));
    QVERIFY(dropOnList()); // freed paths can come back
    QCOMPARE(Listed(w), QStringList({y, x, z}));
}

QTEST_MAIN(MainWindowListTest)
#include "MainWindowListTest.moc"

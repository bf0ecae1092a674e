// The export runner: jobs, icons, buttons, folders, failures and closing during an export.

#include "GuiDriver.h"
#include "MainWindow.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>

#include <map>
#include <memory>

namespace {

QString MakeRecording(const QTemporaryDir& dir, const QString& name,
                      const QStringList& extra = {}) {
    const QString path = dir.filePath(name);
    QString output;
    if (!RunOurProgram("vyrk-sample",
                       QStringList({"-o", path, "--width", "64", "--height", "64", "--quiet"}) +
                           extra,
                       &output))
        qWarning("vyrk-sample failed: %s", qPrintable(output));
    return path;
}

// Records every icon an entry shows, in order, as states of the window.
class IconLog {
public:
    explicit IconLog(MainWindow& w) : m_window(w), m_list(*Child<QListWidget>(w, "FileList")) {
        QObject::connect(m_list.model(), &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& from, const QModelIndex& to) {
                             for (int row = from.row(); row <= to.row(); ++row)
                                 Record(row);
                         });
    }
    QList<MainWindow::EntryState> Of(int row) const { return m_states.value(row); }
    MainWindow::EntryState Last(int row) const { return m_states.value(row).last(); }

private:
    void Record(int row) {
        const qint64 key = m_list.item(row)->icon().cacheKey();
        for (auto s : {MainWindow::EntryState::Waiting, MainWindow::EntryState::Running,
                       MainWindow::EntryState::Done, MainWindow::EntryState::Failed})
            if (m_window.IconFor(s).cacheKey() == key &&
                (m_states[row].isEmpty() || m_states[row].last() != s))
                m_states[row] << s;
    }
    MainWindow& m_window;
    QListWidget& m_list;
    QMap<int, QList<MainWindow::EntryState>> m_states;
};

bool ButtonsEnabled(MainWindow& w, bool enabled) {
    for (const char* name : {"ExportButton", "DeleteAllButton", "DeleteButton", "AddFButton"})
        if (Child<QPushButton>(w, name)->isEnabled() != enabled)
            return false;
    return true;
}

int Count(const QStringList& list, const QString& text) {
    return list.count(text);
}

} // namespace

class ExportRunnerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ClearSettings();
        m_driver.m_messageBoxes.clear();
    }
    void exportsEveryRecordingIntoANewNestedFolder();
    void aFolderThatCannotBeMadeStartsNothing();
    void anUnreadableRecordingShowsTheErrorAndTheNextStillConverts();
    void anOutputThatCannotBeWrittenShowsTheErrorIcon();
    void besideTheSourceAndASecondExport();
    void closingDuringAnExportLeavesFinishedFiles();

private:
    // Adds the recordings through the window's own file dialog.
    void AddRecordings(MainWindow& w, const QStringList& files) {
        m_driver.AcceptNextFileDialog(files);
        QTest::mouseClick(Child<QPushButton>(w, "AddFButton"), Qt::LeftButton);
    }
    bool WaitForCompletionBox(int count = 1) {
        return WaitUntil(
            [&] { return m_driver.m_messageBoxes.count(QString::fromUtf8("导出完成")) >= count; });
    }

    GuiDriver m_driver;
};

void ExportRunnerTest::exportsEveryRecordingIntoANewNestedFolder() {
    QTemporaryDir dir;
    const QString first = MakeRecording(dir, "lobby.Vyrk", {"--channels", "2", "--seconds", "2"});
    const QString second = MakeRecording(dir, "a.b.Vyrk", {"--channels", "3", "--seconds", "1"});
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {first, second});
    QCOMPARE(Child<QListWidget>(w, "FileList")->count(), 2);

    Child<QCheckBox>(w, "UseSrcDirCheckBox")->setChecked(false);
    const QString out = dir.filePath("out/new/deeper");
    Child<QLineEdit>(w, "ExportDirEdit")->setText(out);
    QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
    QVERIFY(ButtonsEnabled(w, false));
    QVERIFY(QDir(out).exists());
    QVERIFY(WaitForCompletionBox());
    QVERIFY(ButtonsEnabled(w, true));
    QTest::qWait(100);
    QCOMPARE(Count(m_driver.m_messageBoxes, QString::fromUtf8("导出完成")), 1);
    using S = MainWindow::EntryState;
    QCOMPARE(icons.Of(0), QList<S>({S::Running, S::Done}));
    QCOMPARE(icons.Of(1), QList<S>({S::Running, S::Done}));
    for (int ch = 0; ch < 2; ++ch)
        QCOMPARE(DecodeErrors(out + "/lobby/" + QString::number(ch) + ".mp4"), QString());
    for (int ch = 0; ch < 3; ++ch)
        QVERIFY(QFile::exists(out + "/a/" + QString::number(ch) + ".mp4"));
    QVERIFY(!QFile::exists(out + "/lobby/2.mp4"));
}

void ExportRunnerTest::aFolderThatCannotBeMadeStartsNothing() {
    QTemporaryDir dir;
    const QString rec = MakeRecording(dir, "r.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {rec});
    Child<QCheckBox>(w, "UseSrcDirCheckBox")->setChecked(false);
    for (const QString& bad : {QString("/proc/no/such/folder"), QString()}) {
        m_driver.m_messageBoxes.clear();
        Child<QLineEdit>(w, "ExportDirEdit")->setText(bad);
        QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
        QCOMPARE(m_driver.m_messageBoxes, QStringList({QString::fromUtf8("输出目录不存在.")}));
        QVERIFY(ButtonsEnabled(w, true));
        QTest::qWait(200);
        QVERIFY(icons.Of(0).isEmpty()); // no job ran
        QVERIFY(!m_driver.m_messageBoxes.contains(QString::fromUtf8("导出完成")));
    }
    QVERIFY(!QFile::exists(dir.filePath("r/0.mp4")));
}

void ExportRunnerTest::anUnreadableRecordingShowsTheErrorAndTheNextStillConverts() {
    QTemporaryDir dir;
    const QString gone = MakeRecording(dir, "gone.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    const QString good = MakeRecording(dir, "good.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {gone, good});
    QVERIFY(QFile::remove(gone));
    QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
    QVERIFY(WaitForCompletionBox());
    QCOMPARE(m_driver.m_messageBoxes,
             QStringList({"m_pLoader->Init Error.", QString::fromUtf8("导出完成")}));
    using S = MainWindow::EntryState;
    QCOMPARE(icons.Of(0), QList<S>({S::Running, S::Failed}));
    QCOMPARE(icons.Of(1), QList<S>({S::Running, S::Done}));
    QCOMPARE(DecodeErrors(dir.filePath("good/0.mp4")), QString());
}

void ExportRunnerTest::anOutputThatCannotBeWrittenShowsTheErrorIcon() {
    QTemporaryDir dir;
    const QString blocked =
        MakeRecording(dir, "blocked.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    const QString fine = MakeRecording(dir, "fine.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    QDir().mkpath(dir.filePath("out"));
    QFile file(dir.filePath("out/blocked")); // where the job's folder would go
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {blocked, fine});
    Child<QCheckBox>(w, "UseSrcDirCheckBox")->setChecked(false);
    Child<QLineEdit>(w, "ExportDirEdit")->setText(dir.filePath("out"));
    QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
    QVERIFY(WaitForCompletionBox());
    using S = MainWindow::EntryState;
    QCOMPARE(icons.Of(0), QList<S>({S::Running, S::Failed}));
    QCOMPARE(icons.Of(1), QList<S>({S::Running, S::Done}));
    QCOMPARE(DecodeErrors(dir.filePath("out/fine/0.mp4")), QString());
}

void ExportRunnerTest::besideTheSourceAndASecondExport() {
    QTemporaryDir dir;
    const QString rec = MakeRecording(dir, "side.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {rec});
    Child<QLineEdit>(w, "ExportDirEdit")->setText(dir.filePath("never/made"));
    for (int round = 1; round <= 2; ++round) {
        QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
        QVERIFY(WaitUntil([&] {
            return Count(m_driver.m_messageBoxes, QString::fromUtf8("导出完成")) == round;
        }));
    }
    QVERIFY(!QDir(dir.filePath("never")).exists());
    QCOMPARE(DecodeErrors(dir.filePath("side/0.mp4")), QString());
    using S = MainWindow::EntryState;
    QCOMPARE(icons.Of(0), QList<S>({S::Running, S::Done, S::Running, S::Done}));
}

void ExportRunnerTest::closingDuringAnExportLeavesFinishedFiles() {
    QTemporaryDir dir;
    const QString rec = MakeRecording(dir, "long.Vyrk",
                                      {"--channels", "4", "--seconds", "240", "--unique", "25",
                                       "--width", "320", "--height", "240", "--noise", "20"});
    auto w = std::make_unique<MainWindow>();
    w->show();
    IconLog icons(*w);
    AddRecordings(*w, {rec});
    QTest::mouseClick(Child<QPushButton>(*w, "ExportButton"), Qt::LeftButton);
    // Let the files open and fill for a moment, then close the window as main does.
    QVERIFY(WaitUntil([&] { return QFileInfo(dir.filePath("long/0.mp4")).size() > 100000; }));
    QTest::mouseClick(Child<QPushButton>(*w, "btnMenu_Close"), Qt::LeftButton);
    QElapsedTimer timer;
    timer.start();
    w.reset();
    qInfo("closed in %lld ms", static_cast<long long>(timer.elapsed()));
    QVERIFY(!m_driver.m_messageBoxes.contains(QString::fromUtf8("导出完成")));
    for (int ch = 0; ch < 4; ++ch) {
        const QString path = dir.filePath("long/" + QString::number(ch) + ".mp4");
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QCOMPARE(DecodeErrors(path), QString());
    }
}

QTEST_MAIN(ExportRunnerTest)
#include "ExportRunnerTest.moc"

// The export runner: jobs, icons, buttons, folders, failures and closing during an export.

#include "COutputFolders.h"
#include "GuiDriver.h"
#include "MainWindow.h"

#include <QtCore/QDateTime>
#include <QtCore/QTemporaryDir>
#include <QtGui/QContextMenuEvent>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>

#include <algorithm>
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
    QList<EntryState> Of(int row) const { return m_states.value(row); }
    EntryState Last(int row) const { return m_states.value(row).last(); }

private:
    void Record(int row) {
        const qint64 key = m_list.item(row)->icon().cacheKey();
        for (auto s :
             {EntryState::Waiting, EntryState::Running, EntryState::Done, EntryState::Failed})
            if (m_window.IconFor(s).cacheKey() == key &&
                (m_states[row].isEmpty() || m_states[row].last() != s))
                m_states[row] << s;
    }
    MainWindow& m_window;
    QListWidget& m_list;
    QMap<int, QList<EntryState>> m_states;
};

bool ButtonsEnabled(MainWindow& w, bool enabled) {
    for (const char* name : {"ExportButton", "DeleteAllButton", "DeleteButton", "AddFButton"})
        if (Child<QPushButton>(w, name)->isEnabled() != enabled)
            return false;
    return true;
}

// During an export the list cannot change and the export button stops it.
bool Exporting(MainWindow& w) {
    for (const char* name : {"DeleteAllButton", "DeleteButton", "AddFButton"})
        if (Child<QPushButton>(w, name)->isEnabled())
            return false;
    return w.IsExporting() && Child<QPushButton>(w, "ExportButton")->isEnabled() &&
           Child<QPushButton>(w, "ExportButton")->text() == QString::fromUtf8("停止导出");
}

int Count(const QStringList& list, const QString& text) {
    return list.count(text);
}

QListWidgetItem* Entry(MainWindow& w, int row) {
    return Child<QListWidget>(w, "FileList")->item(row);
}

EntryState StateOf(MainWindow& w, int row) {
    return static_cast<EntryState>(Entry(w, row)->data(EntryRole::kState).toInt());
}

QString Status(MainWindow& w, int row) {
    return Entry(w, row)->data(EntryRole::kStatusText).toString();
}

// The files in a folder, temporary ones included, but for the note naming its recording.
QStringList FilesIn(const QString& folder) {
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    files.removeAll(COutputFolders::kOwnerFile);
    return files;
}

// Opens the context menu of an entry as a right click does; the driver picks from it.
void OpenMenu(MainWindow& w, int row) {
    QListWidget* list = Child<QListWidget>(w, "FileList");
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
}

const QString kDone = QString::fromUtf8("导出完成");

} // namespace

// The suite keeps the name the README cites its cases by.
class ExportRunnerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A recording that takes a while to convert, for stopping and closing mid-way.
        m_long = MakeRecording(m_shared, "long.Vyrk",
                               {"--channels", "4", "--seconds", "240", "--unique", "25", "--width",
                                "320", "--height", "240", "--noise", "20"});
    }
    void init() {
        ClearSettings();
        m_driver.m_messageBoxes.clear();
        m_driver.m_messageDetails.clear();
        m_driver.m_answerNo = false;
    }
    void exportsEveryRecordingIntoANewNestedFolder();
    void aFolderThatCannotBeMadeStartsNothing();
    void failuresAreExplainedAndTheBatchNeverWaits();
    void anOutputThatCannotBeWrittenNamesTheChannel();
    void onlyEntriesNotDoneAreConvertedAgain();
    void recordingsNeverShareAFolder();
    void stopMidwayLeavesFinishedFilesAndAStoppedEntry();
    void closingDuringAnExportAsksAndLeavesFinishedFiles();

private:
    // Adds the recordings through the window's own file dialog.
    void AddRecordings(MainWindow& w, const QStringList& files) {
        m_driver.AcceptNextFileDialog(files);
        QTest::mouseClick(Child<QPushButton>(w, "AddFButton"), Qt::LeftButton);
    }
    bool WaitForBox(const QString& text, int count = 1) {
        return WaitUntil([&] { return m_driver.m_messageBoxes.count(text) >= count; });
    }
    void ExportTo(MainWindow& w, const QString& folder) {
        Child<QCheckBox>(w, "UseSrcDirCheckBox")->setChecked(false);
        Child<QLineEdit>(w, "ExportDirEdit")->setText(folder);
        QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
    }

    GuiDriver m_driver;
    QTemporaryDir m_shared;
    QString m_long;
};

void ExportRunnerTest::exportsEveryRecordingIntoANewNestedFolder() {
    QTemporaryDir dir;
    const QString first = m_long; // long enough for several progress reports
    const QString second = MakeRecording(dir, "a.b.Vyrk", {"--channels", "3", "--seconds", "1"});
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {first});
    AddRecordings(w, {second});
    QCOMPARE(Child<QListWidget>(w, "FileList")->count(), 2);
    QList<int> percents;
    QStringList titles;
    connect(Child<QListWidget>(w, "FileList")->model(), &QAbstractItemModel::dataChanged, this,
            [&] {
                const QVariant p = Entry(w, 0)->data(EntryRole::kProgress);
                if (p.isValid() && (percents.isEmpty() || percents.last() != p.toInt()))
                    percents << p.toInt();
                titles << w.windowTitle();
            });

    const QString out = dir.filePath("out/new/deeper");
    ExportTo(w, out);
    QVERIFY(Exporting(w));
    QVERIFY(QDir(out).exists());
    QVERIFY(WaitForBox(kDone));
    QVERIFY(ButtonsEnabled(w, true));
    QTest::qWait(100);
    QCOMPARE(m_driver.m_messageBoxes, QStringList({kDone}));
    QCOMPARE(m_driver.m_messageDetails.last(),
             QString::fromUtf8("完成 2 个，失败 0 个，已停止 0 个"));
    using S = EntryState;
    QCOMPARE(icons.Of(0), QList<S>({S::Waiting, S::Running, S::Done}));
    QCOMPARE(icons.Of(1), QList<S>({S::Waiting, S::Running, S::Done}));
    // The running entry's percentage rose step by step to 100, and the title showed it.
    QVERIFY2(percents.size() >= 3 && percents.first() == 0 && percents.last() == 100,
             qPrintable(QString::number(percents.size())));
    QVERIFY(std::is_sorted(percents.begin(), percents.end()));
    QVERIFY(!titles.filter(QRegularExpression("^\\d+% .*\\(0/2\\)")).isEmpty());
    QCOMPARE(w.windowTitle(), QString::fromUtf8("全景直播系统 - Orvex"));
    QCOMPARE(Status(w, 0), QString::fromUtf8("已完成：4 个通道文件 → long"));
    QCOMPARE(Status(w, 1), QString::fromUtf8("已完成：3 个通道文件 → a"));
    QCOMPARE(DecodeErrors(out + "/long/3.mp4"), QString());
    QCOMPARE(FilesIn(out + "/a"), QStringList({"0.mp4", "1.mp4", "2.mp4"}));
    QCOMPARE(FilesIn(out + "/long"), QStringList({"0.mp4", "1.mp4", "2.mp4", "3.mp4"}));
}

void ExportRunnerTest::aFolderThatCannotBeMadeStartsNothing() {
    QTemporaryDir dir;
    const QString rec = MakeRecording(dir, "r.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    IconLog icons(w);
    AddRecordings(w, {rec});
    for (const QString& bad : {QString("/proc/no/such/folder"), QString()}) {
        m_driver.m_messageBoxes.clear();
        ExportTo(w, bad);
        QCOMPARE(m_driver.m_messageBoxes, QStringList({QString::fromUtf8("输出目录不存在.")}));
        QVERIFY(ButtonsEnabled(w, true));
        QTest::qWait(200);
        QVERIFY(icons.Of(0).isEmpty()); // no job ran
        QVERIFY(!m_driver.m_messageBoxes.contains(kDone));
    }
    QVERIFY(!QFile::exists(dir.filePath("r/0.mp4")));
}

void ExportRunnerTest::failuresAreExplainedAndTheBatchNeverWaits() {
    QTemporaryDir dir;
    const QString gone = MakeRecording(dir, "gone.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    const QString good =
        MakeRecording(dir, "good.Vyrk",
                      {"--channels", "1", "--seconds", "0.5", "--clock-base", "1733740000000000"});
    QFile corrupt(dir.filePath("corrupt.Vyrk"));
    QVERIFY(corrupt.open(QIODevice::WriteOnly));
    QByteArray noise(3 << 20, 0);
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    corrupt.write(noise);
    corrupt.close();
    QFile empty(dir.filePath("empty.Vyrk"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString other = MakeRecording(dir, "other.Vyrk", {"--channels", "2", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    AddRecordings(w, {gone, good, corrupt.fileName(), empty.fileName(), other});
    QVERIFY(QFile::remove(gone));
    QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
    QVERIFY(WaitForBox(kDone));
    // No box stopped the batch: the only one is the closing box, with the counts.
    QCOMPARE(m_driver.m_messageBoxes, QStringList({kDone}));
    QCOMPARE(m_driver.m_messageDetails,
             QStringList({QString::fromUtf8("完成 2 个，失败 3 个，已停止 0 个")}));
    const QList<EntryState> states = {EntryState::Failed, EntryState::Done, EntryState::Failed,
                                      EntryState::Failed, EntryState::Done};
    for (int row = 0; row < states.size(); ++row)
        QCOMPARE(StateOf(w, row), states[row]);
    QCOMPARE(Status(w, 0), QString::fromUtf8("失败：无法打开录像文件（文件或文件夹不存在）"));
    for (int row : {2, 3}) {
        QVERIFY2(Status(w, row).startsWith(QString::fromUtf8("失败：不是可识别的录像文件")),
                 qPrintable(Status(w, row)));
        QVERIFY(Entry(w, row)->toolTip().contains(Status(w, row)));
        QVERIFY(Entry(w, row)->icon().cacheKey() == w.IconFor(EntryState::Failed).cacheKey());
    }
    // A recording on wall time says when it was made; one on a clock of its own does not.
    const QString made =
        QDateTime::fromMSecsSinceEpoch(1733740000000).toString("yyyy-MM-dd HH:mm:ss");
    QVERIFY(Entry(w, 1)->toolTip().contains(QString::fromUtf8("录制时间：") + made));
    QVERIFY(!Entry(w, 4)->toolTip().contains(QString::fromUtf8("录制时间")));
    QVERIFY(!QDir(dir.filePath("corrupt")).exists()); // no empty folder left behind
    QVERIFY(!QDir(dir.filePath("gone")).exists());
    QCOMPARE(DecodeErrors(dir.filePath("good/0.mp4")), QString());
    QCOMPARE(FilesIn(dir.filePath("other")), QStringList({"0.mp4", "1.mp4"}));

    // The reason is one menu choice away, and vyrk2mp4 fails the same recording.
    m_driver.ChooseNextMenuAction(QString::fromUtf8("查看原因"));
    OpenMenu(w, 2);
    QVERIFY(WaitUntil([&] { return m_driver.m_messageBoxes.size() == 2; }));
    QVERIFY(m_driver.m_messageDetails.last().contains(QString::fromUtf8("不是可识别的录像文件")));
    QVERIFY(!RunOurProgram("vyrk2mp4", {"-q", "--log", dir.filePath("cli.log"), "-o",
                                        dir.filePath("cli"), empty.fileName()}));
}

void ExportRunnerTest::anOutputThatCannotBeWrittenNamesTheChannel() {
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
    ExportTo(w, dir.filePath("out"));
    QVERIFY(WaitForBox(kDone));
    using S = EntryState;
    QCOMPARE(icons.Of(0), QList<S>({S::Waiting, S::Running, S::Failed}));
    QCOMPARE(icons.Of(1), QList<S>({S::Waiting, S::Running, S::Done}));
    QVERIFY2(Status(w, 0).startsWith(QString::fromUtf8("失败：无法创建通道 0 的文件 0.mp4（")),
             qPrintable(Status(w, 0)));
    QCOMPARE(DecodeErrors(dir.filePath("out/fine/0.mp4")), QString());
}

void ExportRunnerTest::onlyEntriesNotDoneAreConvertedAgain() {
    QTemporaryDir dir;
    const QString rec = MakeRecording(dir, "side.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    QPushButton* exportButton = Child<QPushButton>(w, "ExportButton");
    QTest::mouseClick(exportButton, Qt::LeftButton); // an empty list: said so, nothing starts
    QCOMPARE(m_driver.m_messageBoxes, QStringList({QString::fromUtf8("没有需要导出的录像")}));
    IconLog icons(w);
    AddRecordings(w, {rec});
    Child<QLineEdit>(w, "ExportDirEdit")->setText(dir.filePath("never/made"));
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QVERIFY(WaitForBox(kDone));
    QTest::mouseClick(exportButton, Qt::LeftButton); // all done: nothing to convert
    QCOMPARE(Count(m_driver.m_messageBoxes, QString::fromUtf8("没有需要导出的录像")), 2);
    QVERIFY(!w.IsExporting());
    m_driver.ChooseNextMenuAction(QString::fromUtf8("重新转换"));
    OpenMenu(w, 0);
    QVERIFY(WaitUntil([&] { return StateOf(w, 0) == EntryState::Waiting; }));
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QVERIFY(WaitForBox(kDone, 2));
    QVERIFY(!QDir(dir.filePath("never")).exists());
    QCOMPARE(DecodeErrors(dir.filePath("side/0.mp4")), QString());
    using S = EntryState;
    QCOMPARE(icons.Of(0),
             QList<S>({S::Waiting, S::Running, S::Done, S::Waiting, S::Running, S::Done}));
}

void ExportRunnerTest::recordingsNeverShareAFolder() {
    QTemporaryDir dir;
    const QString am = MakeRecording(dir, QString::fromUtf8("2024.05.01 上午.Vyrk"),
                                     {"--channels", "2", "--seconds", "0.5"});
    const QString pm = MakeRecording(dir, QString::fromUtf8("2024.05.01 下午.Vyrk"),
                                     {"--channels", "3", "--seconds", "0.5"});
    QDir().mkpath(dir.filePath("plain"));
    QDir().mkpath(dir.filePath("other"));
    const QString plain =
        MakeRecording(dir, "plain/cam_a.Vyrk", {"--channels", "4", "--seconds", "0.5"});
    const QString other =
        MakeRecording(dir, "other/cam_a.Vyrk", {"--channels", "2", "--seconds", "0.5"});
    const QString out = dir.filePath("out");
    auto touch = [](const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        return f.open(QIODevice::WriteOnly);
    };
    QVERIFY(touch(out + "/2024/0.mp4")); // left by an export of unknown origin: not touched
    MainWindow w;
    w.show();
    AddRecordings(w, {am, pm});
    AddRecordings(w, {plain});
    AddRecordings(w, {other});
    ExportTo(w, out);
    QVERIFY(WaitForBox(kDone));
    QCOMPARE(FilesIn(out + "/2024"), QStringList({"0.mp4"}));
    QCOMPARE(QFileInfo(out + "/2024/0.mp4").size(), 0);
    QCOMPARE(FilesIn(out + QString::fromUtf8("/2024.05.01 上午")), QStringList({"0.mp4", "1.mp4"}));
    QCOMPARE(FilesIn(out + QString::fromUtf8("/2024.05.01 下午")),
             QStringList({"0.mp4", "1.mp4", "2.mp4"}));
    QCOMPARE(FilesIn(out + "/cam_a"), QStringList({"0.mp4", "1.mp4", "2.mp4", "3.mp4"}));
    QCOMPARE(FilesIn(out + "/cam_a_2"), QStringList({"0.mp4", "1.mp4"}));
    QCOMPARE(Status(w, 3), QString::fromUtf8("已完成：2 个通道文件 → cam_a_2"));
    QVERIFY(Entry(w, 3)->toolTip().contains(out + "/cam_a_2"));

    // Converted again, a recording returns to its own folder, which then holds this
    // conversion's channel files alone; files that are not channel files stay.
    QVERIFY(touch(out + "/cam_a/5.mp4") && touch(out + "/cam_a/notes.txt"));
    m_driver.ChooseNextMenuAction(QString::fromUtf8("重新转换"));
    OpenMenu(w, 2);
    QVERIFY(WaitUntil([&] { return StateOf(w, 2) == EntryState::Waiting; }));
    QTest::mouseClick(Child<QPushButton>(w, "ExportButton"), Qt::LeftButton);
    QVERIFY(WaitForBox(kDone, 2));
    QCOMPARE(m_driver.m_messageDetails.last(),
             QString::fromUtf8("完成 1 个，失败 0 个，已停止 0 个"));
    QCOMPARE(FilesIn(out + "/cam_a"),
             QStringList({"0.mp4", "1.mp4", "2.mp4", "3.mp4", "notes.txt"}));
    QCOMPARE(FilesIn(out + "/cam_a_2"), QStringList({"0.mp4", "1.mp4"}));
}

void ExportRunnerTest::stopMidwayLeavesFinishedFilesAndAStoppedEntry() {
    QTemporaryDir dir;
    const QString next = MakeRecording(dir, "next.Vyrk", {"--channels", "1", "--seconds", "0.5"});
    MainWindow w;
    w.show();
    AddRecordings(w, {m_long});
    AddRecordings(w, {next});
    const QString folder = dir.filePath("out/long");
    ExportTo(w, dir.filePath("out"));
    QVERIFY(WaitUntil([&] { return QFileInfo(folder + "/.0.mp4.part").size() > 100000; }));
    QPushButton* exportButton = Child<QPushButton>(w, "ExportButton");
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(exportButton->text(), QString::fromUtf8("正在停止…"));
    QVERIFY(WaitForBox(QString::fromUtf8("导出已停止")));
    QCOMPARE(m_driver.m_messageDetails.last(),
             QString::fromUtf8("完成 0 个，失败 0 个，已停止 1 个，未开始 1 个"));
    QCOMPARE(StateOf(w, 0), EntryState::Stopped);
    QCOMPARE(Entry(w, 0)->icon().cacheKey(), w.IconFor(EntryState::Stopped).cacheKey());
    QCOMPARE(Status(w, 0), QString::fromUtf8("已停止：已写完 4 个通道文件"));
    QCOMPARE(StateOf(w, 1), EntryState::Waiting);
    QCOMPARE(Status(w, 1), QString());
    QCOMPARE(exportButton->text(), QString::fromUtf8("开始导出"));
    QVERIFY(ButtonsEnabled(w, true));
    QCOMPARE(FilesIn(folder), QStringList({"0.mp4", "1.mp4", "2.mp4", "3.mp4"}));
    for (const QString& file : FilesIn(folder))
        QCOMPARE(DecodeErrors(folder + "/" + file), QString());
    QVERIFY(!QDir(dir.filePath("out/next")).exists());
}

// Must stay the last test: QCoreApplication::exit outside a running loop makes every later
// event loop return at once.
void ExportRunnerTest::closingDuringAnExportAsksAndLeavesFinishedFiles() {
    QTemporaryDir dir;
    auto w = std::make_unique<MainWindow>();
    w->show();
    AddRecordings(*w, {m_long});
    const QString folder = dir.filePath("out/long");
    ExportTo(*w, dir.filePath("out"));
    QVERIFY(WaitUntil([&] { return QFileInfo(folder + "/.0.mp4.part").size() > 100000; }));
    // Esc never closes; closing asks first, and No goes on with the export.
    QTest::keyClick(w.get(), Qt::Key_Escape);
    m_driver.m_answerNo = true;
    w->close();
    QTest::mouseClick(Child<QPushButton>(*w, "btnMenu_Close"), Qt::LeftButton);
    QVERIFY(w->isVisible() && Exporting(*w));
    QCOMPARE(m_driver.m_messageBoxes.size(), 2);
    QVERIFY(m_driver.m_messageBoxes.first().startsWith(QString::fromUtf8("正在导出")));
    // Yes stops as main does once the loop ends: the window goes, with every begun file kept.
    m_driver.m_answerNo = false;
    QTest::mouseClick(Child<QPushButton>(*w, "btnMenu_Close"), Qt::LeftButton);
    QCOMPARE(m_driver.m_messageBoxes.size(), 3);
    QElapsedTimer timer;
    timer.start();
    w.reset();
    qInfo("closed in %lld ms", static_cast<long long>(timer.elapsed()));
    QVERIFY(!m_driver.m_messageBoxes.contains(kDone));
    QCOMPARE(FilesIn(folder), QStringList({"0.mp4", "1.mp4", "2.mp4", "3.mp4"}));
    for (const QString& file : FilesIn(folder))
        QCOMPARE(DecodeErrors(folder + "/" + file), QString());
}

QTEST_MAIN(ExportRunnerTest)
#include "CExportRunnerTest.moc"

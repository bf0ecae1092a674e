// The frameless window's own chrome: flags, glyphs, dragging, maximize/restore, close; and the
// application's look (style sheet, palette, embedded image).

#include "ApplicationLook.h"
#include "GuiDriver.h"
#include "IconHelper.h"
#include "MainWindow.h"

#include <QtCore/QDir>
#include <QtCore/QResource>
#include <QtCore/QTemporaryDir>
#include <QtGui/QScreen>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListView>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSizeGrip>

namespace {

void SendMouse(QWidget* target, QEvent::Type type, const QPoint& global, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    const QPoint local = target->mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

// The suite keeps the name the README cites its cases by.
class MainWindowChromeTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearSettings(); }
    void hasFramelessFlagsAndGlyphs();
    void leftButtonDragMovesAndKeepsTheGrabPoint();
    void otherButtonsAndScreenFillingDoNotMove();
    void maximizeAndRestoreExactly();
    void doubleClickOnTitleTextOnly();
    void closeEndsTheLoopWithZero();
    void iconHelperIsOneInstance();
    void styleSheetAndEmbeddedImage();
    void worksWithoutTheSkinFolder();
    void sizeGripFollowsThePointerAndEscKeepsTheWindow();
    void dialogsSpeakChineseAndKeepTheDarkLook();
};

void MainWindowChromeTest::hasFramelessFlagsAndGlyphs() {
    MainWindow w;
    // Exactly the three hints; the toolkit itself marks a parentless widget as a window.
    QCOMPARE(unsigned(w.windowFlags() & ~Qt::WindowType_Mask), 0xE800u);
    QCOMPARE(w.windowType(), Qt::Window);
    QVERIFY(w.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(w.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(w.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowTitleHint));
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Close")->text(), QString(QChar(0xF00D)));
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Max")->text(), QString(QChar(0xF096)));
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Min")->text(), QString(QChar(0xF068)));
    QCOMPARE(Child<QLabel>(w, "lab_Ico")->text(), QString(QChar(0xF030)));
    QCOMPARE(Child<QLabel>(w, "lab_Ico")->font().pointSize(), 12);
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Max")->font().pointSize(), 10);
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Max")->font().family(),
             IconHelper::Instance()->Family());
    QVERIFY2(!IconHelper::Instance()->Family().isEmpty(), "the icon font did not load from ./skin");
}

void MainWindowChromeTest::leftButtonDragMovesAndKeepsTheGrabPoint() {
    MainWindow w;
    w.show();
    w.move(40, 30);
    QLabel* title = Child<QLabel>(w, "lab_Title");
    const QPoint grab = title->mapToGlobal(QPoint(20, 8));
    const QPoint offset = grab - w.pos();
    SendMouse(title, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    const QPoint to = grab + QPoint(123, 77);
    SendMouse(title, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(w.pos(), QPoint(40 + 123, 30 + 77));
    QCOMPARE(to - w.pos(), offset); // the grab point stays under the cursor
    SendMouse(title, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    SendMouse(title, QEvent::MouseMove, to + QPoint(50, 50), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(w.pos(), QPoint(163, 107)); // released: no longer dragging
}

void MainWindowChromeTest::otherButtonsAndScreenFillingDoNotMove() {
    MainWindow w;
    w.show();
    w.move(10, 10);
    QWidget* bar = Child<QWidget>(w, "widget_title");
    const QPoint grab = bar->mapToGlobal(QPoint(200, 10));
    SendMouse(bar, QEvent::MouseButtonPress, grab, Qt::RightButton, Qt::RightButton);
    SendMouse(bar, QEvent::MouseMove, grab + QPoint(90, 40), Qt::NoButton, Qt::RightButton);
    QCOMPARE(w.pos(), QPoint(10, 10));
    SendMouse(bar, QEvent::MouseButtonRelease, grab, Qt::RightButton, Qt::NoButton);

    QTest::mouseClick(Child<QPushButton>(w, "btnMenu_Max"), Qt::LeftButton);
    const QRect filled = w.geometry();
    const QPoint grab2 = bar->mapToGlobal(QPoint(200, 10));
    SendMouse(bar, QEvent::MouseButtonPress, grab2, Qt::LeftButton, Qt::LeftButton);
    SendMouse(bar, QEvent::MouseMove, grab2 + QPoint(90, 40), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(w.geometry(), filled);
}

void MainWindowChromeTest::maximizeAndRestoreExactly() {
    MainWindow w;
    w.show();
    w.setGeometry(QRect(37, 41, 900, 650));
    const QRect before = w.geometry();
    QPushButton* max = Child<QPushButton>(w, "btnMenu_Max");
    QTest::mouseClick(max, Qt::LeftButton);
    QCOMPARE(w.geometry(), QGuiApplication::primaryScreen()->geometry());
    QCOMPARE(max->text(), QString(QChar(0xF079)));
    QCOMPARE(max->toolTip(), QString::fromUtf8("还原"));
    QVERIFY(!w.isMaximized()); // never the toolkit's own maximized state
    QTest::mouseClick(max, Qt::LeftButton);
    QCOMPARE(w.geometry(), before);
    QCOMPARE(max->text(), QString(QChar(0xF096)));
    QCOMPARE(max->toolTip(), QString::fromUtf8("最大化"));
    QVERIFY(!max->hasFocus());
}

void MainWindowChromeTest::doubleClickOnTitleTextOnly() {
    MainWindow w;
    w.show();
    w.setGeometry(QRect(20, 20, 820, 610));
    const QRect before = w.geometry();
    QLabel* title = Child<QLabel>(w, "lab_Title");
    QLabel* icon = Child<QLabel>(w, "lab_Ico");
    QWidget* bar = Child<QWidget>(w, "widget_title");
    for (QWidget* target : {static_cast<QWidget*>(icon), bar}) {
        SendMouse(target, QEvent::MouseButtonDblClick, target->mapToGlobal(QPoint(5, 5)),
                  Qt::LeftButton, Qt::LeftButton);
        SendMouse(target, QEvent::MouseButtonRelease, target->mapToGlobal(QPoint(5, 5)),
                  Qt::LeftButton, Qt::NoButton);
        QCOMPARE(w.geometry(), before);
    }
    SendMouse(title, QEvent::MouseButtonDblClick, title->mapToGlobal(QPoint(5, 5)), Qt::LeftButton,
              Qt::LeftButton);
    QCOMPARE(w.geometry(), QGuiApplication::primaryScreen()->geometry());
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Max")->toolTip(), QString::fromUtf8("还原"));
    SendMouse(title, QEvent::MouseButtonDblClick, title->mapToGlobal(QPoint(5, 5)), Qt::LeftButton,
              Qt::LeftButton);
    QCOMPARE(w.geometry(), before);
    QCOMPARE(Child<QPushButton>(w, "btnMenu_Max")->text(), QString(QChar(0xF096)));
}

void MainWindowChromeTest::closeEndsTheLoopWithZero() {
    MainWindow w;
    w.show();
    QTimer::singleShot(
        0, &w, [&] { QTest::mouseClick(Child<QPushButton>(w, "btnMenu_Close"), Qt::LeftButton); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

void MainWindowChromeTest::iconHelperIsOneInstance() {
    IconHelper* first = IconHelper::Instance();
    QCOMPARE(IconHelper::Instance(), first);
    QCOMPARE(first->parent(), static_cast<QObject*>(QCoreApplication::instance()));
    QLabel label;
    first->SetIcon(&label, QChar(0xF030), 17);
    QCOMPARE(label.text(), QString(QChar(0xF030)));
    QCOMPARE(label.font().pointSize(), 17);
}

void MainWindowChromeTest::styleSheetAndEmbeddedImage() {
    QTemporaryDir dir;
    QFile css(dir.filePath("a.css"));
    QVERIFY(css.open(QIODevice::WriteOnly));
    css.write(QByteArray("QLabel { color: red; }\0QWidget { color: blue; }", 46));
    css.close();
    QCOMPARE(ApplicationLook::ReadStyleSheet(css.fileName()), QString("QLabel { color: red; }"));
    QCOMPARE(ApplicationLook::ReadStyleSheet(dir.filePath("missing.css")), QString());
    QFile latin(dir.filePath("l.css"));
    QVERIFY(latin.open(QIODevice::WriteOnly));
    latin.write("/* \xe9 */");
    latin.close();
    QCOMPARE(ApplicationLook::ReadStyleSheet(latin.fileName()), QString::fromUtf8("/* é */"));

    QResource image(":/IconAdd/skin/checkbox_checked.png");
    QVERIFY(image.isValid());
    QCOMPARE(image.compressionAlgorithm(), QResource::NoCompression);
    QImage picture(":/IconAdd/skin/checkbox_checked.png");
    QCOMPARE(picture.size(), QSize(52, 52));
    QCOMPARE(picture.format(), QImage::Format_Indexed8);
    QVERIFY(picture.hasAlphaChannel());

    // The application's own sheet parses and the palette derives from #F0F0F0.
    QVERIFY(!ApplicationLook::ReadStyleSheet("./skin/black.css").isEmpty());
    ApplicationLook::Apply(*qApp);
    QCOMPARE(QApplication::palette().color(QPalette::Button), QColor("#F0F0F0"));
    qApp->setStyleSheet(QString());
}

// Also run on its own from a folder without ./skin (see tests/CMakeLists.txt): no font, no
// style sheet, no status images, and the window still works.
void MainWindowChromeTest::worksWithoutTheSkinFolder() {
    if (QDir("skin").exists())
        qInfo("running with ./skin present");
    else
        QCOMPARE(ApplicationLook::ReadStyleSheet("./skin/black.css"), QString());
    MainWindow w;
    w.show();
    QPushButton* max = Child<QPushButton>(w, "btnMenu_Max");
    QCOMPARE(max->text(), QString(QChar(0xF096)));
    const QRect before = w.geometry();
    QTest::mouseClick(max, Qt::LeftButton);
    QCOMPARE(w.geometry(), QGuiApplication::primaryScreen()->geometry());
    QTest::mouseClick(max, Qt::LeftButton);
    QCOMPARE(w.geometry(), before);
}

void MainWindowChromeTest::sizeGripFollowsThePointerAndEscKeepsTheWindow() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSizeGrip* grip = w.findChild<QSizeGrip*>();
    QVERIFY(grip);
    w.move(0, 0);
    QTest::qWait(50);
    const QSize before = w.size();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    if (screen.width() < before.width() + 120 || screen.height() < before.height() + 70)
        QSKIP("the screen cannot hold a larger window (run under Xvfb by app_size_grip)");
    auto drag = [&](const QPoint& by) {
        const QPoint from = grip->mapToGlobal(grip->rect().center());
        SendMouse(grip, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        SendMouse(grip, QEvent::MouseMove, from + by, Qt::NoButton, Qt::LeftButton);
        SendMouse(grip, QEvent::MouseButtonRelease, from + by, Qt::LeftButton, Qt::NoButton);
        QTest::qWait(100);
    };
    drag(QPoint(120, 70));
    QCOMPARE(w.size(), before + QSize(120, 70));
    drag(QPoint(-60, -30));
    QCOMPARE(w.size(), before + QSize(60, 40));
    drag(QPoint(-2000, -2000));
    QCOMPARE(w.size(), QSize(800, 600));

    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        QTest::keyClick(&w, static_cast<Qt::Key>(key));
        QTest::keyClick(Child<QListWidget>(w, "FileList"), static_cast<Qt::Key>(key));
    }
    QVERIFY(w.isVisible());
    QCOMPARE(w.result(), 0);
}

void MainWindowChromeTest::dialogsSpeakChineseAndKeepTheDarkLook() {
    QVERIFY(ApplicationLook::LoadQtTranslation(*qApp));
    qApp->setStyleSheet(ApplicationLook::ReadStyleSheet("./skin/black.css"));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.findChild<QLabel*>("lookInLabel")->text(), QString::fromUtf8("查找范围："));
    QDialogButtonBox* buttons = dialog.findChild<QDialogButtonBox*>();
    QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("取消"));
    // The file list is dark with light text, as in the window.
    QAbstractItemView* files = dialog.findChild<QListView*>("listView");
    const QImage picture = files->viewport()->grab().toImage();
    const QColor background = picture.pixelColor(picture.width() - 3, picture.height() - 3);
    QVERIFY2(background.lightness() < 60, qPrintable(background.name()));
    QVERIFY(files->palette().color(QPalette::Text).lightness() > 180);
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(MainWindowChromeTest)
#include "CWindowChromeTest.moc"

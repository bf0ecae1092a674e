// The form: widget tree, names, order, layouts, sizes, initial states and texts.

#include "ui_MainWindow.h"

#include <QtTest/QtTest>

class MainWindowFormTest : public QObject {
    Q_OBJECT

private slots:
    void buildsTheTreeInOrder();
    void layoutsHaveTheirSpacingAndMargins();
    void sizesPoliciesAndInitialStates();
    void texts();

private:
    struct Form {
        QDialog window;
        Ui::MainWindow ui;
        Form() { ui.setupUi(&window); }
    };
};

void MainWindowFormTest::buildsTheTreeInOrder() {
    Form f;
    QCOMPARE(f.window.objectName(), QString("MainWindow"));
    const Ui::MainWindow& ui = f.ui;
    // Each layout item in its place.
    QCOMPARE(ui.verticalLayout_2->parent(), &f.window);
    QCOMPARE(ui.verticalLayout_2->itemAt(0)->widget(), ui.widget_title);
    QCOMPARE(ui.verticalLayout_2->itemAt(1)->widget(), static_cast<QWidget*>(ui.frame));
    QCOMPARE(ui.horizontalLayout_2->parent(), ui.widget_title);
    const QList<QWidget*> title = {ui.lab_Ico, ui.lab_Title, ui.widget_menu};
    for (int i = 0; i < title.size(); ++i)
        QCOMPARE(ui.horizontalLayout_2->itemAt(i)->widget(), title[i]);
    const QList<QWidget*> menu = {ui.btnMenu_Min, ui.btnMenu_Max, ui.btnMenu_Close};
    for (int i = 0; i < menu.size(); ++i) {
        QCOMPARE(ui.horizontalLayout->itemAt(i)->widget(), menu[i]);
        QCOMPARE(menu[i]->parentWidget(), ui.widget_menu);
    }
    QCOMPARE(ui.gridLayout_2->parent(), static_cast<QObject*>(ui.frame));
    QCOMPARE(ui.gridLayout_2->itemAtPosition(0, 0)->layout(), static_cast<QLayout*>(ui.gridLayout));
    QCOMPARE(ui.gridLayout->itemAtPosition(0, 0)->layout(),
             static_cast<QLayout*>(ui.verticalLayout));
    QCOMPARE(ui.verticalLayout->itemAt(0)->widget(), static_cast<QWidget*>(ui.FileList));
    QCOMPARE(ui.verticalLayout->itemAt(1)->layout(), static_cast<QLayout*>(ui.horizontalLayout_3));
    const QList<QWidget*> row = {
        ui.label,      ui.ExportDirEdit, ui.SelectExportDir, ui.UseSrcDirCheckBox,
        ui.AddFButton, ui.DeleteButton,  ui.DeleteAllButton, ui.ExportButton};
    QCOMPARE(ui.horizontalLayout_3->count(), row.size());
    for (int i = 0; i < row.size(); ++i) {
        QCOMPARE(ui.horizontalLayout_3->itemAt(i)->widget(), row[i]);
        QCOMPARE(row[i]->parentWidget(), static_cast<QWidget*>(ui.frame));
    }
    // Every object of the form carries its name.
    QStringList names;
    for (QObject* o : f.window.findChildren<QObject*>())
        if (!o->objectName().isEmpty() && !o->objectName().startsWith("qt_"))
            names << o->objectName();
    const QStringList expected = {"verticalLayout_2",
                                  "widget_title",
                                  "horizontalLayout_2",
                                  "lab_Ico",
                                  "lab_Title",
                                  "widget_menu",
                                  "horizontalLayout",
                                  "btnMenu_Min",
                                  "btnMenu_Max",
                                  "btnMenu_Close",
                                  "frame",
                                  "gridLayout_2",
                                  "gridLayout",
                                  "verticalLayout",
                                  "FileList",
                                  "horizontalLayout_3",
                                  "label",
                                  "ExportDirEdit",
                                  "SelectExportDir",
                                  "UseSrcDirCheckBox",
                                  "AddFButton",
                                  "DeleteButton",
                                  "DeleteAllButton",
                                  "ExportButton"};
    for (const QString& n : expected)
        QVERIFY2(names.contains(n), qPrintable(n));
}

void MainWindowFormTest::layoutsHaveTheirSpacingAndMargins() {
    Form f;
    const Ui::MainWindow& ui = f.ui;
    for (QLayout* l :
         {static_cast<QLayout*>(ui.verticalLayout_2), static_cast<QLayout*>(ui.horizontalLayout_2),
          static_cast<QLayout*>(ui.horizontalLayout)}) {
        QCOMPARE(l->spacing(), 0);
        QCOMPARE(l->contentsMargins(), QMargins(0, 0, 0, 0));
    }
    QCOMPARE(ui.gridLayout_2->spacing(), 0);
    QCOMPARE(ui.gridLayout_2->contentsMargins(), QMargins(0, 10, 0, 0));
    QCOMPARE(ui.gridLayout->horizontalSpacing(), 0);
    QCOMPARE(ui.gridLayout->verticalSpacing(), 6);
    QCOMPARE(ui.gridLayout->contentsMargins().left(), 0);
    QCOMPARE(ui.gridLayout->contentsMargins().right(), 0);
    QCOMPARE(ui.gridLayout->contentsMargins().bottom(), 0);
    QCOMPARE(ui.verticalLayout->spacing(), 6);
    QCOMPARE(ui.horizontalLayout_3->spacing(), 6);
    QCOMPARE(ui.horizontalLayout_3->contentsMargins(), QMargins(10, 10, 10, 10));
}

void MainWindowFormTest::sizesPoliciesAndInitialStates() {
    Form f;
    const Ui::MainWindow& ui = f.ui;
    QCOMPARE(f.window.size(), QSize(1017, 730));
    QCOMPARE(f.window.minimumSize(), QSize(800, 600));
    QCOMPARE(f.window.sizePolicy().horizontalPolicy(), QSizePolicy::Maximum);
    QCOMPARE(f.window.sizePolicy().verticalPolicy(), QSizePolicy::Maximum);
    QCOMPARE(f.window.contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(f.window.windowModality(), Qt::NonModal);
    QVERIFY(f.window.isSizeGripEnabled());
    QVERIFY(!f.window.isModal());
    QCOMPARE(f.window.styleSheet(), QString());

    QCOMPARE(ui.widget_title->minimumSize(), QSize(100, 33));
    QCOMPARE(ui.widget_title->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.lab_Ico->minimumSize(), QSize(30, 0));
    QCOMPARE(ui.lab_Ico->alignment(), Qt::AlignCenter);
    QCOMPARE(ui.lab_Title->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(ui.lab_Title->styleSheet(), QString::fromUtf8("font: 10pt \"微软雅黑\";"));
    QCOMPARE(ui.lab_Title->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(ui.widget_menu->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    for (QPushButton* b : {ui.btnMenu_Min, ui.btnMenu_Max, ui.btnMenu_Close}) {
        QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        QVERIFY(b->isFlat());
        QVERIFY(b->isEnabled());
        QCOMPARE(b->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(b->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }
    QCOMPARE(ui.btnMenu_Min->minimumSize(), QSize(31, 0));
    QCOMPARE(ui.btnMenu_Max->minimumSize(), QSize(31, 0));
    QCOMPARE(ui.btnMenu_Close->minimumSize(), QSize(40, 0));
    for (QPushButton* b : {ui.AddFButton, ui.DeleteButton, ui.DeleteAllButton})
        QCOMPARE(b->minimumSize(), QSize(0, 40));
    QCOMPARE(ui.ExportButton->minimumSize(), QSize(100, 40));
    QVERIFY(!ui.ExportDirEdit->isEnabled());
    QVERIFY(!ui.SelectExportDir->isEnabled());
    QVERIFY(ui.UseSrcDirCheckBox->isChecked());
    QCOMPARE(ui.frame->styleSheet(), QString());

    // The size grip cannot make the window smaller than its minimum.
    f.window.show();
    f.window.resize(300, 200);
    QCOMPARE(f.window.size(), QSize(800, 600));
}

void MainWindowFormTest::texts() {
    Form f;
    const Ui::MainWindow& ui = f.ui;
    QCOMPARE(f.window.windowTitle(), QString::fromUtf8("全景直播系统 - Orvex"));
    QCOMPARE(f.window.statusTip(), QString());
    QCOMPARE(ui.lab_Ico->text(), QString());
    QCOMPARE(ui.lab_Title->text(), QString::fromUtf8("Orvex 文件转换器"));
    QCOMPARE(ui.btnMenu_Min->toolTip(), QString::fromUtf8("最小化"));
    QCOMPARE(ui.btnMenu_Max->toolTip(), QString::fromUtf8("最大化"));
    QCOMPARE(ui.btnMenu_Close->toolTip(), QString::fromUtf8("关闭"));
    for (QPushButton* b : {ui.btnMenu_Min, ui.btnMenu_Max, ui.btnMenu_Close})
        QCOMPARE(b->text(), QString());
    QCOMPARE(ui.label->text(), QString::fromUtf8("输出目录:"));
    QCOMPARE(ui.SelectExportDir->text(), QString::fromUtf8("选择输出目录"));
    QCOMPARE(ui.UseSrcDirCheckBox->text(), QString::fromUtf8("输出到源目录"));
    QCOMPARE(ui.AddFButton->text(), QString::fromUtf8("添加"));
    QCOMPARE(ui.DeleteButton->text(), QString::fromUtf8("移除"));
    QCOMPARE(ui.DeleteAllButton->text(), QString::fromUtf8("清空列表"));
    QCOMPARE(ui.ExportButton->text(), QString::fromUtf8("开始导出"));
}

QTEST_MAIN(MainWindowFormTest)
#include "MainWindowFormTest.moc"

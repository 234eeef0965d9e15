#include "app/Pellory.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTabBar>
#include <QTimer>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBoxes::SetTestMode(true); }
    void tabsInOrderWithTitles();
    void tabBarFollowsWindowWidth();
    void clockShowsMilliseconds();
    void trayMenuEntries();
    void escapeKeepsEveryPage();
    void stockInWithoutProvidersSendsToProviderTab();
    void stockInOffersEveryProvider();
    void providerTabFollowsOtherTills();
    void closingFromLastTabAsksNothing();
    void hiddenWindowOutlivesAnsweredBox();
};

void TestMainWindow::tabsInOrderWithTitles()
{
    TempStore store;
    Pellory window(store.Dir());
    const QStringList expected = {"今日出货", "订单管理", "库存管理",
                                  "今日进货", "进货管理", "供应商管理"};
    QTabWidget* tabs = window.Tabs();
    QCOMPARE(tabs->count(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(tabs->tabText(i), expected.at(i));
        QVERIFY(!tabs->tabIcon(i).isNull());
    }
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(qobject_cast<CTTodaySale*>(tabs->widget(0)));
    QVERIFY(qobject_cast<CTOrderManager*>(tabs->widget(1)));
    QVERIFY(qobject_cast<CTStockManager*>(tabs->widget(2)));
    QVERIFY(qobject_cast<CTTodayPurchase*>(tabs->widget(3)));
    QVERIFY(qobject_cast<CTTPurchaseManager*>(tabs->widget(4)));
    QVERIFY(qobject_cast<CTProviderManager*>(tabs->widget(5)));
    QCOMPARE(window.CheckVerTimer()->interval(), 60000);
    QVERIFY(window.CheckVerTimer()->isActive());
}

void TestMainWindow::tabBarFollowsWindowWidth()
{
    TempStore store;
    Pellory window(store.Dir());
    QCOMPARE(window.Tabs()->tabBar()->width(), window.width());
    window.show();
    window.resize(1300, 600);
    QTRY_COMPARE(window.Tabs()->tabBar()->width(), 1300);
}

void TestMainWindow::clockShowsMilliseconds()
{
    TempStore store;
    Pellory window(store.Dir());
    QTRY_VERIFY_WITH_TIMEOUT(!window.StatusBar()->currentMessage().isEmpty(), 2500);
    const QString shown = window.StatusBar()->currentMessage();
    QVERIFY2(QRegularExpression("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\d{3}$")
                 .match(shown)
                 .hasMatch(),
             qPrintable(shown));
    const QDateTime parsed = QDateTime::fromString(shown, "yyyy-MM-dd HH:mm:ss zzz");
    QVERIFY(qAbs(parsed.msecsTo(QDateTime::currentDateTime())) < 3000);
}

void TestMainWindow::trayMenuEntries()
{
    TempStore store;
    Pellory window(store.Dir());
    QStringList texts;
    for (QAction* action : window.TrayMenu()->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    QCOMPARE(texts, QStringList({"隐藏", "最大化", "恢复", "-", "退出"}));
}

void TestMainWindow::escapeKeepsEveryPage()
{
    TempStore store;
    Pellory window(store.Dir());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int index : {0, 1, 2, 4, 5}) {
        window.Tabs()->setCurrentIndex(index);
        QWidget* page = window.Tabs()->currentWidget();
        QWidget* field = page->findChild<QLineEdit*>();
        QTest::keyClick(field ? field : page, Qt::Key_Escape);
        QVERIFY2(page->isVisible(), qPrintable(window.Tabs()->tabText(index)));
    }
}

void TestMainWindow::stockInWithoutProvidersSendsToProviderTab()
{
    TempStore store;
    Pellory window(store.Dir());
    window.Tabs()->setCurrentIndex(3);
    const auto shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().title, QString("Quorrin1009"));
    QCOMPARE(shown.first().text, QString("请先添加配置供应商信息"));
    QCOMPARE(window.Tabs()->currentIndex(), 5);
}

// Namesakes stay apart, by phone where that tells them apart, else by
// identifier, and goods go to the one picked.
void TestMainWindow::stockInOffersEveryProvider()
{
    TempStore store;
    QVERIFY(stockDb.InsertProvider("11", "乙商行", "1", "", "", "", ""));
    QVERIFY(stockDb.InsertProvider("12", "Alpha", "9", "", "", "", ""));
    QVERIFY(stockDb.InsertProvider("13", "乙商行", "2", "", "", "", ""));
    QVERIFY(stockDb.InsertProvider("14", "丙", "", "", "", "", ""));
    QVERIFY(stockDb.InsertProvider("15", "丙", "", "", "", "", ""));
    Pellory window(store.Dir());
    window.Tabs()->setCurrentIndex(3);
    QVERIFY(MessageBoxes::TakeShown().isEmpty());
    QCOMPARE(window.Tabs()->currentIndex(), 3);
    QWidget* page = window.Tabs()->widget(3);
    auto* combo = page->findChild<QComboBox*>("cb_provider");
    QVERIFY(combo);
    QStringList offered;
    for (int i = 0; i < combo->count(); ++i)
        offered << combo->itemText(i);
    QCOMPARE(offered, (QStringList{"Alpha", "丙（14）", "丙（15）", "乙商行（1）", "乙商行（2）"}));

    combo->setCurrentIndex(3);
    const QStringList inputs{"货", "42", "1", "1", "2"};
    const char* const fields[] = {"le_ptname", "le_ptbarcode", "le_ptnum", "le_ptoprice",
                                  "le_ptrpice"};
    for (int i = 0; i < inputs.size(); ++i)
        page->findChild<QLineEdit*>(fields[i])->setText(inputs.at(i));
    page->findChild<QPushButton*>("pb_addpurchase")->click();
    QVERIFY(MessageBoxes::TakeShown().isEmpty());
    QCOMPARE(stockDb.QueryPurchasesByBarcode("42").value(0).purchase_provider_guid, QString("11"));
}

// On a shared store a provider added at another till shows when the tab is
// shown again; the file's list follows only this screen's own changes.
void TestMainWindow::providerTabFollowsOtherTills()
{
    TempStore store;
    Pellory window(store.Dir());
    QVERIFY(stockDb.InsertProvider("11", "甲", "", "", "", "", ""));
    window.Tabs()->setCurrentIndex(5);
    const auto* list = window.Tabs()->widget(5)->findChild<QTableView*>("tableView");
    QVERIFY(list);
    QCOMPARE(list->model()->rowCount(), TempStore::OnServer() ? 1 : 0);
}

void TestMainWindow::closingFromLastTabAsksNothing()
{
    TempStore store;
    {
        Pellory window(store.Dir());
        window.Tabs()->setCurrentIndex(5);
        MessageBoxes::TakeShown();
    }
    QVERIFY(MessageBoxes::TakeShown().isEmpty());
}

// Hidden in the tray, the program ends only through the window's close
// button or "退出": a box answered meanwhile must not end it.
void TestMainWindow::hiddenWindowOutlivesAnsweredBox()
{
    TempStore store;
    Pellory window(store.Dir());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.TrayMenu()->actions().first()->trigger();
    QVERIFY(!window.isVisible());

    bool closedByWindow = false;
    QTimer::singleShot(0, &window, [&] {
        // A real box, not the wrapper's stand-in: its closing is what counts.
        QMessageBox box(QMessageBox::Question, QStringLiteral("发现新版本 是否下载"), QString(),
                        QMessageBox::Yes | QMessageBox::No);
        QTimer::singleShot(0, &box, [&box] { box.button(QMessageBox::No)->click(); });
        box.exec();
        QTimer::singleShot(100, &window, [&] {
            closedByWindow = true;
            window.close();
        });
    });
    QTimer watchdog;
    connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(closedByWindow);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

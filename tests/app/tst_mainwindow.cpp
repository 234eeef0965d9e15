#include "app/Pellory.h"
#include "screens/CTPasswordDialog.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGraphicsTextItem>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBoxes::SetTestMode(true); }
    void tabsInOrderWithTitles();
    void imagesArePicturesOfTheirSizes();
    void tabBarFollowsWindowWidth();
    void listsShowTextsInFull_data();
    void listsShowTextsInFull();
    void clockShowsMilliseconds();
    void trayMenuEntries();
    void escapeKeepsEveryPage();
    void stockInWithoutProvidersSendsToProviderTab();
    void stockInOffersEveryProvider();
    void providerTabFollowsOtherTills();
    void closingFromLastTabAsksNothing();
    void hiddenWindowOutlivesAnsweredBox();
    void passwordDialogChecksThenRekeys_data();
    void passwordDialogChecksThenRekeys();
    void startAsksForThePassphrase_data();
    void startAsksForThePassphrase();
};

// Whether the sqlcipher command-line tool reads the file with `key`.
static bool ToolReads(const QString& file, QString key)
{
    QProcess tool;
    tool.start("sqlcipher", {file});
    tool.write("PRAGMA key = '" + key.replace("'", "''").toUtf8() +
               "';\nSELECT 'read' FROM sqlite_master LIMIT 1;\n");
    tool.closeWriteChannel();
    return tool.waitForFinished(20000) && tool.readAllStandardOutput().trimmed() == "read";
}

void TestMainWindow::tabsInOrderWithTitles()
{
    TempStore store;
    Pellory window(store.Dir());
    const QStringList expected = {"今日出货", "订单管理",   "库存管理", "今日进货",
                                  "进货管理", "供应商管理", "经营统计"};
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
    QVERIFY(qobject_cast<CTStatistics*>(tabs->widget(6)));
    QCOMPARE(window.CheckVerTimer()->interval(), 60000);
    QVERIFY(window.CheckVerTimer()->isActive());
}

void TestMainWindow::imagesArePicturesOfTheirSizes()
{
    const QMap<QString, QSize> sizes = {
        {"exe", {32, 32}},      {"todaysale", {32, 32}},   {"order", {31, 31}},
        {"stock", {32, 32}},    {"purchase", {32, 32}},    {"purchasemanager", {32, 32}},
        {"provider", {32, 32}}, {"addprovider", {28, 31}}, {"additem", {29, 31}},
        {"pay", {39, 32}},      {"cancelpay", {39, 31}},   {"search", {32, 32}}};
    for (auto size = sizes.begin(); size != sizes.end(); ++size) {
        const QImage picture(":/Pellory/images/" + size.key() + ".png");
        QCOMPARE(picture.size(), size.value());
        QSet<QRgb> opaqueColours; // a drawing, not a square of one colour
        for (int at = 0; at < picture.width() * picture.height(); ++at) {
            const QRgb pixel = picture.pixel(at % picture.width(), at / picture.width());
            if (qAlpha(pixel) == 255)
                opaqueColours.insert(pixel);
        }
        QVERIFY2(opaqueColours.size() >= 3, qPrintable(size.key()));
    }
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

void TestMainWindow::listsShowTextsInFull_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1280 x 720") << QSize(1280, 720);
    QTest::newRow("1024 x 768 screen under a panel") << QSize(1024, 700);
}

// Times, names, barcodes, quantities and amounts are never cut, in rows that
// come with a tab or are appended on it; only identifiers may be.
void TestMainWindow::listsShowTextsInFull()
{
    QFETCH(QSize, size);
    TempStore store;
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
    QVERIFY(stockDb.InsertProvider("1", "Bolt Supply", "555-0199", "1 Dock Road", "L", "F", ""));
    QVERIFY(stockDb.InsertPurchase(now, "2", "B1", "Milk", "0123456789012", "1000", "1", "", "1"));
    QVERIFY(stockDb.InsertProduct("3", "Green Tea", "0123456789012", "1000", "1", "1", "2.5"));
    QVERIFY(stockDb.InsertOrder({"4", now, "12345.67", "12"}));
    QVERIFY(stockDb.InsertOrderDetail(
        {"4", now, "12345.67", "Green Tea", "3", "0123456789012", "12", "1028.81", "12345.67"}));
    Pellory window(store.Dir());
    window.resize(size);
    window.show();
    QTest::keyClicks(window.Tabs()->widget(0)->findChild<QLineEdit*>("le_barcode"),
                     "0123456789012\r");
    for (int tab = 0; tab < window.Tabs()->count(); ++tab) {
        window.Tabs()->setCurrentIndex(tab);
        QWidget* page = window.Tabs()->currentWidget();
        if (tab == 3) {
            const QMap<QString, QString> booking{{"le_ptname", "Green Tea Jasmine"},
                                                 {"le_ptbarcode", "AB-1001"},
                                                 {"le_ptnum", "5"},
                                                 {"le_ptrpice", "4.75"}};
            for (auto field = booking.begin(); field != booking.end(); ++field)
                page->findChild<QLineEdit*>(field.key())->setText(field.value());
            page->findChild<QPushButton*>("pb_addpurchase")->click();
        }
        if (auto* orders = page->findChild<QTableView*>("tv_orderlist"))
            orders->setCurrentIndex(orders->model()->index(0, 0));
        QTest::qWait(50);
        for (const auto* view : page->findChildren<QTableView*>(QRegularExpression("^tv_"))) {
            for (int column = 0; column < view->model()->columnCount(); ++column) {
                const QString title = view->model()->headerData(column, Qt::Horizontal).toString();
                const int needed =
                    qMax(static_cast<const QAbstractItemView*>(view)->sizeHintForColumn(column),
                         view->horizontalHeader()->sectionSizeHint(column));
                // The order history's two lists share the tab: each is seen
                // whole, without scrolling sideways.
                const int right = view->columnViewportPosition(column) + view->columnWidth(column);
                QVERIFY2(title.endsWith("ID") || (view->columnWidth(column) >= needed &&
                                                  (tab != 1 || right <= view->viewport()->width())),
                         qPrintable(window.Tabs()->tabText(tab) + ", " + title));
            }
        }
    }
    window.Tabs()->setCurrentIndex(1);
    QStringList hourLabels;
    for (const QGraphicsItem* item :
         window.Tabs()->widget(1)->findChild<QtCharts::QChartView*>()->scene()->items()) {
        if (const auto* label = dynamic_cast<const QGraphicsTextItem*>(item))
            hourLabels << label->toPlainText();
    }
    for (int hour = 0; hour < 24; ++hour)
        QVERIFY2(hourLabels.contains(QString("%1点").arg(hour)), qPrintable(hourLabels.join(' ')));
}

void TestMainWindow::clockShowsMilliseconds()
{
    TempStore store;
    Pellory window(store.Dir());
    emit window.findChild<CTTodaySale*>()->LowStockNoted("库存不足：Milk 剩余 2");
    QTRY_VERIFY_WITH_TIMEOUT(!window.StatusBar()->currentMessage().isEmpty(), 2500);
    // A note of the checkout stays beside it.
    QCOMPARE(window.findChild<QLabel*>("lb_lowStock")->text(), QString("库存不足：Milk 剩余 2"));
    QVERIFY(window.findChild<QLabel*>("lb_lowStock")->isVisibleTo(&window));
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
    QCOMPARE(texts, QStringList({"隐藏", "最大化", "恢复", "设置数据库密码", "打印机设置", "开钱箱",
                                 "-", "退出"}));
    // The drawer opens through a printer only.
    QVERIFY(!window.findChild<QAction*>("drawerAction")->isVisible());
    // A server has logins of its own: only the file takes the shop's key.
    QCOMPARE(window.findChild<QAction*>("passwordAction")->isVisible(), !TempStore::OnServer());
    // A store without the shop's key to set is offered none.
    stockDb.CloseStockDb();
    QVERIFY(!Pellory(store.Dir()).findChild<QAction*>("passwordAction")->isVisible());
}

void TestMainWindow::escapeKeepsEveryPage()
{
    TempStore store;
    Pellory window(store.Dir());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int index : {0, 1, 2, 4, 5, 6}) {
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

void TestMainWindow::passwordDialogChecksThenRekeys_data()
{
    // The store's key before and after ("": the program's), the three entries, the box.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("keyAfter");
    QTest::addColumn<bool>("held");
    // clang-format off
    QTest::newRow("wrong current first") << "旧的密码旧的密码" << QStringList{"旧的", "a", "b"} << "当前密码不正确" << "旧的密码旧的密码" << false;
    QTest::newRow("differ before short") << "" << QStringList{"", "abc", "abd"} << "两次输入的密码不一致" << "" << false;
    QTest::newRow("short") << "" << QStringList{"", "1234567", "1234567"} << "密码至少需要8个字符" << "" << false;
    QTest::newRow("set") << "" << QStringList{"", "12345678", "12345678"} << "密码已修改" << "12345678" << false;
    QTest::newRow("change") << "12345678" << QStringList{"12345678", "新的 'key'", "新的 'key'"} << "密码已修改" << "新的 'key'" << false;
    QTest::newRow("remove") << "12345678" << QStringList{"12345678", "", ""} << "密码已修改" << "" << false;
    // Another program holds the file: the box gives its reason.
    QTest::newRow("file held") << "" << QStringList{"", "12345678", "12345678"} << "密码修改失败，密码未更改\ndatabase is locked" << "" << true;
    // clang-format on
}

void TestMainWindow::passwordDialogChecksThenRekeys()
{
    if (TempStore::OnServer())
        QSKIP("the file's own key");
    QFETCH(QString, key);
    QFETCH(QStringList, entries);
    QFETCH(QString, box);
    QFETCH(QString, keyAfter);
    QFETCH(bool, held);
    TempStore store;
    QVERIFY(key.isEmpty() || stockDb.ChangeKey(key));
    QSqlDatabase holder = QSqlDatabase::addDatabase("SQLITECIPHER", "holder");
    holder.setDatabaseName(store.DbPath());
    holder.setPassword(StockDb::FilePassword());
    QSqlQuery reading(holder);
    QVERIFY(!held || (holder.open() && reading.exec("BEGIN") &&
                      reading.exec("SELECT * FROM sqlite_master") && reading.next()));
    CTPasswordDialog dialog;
    const QStringList fields = {"le_oldpassword", "le_newpassword", "le_newpassword2"};
    for (int i = 0; i < fields.size(); ++i) {
        auto* field = dialog.findChild<QLineEdit*>(fields[i]);
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(field->isEnabled(), i > 0 || !key.isEmpty());
        field->setText(entries[i]);
    }
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title + shown[0].text, "Quorrin1009" + box);
    reading = QSqlQuery();
    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase("holder");
    QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    QVERIFY(ToolReads(store.DbPath(), keyAfter.isEmpty() ? "19970408maple" : keyAfter));
    QVERIFY(keyAfter.isEmpty() || !ToolReads(store.DbPath(), "19970408maple"));
}

void TestMainWindow::startAsksForThePassphrase_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("prompts");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("told");
    const QString refused = "数据库未能打开：密码未被接受，或数据库文件 Stock.db 已损坏。";
    QTest::newRow("right on the third")
        << QStringList{"", "wrong one", "the shop's"} << 3 << true << false << "";
    QTest::newRow("three wrong") << QStringList{"a", "b", "c", "the shop's"} << 3 << false << false
                                 << refused;
    QTest::newRow("cancelled") << QStringList() << 1 << false << false << refused;
    // A first page that does not decrypt looks like another key.
    QTest::newRow("damaged, never had a passphrase")
        << QStringList{"the shop's"} << 0 << false << true
        << "数据库文件 Stock.db 已损坏：它从未设置过密码";
}

void TestMainWindow::startAsksForThePassphrase()
{
    if (TempStore::OnServer())
        QSKIP("the file's own key");
    QFETCH(QStringList, entries);
    QFETCH(int, prompts);
    QFETCH(bool, opens);
    QFETCH(bool, damaged);
    QFETCH(QString, told);
    TempStore store;
    QFile file(store.DbPath());
    if (damaged) {
        stockDb.CloseStockDb();
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(100) &&
                file.write(QByteArray(100, 'x')));
        file.close();
    } else {
        QVERIFY(stockDb.ChangeKey("the shop's"));
    }
    stockDb.OpenStockDb(QString());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    for (const QString& entry : entries)
        MessageBoxes::SetNextEntry(entry);
    const QString closedBecause = CTPasswordDialog::UnlockStore();
    QCOMPARE(stockDb.IsOpen(), opens);
    QVERIFY(opens || (file.seek(0) && file.readAll() == before));
    const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), prompts);
    for (int i = 0; i < prompts; ++i)
        QCOMPARE(shown[i].title + shown[i].text,
                 QString(i ? "Quorrin1009密码未被接受（也可能是数据库文件已损坏）\n请输入数据库密码"
                           : "Quorrin1009请输入数据库密码"));
    // The way out: the restore steps from backup/.
    QVERIFY(opens ? closedBecause.isEmpty()
                  : closedBecause.startsWith(told) &&
                        closedBecause.contains("backup 文件夹中最近一天的 Stock-yyyy-MM-dd.db"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

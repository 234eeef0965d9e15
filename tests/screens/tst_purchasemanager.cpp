#include "screens/CTTPurchaseManager.h"
#include "screens/MessageBoxes.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QCalendarWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>
#include <memory>

namespace {
const QString kBarcode = "6901234567892";
} // namespace

class TestPurchaseManager : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void refreshListsEveryPurchaseByScrolling_data();
    void refreshListsEveryPurchaseByScrolling();
    void searches_data();
    void searches();
    void emptySearchFieldsLeaveTableAlone();
    void deleteTakesQuantityOutOfStock_data();
    void deleteTakesQuantityOutOfStock();
    void deleteNotDone_data();
    void deleteNotDone();

private:
    void AddPurchase(const QString& guid, const QString& time, const QString& billNo,
                     const QString& barcode, const QString& num = "5",
                     const QString& providerGuid = "501");
    void AddProduct(const QString& stock);
    void DeleteRowThroughMenu(int row, QMessageBox::StandardButton answer);
    QStringList ShownGuids() const;
    QString Stock();

    std::unique_ptr<TempStore> store;
    // The main window shows each screen as a tab page, not as a window.
    std::unique_ptr<QTabWidget> tabs;
    std::unique_ptr<CTTPurchaseManager> screen;
    QTableView* view = nullptr;
    QStandardItemModel* model = nullptr;
};

void TestPurchaseManager::init()
{
    MessageBoxes::SetTestMode(true);
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
    store->Exec("insert into providers(provider_guid,provider_name) values (501,'东方供应')");
    screen = std::make_unique<CTTPurchaseManager>();
    view = screen->findChild<QTableView*>("tv_puchases");
    QVERIFY(view);
    model = qobject_cast<QStandardItemModel*>(view->model());
    QVERIFY(model);
    tabs = std::make_unique<QTabWidget>();
    tabs->addTab(screen.get(), "tab");
    tabs->show();
    QVERIFY(QTest::qWaitForWindowActive(tabs.get()));
}

void TestPurchaseManager::cleanup()
{
    screen.reset();
    tabs.reset();
    store.reset();
    MessageBoxes::SetTestMode(false);
}

void TestPurchaseManager::AddPurchase(const QString& guid, const QString& time,
                                      const QString& billNo, const QString& barcode,
                                      const QString& num, const QString& providerGuid)
{
    const QSqlQuery query = store->Exec(
        QString("insert into purchases(purchase_guid,purchase_time,purchase_id,"
                "purchase_product_name,purchase_product_barcode,purchase_product_num,"
                "purchase_provider_guid,purchase_product_oprice,purchase_product_rprice) "
                "values (%1,'%2','%3','水','%4','%5',%6,1.5,2)")
            .arg(guid, time, billNo, barcode, num, providerGuid));
    QVERIFY2(!query.lastError().isValid(), qPrintable(query.lastError().text()));
}

void TestPurchaseManager::AddProduct(const QString& stock)
{
    const QSqlQuery query = store->Exec(
        QString("insert into products(product_guid,product_name,product_barcode,product_num,"
                "product_provider_guid) values (1001,'水','%1','%2',501)")
            .arg(kBarcode, stock));
    QVERIFY2(!query.lastError().isValid(), qPrintable(query.lastError().text()));
}

void TestPurchaseManager::DeleteRowThroughMenu(int row, QMessageBox::StandardButton answer)
{
    MessageBoxes::SetNextAnswer(answer);
    RightClickFirstEntry(view, view->visualRect(model->index(row, 0)).center());
}

QStringList TestPurchaseManager::ShownGuids() const
{
    QStringList guids;
    for (int row = 0; row < model->rowCount(); ++row)
        guids.append(model->item(row, 8)->text());
    return guids;
}

QString TestPurchaseManager::Stock()
{
    return store->Scalar("select product_num from products where product_guid=1001").toString();
}

void TestPurchaseManager::refreshListsEveryPurchaseByScrolling_data()
{
    QTest::addColumn<int>("deletedRow");
    QTest::addColumn<bool>("unreadable");

    QTest::newRow("untouched") << -1 << false;
    QTest::newRow("a row deleted") << 1 << false;
    QTest::newRow("second page unreadable at first") << -1 << true;
}

void TestPurchaseManager::refreshListsEveryPurchaseByScrolling()
{
    QFETCH(int, deletedRow);
    QFETCH(bool, unreadable);
    AddPurchase("2000", "2021-03-05 08:00:00", "1001", kBarcode, "5", "999");
    QStringList stored{"2000"};
    for (int i = 1; i <= 149; ++i) {
        AddPurchase(QString::number(2000 + i), "2021-03-05 09:00:00", "1002", kBarcode);
        stored.append(QString::number(2000 + i));
    }
    QCOMPARE(model->rowCount(), 0);

    screen->RefreshPurchaseList();

    QCOMPARE(model->rowCount(), 100);
    const QStringList headers{"进货时间", "供应商",   "货单号",   "商品名", "商品条码",
                              "商品数量", "商品进价", "商品售价", "进货ID"};
    for (int column = 0; column < headers.size(); ++column)
        QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), headers.at(column));
    const QStringList first{
        "2021-03-05 08:00:00", "", "1001", "水", kBarcode, "5", "1.5", "2", "2000"};
    for (int column = 0; column < first.size(); ++column)
        QCOMPARE(model->item(0, column)->text(), first.at(column));
    QCOMPARE(model->item(1, 1)->text(), QString("东方供应"));

    const QModelIndex cell = model->index(1, 3);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
    QVERIFY(!view->indexWidget(cell));

    if (deletedRow >= 0) {
        DeleteRowThroughMenu(deletedRow, QMessageBox::Yes);
        stored.removeAt(deletedRow);
    }
    if (unreadable) {
        QCOMPARE(ScrollToEndWhileUnreadable(view, "purchases"),
                 QStringList("Quorrin1009: 读取失败\nno such table: purchases"));
    }
    ScrollToEnd(view);
    QCOMPARE(ShownGuids(), stored);
}

void TestPurchaseManager::searches_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("bill number") << "bill"
                                 << "1001" << QStringList({"3001", "3003"});
    QTest::newRow("bill number with leading zero") << "bill"
                                                   << "0777" << QStringList("3002");
    QTest::newRow("bill number with letters") << "bill"
                                              << "A1001" << QStringList("3004");
    QTest::newRow("unknown bill number") << "bill"
                                         << "42" << QStringList();
    QTest::newRow("barcode") << "barcode" << kBarcode << QStringList({"3001", "3003"});
    QTest::newRow("barcode with leading zero") << "barcode"
                                               << "0123" << QStringList("3002");
    QTest::newRow("barcode with letters") << "barcode"
                                          << "A12" << QStringList("3004");
    QTest::newRow("day, both ends included") << "day"
                                             << "2021-03-05" << QStringList({"3001", "3003"});
    QTest::newRow("day without purchases") << "day"
                                           << "2021-03-07" << QStringList();
}

void TestPurchaseManager::searches()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QStringList, found);
    AddPurchase("3001", "2021-03-05 00:00:00", "1001", kBarcode);
    AddPurchase("3002", "2021-03-04 23:59:59", "0777", "0123");
    AddPurchase("3003", "2021-03-05 23:59:59", "1001", kBarcode);
    AddPurchase("3004", "2021-03-06 00:00:00", "A1001", "A12");
    AddPurchase("3005", "2021-03-06 10:00:00", "777", "123");
    screen->RefreshPurchaseList();
    QCOMPARE(model->rowCount(), 5);

    if (field == "bill") {
        QTest::keyClicks(screen->findChild<QLineEdit*>("le_pid"), text);
        QTest::mouseClick(screen->findChild<QPushButton*>("pb_query"), Qt::LeftButton);
    } else if (field == "barcode") {
        auto* barcode = screen->findChild<QLineEdit*>("le_barcode");
        QTest::keyClicks(barcode, text);
        QTest::keyClick(barcode, Qt::Key_Return);
    } else {
        emit screen->findChild<QCalendarWidget*>("calendarWidget")
            ->clicked(QDate::fromString(text, Qt::ISODate));
    }

    QCOMPARE(ShownGuids(), found);
    QCOMPARE(TakeBoxes(), QStringList());
}

void TestPurchaseManager::emptySearchFieldsLeaveTableAlone()
{
    AddPurchase("3001", "2021-03-05 00:00:00", "1001", kBarcode);
    screen->RefreshPurchaseList();
    auto* barcode = screen->findChild<QLineEdit*>("le_barcode");

    // The bill search ignores a filled barcode field.
    QTest::keyClicks(barcode, "123");
    QTest::mouseClick(screen->findChild<QPushButton*>("pb_query"), Qt::LeftButton);
    QCOMPARE(TakeBoxes(), QStringList("Quorrin1009: 输入货单号再点击查询"));
    QCOMPARE(ShownGuids(), QStringList("3001"));

    // Back in the barcode field the button is no longer the one Return presses.
    QTest::mouseClick(barcode, Qt::LeftButton);
    barcode->clear();
    QTest::keyClick(barcode, Qt::Key_Return);
    QCOMPARE(TakeBoxes(), QStringList());
    QCOMPARE(ShownGuids(), QStringList("3001"));
}

void TestPurchaseManager::deleteTakesQuantityOutOfStock_data()
{
    QTest::addColumn<QString>("stock");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QString>("left");

    QTest::newRow("enough stock") << "12"
                                  << "5"
                                  << "7";
    QTest::newRow("exactly the quantity") << "5"
                                          << "5"
                                          << "0";
    QTest::newRow("less stock than bought") << "3"
                                            << "5"
                                            << "0";
    QTest::newRow("beyond 32 bits") << "5000000000"
                                    << "1"
                                    << "4999999999";
}

void TestPurchaseManager::deleteTakesQuantityOutOfStock()
{
    QFETCH(QString, stock);
    QFETCH(QString, quantity);
    QFETCH(QString, left);
    AddProduct(stock);
    AddPurchase("3001", "2021-03-05 08:00:00", "1001", kBarcode, "1");
    AddPurchase("3002", "2021-03-05 09:00:00", "1002", kBarcode, quantity);
    screen->RefreshPurchaseList();

    DeleteRowThroughMenu(1, QMessageBox::Yes);

    QCOMPARE(TakeBoxes(),
             QStringList("提示: 删除此条进货信息，会影响商品的库存数据，是否确定删除?"));
    QCOMPARE(Stock(), left);
    QCOMPARE(store->Count("purchases"), 1);
    QCOMPARE(ShownGuids(), QStringList("3001"));
}

void TestPurchaseManager::deleteNotDone_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("failureShown");

    QTest::newRow("answered no") << int(QMessageBox::No) << "" << false;
    QTest::newRow("every write refused") << int(QMessageBox::Yes) << "query_only" << true;
    QTest::newRow("stock update refused after the delete")
        << int(QMessageBox::Yes)
        << "CREATE TRIGGER refuse BEFORE UPDATE ON products BEGIN SELECT RAISE(ABORT,'no'); END"
        << true;
}

void TestPurchaseManager::deleteNotDone()
{
    QFETCH(int, answer);
    QFETCH(QString, refusal);
    QFETCH(bool, failureShown);
    AddProduct("12");
    AddPurchase("3001", "2021-03-05 08:00:00", "1001", kBarcode, "5");
    screen->RefreshPurchaseList();
    if (refusal == "query_only")
        store->RefuseWrites();
    else if (!refusal.isEmpty())
        QVERIFY(!store->Exec(refusal).lastError().isValid());

    DeleteRowThroughMenu(0, QMessageBox::StandardButton(answer));

    QStringList shown{"提示: 删除此条进货信息，会影响商品的库存数据，是否确定删除?"};
    if (failureShown)
        shown.append("Quorrin1009: 删除失败，数据未更改");
    QCOMPARE(TakeBoxes(), shown);
    QCOMPARE(Stock(), QString("12"));
    QCOMPARE(store->Count("purchases"), 1);
    QCOMPARE(ShownGuids(), QStringList("3001"));
}

QTEST_MAIN(TestPurchaseManager)
#include "tst_purchasemanager.moc"

#include "screens/CTTodayPurchase.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>
#include <memory>

namespace {
// The inputs a booking reads, in form order.
const char* const kInputs[] = {"le_ptname", "le_ptbarcode", "le_ptnum", "le_ptoprice",
                               "le_ptrpice"};
} // namespace

class TstTodayPurchase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void existingBarcodeAddsToStock_data();
    void existingBarcodeAddsToStock();
    void newBarcodeCreatesProduct_data();
    void newBarcodeCreatesProduct();
    void missingInputIsRefused_data();
    void missingInputIsRefused();
    void bookingWithoutProviderList();
    void providerPickSurvivesRefresh_data();
    void providerPickSurvivesRefresh();
    void failedBookingStoresNothing_data();
    void failedBookingStoresNothing();
    void returnFillsFromStoredProduct_data();
    void returnFillsFromStoredProduct();
    void listsTodaysBookingsOnly();

private:
    template <class T> T* Child(const char* name) { return FindChild<T>(screen, name); }
    QLineEdit* Edit(const char* name) { return Child<QLineEdit>(name); }
    QStandardItemModel* Model()
    {
        return qobject_cast<QStandardItemModel*>(Child<QTableView>("tv_purchase")->model());
    }
    QStringList Row(int row);
    void Open();
    void Fill(const QStringList& inputs);
    void Book() { QTest::mouseClick(Child<QPushButton>("pb_addpurchase"), Qt::LeftButton); }

    std::unique_ptr<TempStore> store;
    std::unique_ptr<QTabWidget> host;
    CTTodayPurchase* screen = nullptr;
};

void TstTodayPurchase::initTestCase()
{
    UseForwardMovingClock();
}

void TstTodayPurchase::init()
{
    MessageBoxes::SetTestMode(true);
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
}

void TstTodayPurchase::cleanup()
{
    host.reset();
    store.reset();
}

void TstTodayPurchase::Open()
{
    screen = new CTTodayPurchase();
    host = ShowAsTab(screen);
}

void TstTodayPurchase::Fill(const QStringList& inputs)
{
    for (int i = 0; i < inputs.size(); ++i) {
        Edit(kInputs[i])->clear();
        Type(Edit(kInputs[i]), inputs.at(i));
    }
}

QStringList TstTodayPurchase::Row(int row)
{
    QStringList cells;
    for (int column = 0; column < Model()->columnCount(); ++column)
        cells << Model()->item(row, column)->text();
    return cells;
}

void TstTodayPurchase::existingBarcodeAddsToStock_data()
{
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<QString>("stock");
    QTest::addColumn<QString>("expected");
    QTest::newRow("EAN-13") << "6901234567892"
                            << "5"
                            << "11";
    QTest::newRow("leading zero") << "0123"
                                  << "5"
                                  << "11";
    QTest::newRow("letters") << "AB-12"
                             << "5"
                             << "11";
    QTest::newRow("beyond 32 bits") << "77"
                                    << "2147483647"
                                    << "2147483653";
}

void TstTodayPurchase::existingBarcodeAddsToStock()
{
    QFETCH(QString, barcode);
    QFETCH(QString, stock);
    QFETCH(QString, expected);
    QVERIFY(stockDb.InsertProduct("900", "可乐", barcode, stock, "1", "2.5", "3.5"));
    Open();
    screen->SetProviderMap({{"乙", "22"}, {"甲", "11"}});
    QCOMPARE(Child<QComboBox>("cb_provider")->currentText(), QString("乙"));

    // Two presses without editing book twice, each under its own identifier.
    Fill({"别名", barcode, "3", "9", "9"});
    QStringList guids;
    for (int press = 0; press < 2; ++press) {
        guids << Edit("le_pcguid")->text();
        Book();
    }
    QVERIFY(TakeBoxes().isEmpty());
    QVERIFY(guids.at(0) != guids.at(1));
    QVERIFY(!guids.contains(Edit("le_pcguid")->text()));
    QCOMPARE(Edit("le_ptname")->text(), QString("别名"));

    const ProductInfo product = stockDb.QueryProductByBarcode(barcode);
    QCOMPARE(product.product_num, expected);
    QCOMPARE(product.product_name, QString("可乐"));
    QCOMPARE(product.product_original_price.toDouble(), 2.5);
    QCOMPARE(product.product_retail_price.toDouble(), 3.5);
    QCOMPARE(store->Count("products"), 1);

    QCOMPARE(Model()->rowCount(), 2);
    QCOMPARE(Row(1).mid(1), (QStringList{"乙", "", "别名", barcode, "3", "9", "9", guids.at(1)}));
    const PurchaseList stored = stockDb.QueryPurchasesByBarcode(barcode);
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored.at(1).purchase_guid, guids.at(1));
    QCOMPARE(stored.at(1).purchase_time, Row(1).at(0));
    QCOMPARE(stored.at(1).purchase_provider_guid, QString("22"));
    QCOMPARE(stored.at(1).purchase_product_name, QString("别名"));
}

void TstTodayPurchase::newBarcodeCreatesProduct_data()
{
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<QString>("oprice");
    QTest::newRow("EAN-13") << "6901234567892"
                            << "2.5";
    QTest::newRow("leading zero") << "0123"
                                  << "2.5";
    QTest::newRow("letters") << "AB-12"
                             << "2.5";
    QTest::newRow("no purchase price") << "55"
                                       << "";
}

void TstTodayPurchase::newBarcodeCreatesProduct()
{
    QFETCH(QString, barcode);
    QFETCH(QString, oprice);
    Open();
    screen->SetProviderMap({{"甲", "11"}});
    Fill({"新品", barcode, "7", oprice, "3.5"});
    const QString guid = Edit("le_pcguid")->text();
    Book();
    QVERIFY(TakeBoxes().isEmpty());

    const ProductInfo product = stockDb.QueryProductByBarcode(barcode);
    QCOMPARE(product.product_name, QString("新品"));
    QCOMPARE(product.product_num, QString("7"));
    QCOMPARE(product.product_provider_guid, QString("11"));
    QCOMPARE(product.product_original_price, oprice.isEmpty() ? QString() : QString("2.5"));
    QCOMPARE(product.product_retail_price, QString("3.5"));
    QVERIFY(!product.product_guid.isEmpty());
    QVERIFY(product.product_guid != guid);
    QCOMPARE(store->Count("purchases"), 1);
    QCOMPARE(Row(0).last(), guid);
}

void TstTodayPurchase::missingInputIsRefused_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{} << "商品名不能为空";
    QTest::newRow("only name missing") << QStringList{"", "1", "2", "3", "4"} << "商品名不能为空";
    QTest::newRow("barcode") << QStringList{"a", "", "2", "3", "4"} << "条形码不能为空";
    QTest::newRow("quantity") << QStringList{"a", "1", "", "3", "4"} << "数量不能为空";
    QTest::newRow("sale price") << QStringList{"a", "1", "2", "3", ""} << "商品售价不能为空";
    QTest::newRow("half-typed sale price")
        << QStringList{"a", "1", "2", "3", "."} << "商品售价格式不正确";
    QTest::newRow("purchase price above range")
        << QStringList{"a", "1", "2", "999999999.5", "4"} << "商品进价格式不正确";
    // Typed key by key: a field that dropped the refused key would book 15 and 2.55.
    QTest::newRow("fractional quantity")
        << QStringList{"a", "1", "1.5", "3", "4"} << "数量必须是整数";
    QTest::newRow("third decimal")
        << QStringList{"a", "1", "2", "2.555", "4"} << "价格最多两位小数";
}

void TstTodayPurchase::missingInputIsRefused()
{
    QFETCH(QStringList, inputs);
    QFETCH(QString, message);
    Open();
    Fill(inputs);
    const QString guid = Edit("le_pcguid")->text();
    Book();
    QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: " + message});
    QCOMPARE(Edit("le_pcguid")->text(), guid);
    QCOMPARE(Model()->rowCount(), 0);
    QCOMPARE(store->Count("purchases") + store->Count("products"), 0);
}

void TstTodayPurchase::bookingWithoutProviderList()
{
    Open();
    Fill({"无源", "42", "1", "1", "2"});
    Book();
    QVERIFY(TakeBoxes().isEmpty());
    QCOMPARE(Row(0).at(1), QString());
    QCOMPARE(stockDb.QueryPurchasesByBarcode("42").value(0).purchase_provider_guid, QString());
    QCOMPARE(stockDb.QueryProductByBarcode("42").product_num, QString("1"));
}

using ProviderMap = QMap<QString, QString>;

void TstTodayPurchase::providerPickSurvivesRefresh_data()
{
    QTest::addColumn<ProviderMap>("refreshed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("bookedGuid");
    // The first list offers 乙 (22) first; the shopkeeper picks 甲 (11).
    QTest::newRow("same list") << ProviderMap{{"乙", "22"}, {"甲", "11"}} << "甲"
                               << "11";
    QTest::newRow("namesake added")
        << ProviderMap{{"乙", "22"}, {"甲（1）", "11"}, {"甲（2）", "33"}} << "甲（1）"
        << "11";
    QTest::newRow("picked one deleted") << ProviderMap{{"乙", "22"}, {"丙", "33"}} << "丙"
                                        << "33";
}

void TstTodayPurchase::providerPickSurvivesRefresh()
{
    QFETCH(ProviderMap, refreshed);
    QFETCH(QString, shown);
    QFETCH(QString, bookedGuid);
    Open();
    auto* providers = Child<QComboBox>("cb_provider");
    screen->SetProviderMap({{"乙", "22"}, {"甲", "11"}});
    providers->setCurrentIndex(providers->findText("甲"));
    screen->SetProviderMap(refreshed);
    QCOMPARE(providers->currentText(), shown);
    Fill({"货", "42", "1", "1", "2"});
    Book();
    QCOMPARE(stockDb.QueryPurchasesByBarcode("42").value(0).purchase_provider_guid, bookedGuid);
}

void TstTodayPurchase::failedBookingStoresNothing_data()
{
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<QString>("refusal");
    const QString refuseInsert = "CREATE TRIGGER refuse BEFORE INSERT ON products "
                                 "BEGIN SELECT RAISE(ABORT, 'refused'); END";
    const QString refuseUpdate = "CREATE TRIGGER refuse BEFORE UPDATE ON products "
                                 "BEGIN SELECT RAISE(ABORT, 'refused'); END";
    QTest::newRow("read-only, known barcode") << "100" << QString();
    QTest::newRow("read-only, new barcode") << "200" << QString();
    QTest::newRow("stock update refused") << "100" << refuseUpdate;
    QTest::newRow("product insert refused") << "200" << refuseInsert;
}

void TstTodayPurchase::failedBookingStoresNothing()
{
    QFETCH(QString, barcode);
    QFETCH(QString, refusal);
    QVERIFY(stockDb.InsertProduct("900", "旧品", "100", "12", "1", "1", "2"));
    Open();
    if (refusal.isEmpty())
        store->RefuseWrites();
    else
        QVERIFY(!store->Exec(refusal).lastError().isValid());
    Fill({"货", barcode, "5", "1", "2"});
    const QString guid = Edit("le_pcguid")->text();
    Book();
    QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: 进货失败，数据未保存"});
    QCOMPARE(Model()->rowCount(), 0);
    QCOMPARE(store->Count("purchases"), 0);
    QCOMPARE(store->Count("products"), 1);
    QCOMPARE(stockDb.QueryProductByBarcode("100").product_num, QString("12"));
    // Kept for booking again: stored by then, it could never be stored twice.
    QCOMPARE(Edit("le_pcguid")->text(), guid);
}

void TstTodayPurchase::returnFillsFromStoredProduct_data()
{
    QTest::addColumn<QString>("barcode");
    QTest::addColumn<bool>("known");
    QTest::newRow("EAN-13") << "6901234567892" << true;
    QTest::newRow("leading zero") << "0123" << true;
    QTest::newRow("letters") << "AB-12" << true;
    QTest::newRow("zero dropped") << "123" << false;
    QTest::newRow("unknown") << "999" << false;
}

void TstTodayPurchase::returnFillsFromStoredProduct()
{
    QFETCH(QString, barcode);
    QFETCH(bool, known);
    for (const QString& stored : {QString("6901234567892"), QString("0123"), QString("AB-12")})
        QVERIFY(stockDb.InsertProduct("9" + QString::number(stored.size()), "存货" + stored, stored,
                                      "4", "1", "1.25", "2.5"));
    Open();
    Fill({"手填", "", "3", "7", "8"});
    Type(Edit("le_ptbarcode"), barcode);
    QTest::keyClick(Edit("le_ptbarcode"), Qt::Key_Return);
    QVERIFY(TakeBoxes().isEmpty());
    const QStringList expected = known ? QStringList{"存货" + barcode, barcode, "3", "1.25", "2.5"}
                                       : QStringList{"手填", barcode, "3", "7", "8"};
    QStringList shown;
    for (const char* input : kInputs)
        shown << Edit(input)->text();
    QCOMPARE(shown, expected);
    QCOMPARE(store->Count("purchases"), 0);
}

void TstTodayPurchase::listsTodaysBookingsOnly()
{
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    const QString yesterday = QDate::currentDate().addDays(-1).toString("yyyy-MM-dd");
    QVERIFY(stockDb.InsertProvider("11", "甲", "", "", "", "", ""));
    QVERIFY(stockDb.InsertPurchase(today + " 00:00:00", "1", "B1", "a", "10", "2", "11", "1", "2"));
    QVERIFY(
        stockDb.InsertPurchase(yesterday + " 23:59:59", "2", "B2", "b", "20", "3", "11", "1", "2"));
    QVERIFY(stockDb.InsertPurchase(today + " 23:59:59", "3", "", "c", "30", "4", "77", "", "2"));
    Open();
    QCOMPARE(Model()->rowCount(), 2);
    QCOMPARE(Row(0), (QStringList{today + " 00:00:00", "甲", "B1", "a", "10", "2", "1", "2", "1"}));
    QCOMPARE(Row(1), (QStringList{today + " 23:59:59", "", "", "c", "30", "4", "", "2", "3"}));
}

QTEST_MAIN(TstTodayPurchase)
#include "tst_todaypurchase.moc"

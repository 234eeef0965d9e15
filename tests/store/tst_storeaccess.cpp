#include "store/StockDb.h"
#include "support_StoreTest.h"
#include "support_TempStore.h"

#include <QtTest>
#include <functional>
#include <memory>

using Action = std::function<void()>;
using GuidOperation = std::function<bool(QString)>;
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(GuidOperation)

namespace {
const QString kGuid = "3984215980838912";
const QString kDayStart = "2021-03-05 00:00:00";

bool AddProduct(const QString& guid, const QString& barcode, const QString& name = "茶")
{
    return stockDb.InsertProduct(guid, name, barcode, "15", "7", "12.50", "15");
}

bool AddPurchase(const QString& guid, const QString& time, const QString& bill = "1001",
                 const QString& barcode = "690")
{
    return stockDb.InsertPurchase(time, guid, bill, "茶", barcode, "10", "7", "1.5", "2");
}

bool AddOrder(const QString& guid, const QString& time)
{
    return stockDb.InsertOrder({guid, time, "30", "2"});
}

QStringList ProductGuids(const ProductList& products)
{
    QStringList guids;
    for (const ProductInfo& product : products)
        guids << product.product_guid;
    return guids;
}

QStringList PurchaseField(const PurchaseList& purchases, QString PurchaseInfo::*field)
{
    QStringList values;
    for (const PurchaseInfo& purchase : purchases)
        values << purchase.*field;
    return values;
}

QStringList OrderGuids(const OrderList& orders)
{
    QStringList guids;
    for (const OrderInfo& order : orders)
        guids << order.order_guid;
    return guids;
}

QStringList Numbers(int first, int last)
{
    QStringList numbers;
    for (int i = first; i <= last; ++i)
        numbers << QString::number(i);
    return numbers;
}
} // namespace

class TestStoreAccess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void finishedStatements_data();
    void finishedStatements();
    void searchesCompareExactText_data();
    void searchesCompareExactText();
    void lookupsUseTheirIndex_data();
    void lookupsUseTheirIndex();
    void rowsComeBackInTableOrder();
    void dayRange_data();
    void dayRange();
    void readAllPageByPage();
    void lowStockPageByPage();
    void valuesReadBackAsTheColumnsConvert();
    void duplicateKeysRefused_data();
    void duplicateKeysRefused();
    void deletesRemoveOnlyTheNamedRow_data();
    void deletesRemoveOnlyTheNamedRow();
    void updateProductNumTouchesOnlyTheNamedProduct();

private:
    std::unique_ptr<TempStore> store;
};

void TestStoreAccess::initTestCase()
{
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
}

void TestStoreAccess::init()
{
    for (const char* table : {"providers", "products", "purchases", "orders", "orderdetail"})
        store->Exec(QString("DELETE FROM ") + table);
}

void TestStoreAccess::cleanupTestCase()
{
    store.reset();
}

void TestStoreAccess::finishedStatements_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("statement");
    ProductInfo stock;
    stock.product_guid = kGuid;
    stock.product_num = "15";
    // clang-format off
    QTest::newRow("InsertProvider")
        << Action([] { stockDb.InsertProvider(kGuid, "甲", "138", "路1", "L1", "F1", "茶"); })
        << "insert into providers(provider_guid,provider_name,provider_phone,provider_address,provider_license,provider_foodlicense,provider_business) values ('3984215980838912','甲','138','路1','L1','F1','茶')";
    QTest::newRow("quotes doubled")
        << Action([] { stockDb.InsertProvider(kGuid, "O'Brien's", "", "", "", "", "''"); })
        << "insert into providers(provider_guid,provider_name,provider_phone,provider_address,provider_license,provider_foodlicense,provider_business) values ('3984215980838912','O''Brien''s','','','','','''''')";
    QTest::newRow("DeleteProvider")
        << Action([] { stockDb.DeleteProvider(kGuid); })
        << "DELETE FROM providers where provider_guid='3984215980838912'";
    QTest::newRow("QueryProviderByGuid")
        << Action([] { stockDb.QueryProviderByGuid(kGuid); })
        << "select * from providers where provider_guid='3984215980838912'";
    QTest::newRow("QueryAllProviders ignores its arguments")
        << Action([] { stockDb.QueryAllProviders(0, 100); })
        << "SELECT * FROM providers";
    QTest::newRow("InsertProduct")
        << Action([] { stockDb.InsertProduct(kGuid, "茶", "6901234567892", "15", "7", "12.50", "15"); })
        << "insert into products(product_guid,product_name,product_barcode,product_num,product_provider_guid,product_original_price,product_retail_price) values ('3984215980838912','茶','6901234567892','15','7','12.50','15')";
    QTest::newRow("DeleteProduct")
        << Action([] { stockDb.DeleteProduct(kGuid); })
        << "DELETE FROM products where product_guid='3984215980838912'";
    QTest::newRow("QueryProductByBarcode")
        << Action([] { stockDb.QueryProductByBarcode("6901234567892"); })
        << "SELECT * FROM products where product_barcode='6901234567892' ORDER BY rowid";
    QTest::newRow("QueryAllProducts")
        << Action([] { stockDb.QueryAllProducts(0, 100); })
        << "SELECT *, rowid FROM products WHERE rowid > 0 ORDER BY rowid LIMIT 100";
    QTest::newRow("UpdateProductNum")
        << Action([stock] { stockDb.UpdateProductNum(stock); })
        << "update products set product_num='15' where product_guid='3984215980838912'";
    QTest::newRow("QueryTable, negative offset")
        << Action([] { stockDb.QueryTable("orders", -1, 5); })
        << "SELECT * FROM orders";
    QTest::newRow("InsertPurchase, time first")
        << Action([] { stockDb.InsertPurchase("2021-03-05 10:00:00", kGuid, "1001", "茶", "690", "10", "7", "1.5", "2"); })
        << "insert into purchases(purchase_guid,purchase_time,purchase_id,purchase_product_name,purchase_product_barcode,purchase_product_num,purchase_provider_guid,purchase_product_oprice,purchase_product_rprice) values ('3984215980838912','2021-03-05 10:00:00','1001','茶','690','10','7','1.5','2')";
    QTest::newRow("DeletePurchase")
        << Action([] { stockDb.DeletePurchase(kGuid); })
        << "DELETE FROM purchases where purchase_guid='3984215980838912'";
    QTest::newRow("QueryPurchasesByBillNo")
        << Action([] { stockDb.QueryPurchasesByBillNo("1001"); })
        << "select * from purchases where purchase_id=='1001' ORDER BY rowid";
    QTest::newRow("QueryPurchasesByBarcode")
        << Action([] { stockDb.QueryPurchasesByBarcode("690"); })
        << "select * from purchases where purchase_product_barcode=='690' ORDER BY rowid";
    QTest::newRow("QueryPurchasesOfDay")
        << Action([] { stockDb.QueryPurchasesOfDay(QDate(2021, 3, 5)); })
        << "select * from purchases where purchase_time>='2021-03-05 00:00:00' and purchase_time <= '2021-03-05 23:59:59' ORDER BY rowid";
    QTest::newRow("QueryAllPurchases")
        << Action([] { stockDb.QueryAllPurchases(240, 100); })
        << "SELECT *, rowid FROM purchases WHERE rowid > 240 ORDER BY rowid LIMIT 100";
    QTest::newRow("InsertOrder")
        << Action([] { stockDb.InsertOrder({kGuid, "2021-03-05 10:00:00", "30", "2"}); })
        << "insert into orders(order_guid,order_time,order_total,order_ptnum) values ('3984215980838912','2021-03-05 10:00:00','30','2')";
    QTest::newRow("InsertOrderDetail")
        << Action([] { stockDb.InsertOrderDetail({kGuid, "2021-03-05 10:00:00", "30", "茶", "7", "690", "2", "15", "30"}); })
        << "insert into orderdetail(order_guid,order_time,order_total,order_product_name,order_product_guid,order_product_barcode,order_product_num,order_product_rprice,order_product_subtotal) values ('3984215980838912','2021-03-05 10:00:00','30','茶','7','690','2','15','30')";
    QTest::newRow("QueryOrdersOfDay")
        << Action([] { stockDb.QueryOrdersOfDay(QDate(2021, 3, 5)); })
        << "select * from orders where order_time>='2021-03-05 00:00:00' and order_time <='2021-03-05 23:59:59' ORDER BY rowid";
    // clang-format on
}

void TestStoreAccess::finishedStatements()
{
    // The server's own texts where it reads the file's differently.
    // clang-format off
    static const QHash<QString, QString> serverTexts{
        {"QueryProviderByGuid",
         "select * from providers where provider_guid=NULLIF('3984215980838912','')::bigint"},
        {"QueryAllProviders ignores its arguments",
         "SELECT * FROM providers ORDER BY rowid"},
        {"InsertProduct",
         "insert into products(product_guid,product_name,product_barcode,product_num,product_provider_guid,product_original_price,product_retail_price) values ('3984215980838912','茶','6901234567892',NULLIF('15','')::bigint,NULLIF('7','')::bigint,NULLIF('12.50','')::float8,NULLIF('15','')::float8)"},
        {"UpdateProductNum",
         "update products set product_num=NULLIF('15','')::bigint where product_guid=NULLIF('3984215980838912','')::bigint"},
        {"QueryTable, negative offset",
         "SELECT * FROM orders ORDER BY rowid"},
        {"InsertPurchase, time first",
         "insert into purchases(purchase_guid,purchase_time,purchase_id,purchase_product_name,purchase_product_barcode,purchase_product_num,purchase_provider_guid,purchase_product_oprice,purchase_product_rprice) values ('3984215980838912','2021-03-05 10:00:00','1001','茶','690',NULLIF('10','')::bigint,NULLIF('7','')::bigint,NULLIF('1.5','')::float8,NULLIF('2','')::float8)"},
        {"QueryPurchasesByBillNo",
         "select * from purchases where purchase_id='1001' ORDER BY rowid"},
        {"QueryPurchasesByBarcode",
         "select * from purchases where purchase_product_barcode='690' ORDER BY rowid"},
    };
    // clang-format on
    QFETCH(Action, action);
    QFETCH(QString, statement);
    LogCapture log;
    action();
    const QString tag = QTest::currentDataTag();
    const bool own = TempStore::OnServer() && serverTexts.contains(tag);
    QCOMPARE(stockDb.LastStatement(), own ? serverTexts[tag] : statement);
    QCOMPARE(log.FailedStatements(), 0);
}

void TestStoreAccess::searchesCompareExactText_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("EAN-13") << "6901234567892" << QStringList{"6901234567892"};
    QTest::newRow("leading zero") << "0123" << QStringList{"0123"};
    QTest::newRow("same digits without the zero") << "123" << QStringList{"123"};
    QTest::newRow("letters") << "A1001" << QStringList{"A1001"};
    QTest::newRow("letters differ in case") << "a1001" << QStringList();
    QTest::newRow("operator is text") << "123-456" << QStringList{"123-456"};
    QTest::newRow("unknown") << "A12" << QStringList();
    QTest::newRow("empty") << "" << QStringList();
}

void TestStoreAccess::searchesCompareExactText()
{
    QFETCH(QString, search);
    QFETCH(QStringList, found);
    const QStringList stored{"6901234567892", "0123", "123", "A1001", "123-456", "-333"};
    for (int i = 0; i < stored.size(); ++i) {
        QVERIFY(AddProduct(QString::number(i + 1), stored[i]));
        QVERIFY(AddPurchase(QString::number(i + 1), kDayStart, stored[i], stored[i]));
    }
    QVERIFY(stockDb.ExeSql("SELECT 1"));
    LogCapture log;
    QCOMPARE(stockDb.QueryProductByBarcode(search).product_barcode, found.value(0));
    QCOMPARE(PurchaseField(stockDb.QueryPurchasesByBarcode(search),
                           &PurchaseInfo::purchase_product_barcode),
             found);
    QCOMPARE(PurchaseField(stockDb.QueryPurchasesByBillNo(search), &PurchaseInfo::purchase_id),
             found);
    QCOMPARE(log.FailedStatements(), 0);
    if (search.isEmpty())
        QCOMPARE(stockDb.LastStatement(), QString("SELECT 1"));
}

void TestStoreAccess::lookupsUseTheirIndex_data()
{
    QTest::addColumn<Action>("lookup");
    QTest::addColumn<QString>("index");
    // clang-format off
    QTest::newRow("scan") << Action([] { stockDb.QueryProductByBarcode("690"); }) << "products_product_barcode";
    QTest::newRow("purchases of a barcode") << Action([] { stockDb.QueryPurchasesByBarcode("690"); }) << "purchases_purchase_product_barcode";
    QTest::newRow("bill") << Action([] { stockDb.QueryPurchasesByBillNo("1001"); }) << "purchases_purchase_id";
    QTest::newRow("purchases of a day") << Action([] { stockDb.QueryPurchasesOfDay(QDate(2021, 3, 5)); }) << "purchases_purchase_time";
    QTest::newRow("orders of a day") << Action([] { stockDb.QueryOrdersOfDay(QDate(2021, 3, 5)); }) << "orders_order_time_sales";
    QTest::newRow("lines of a period") << Action([] { stockDb.ExportOrderLines(QDate(2021, 3, 1), QDate(2021, 3, 31), [](const QStringList&) { return true; }); }) << "orderdetail_order_guid_sales";
    QTest::newRow("sums of a period") << Action([] { stockDb.QuerySales(QDate(2021, 3, 1), QDate(2021, 3, 31), 20); }) << "orderdetail_order_guid_sales";
    // clang-format on
}

// A lookup that reads the whole history grows slower with every year of it.
void TestStoreAccess::lookupsUseTheirIndex()
{
    QFETCH(Action, lookup);
    QFETCH(QString, index);
    lookup();
    const QString plan = store->PlanOf(stockDb.LastStatement());
    const bool used = TempStore::OnServer()
                          ? plan.contains("using " + index + " ") || plan.contains("on " + index)
                          : plan.contains(" INDEX " + index + " ");
    QVERIFY2(used, qPrintable(plan));
}

void TestStoreAccess::rowsComeBackInTableOrder()
{
    QVERIFY(AddProduct("5", "690", "older"));
    QVERIFY(AddProduct("4", "690", "newer"));
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_name, QString("newer"));

    QVERIFY(AddPurchase("9", "2021-03-05 12:00:00"));
    QVERIFY(AddPurchase("8", "2021-03-05 08:00:00"));
    QVERIFY(AddPurchase("7", "2021-03-05 10:00:00"));
    const QStringList booked{"9", "8", "7"};
    QCOMPARE(PurchaseField(stockDb.QueryPurchasesByBarcode("690"), &PurchaseInfo::purchase_guid),
             booked);
    QCOMPARE(
        PurchaseField(stockDb.QueryPurchasesOfDay(QDate(2021, 3, 5)), &PurchaseInfo::purchase_guid),
        booked);

    QVERIFY(AddOrder("9", "2021-03-05 12:00:00"));
    QVERIFY(AddOrder("8", "2021-03-05 08:00:00"));
    QCOMPARE(OrderGuids(stockDb.QueryOrdersOfDay(QDate(2021, 3, 5))), (QStringList{"9", "8"}));
}

void TestStoreAccess::dayRange_data()
{
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<bool>("inDay");
    QTest::newRow("day before, last second") << "2021-03-04 23:59:59" << false;
    QTest::newRow("first second") << "2021-03-05 00:00:00" << true;
    QTest::newRow("noon") << "2021-03-05 12:00:00" << true;
    QTest::newRow("last second") << "2021-03-05 23:59:59" << true;
    QTest::newRow("day after, first second") << "2021-03-06 00:00:00" << false;
}

void TestStoreAccess::dayRange()
{
    QFETCH(QString, stamp);
    QFETCH(bool, inDay);
    QVERIFY(AddPurchase(kGuid, stamp));
    QVERIFY(AddOrder(kGuid, stamp));
    const PurchaseList purchases = stockDb.QueryPurchasesOfDay(QDate(2021, 3, 5));
    const OrderList orders = stockDb.QueryOrdersOfDay(QDate(2021, 3, 5));
    QCOMPARE(purchases.size(), int(inDay));
    QCOMPARE(orders.size(), int(inDay));
    if (inDay) {
        QCOMPARE(purchases[0].purchase_time, stamp);
        QCOMPARE(orders[0].order_time, stamp);
    }
}

void TestStoreAccess::readAllPageByPage()
{
    {
        StockDb::Transaction tx(stockDb);
        for (int i = 1; i <= 250; ++i) {
            const QString n = QString::number(i);
            if (i <= 150) {
                QVERIFY(stockDb.InsertProvider(n, "p" + n, "", "", "", "", ""));
                QVERIFY(AddProduct(n, n));
            }
            QVERIFY(AddPurchase(n, kDayStart));
        }
        QVERIFY(tx.commit());
    }
    QCOMPARE(stockDb.QueryAllProviders(0, 100).size(), 150);
    QCOMPARE(stockDb.QueryAllProviders(0, 100).last().provider_name, QString("p150"));
    qint64 next = 0;
    QCOMPARE(ProductGuids(stockDb.QueryAllProducts(next, 100, &next)), Numbers(1, 100));
    // Rows before the page's start, gone or written again, move no row past it.
    QVERIFY(stockDb.DeleteProduct("7"));
    QVERIFY(AddProduct("7", "7"));
    QVERIFY(stockDb.DeleteProduct("8"));
    QCOMPARE(ProductGuids(stockDb.QueryAllProducts(next, 100, &next)), Numbers(101, 150) << "7");
    QCOMPARE(ProductGuids(stockDb.QueryAllProducts(next, 100, &next)), QStringList());
    next = 0;
    for (const QStringList& page : {Numbers(1, 100), Numbers(101, 200), Numbers(201, 250)})
        QCOMPARE(PurchaseField(stockDb.QueryAllPurchases(next, 100, &next),
                               &PurchaseInfo::purchase_guid),
                 page);
}

void TestStoreAccess::lowStockPageByPage()
{
    QStringList low;
    {
        StockDb::Transaction tx(stockDb);
        for (int i = 1; i <= 400; ++i) {
            const QString n = QString::number(i);
            // Every third at or below 5, down to -1; the others just above.
            QVERIFY(
                stockDb.InsertProduct(n, n, n, QString::number(i % 3 ? 6 : 5 - i % 7), "", "", ""));
            if (i % 3 == 0)
                low << n;
        }
        QVERIFY(tx.commit());
    }
    QStringList read;
    qint64 next = 0;
    for (int page = 0; page < 3; ++page)
        read << ProductGuids(stockDb.QueryLowStockProducts(5, next, 100, &next));
    QCOMPARE(read, low);
}

void TestStoreAccess::valuesReadBackAsTheColumnsConvert()
{
    const QString bigGuid = "9223372036854714368";
    QVERIFY(stockDb.InsertProduct(bigGuid, "茶", "690", "15", kGuid, "12.50", "12"));
    const ProductInfo product = stockDb.QueryProductByBarcode("690");
    QCOMPARE(product.product_guid, bigGuid);
    QCOMPARE(product.product_provider_guid, kGuid);
    QCOMPARE(product.product_original_price, QString("12.5"));
    QCOMPARE(product.product_retail_price, QString("12"));
    QVERIFY(product.product_wholesale_price.isEmpty());

    QVERIFY(stockDb.InsertPurchase("2021-03-05 10:00:00", bigGuid, "1001", "茶", "690", "10", kGuid,
                                   "1.50", "2"));
    const PurchaseList purchases = stockDb.QueryPurchasesByBillNo("1001");
    QCOMPARE(purchases.size(), 1);
    QCOMPARE(purchases[0].purchase_guid, bigGuid);
    QCOMPARE(purchases[0].purchase_time, QString("2021-03-05 10:00:00"));
    QVERIFY(purchases[0].purchase_product_guid.isEmpty());
    QVERIFY(purchases[0].purchase_product_wprice.isEmpty());
    QCOMPARE(purchases[0].purchase_product_oprice, QString("1.5"));
}

void TestStoreAccess::duplicateKeysRefused_data()
{
    QTest::addColumn<Action>("insertTwice");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("failures");
    auto twice = [](std::function<bool()> insert) {
        return Action([insert] {
            QVERIFY(insert());
            insert();
        });
    };
    QTest::newRow("provider") << twice([] {
        return stockDb.InsertProvider(kGuid, "甲", "", "", "", "", "");
    }) << "providers" << 1 << 1;
    QTest::newRow("product") << twice([] { return AddProduct(kGuid, "690"); }) << "products" << 1
                             << 1;
    QTest::newRow("purchase") << twice([] { return AddPurchase(kGuid, kDayStart); }) << "purchases"
                              << 1 << 1;
    QTest::newRow("order") << twice([] { return AddOrder(kGuid, kDayStart); }) << "orders" << 1
                           << 1;
    QTest::newRow("order line, no key") << twice([] {
        return stockDb.InsertOrderDetail(
            {kGuid, kDayStart, "30", "茶", "7", "690", "2", "15", "30"});
    }) << "orderdetail" << 2 << 0;
}

void TestStoreAccess::duplicateKeysRefused()
{
    QFETCH(Action, insertTwice);
    QFETCH(QString, table);
    QFETCH(int, rows);
    QFETCH(int, failures);
    LogCapture log;
    insertTwice();
    QCOMPARE(store->Count(table), rows);
    QCOMPARE(log.FailedStatements(), failures);
}

void TestStoreAccess::deletesRemoveOnlyTheNamedRow_data()
{
    QTest::addColumn<GuidOperation>("add");
    QTest::addColumn<GuidOperation>("remove");
    QTest::addColumn<QString>("table");
    QTest::newRow("provider") << GuidOperation([](QString guid) {
        return stockDb.InsertProvider(guid, "甲", "", "", "", "", "");
    }) << GuidOperation([](QString guid) { return stockDb.DeleteProvider(guid); })
                              << "providers";
    QTest::newRow("product") << GuidOperation([](QString guid) {
        return AddProduct(guid, "690");
    }) << GuidOperation([](QString guid) { return stockDb.DeleteProduct(guid); })
                             << "products";
    QTest::newRow("purchase") << GuidOperation([](QString guid) {
        return AddPurchase(guid, kDayStart);
    }) << GuidOperation([](QString guid) { return stockDb.DeletePurchase(guid); })
                              << "purchases";
}

void TestStoreAccess::deletesRemoveOnlyTheNamedRow()
{
    QFETCH(GuidOperation, add);
    QFETCH(GuidOperation, remove);
    QFETCH(QString, table);
    QVERIFY(add(kGuid));
    QVERIFY(add("3984215980838913"));
    QVERIFY(add("0"));

    QVERIFY(stockDb.ExeSql("SELECT 1"));
    QVERIFY(!remove(""));
    QCOMPARE(stockDb.LastStatement(), QString("SELECT 1"));
    QVERIFY(remove("1"));
    QCOMPARE(store->Count(table), 3);

    QVERIFY(remove(kGuid));
    const QStringList rest = TableRows(table);
    QCOMPARE(rest.size(), 2);
    QVERIFY(rest[0].startsWith("3984215980838913"));
    QVERIFY(rest[1].startsWith("0"));
}

void TestStoreAccess::updateProductNumTouchesOnlyTheNamedProduct()
{
    QVERIFY(AddProduct("1", "690"));
    QVERIFY(AddProduct("2", "691"));
    ProductInfo product = stockDb.QueryProductByBarcode("690");
    product.product_num = "9000000000";
    product.product_name = "ignored";
    QVERIFY(stockDb.UpdateProductNum(product));
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("9000000000"));
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_name, QString("茶"));
    QCOMPARE(stockDb.QueryProductByBarcode("691").product_num, QString("15"));

    const QStringList before = StoreSnapshot();
    product.product_guid.clear();
    QVERIFY(stockDb.UpdateProductNum(product));
    QCOMPARE(StoreSnapshot(), before);
}

QTEST_GUILESS_MAIN(TestStoreAccess)
#include "tst_storeaccess.moc"

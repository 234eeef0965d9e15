#include "store/StockDb.h"
#include "support_StoreTest.h"
#include "support_TempStore.h"

#include <QtTest>
#include <memory>

namespace {
const char* const kTables[] = {"providers", "products", "purchases", "orders", "orderdetail"};

// The row text TableRows gives for a row written with value in every column,
// where the columns at the null positions were never written.
QString RowOf(const QString& value, int columns, QVector<int> nulls = {})
{
    QStringList fields;
    for (int i = 0; i < columns; ++i)
        fields << (nulls.contains(i) ? QStringLiteral("<null>") : value);
    return fields.join(QChar(0x1f));
}

QStringList Purchases(const PurchaseList& purchases)
{
    QStringList rows;
    for (const PurchaseInfo& p : purchases)
        rows << QStringList{p.purchase_guid,
                            p.purchase_time,
                            p.purchase_id,
                            p.purchase_product_guid,
                            p.purchase_product_name,
                            p.purchase_product_barcode,
                            p.purchase_product_num,
                            p.purchase_provider_guid,
                            p.purchase_product_oprice,
                            p.purchase_product_wprice,
                            p.purchase_product_rprice}
                    .join('|');
    return rows;
}
} // namespace

// Values that try to escape their literal, reach other rows or tables, or be
// formatted a second time, run through every write and every search.
class TestStoreHostile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void valueStaysAValue_data();
    void valueStaysAValue();

private:
    std::unique_ptr<TempStore> store;
};

void TestStoreHostile::initTestCase()
{
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
}

void TestStoreHostile::cleanupTestCase()
{
    store.reset();
}

void TestStoreHostile::valueStaysAValue_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("storable");
    QTest::newRow("apostrophe") << "O'Brien" << true;
    QTest::newRow("quoted or-true") << "' or '1'='1" << true;
    QTest::newRow("bare or-true") << "1 or 1=1" << true;
    QTest::newRow("close and drop") << "0); DROP TABLE products; --" << true;
    QTest::newRow("quote, close and drop") << "'); DROP TABLE products; --" << true;
    QTest::newRow("comment openers") << "-- /* x" << true;
    QTest::newRow("%1") << "%1" << true;
    QTest::newRow("%s") << "%s" << true;
    QTest::newRow("%2 in a name") << "供应商%2号" << true;
    QTest::newRow("Chinese") << "供应商「甲」有限公司" << true;
    QTest::newRow("backslash and line breaks") << "C:\\x\n\r\t\\'" << true;
    QTest::newRow("20,000 characters") << QString(20000, 'x') << true;
    QTest::newRow("20,000 apostrophes") << QString(20000, '\'') << true;
    QTest::newRow("20,000 Chinese characters") << QString(20000, QChar(0x8336)) << true;
    QTest::newRow("NUL inside") << QString::fromUtf8("1\0' or '1'='1", 13) << false;
}

void TestStoreHostile::valueStaysAValue()
{
    QFETCH(QString, value);
    QFETCH(bool, storable);
    // The server's number and identifier columns take only numbers.
    storable = storable && !TempStore::OnServer();
    for (const char* table : kTables)
        store->Exec(QString("DELETE FROM ") + table);
    QVERIFY(stockDb.InsertProvider("100", "甲", "138", "", "", "", ""));
    QVERIFY(stockDb.InsertProduct("100", "茶", "690", "5", "100", "1", "2"));
    QVERIFY(stockDb.InsertPurchase("2021-03-05 10:00:00", "100", "1001", "茶", "690", "5", "100",
                                   "1", "2"));
    QVERIFY(stockDb.InsertOrder({"100", "2021-03-05 10:00:00", "2", "1"}));
    QVERIFY(stockDb.InsertOrderDetail(
        {"100", "2021-03-05 10:00:00", "2", "茶", "100", "690", "1", "2", "2"}));
    const QString schema = SchemaRows().join('\n');
    QMap<QString, QStringList> baseline;
    for (const char* table : kTables)
        baseline[table] = TableRows(table);

    // Against rows that do not hold the value, nothing is found or touched.
    ProductInfo update;
    update.product_guid = value;
    update.product_num = "7";
    stockDb.DeleteProvider(value);
    stockDb.DeleteProduct(value);
    stockDb.DeletePurchase(value);
    stockDb.UpdateProductNum(update);
    QVERIFY(stockDb.QueryProviderByGuid(value).provider_guid.isEmpty());
    QVERIFY(stockDb.QueryProductByBarcode(value).product_guid.isEmpty());
    QVERIFY(stockDb.QueryPurchasesByBillNo(value).isEmpty());
    QVERIFY(stockDb.QueryPurchasesByBarcode(value).isEmpty());
    QVERIFY(stockDb.QueryPurchasesBetween(value, value).isEmpty());
    QVERIFY(stockDb.QueryOrdersBetween(value, value).isEmpty());
    for (const char* table : kTables)
        QCOMPARE(TableRows(table), baseline[table]);

    // Written into every column, the value reads back exactly; one that SQL
    // text cannot carry fails the write and leaves its table as it was.
    const QMap<QString, bool> written{
        {"providers", stockDb.InsertProvider(value, value, value, value, value, value, value)},
        {"products", stockDb.InsertProduct(value, value, value, value, value, value, value)},
        {"purchases",
         stockDb.InsertPurchase(value, value, value, value, value, value, value, value, value)},
        {"orders", stockDb.InsertOrder({value, value, value, value})},
        {"orderdetail", stockDb.InsertOrderDetail(
                            {value, value, value, value, value, value, value, value, value})},
    };
    const QMap<QString, QString> row{
        {"providers", RowOf(value, 7)},          {"products", RowOf(value, 8, {6})},
        {"purchases", RowOf(value, 11, {3, 9})}, {"orders", RowOf(value, 4)},
        {"orderdetail", RowOf(value, 9)},
    };
    for (const char* table : kTables) {
        QCOMPARE(written[table], storable);
        const QStringList expected =
            written[table] ? baseline[table] + QStringList{row[table]} : baseline[table];
        QCOMPARE(TableRows(table), expected);
    }
    QCOMPARE(SchemaRows().join('\n'), schema);

    if (written["providers"])
        QCOMPARE(stockDb.QueryProviderByGuid(value).provider_business, value);
    if (written["products"]) {
        const ProductInfo product = stockDb.QueryProductByBarcode(value);
        QCOMPARE(product.product_name, value);
        QCOMPARE(product.product_retail_price, value);
    }
    const QStringList purchase =
        written["purchases"] ? Purchases(stockDb.QueryPurchasesByBillNo(value)) : QStringList();
    if (written["purchases"])
        QCOMPARE(purchase.size(), 1);
    QCOMPARE(Purchases(stockDb.QueryPurchasesByBillNo(value)), purchase);
    QCOMPARE(Purchases(stockDb.QueryPurchasesByBarcode(value)), purchase);
    QCOMPARE(Purchases(stockDb.QueryPurchasesBetween(value, value)), purchase);
    QCOMPARE(stockDb.QueryOrdersBetween(value, value).size(), int(written["orders"]));

    // Update and deletes reach exactly the row that holds the value.
    QVERIFY(stockDb.UpdateProductNum(update) || !written["products"]);
    if (written["products"])
        QCOMPARE(stockDb.QueryProductByBarcode(value).product_num, QString("7"));
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("5"));
    stockDb.DeleteProvider(value);
    stockDb.DeleteProduct(value);
    stockDb.DeletePurchase(value);
    for (const char* table : {"providers", "products", "purchases"})
        QCOMPARE(TableRows(table), baseline[table]);

    // And the value can be set on an existing row.
    update.product_guid = "100";
    update.product_num = value;
    if (stockDb.UpdateProductNum(update))
        QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, value);
    else
        QCOMPARE(TableRows("products"), baseline["products"]);
    QCOMPARE(store->Count("products"), 1);
}

QTEST_GUILESS_MAIN(TestStoreHostile)
#include "tst_storehostile.moc"

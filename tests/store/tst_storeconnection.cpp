#include "app/AppContext.h"
#include "store/StockDb.h"
#include "support_StoreTest.h"
#include "support_TempStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

using Operation = std::function<bool()>;
using Damage = std::function<void(TempStore&)>;
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Damage)

// The Parts' schema as SQLite keeps it (it drops "IF NOT EXISTS").
static const char* const kSchema[][2] = {
    {"order_returns", "CREATE TABLE order_returns (return_guid BIGINT PRIMARY KEY, order_guid "
                      "BIGINT NOT NULL)"},
    {"orderdetail",
     "CREATE TABLE orderdetail (order_guid BIGINT NOT NULL,order_time DATETIME NOT "
     "NULL,order_total DOUBLE NOT NULL,order_product_name VARCHAR(128) NOT NULL,order_product_guid "
     "BIGINT NOT NULL,order_product_barcode VARCHAR(32) NOT NULL,order_product_num INTEGER NOT "
     "NULL,order_product_rprice DOUBLE NOT NULL,order_product_subtotal DOUBLE NOT NULL)"},
    {"orders", "CREATE TABLE orders (order_guid BIGINT PRIMARY KEY NOT NULL,order_time DATETIME "
               "NOT NULL,order_total DOUBLE NOT NULL,order_ptnum INTEGER NOT NULL)"},
    {"products",
     "CREATE TABLE products (product_guid BIGINT PRIMARY KEY, product_name VARCHAR(128) NOT "
     "NULL,product_barcode VARCHAR(32),product_num INTEGER,product_provider_guid "
     "BIGINT,product_original_price DOUBLE,product_wholesale_price DOULBE,product_retail_price "
     "DOUBLE)"},
    {"providers",
     "CREATE TABLE providers (provider_guid BIGINT PRIMARY KEY, provider_name VARCHAR(128) NOT "
     "NULL,provider_phone VARCHAR(32),provider_address VARCHAR(128),provider_license "
     "VARCHAR(128),provider_foodlicense VARCHAR(128),provider_business VARCHAR(256))"},
    {"purchases",
     "CREATE TABLE purchases (purchase_guid BIGINT PRIMARY KEY, purchase_time DATETIME NOT "
     "NULL,purchase_id VARCHAR(32),purchase_product_guid BIGINT, purchase_product_name "
     "VARCHAR(128) NOT NULL,purchase_product_barcode VARCHAR(32),purchase_product_num "
     "INTEGER,purchase_provider_guid BIGINT,purchase_product_oprice DOUBLE,purchase_product_wprice "
     "DOULBE,purchase_product_rprice DOUBLE)"},
    {"settings", "CREATE TABLE settings (setting_key TEXT PRIMARY KEY, setting_value TEXT)"},
};

// The lookup indexes, beside those that the primary keys imply; by name.
static const char* const kIndexes[] = {
    "CREATE INDEX order_returns_order_guid ON order_returns(order_guid)",
    "CREATE INDEX orderdetail_order_guid_sales ON orderdetail(order_guid,order_product_barcode,"
    "order_product_num,order_product_subtotal)",
    "CREATE INDEX orders_order_time_sales ON orders(order_time,order_guid,order_total)",
    "CREATE INDEX products_product_barcode ON products(product_barcode)",
    "CREATE INDEX purchases_purchase_id ON purchases(purchase_id)",
    "CREATE INDEX purchases_purchase_product_barcode ON purchases(purchase_product_barcode)",
    "CREATE INDEX purchases_purchase_time ON purchases(purchase_time)",
};

class TestStoreConnection : public QObject
{
    Q_OBJECT
private slots:
    void createTablesMakesExactlyTheTables();
    void secondOpenKeepsRowsAndLayout();
    void reopenMakesOrReportsTheTables_data();
    void reopenMakesOrReportsTheTables();
    void closedConnectionFails_data();
    void closedConnectionFails();
    void failedStatementIsLogged();
    void transactionCommitsAllOrNothing();
    void blockedRekeyKeepsTheKey();
};

void TestStoreConnection::createTablesMakesExactlyTheTables()
{
    if (TempStore::OnServer())
        QSKIP("the file's schema texts");
    TempStore store;
    QVERIFY(store.IsOpen());
    QSqlQuery query = store.Exec("SELECT type, name, sql FROM sqlite_master ORDER BY name");
    int tables = 0;
    QStringList indexes;
    while (query.next()) {
        if (query.value(0).toString() != "table") {
            if (!query.value(2).isNull())
                indexes << query.value(2).toString();
            continue;
        }
        QVERIFY(tables < int(std::size(kSchema)));
        QCOMPARE(query.value(1).toString(), QString(kSchema[tables][0]));
        QCOMPARE(query.value(2).toString(), QString(kSchema[tables][1]));
        QCOMPARE(store.Count(kSchema[tables][0]), 0);
        ++tables;
    }
    QCOMPARE(tables, int(std::size(kSchema)));
    QCOMPARE(indexes, QStringList(std::begin(kIndexes), std::end(kIndexes)));
}

void TestStoreConnection::secondOpenKeepsRowsAndLayout()
{
    TempStore store;
    QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    store.Exec("DROP TABLE orders");
    store.Exec("CREATE TABLE orders (other TEXT)");
    const QStringList before = StoreSnapshot();

    stockDb.OpenStockDb(QString());
    QVERIFY(stockDb.IsOpen());
    QCOMPARE(StoreSnapshot(), before);
    QCOMPARE(stockDb.QueryAllProviders(0, 0).size(), 1);
}

void TestStoreConnection::reopenMakesOrReportsTheTables_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("openError");
    QTest::addColumn<int>("tables");
    QTest::newRow("empty file of a first start cut short") << Damage([](TempStore& store) {
        stockDb.CloseStockDb();
        QVERIFY(QFile::resize(store.DbPath(), 0));
    }) << QString() << 7;
    QTest::newRow("table name taken") << Damage([](TempStore& store) {
        store.Exec("DROP TABLE products");
        store.Exec("CREATE INDEX products ON orders(order_time)");
    }) << "there is already an index named products"
                                      << 6;
}

void TestStoreConnection::reopenMakesOrReportsTheTables()
{
    if (TempStore::OnServer())
        QSKIP("a damaged Stock.db");
    QFETCH(Damage, damage);
    QFETCH(QString, openError);
    QFETCH(int, tables);
    TempStore store;
    damage(store);
    stockDb.OpenStockDb(QString());
    QVERIFY(stockDb.IsOpen());
    QCOMPARE(stockDb.OpenErrorText(), openError);
    QCOMPARE(store.Scalar("SELECT count(*) FROM sqlite_master WHERE type='table'").toInt(), tables);
    QFile file(store.DbPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.read(16).startsWith("SQLite format 3"));
}

void TestStoreConnection::closedConnectionFails_data()
{
    QTest::addColumn<Operation>("failsAsExpected");
    QTest::addColumn<int>("logged");
    static StockDb& s = stockDb;
    static const QString guid = "3984215980838912";
    static const QString day = "2021-03-05 00:00:00";
    // clang-format off
    QTest::newRow("ExeSql") << Operation([&] { return !s.ExeSql("SELECT 1"); }) << 1;
    QTest::newRow("InsertProvider") << Operation([&] { return !s.InsertProvider(guid, "a", "", "", "", "", ""); }) << 1;
    QTest::newRow("DeleteProvider") << Operation([&] { return !s.DeleteProvider(guid); }) << 0;
    QTest::newRow("QueryProviderByGuid") << Operation([&] { return s.QueryProviderByGuid(guid).provider_guid.isEmpty(); }) << 1;
    QTest::newRow("QueryAllProviders") << Operation([&] { return s.QueryAllProviders(0, 100).isEmpty(); }) << 0;
    QTest::newRow("InsertProduct") << Operation([&] { return !s.InsertProduct(guid, "a", "1", "1", guid, "1", "2"); }) << 1;
    QTest::newRow("DeleteProduct") << Operation([&] { return !s.DeleteProduct(guid); }) << 0;
    QTest::newRow("QueryProductByBarcode") << Operation([&] { return s.QueryProductByBarcode("1").product_guid.isEmpty(); }) << 0;
    QTest::newRow("QueryAllProducts") << Operation([&] { return s.QueryAllProducts(0, 100).isEmpty(); }) << 0;
    QTest::newRow("UpdateProductNum") << Operation([&] { ProductInfo p; p.product_guid = guid; p.product_num = "2"; return !s.UpdateProductNum(p); }) << 1;
    QTest::newRow("QueryTable") << Operation([&] { return !s.QueryTable("products", -1, 0).next(); }) << 0;
    QTest::newRow("InsertPurchase") << Operation([&] { return !s.InsertPurchase(day, guid, "1", "a", "1", "1", guid, "1", "2"); }) << 1;
    QTest::newRow("DeletePurchase") << Operation([&] { return !s.DeletePurchase(guid); }) << 0;
    QTest::newRow("QueryPurchasesByBillNo") << Operation([&] { return s.QueryPurchasesByBillNo("1").isEmpty(); }) << 1;
    QTest::newRow("QueryPurchasesByBarcode") << Operation([&] { return s.QueryPurchasesByBarcode("1").isEmpty(); }) << 1;
    QTest::newRow("QueryPurchasesOfDay") << Operation([&] { return s.QueryPurchasesOfDay(QDate(2021, 3, 5)).isEmpty(); }) << 1;
    QTest::newRow("QueryPurchasesBetween") << Operation([&] { return s.QueryPurchasesBetween(day, day).isEmpty(); }) << 1;
    QTest::newRow("QueryAllPurchases") << Operation([&] { return s.QueryAllPurchases(0, 100).isEmpty(); }) << 0;
    QTest::newRow("InsertOrder") << Operation([&] { return !s.InsertOrder({guid, day, "1", "1"}); }) << 1;
    QTest::newRow("InsertOrderDetail") << Operation([&] { return !s.InsertOrderDetail({guid, day, "1", "a", guid, "1", "1", "1", "1"}); }) << 1;
    QTest::newRow("QueryOrdersOfDay") << Operation([&] { return s.QueryOrdersOfDay(QDate(2021, 3, 5)).isEmpty(); }) << 0;
    QTest::newRow("QueryOrdersBetween") << Operation([&] { return s.QueryOrdersBetween(day, day).isEmpty(); }) << 0;
    QTest::newRow("Transaction") << Operation([&] { StockDb::Transaction tx(s); return !tx.isActive() && !tx.commit(); }) << 0;
    // clang-format on
}

void TestStoreConnection::closedConnectionFails()
{
    if (TempStore::OnServer())
        QSKIP("a Stock.db that is no database");
    QFETCH(Operation, failsAsExpected);
    QFETCH(int, logged);
    // A Stock.db that is no database: the open fails and the connection stays closed.
    QTemporaryDir folder;
    QFile foreign(folder.filePath("Stock.db"));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write(QByteArray(4096, 'x'));
    foreign.close();
    appContext.appDir = folder.path();
    stockDb.OpenStockDb(QString());
    QVERIFY(!stockDb.IsOpen());

    LogCapture log;
    QVERIFY(failsAsExpected());
    QCOMPARE(log.FailedStatements(), logged);
    stockDb.CloseStockDb();
    // Removed altogether, the connection still refuses without crashing.
    QVERIFY(failsAsExpected());
    QCOMPARE(log.FailedStatements(), 2 * logged);
}

void TestStoreConnection::failedStatementIsLogged()
{
    TempStore store;
    LogCapture log;
    QVERIFY(!stockDb.ExeSql("insert into nowhere values (1)"));
    QCOMPARE(log.FailedStatements(), 1);
    QVERIFY(stockDb.ExeSql("insert into orders values (1, '2021-03-05 10:00:00', 3, 1)"));
    QCOMPARE(log.FailedStatements(), 1);
}

void TestStoreConnection::transactionCommitsAllOrNothing()
{
    TempStore store;
    const QStringList empty = StoreSnapshot();
    {
        StockDb::Transaction tx(stockDb);
        QVERIFY(tx.isActive());
        QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
        QVERIFY(stockDb.InsertProduct("2", "茶", "690", "5", "1", "1", "2"));
        QVERIFY(stockDb.InsertOrder({"3", "2021-03-05 10:00:00", "2", "1"}));
        QVERIFY(!stockDb.InsertProduct("2", "duplicate", "691", "5", "1", "1", "2"));
    }
    QCOMPARE(StoreSnapshot(), empty);
    {
        StockDb::Transaction tx(stockDb);
        QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
        QVERIFY(stockDb.InsertProduct("2", "茶", "690", "5", "1", "1", "2"));
        QVERIFY(tx.commit());
    }
    // After the scope, single writes commit on their own again.
    QVERIFY(stockDb.InsertOrder({"3", "2021-03-05 10:00:00", "2", "1"}));
    stockDb.OpenStockDb(QString());
    QCOMPARE(store.Count("providers"), 1);
    QCOMPARE(store.Count("products"), 1);
    QCOMPARE(store.Count("orders"), 1);
}

void TestStoreConnection::blockedRekeyKeepsTheKey()
{
    if (TempStore::OnServer())
        QSKIP("the file's own key");
    TempStore store;
    {
        // SQLCipher calls a rekey that another reader blocked a success.
        QSqlDatabase reader = QSqlDatabase::addDatabase("SQLITECIPHER", "reader");
        reader.setDatabaseName(store.DbPath());
        reader.setPassword(stockDb.Password());
        QVERIFY(reader.open() && reader.transaction());
        QVERIFY(QSqlQuery("SELECT * FROM sqlite_master", reader).next());
        QVERIFY(!stockDb.ChangeKey("a passphrase"));
    }
    QSqlDatabase::removeDatabase("reader");
    QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    stockDb.OpenStockDb(QString());
    QCOMPARE(stockDb.QueryAllProviders(0, 0).size(), 1);
}

QTEST_GUILESS_MAIN(TestStoreConnection)
#include "tst_storeconnection.moc"

#include "app/AppContext.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "support_CutProxy.h"
#include "support_StoreTest.h"
#include "support_TempStore.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QtTest>
#include <functional>
#include <memory>

using Action = std::function<void()>;
Q_DECLARE_METATYPE(Action)

namespace {
PurchaseInfo Purchase(const QString& guid, const QString& num, const QString& barcode = "690")
{
    return {guid, "2021-03-05 10:00:00", "1001", "", "茶", barcode, num, "7", "1.5", "", "2"};
}

// A sale of yesterday: three 茶 690 at 2.5 and one 水 691 at 4.
bool SellYesterday(const QString& sale = "1")
{
    const QString time = QDateTime::currentDateTime().addDays(-1).toString("yyyy-MM-dd HH:mm:ss");
    return stockDb.InsertOrderDetail({sale, time, "11.5", "茶", "7", "690", "3", "2.5", "7.5"}) &&
           stockDb.InsertOrderDetail({sale, time, "11.5", "水", "8", "691", "1", "4", "4"}) &&
           stockDb.InsertOrder({sale, time, "11.5", "2"});
}

StockDb::Return Take(StockDb& till, const QString& guid, qint64 tea, qint64 water = 0,
                     const QString& sale = "1")
{
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
    return till.StoreReturn(
        sale, guid, now, {{"", "", "690", "2.50", 0, 0, tea}, {"", "", "691", "4", 0, 0, water}});
}

// The program's till, connected to the test server through relay for as long
// as it stays open; other tills connect directly.
void ThroughRelay(const CutProxy& relay)
{
    const QString direct = appContext.storeConnection;
    appContext.storeConnection = relay.Connection();
    stockDb.OpenStockDb(QString());
    appContext.storeConnection = direct;
}
} // namespace

// Several tills on one store: each is a StockDb on a connection of its own.
class TestTills : public QObject
{
    Q_OBJECT
private slots:
    void init() { store = std::make_unique<TempStore>(); }
    void cleanup() { store.reset(); }
    void simultaneousBookingsAllCount();
    void editRacedByBookingIsRefused();
    void salesAtTwoTillsLoseNoUnit();
    void tillsClaimDifferentWorkerNumbers();
    void serverAwayThenBack_data();
    void serverAwayThenBack();
    void refusedSettingsOpenNothing_data();
    void refusedSettingsOpenNothing();
    void passwordsNeverShown();
    void returnsNeverExceedTheSale();
    void racingReturnsNeverExceedTheSale();
    void storedNumberNotHandedOut_data();
    void storedNumberNotHandedOut();
    void bookingFindsProductByBarcodeAlone();
    void resentInsertComparesTheStoredRow();
    void vanishedTillFreesItsLocks();
    void statisticsReadOneMoment();

private:
    std::unique_ptr<TempStore> store;
};

// Both tills book the same new barcodes in the same order, meeting before
// each one, so that every barcode's first booking is raced.
void TestTills::simultaneousBookingsAllCount()
{
    if (!TempStore::OnServer())
        QSKIP("one till per Stock.db");
    const int barcodes = 40;
    QSemaphore arrived[2];
    std::unique_ptr<QThread> tills[2];
    for (int till = 0; till < 2; ++till) {
        tills[till].reset(QThread::create([till, &arrived] {
            StockDb other("till" + QString::number(till));
            other.OpenStockDb(QString());
            for (int i = 0; i < barcodes; ++i) {
                arrived[till].release();
                arrived[1 - till].acquire();
                const QString guid = QString::number(till * 1000 + i);
                QVERIFY(other.BookPurchase(Purchase(guid, "1", QString::number(i)), guid));
            }
        }));
        tills[till]->start();
    }
    QVERIFY(tills[0]->wait(60000) && tills[1]->wait(60000));
    QCOMPARE(store->Count("purchases"), 2 * barcodes);
    QCOMPARE(store->Scalar("SELECT count(*) FROM products WHERE product_num = 2").toInt(),
             barcodes);
    QCOMPARE(store->Count("products"), barcodes);
}

// The settings one till sets hold at the other; both sell at once.
void TestTills::salesAtTwoTillsLoseNoUnit()
{
    QVERIFY(stockDb.BookPurchase(Purchase("1", "5"), "100"));
    StockDb other("other");
    other.OpenStockDb(QString());
    QVERIFY(!other.SalesReduceStock() && other.LowStockLevel() == 0);
    QVERIFY(stockDb.SetSalesReduceStock(true) && stockDb.SetLowStockLevel(3));
    QVERIFY(other.SalesReduceStock() && other.LowStockLevel() == 3);
    QVERIFY(stockDb.SetSalesReduceStock(false) && !other.SalesReduceStock());
    std::unique_ptr<QThread> tills[2];
    for (int till = 0; till < 2; ++till) {
        tills[till].reset(QThread::create([till] {
            StockDb seller("till" + QString::number(till));
            seller.OpenStockDb(QString());
            for (int sale = 0; sale < 100; ++sale) {
                StockDb::Transaction transaction(seller);
                QVERIFY(seller.ChangeStockBy("690", -1) && transaction.commit());
            }
        }));
        tills[till]->start();
    }
    QVERIFY(tills[0]->wait(60000) && tills[1]->wait(60000));
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("-195"));
}

void TestTills::editRacedByBookingIsRefused()
{
    QVERIFY(stockDb.BookPurchase(Purchase("1", "5"), "100"));
    const ProductInfo shown = stockDb.QueryProductByBarcode("690");
    ProductInfo edited = shown;
    edited.product_num = "50";
    {
        StockDb other("other");
        other.OpenStockDb(QString());
        QVERIFY(other.BookPurchase(Purchase("2", "3"), "200"));
    }
    QCOMPARE(stockDb.RewriteProduct(shown, edited), StockDb::Rewrite::ChangedElsewhere);
    QCOMPARE(stockDb.RemoveProduct(shown), StockDb::Rewrite::ChangedElsewhere);
    const ProductInfo stored = stockDb.QueryProductByBarcode("690");
    QCOMPARE(stored.product_num, QString("8"));
    QCOMPARE(stockDb.RewriteProduct(stored, edited), StockDb::Rewrite::Written);
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("50"));
    // Deleted once; the second delete finds nothing to delete.
    QCOMPARE(stockDb.RemoveProduct(edited), StockDb::Rewrite::Written);
    QCOMPARE(stockDb.RemoveProduct(edited), StockDb::Rewrite::ChangedElsewhere);
}

void TestTills::tillsClaimDifferentWorkerNumbers()
{
    const int first = stockDb.Worker();
    QCOMPARE(int((NewRecordIdText().toULongLong() >> 12) & 0x3FF), first);
    if (!TempStore::OnServer())
        QSKIP("the file's till is always 1009");
    StockDb other("other");
    other.OpenStockDb(QString());
    QVERIFY(other.IsOpen() && other.Worker() != first);
    // Kept across starts; the same identity in another folder is another till.
    stockDb.OpenStockDb(QString());
    QCOMPARE(stockDb.Worker(), first);
    appContext.appDir += "-copy";
    stockDb.OpenStockDb(QString());
    QVERIFY(stockDb.Worker() != first && stockDb.Worker() != other.Worker());

    store->Exec("INSERT INTO tills SELECT n, n, '' FROM generate_series(0, 1023) n "
                "ON CONFLICT DO NOTHING");
    StockDb third("third");
    third.OpenStockDb(QString());
    QVERIFY2(!third.IsOpen() && third.OpenErrorText().contains("1023"),
             qPrintable(third.OpenErrorText()));
}

void TestTills::serverAwayThenBack_data()
{
    QTest::addColumn<Action>("leave");
    QTest::newRow("while working") << Action([] {});
    QTest::newRow("at start-up") << Action([] { stockDb.OpenStockDb(QString()); });
}

void TestTills::serverAwayThenBack()
{
    QFETCH(Action, leave);
    if (!TempStore::OnServer())
        QSKIP("no server");
    QVERIFY(TempStore::Server("stop"));
    QElapsedTimer waited;
    waited.start();
    leave();
    QVERIFY(!stockDb.BookPurchase(Purchase("1", "5"), "100"));
    QVERIFY(waited.elapsed() < 5000);
    QVERIFY(!stockDb.ServerAwayNote().isEmpty());
    QVERIFY(TempStore::Server("start"));
    QTest::qWait(1100);
    QVERIFY(stockDb.BookPurchase(Purchase("1", "5"), "100"));
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("5"));
}

void TestTills::refusedSettingsOpenNothing_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("setup");
    // clang-format off
    QTest::newRow("unknown engine") << "mysql" << "" << "mysql" << "";
    QTest::newRow("';' in the connection") << "postgresql" << "host=/nowhere;port=1" << ";" << "";
    if (TempStore::OnServer())
        QTest::newRow("a role that may not make the tables")
            << "postgresql" << TempStore::ServerConnection() + " user=clerk" << "permission denied"
            << "DROP TABLE providers, products, purchases, orders, orderdetail, tills, backups; "
               "DROP ROLE IF EXISTS clerk; CREATE ROLE clerk LOGIN";
    // clang-format on
}

void TestTills::refusedSettingsOpenNothing()
{
    QFETCH(QString, engine);
    QFETCH(QString, connection);
    QFETCH(QString, reason);
    QFETCH(QString, setup);
    if (!setup.isEmpty())
        QVERIFY(!store->Exec(setup).lastError().isValid());
    QTemporaryDir empty;
    appContext.appDir = empty.path();
    appContext.storeEngine = engine;
    appContext.storeConnection = connection;
    stockDb.OpenStockDb(QString());
    QVERIFY(!stockDb.IsOpen());
    QVERIFY(!stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    QVERIFY2(stockDb.OpenErrorText().contains(reason), qPrintable(stockDb.OpenErrorText()));
    QVERIFY(QDir(empty.path()).isEmpty());
}

void TestTills::passwordsNeverShown()
{
    QCOMPARE(MaskedConnection("host=h password=s3cret user=u PASSWORD = 'a b\\' c' dbname=d "
                              "sslpassword=k3y"),
             QString("host=h password=*** user=u PASSWORD = *** dbname=d sslpassword=***"));
    QCOMPARE(MaskedConnection("service=shop"), QString("service=shop"));
}

// On a store made before returns existed, which gets their table at start.
void TestTills::returnsNeverExceedTheSale()
{
    QVERIFY(!store->Exec("DROP TABLE order_returns").lastError().isValid());
    stockDb.OpenStockDb(QString());
    QVERIFY(SellYesterday());
    QVERIFY(stockDb.InsertProduct("7", "茶", "690", "5", "", "", ""));
    QCOMPARE(Take(stockDb, "2", 2), StockDb::Return::Stored);
    // Units go back on the shelf only where sales take them off it.
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("5"));
    QVERIFY(stockDb.SetSalesReduceStock(true));
    QCOMPARE(Take(stockDb, "3", 1, 1), StockDb::Return::Stored);
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("6"));
    const QStringList before = StoreSnapshot() << TableRows("order_returns");
    QCOMPARE(Take(stockDb, "4", 1), StockDb::Return::TooMany);
    QCOMPARE(Take(stockDb, "4", 0, 1), StockDb::Return::TooMany);
    QCOMPARE(stockDb.StoreReturn("2", "4", "", {{"", "", "690", "2.5", 0, 0, 1}}),
             StockDb::Return::OfAReturn);
    QCOMPARE(StoreSnapshot() << TableRows("order_returns"), before);

    const OrderList today = stockDb.QueryOrdersOfDay(QDate::currentDate());
    QCOMPARE(today.size(), 2);
    QCOMPARE(QStringList({today[1].order_guid, today[1].order_total, today[1].order_ptnum}),
             QStringList({"3", "-6.5", "-2"}));
    const OrderDetailList lines = stockDb.QueryOrderDetails("3");
    QCOMPARE(QStringList({lines[1].order_product_name, lines[1].order_product_guid,
                          lines[1].order_product_num, lines[1].order_product_subtotal}),
             QStringList({"水", "8", "-1", "-4"}));
    QCOMPARE(stockDb.SaleOfReturn("3"), QString("1"));
    QCOMPARE(stockDb.QueryReturnLines("1")[0].returned, qint64(3));
}

// For each sale both tills return two of its three at the same moment.
void TestTills::racingReturnsNeverExceedTheSale()
{
    const int sales = 20;
    for (int sale = 1; sale <= sales; ++sale)
        QVERIFY(SellYesterday(QString::number(sale)));
    QSemaphore arrived[2];
    QList<StockDb::Return> outcomes[2];
    std::unique_ptr<QThread> tills[2];
    for (int till = 0; till < 2; ++till) {
        tills[till].reset(QThread::create([till, &arrived, &outcomes] {
            StockDb other("till" + QString::number(till));
            other.OpenStockDb(QString());
            for (int sale = 1; sale <= sales; ++sale) {
                arrived[till].release();
                arrived[1 - till].acquire();
                const QString guid = QString::number(1000 * (till + 1) + sale);
                outcomes[till] << Take(other, guid, 2, 0, QString::number(sale));
            }
        }));
        tills[till]->start();
    }
    QVERIFY(tills[0]->wait(60000) && tills[1]->wait(60000));
    // The later of the two is told why, not that it failed.
    const QList<StockDb::Return> all = outcomes[0] + outcomes[1];
    QCOMPARE(all.count(StockDb::Return::Stored), sales);
    QCOMPARE(all.count(StockDb::Return::TooMany), sales);
    QCOMPARE(store->Scalar("SELECT sum(order_product_num) FROM orderdetail").toInt(), 2 * sales);
}

void TestTills::storedNumberNotHandedOut_data()
{
    QTest::addColumn<bool>("fileNumber");
    // Tills cloned from one disk image share the key their number is kept under.
    QTest::newRow("held by a running till") << false;
    QTest::newRow("the file store's number") << true;
}

void TestTills::storedNumberNotHandedOut()
{
    QFETCH(bool, fileNumber);
    if (!TempStore::OnServer())
        QSKIP("the file's till is always 1009");
    StockDb other("other");
    other.OpenStockDb(QString());
    const int taken = fileNumber ? 1009 : other.Worker();
    store->Exec(QString("DELETE FROM tills WHERE till_worker = %1").arg(taken));
    store->Exec(QString("UPDATE tills SET till_worker = %1 WHERE till_worker = %2")
                    .arg(taken)
                    .arg(stockDb.Worker()));
    stockDb.OpenStockDb(QString());
    QVERIFY(stockDb.IsOpen());
    QVERIFY(stockDb.Worker() != taken && stockDb.Worker() != other.Worker());
}

void TestTills::bookingFindsProductByBarcodeAlone()
{
    QVERIFY(stockDb.InsertProduct("100", "", "690", "5", "7", "1.5", "2"));
    QVERIFY(stockDb.BookPurchase(Purchase("1", "3"), "200"));
    QCOMPARE(store->Count("products"), 1);
    QCOMPARE(store->Scalar("SELECT product_num FROM products").toInt(), 8);
}

// The first send is stored but its answer never comes; the same insert goes
// again on a new connection.
void TestTills::resentInsertComparesTheStoredRow()
{
    if (!TempStore::OnServer())
        QSKIP("the file is never sent to again");
    CutProxy relay(TempStore::ServerPort());
    ThroughRelay(relay);
    QTest::qWait(1100);
    relay.Arm("insert into providers", true);
    QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    QVERIFY(relay.Fired());
    QTest::qWait(1100);
    relay.Arm("insert into providers", true);
    QVERIFY(!stockDb.InsertProvider("1", "乙", "", "", "", "", ""));
    QCOMPARE(store->Scalar("SELECT provider_name FROM providers").toString(), QString("甲"));
}

// A till that vanishes halfway through a change never says so: it just
// stops sending while holding its locks.
void TestTills::vanishedTillFreesItsLocks()
{
    if (!TempStore::OnServer())
        QSKIP("one till per Stock.db");
    QVERIFY(stockDb.BookPurchase(Purchase("1", "5"), "100"));
    StockDb gone("gone");
    gone.OpenStockDb(QString());
    StockDb::Transaction change(gone);
    QVERIFY(gone.ExeSql("UPDATE products SET product_num = 0 WHERE product_barcode = '690'"));
    QElapsedTimer waited;
    waited.start();
    QVERIFY(!stockDb.BookPurchase(Purchase("2", "1"), "200"));
    QVERIFY(waited.elapsed() < 5000);
    QCOMPARE(stockDb.ServerAwayNote(), QString("\n该商品正被其他收银台修改，请稍后再试"));
    bool booked = false;
    while (!booked && waited.elapsed() < 15000)
        booked = stockDb.BookPurchase(Purchase("2", "1"), "200");
    QVERIFY(booked);
    QCOMPARE(stockDb.QueryProductByBarcode("690").product_num, QString("6"));
}

// Another till sells between the parts of the statistics.
void TestTills::statisticsReadOneMoment()
{
    if (!TempStore::OnServer())
        QSKIP("one till per Stock.db");
    CutProxy relay(TempStore::ServerPort());
    ThroughRelay(relay);
    const QDate day(2021, 3, 5);
    const auto sell = [day](StockDb& till, const QString& guid) {
        const QString time = day.toString("yyyy-MM-dd 10:00:00");
        return till.InsertOrderDetail({guid, time, "2", "茶", "100", "690", "1", "2", "2"}) &&
               till.InsertOrder({guid, time, "2", "1"});
    };
    QVERIFY(sell(stockDb, "1"));
    relay.Arm("GROUP BY d.order_product_barcode", false, [&sell] {
        StockDb other("other");
        other.OpenStockDb(QString());
        QVERIFY(sell(other, "2"));
    });
    const PeriodSales sales = stockDb.QuerySales(day, day, 10);
    QVERIFY(relay.Fired());
    QCOMPARE(sales.days.size(), 1);
    QCOMPARE(sales.topProducts.size(), 1);
    QCOMPARE(sales.topProducts.first().turnoverCents, sales.days.first().turnoverCents);
}

QTEST_GUILESS_MAIN(TestTills)
#include "tst_tills.moc"

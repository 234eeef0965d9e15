#include "app/AppContext.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {
const QString kBarcode = "6901234567892";

PurchaseInfo Purchase(const QString& guid, const QString& num)
{
    PurchaseInfo purchase;
    purchase.purchase_time = "2021-03-05 10:00:00";
    purchase.purchase_guid = guid;
    purchase.purchase_id = "1001";
    purchase.purchase_product_name = "茶";
    purchase.purchase_product_barcode = kBarcode;
    purchase.purchase_product_num = num;
    purchase.purchase_provider_guid = "7";
    purchase.purchase_product_oprice = "1.5";
    purchase.purchase_product_rprice = "2";
    return purchase;
}
} // namespace

// Several tills on one store: each is a StockDb on a connection of its own.
class TestTills : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void simultaneousBookingsOfANewBarcodeAllCount();
    void editRacedByBookingIsRefused();
    void tillsClaimDifferentWorkerNumbers();
    void serverAwayAndBack();
    void startsWithoutAServer();
    void refusedSettingsOpenNothing_data();
    void refusedSettingsOpenNothing();
    void passwordsNeverShown_data();
    void passwordsNeverShown();

private:
    std::unique_ptr<TempStore> store;
};

void TestTills::init()
{
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
}

void TestTills::cleanup()
{
    store.reset();
    appContext.storeEngine.clear();
}

// Both tills book the same new barcodes in the same order, meeting before
// each one, so that every barcode's first booking is raced.
void TestTills::simultaneousBookingsOfANewBarcodeAllCount()
{
    if (!TempStore::OnServer())
        QSKIP("one till per Stock.db");
    const int barcodes = 40;
    QSemaphore arrived[2];
    QList<QThread*> tills;
    for (int till = 0; till < 2; ++till) {
        tills << QThread::create([till, barcodes, &arrived] {
            StockDb other("till" + QString::number(till));
            other.OpenStockDb(QString());
            for (int i = 0; i < barcodes; ++i) {
                arrived[till].release();
                arrived[1 - till].acquire();
                PurchaseInfo purchase = Purchase(QString::number(till * 1000 + i), "1");
                purchase.purchase_product_barcode = "690" + QString::number(i);
                QVERIFY(other.BookPurchase(purchase, purchase.purchase_guid));
            }
            other.CloseStockDb();
        });
        tills.last()->start();
    }
    for (QThread* till : tills) {
        QVERIFY(till->wait(60000));
        delete till;
    }
    QCOMPARE(store->Count("purchases"), 2 * barcodes);
    QCOMPARE(store->Count("products"), barcodes);
    QCOMPARE(store->Scalar("SELECT count(*) FROM products WHERE product_num = 2").toInt(),
             barcodes);
}

void TestTills::editRacedByBookingIsRefused()
{
    QVERIFY(stockDb.BookPurchase(Purchase("1", "5"), "100"));
    const ProductInfo shown = stockDb.QueryProductByBarcode(kBarcode);
    ProductInfo edited = shown;
    edited.product_num = "50";
    edited.product_name = "绿茶";
    {
        StockDb other("other");
        other.OpenStockDb(QString());
        QVERIFY(other.BookPurchase(Purchase("2", "3"), "200"));
    }
    QSqlDatabase::removeDatabase("other");
    QCOMPARE(stockDb.RewriteProduct(shown, edited), StockDb::Rewrite::ChangedElsewhere);
    const ProductInfo stored = stockDb.QueryProductByBarcode(kBarcode);
    QCOMPARE(stored.product_num, QString("8"));
    QCOMPARE(stored.product_name, QString("茶"));
    QCOMPARE(stockDb.RewriteProduct(stored, edited), StockDb::Rewrite::Written);
    QCOMPARE(stockDb.QueryProductByBarcode(kBarcode).product_num, QString("50"));
    QCOMPARE(store->Count("products"), 1);
}

void TestTills::tillsClaimDifferentWorkerNumbers()
{
    if (!TempStore::OnServer()) {
        QCOMPARE(stockDb.Worker(), kRecordIdWorker);
        return;
    }
    const int first = stockDb.Worker();
    const auto workerOf = [](QByteArray id) { return int((id.toULongLong() >> 12) & 0x3FF); };
    QCOMPARE(workerOf(NewRecordIdText()), first);
    StockDb other("other");
    other.OpenStockDb(QString());
    QVERIFY(other.IsOpen());
    QVERIFY(other.Worker() != first);
    // Kept across starts; the same identity in another folder is another till.
    stockDb.OpenStockDb(QString());
    QCOMPARE(stockDb.Worker(), first);
    const QString folder = appContext.appDir;
    appContext.appDir += "-copy";
    stockDb.OpenStockDb(QString());
    QVERIFY(stockDb.Worker() != first && stockDb.Worker() != other.Worker());
    appContext.appDir = folder;

    // Every number taken: a further till is refused and saying so.
    QVERIFY(store
                ->Exec("INSERT INTO tills SELECT n, 'taken' || n, '' FROM generate_series(0, "
                       "1023) n ON CONFLICT DO NOTHING")
                .lastError()
                .text()
                .trimmed()
                .isEmpty());
    other.CloseStockDb();
    StockDb third("third");
    third.OpenStockDb(QString());
    QVERIFY(!third.IsOpen());
    QVERIFY2(third.OpenErrorText().contains("1024"), qPrintable(third.OpenErrorText()));
    third.CloseStockDb();
}

void TestTills::serverAwayAndBack()
{
    if (!TempStore::OnServer())
        QSKIP("no server");
    QVERIFY(TempStore::StopServer());
    QElapsedTimer waited;
    waited.start();
    QVERIFY(!stockDb.BookPurchase(Purchase("1", "5"), "100"));
    QVERIFY(stockDb.QueryPurchasesOfDay(QDate(2021, 3, 5)).isEmpty());
    QVERIFY(waited.elapsed() < 5000);
    QVERIFY(!stockDb.ServerAwayNote().isEmpty());
    QVERIFY(TempStore::StartServer());
    QTest::qWait(1100);
    QVERIFY(stockDb.BookPurchase(Purchase("1", "5"), "100"));
    QCOMPARE(stockDb.QueryProductByBarcode(kBarcode).product_num, QString("5"));
}

void TestTills::startsWithoutAServer()
{
    if (!TempStore::OnServer())
        QSKIP("no server");
    QVERIFY(TempStore::StopServer());
    stockDb.OpenStockDb(QString());
    QVERIFY(!stockDb.IsOpen());
    QVERIFY(!stockDb.OpenErrorText().isEmpty());
    QVERIFY(TempStore::StartServer());
    QTest::qWait(1100);
    QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    QCOMPARE(stockDb.QueryAllProviders(0, 100).size(), 1);
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
            << "DROP TABLE providers, products, purchases, orders, orderdetail, tills; "
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

void TestTills::passwordsNeverShown_data()
{
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("shown");
    QTest::newRow("bare") << "host=h password=s3cret user=u"
                          << "host=h password=*** user=u";
    QTest::newRow("quoted, blanks") << "password = 'a b\\' c' dbname=d"
                                    << "password = *** dbname=d";
    QTest::newRow("capitals, last") << "user=u PASSWORD=x"
                                    << "user=u PASSWORD=***";
    QTest::newRow("none") << "service=shop"
                          << "service=shop";
}

void TestTills::passwordsNeverShown()
{
    QFETCH(QString, connection);
    QFETCH(QString, shown);
    QCOMPARE(MaskedConnection(connection), shown);
}

QTEST_GUILESS_MAIN(TestTills)
#include "tst_tills.moc"

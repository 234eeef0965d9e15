#include "store/StockBackup.h"
#include "store/StockDb.h"
#include "support_StoreTest.h"
#include "support_TempStore.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
const QDate kToday(2031, 3, 15);

StockBackup::Result BackUp(const TempStore& store)
{
    return StockBackup(stockDb.FilePath(), stockDb.Password(), store.Dir() + "/backup")
        .Make(kToday);
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList Listed(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}
} // namespace

class TestStockBackup : public QObject
{
    Q_OBJECT
private slots:
    void restoredCopyHoldsEveryRecord();
    void keepsFourteenNewest_data();
    void keepsFourteenNewest();
    void copyEndsWhileSalesGoOn();
};

void TestStockBackup::restoredCopyHoldsEveryRecord()
{
    TempStore store;
    QVERIFY(stockDb.InsertProvider("501", "东方供应", "0571", "路", "甲", "乙", "丙"));
    QVERIFY(stockDb.InsertProduct("1001", "牛奶", "6901234567892", "12", "501", "1.5", "2.25"));
    QVERIFY(stockDb.InsertPurchase("2031-03-15 09:00:00", "77", "9", "牛奶", "6901234567892", "12",
                                   "501", "1.5", "2.25"));
    QVERIFY(stockDb.InsertOrderDetail(
        {"88", "2031-03-15 10:00:00", "4.5", "牛奶", "1001", "6901234567892", "2", "2.25", "4.5"}));
    QVERIFY(stockDb.InsertOrder({"88", "2031-03-15 10:00:01", "4.5", "1"}));
    const QStringList before = StoreSnapshot();
    QDir().mkpath(store.Dir() + "/backup");
    WriteFile(store.Dir() + "/backup/Stock-2031-03-14.db.part", "cut short by a kill");

    const StockBackup::Result result = BackUp(store);
    QVERIFY2(result.outcome == StockBackup::Outcome::Made, qPrintable(result.reason));
    QCOMPARE(Listed(store.Dir() + "/backup"), QStringList{"Stock-2031-03-15.db"});

    // What the README tells the shopkeeper to do.
    stockDb.CloseStockDb();
    QVERIFY(QFile::remove(store.DbPath()));
    QVERIFY(QFile::copy(store.Dir() + "/backup/Stock-2031-03-15.db", store.DbPath()));
    stockDb.OpenStockDb(QString());
    QVERIFY2(store.IsOpen(), qPrintable(stockDb.OpenErrorText()));
    QCOMPARE(StoreSnapshot(), before);
}

enum class Damage
{
    None,
    TablesCrossLinked, // every page reads, the b-trees do not add up
    PageUnreadable     // a page fails its authentication
};
Q_DECLARE_METATYPE(Damage)

void TestStockBackup::keepsFourteenNewest_data()
{
    QTest::addColumn<Damage>("damage");
    // Copies dated after today: the clock was set back since they were made.
    QTest::addColumn<int>("daysAhead");
    QTest::newRow("healthy store") << Damage::None << 0;
    QTest::newRow("tables cross-linked") << Damage::TablesCrossLinked << 0;
    QTest::newRow("page unreadable") << Damage::PageUnreadable << 0;
    QTest::newRow("clock set back") << Damage::None << 20;
}

void TestStockBackup::keepsFourteenNewest()
{
    QFETCH(Damage, damage);
    QFETCH(int, daysAhead);
    TempStore store;
    const QString folder = store.Dir() + "/backup";
    QDir().mkpath(folder);
    QStringList older;
    for (int daysBack = 1; daysBack <= 20; ++daysBack)
        older << StockBackup::FileName(kToday.addDays(-daysBack));
    for (const QString& name : older)
        WriteFile(folder + '/' + name, "an older copy");
    QStringList untouched = {"Stock-2031-02-30.db", "Stock-2001-01-01.db.bak", "notes.txt",
                             "stock-2001-01-02.db"};
    for (const QString& name : untouched)
        WriteFile(folder + '/' + name, "not a copy of ours");
    for (int ahead = 1; ahead <= daysAhead; ++ahead) {
        untouched << StockBackup::FileName(kToday.addDays(ahead));
        WriteFile(folder + '/' + untouched.last(), "made with the clock ahead");
    }

    if (damage == Damage::TablesCrossLinked) {
        store.Exec("PRAGMA writable_schema=ON");
        store.Exec("UPDATE sqlite_master SET rootpage=(SELECT rootpage FROM sqlite_master WHERE "
                   "name='products') WHERE name='orders'");
    } else if (damage == Damage::PageUnreadable) {
        QFile file(store.DbPath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() - 512));
        file.write(QByteArray(16, 'X'));
        file.close();
        // As a start finds it: none of the file in the program's cache yet.
        stockDb.OpenStockDb(QString());
    }

    const StockBackup::Result result = BackUp(store);
    QStringList expected = untouched;
    if (damage == Damage::None) {
        QVERIFY2(result.outcome == StockBackup::Outcome::Made, qPrintable(result.reason));
        expected << StockBackup::FileName(kToday) << older.mid(0, StockBackup::kKeep - 1);
    } else {
        QVERIFY(result.outcome == StockBackup::Outcome::Failed);
        QVERIFY2(result.reason.startsWith("数据库已损坏"), qPrintable(result.reason));
        expected << older;
    }
    expected.sort();
    QCOMPARE(Listed(folder), expected);
}

void TestStockBackup::copyEndsWhileSalesGoOn()
{
    TempStore store;
    store.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
               "INSERT INTO providers(provider_guid, provider_name) "
               "SELECT i, hex(zeroblob(500)) FROM n");
    StockBackup backup(stockDb.FilePath(), stockDb.Password(), store.Dir() + "/backup");
    StockBackup::Result result;
    std::unique_ptr<QThread> copying(QThread::create([&] { result = backup.Make(kToday); }));
    copying->start();
    QElapsedTimer selling;
    selling.start();
    bool sold = true;
    for (int sale = 1; sold && !copying->isFinished() && selling.elapsed() < 20000; ++sale) {
        sold = stockDb.InsertOrder({QString::number(sale), "2031-03-15 10:00:00", "1", "1"});
        QThread::msleep(5);
    }
    const bool endedWhileSelling = copying->isFinished();
    copying->wait();
    QVERIFY(sold && endedWhileSelling);
    QVERIFY2(result.outcome == StockBackup::Outcome::Made, qPrintable(result.reason));
}

QTEST_GUILESS_MAIN(TestStockBackup)
#include "tst_stockbackup.moc"

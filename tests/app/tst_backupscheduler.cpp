#include "app/BackupScheduler.h"
#include "app/Pellory.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class TestBackupScheduler : public QObject
{
    Q_OBJECT
private slots:
    void failureToldOnceAndNextDayBacksUp();
    void keyChangeMakesTheBackupAgain();
    void keyChangeReencryptsEveryCopy();
};

namespace {
// Whether the file opens and reads with key, on a connection of its own.
bool OpensWith(const QString& file, const QString& key)
{
    bool read = false;
    {
        QSqlDatabase copy = QSqlDatabase::addDatabase("SQLITECIPHER", "copy");
        copy.setDatabaseName(file);
        copy.setPassword(key);
        read = copy.open() && QSqlQuery("SELECT count(*) FROM providers", copy).next();
    }
    QSqlDatabase::removeDatabase("copy");
    return read;
}
} // namespace

void TestBackupScheduler::failureToldOnceAndNextDayBacksUp()
{
    MessageBoxes::SetTestMode(true);
    TempStore store;
    // A file where the folder should be: refused even to root.
    QFile blocker(store.Dir() + "/backup");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QDate today(2031, 12, 31);
    Pellory window(store.Dir());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    BackupScheduler scheduler(store.Dir(), [&today] { return today; });
    connect(&scheduler, &BackupScheduler::BackupDone, &window, &Pellory::ShowBackupResult);
    auto* failure = window.StatusBar()->findChild<QLabel*>("lb_backupFailure");
    QVERIFY(failure);

    // Told in red in the status bar, with no box: the barcode field keeps the keyboard.
    scheduler.Start();
    QTRY_VERIFY(failure->isVisible());
    QVERIFY2(failure->text().startsWith("备份失败：") && failure->text().size() > 5,
             qPrintable(failure->text()));
    QCOMPARE(failure->palette().color(failure->foregroundRole()), QColor(Qt::red));
    QVERIFY(MessageBoxes::TakeShown().isEmpty());
    QCOMPARE(QApplication::focusWidget()->objectName(), QString("le_barcode"));
    scheduler.CheckDate();
    QVERIFY(!scheduler.IsRunning());

    QVERIFY(blocker.remove());
    today = today.addDays(1);
    scheduler.CheckDate();
    QTRY_VERIFY(!scheduler.IsRunning());
    QVERIFY(QFile::exists(store.Dir() + "/backup/Stock-2032-01-01.db"));
    QVERIFY(!failure->isVisible());

    // Another till of the same server finds the day's copy made.
    QTemporaryDir otherTill;
    BackupScheduler other(otherTill.path(), [&today] { return today; });
    QSignalSpy done(&other, &BackupScheduler::BackupDone);
    other.CheckDate();
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(done.first().first().toBool());
    QCOMPARE(QFile::exists(otherTill.path() + "/backup/Stock-2032-01-01.db"),
             !TempStore::OnServer());
}

void TestBackupScheduler::keyChangeMakesTheBackupAgain()
{
    MessageBoxes::SetTestMode(true);
    TempStore store;
    if (TempStore::OnServer())
        QSKIP("the server's key is no passphrase of the shop");
    // Large enough to be still copying when the key changes.
    store.Exec("CREATE TABLE history(entry)");
    store.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
               "INSERT INTO history SELECT randomblob(1000) FROM n");
    BackupScheduler scheduler(store.Dir(), [] { return QDate(2031, 12, 31); });
    scheduler.CheckDate();
    scheduler.DropRunning();
    QVERIFY(stockDb.ChangeKey("the shop's own"));
    QTRY_VERIFY_WITH_TIMEOUT(!scheduler.IsRunning(), 60000);
    QSqlDatabase copy = QSqlDatabase::addDatabase("SQLITECIPHER", "copy");
    copy.setDatabaseName(store.Dir() + "/backup/Stock-2031-12-31.db");
    copy.setPassword("the shop's own");
    QVERIFY(copy.open());
}

void TestBackupScheduler::keyChangeReencryptsEveryCopy()
{
    if (TempStore::OnServer())
        QSKIP("the file's own key");
    TempStore store;
    BackupScheduler scheduler(store.Dir(), [] { return QDate(2031, 12, 31); });
    scheduler.CheckDate();
    QTRY_VERIFY(!scheduler.IsRunning());
    const QString folder = store.Dir() + "/backup/";
    QVERIFY(QFile::copy(folder + "Stock-2031-12-31.db", folder + "Stock-2031-12-30.db"));
    QVERIFY(stockDb.InsertProvider("1", "甲", "", "", "", "", ""));
    QSignalSpy rekeyed(&scheduler, &BackupScheduler::CopiesRekeyed);

    scheduler.DropRunning();
    QVERIFY(stockDb.ChangeKey("the shop's own"));
    scheduler.RekeyCopies();
    QVERIFY(rekeyed.wait(60000));
    for (const QString day : {"2031-12-30", "2031-12-31"}) {
        QVERIFY(!OpensWith(folder + "Stock-" + day + ".db", StockDb::FilePassword()));
        QVERIFY(OpensWith(folder + "Stock-" + day + ".db", "the shop's own"));
    }
    // The day's copy made afresh holds what was stored after the first one.
    QSqlDatabase today = QSqlDatabase::addDatabase("SQLITECIPHER", "today");
    today.setDatabaseName(folder + "Stock-2031-12-31.db");
    today.setPassword("the shop's own");
    QVERIFY(today.open());
    QSqlQuery providers("SELECT count(*) FROM providers", today);
    QVERIFY(providers.next());
    QCOMPARE(providers.value(0).toInt(), 1);
}

QTEST_MAIN(TestBackupScheduler)
#include "tst_backupscheduler.moc"

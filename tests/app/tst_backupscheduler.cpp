#include "app/BackupScheduler.h"
#include "app/Pellory.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

class TestBackupScheduler : public QObject
{
    Q_OBJECT
private slots:
    void failureToldOnceAndNextDayBacksUp();
    void keyChangeMakesTheBackupAgain();
};

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

QTEST_MAIN(TestBackupScheduler)
#include "tst_backupscheduler.moc"

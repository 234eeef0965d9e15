#include "app/BackupScheduler.h"
#include "screens/MessageBoxes.h"
#include "support_TempStore.h"

#include <QFile>
#include <QtTest>

class TestBackupScheduler : public QObject
{
    Q_OBJECT
private slots:
    void failureToldOnceAndNextDayBacksUp();
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
    BackupScheduler scheduler(store.Dir(), [&today] { return today; });

    scheduler.Start();
    QList<MessageBoxes::Shown> shown;
    QTRY_VERIFY(!(shown += MessageBoxes::TakeShown()).isEmpty());
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, QString("Quorrin1009"));
    QVERIFY2(shown[0].text.startsWith("备份失败\n") && shown[0].text.size() > 5,
             qPrintable(shown[0].text));
    scheduler.CheckDate();
    QVERIFY(!scheduler.IsRunning());

    QVERIFY(blocker.remove());
    today = today.addDays(1);
    scheduler.CheckDate();
    QTRY_VERIFY(!scheduler.IsRunning());
    QVERIFY(QFile::exists(store.Dir() + "/backup/Stock-2032-01-01.db"));
    QVERIFY(MessageBoxes::TakeShown().isEmpty());
}

QTEST_MAIN(TestBackupScheduler)
#include "tst_backupscheduler.moc"

#include "app/BackupScheduler.h"

#include "store/ServerBackup.h"
#include "store/StockDb.h"

#include <QDir>
#include <utility>

namespace {
// A new day is noticed within this long.
const int kDateCheckMs = 60 * 1000;
} // namespace

BackupScheduler::BackupScheduler(const QString& appDir, Today today, QObject* parent)
    : QObject(parent), folder(QDir(appDir).filePath(QStringLiteral("backup"))), today(today)
{
    connect(&dateTimer, &QTimer::timeout, this, &BackupScheduler::CheckDate);
}

BackupScheduler::~BackupScheduler()
{
    if (worker) {
        backup->Cancel();
        worker->wait();
    }
}

void BackupScheduler::Start()
{
    // Queued, so the window is on screen before anything is read.
    QTimer::singleShot(0, this, &BackupScheduler::CheckDate);
    dateTimer.start(kDateCheckMs);
}

void BackupScheduler::CheckDate()
{
    const QDate day = today();
    // A store that did not open has been reported already; nothing to copy.
    if (worker || day == lastDay || !stockDb.IsOpen())
        return;
    lastDay = day;
    // One copy a day of a shop's server is enough: another till made it.
    if (stockDb.ServerBackupDone(day)) {
        emit BackupDone(true, QString());
        return;
    }
    if (stockDb.IsServer())
        backup = std::make_unique<ServerBackup>(QLatin1String(QSqlDatabase::defaultConnection),
                                                StockDb::FilePassword(), folder);
    else
        backup = std::make_unique<StockBackup>(stockDb.FilePath(), stockDb.Password(), folder);
    Run([this, day] { return backup->Make(day); });
}

void BackupScheduler::Run(std::function<StockBackup::Result()> job)
{
    worker.reset(QThread::create([this, job] { result = job(); }));
    connect(worker.get(), &QThread::finished, this, &BackupScheduler::OnBackupFinished);
    worker->start();
}

void BackupScheduler::RekeyCopies()
{
    keysBefore.removeAll(stockDb.Password());
    rekeyPending = !keysBefore.isEmpty();
    // A copy still ending under the old key is taken along once it has.
    if (worker || !rekeyPending || !stockDb.IsOpen())
        return;
    rekeyPending = false;
    rekeying = true;
    const QStringList oldKeys = keysBefore;
    const QDate day = today();
    lastDay = day;
    backup = std::make_unique<StockBackup>(stockDb.FilePath(), stockDb.Password(), folder);
    Run([this, oldKeys, day] {
        const StockBackup::Result rekeyed = backup->Rekey(oldKeys);
        const StockBackup::Result made = backup->Make(day, true);
        return made.outcome == StockBackup::Outcome::Made ? rekeyed : made;
    });
}

void BackupScheduler::DropRunning()
{
    if (!keysBefore.contains(stockDb.Password()))
        keysBefore << stockDb.Password();
    if (!worker)
        return;
    backup->Cancel();
    worker->wait();
    // OnBackupFinished, still to come, starts the day over.
    lastDay = QDate();
}

void BackupScheduler::OnBackupFinished()
{
    worker->wait();
    worker.reset();
    const bool there = result.outcome == StockBackup::Outcome::Made ||
                       result.outcome == StockBackup::Outcome::AlreadyThere;
    if (there)
        stockDb.RecordServerBackup(lastDay);
    if (result.outcome != StockBackup::Outcome::Cancelled)
        emit BackupDone(there, result.reason);
    if (std::exchange(rekeying, false) && result.outcome == StockBackup::Outcome::Made) {
        keysBefore.clear();
        emit CopiesRekeyed();
    }
    if (rekeyPending)
        RekeyCopies();
    // The date may have changed while the copy ran.
    CheckDate();
}

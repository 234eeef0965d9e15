#include "app/BackupScheduler.h"

#include "store/ServerBackup.h"
#include "store/StockDb.h"

#include <QDir>

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
    worker.reset(QThread::create([this, day] { result = backup->Make(day); }));
    connect(worker.get(), &QThread::finished, this, &BackupScheduler::OnBackupFinished);
    worker->start();
}

void BackupScheduler::DropRunning()
{
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
    // The date may have changed while the copy ran.
    CheckDate();
}

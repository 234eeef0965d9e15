#pragma once

#include "store/StockBackup.h"

#include <QDate>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>

// The day's backup of the store, made on a thread of its own once the event
// loop runs and again whenever the date changes while the program runs. How
// each copy ended goes out as BackupDone, for the window to show; the program
// carries on either way.
class BackupScheduler : public QObject
{
    Q_OBJECT
public:
    using Today = std::function<QDate()>;

    // Backups go to <appDir>/backup; `today` tells the date.
    explicit BackupScheduler(const QString& appDir, Today today = &QDate::currentDate,
                             QObject* parent = nullptr);
    // A backup still running is stopped and leaves nothing behind.
    ~BackupScheduler() override;

    void Start();
    bool IsRunning() const { return worker != nullptr; }

signals:
    // The day's copy is there (made now or before), or failed for reason,
    // told for the shopkeeper. Not sent for a copy stopped by closing.
    void BackupDone(bool made, const QString& reason);
    // Every copy in backup/ now has the store's new key, and the day's copy
    // was made afresh under it.
    void CopiesRekeyed();

public slots:
    // Backs up the store unless this day was done (or tried) already.
    void CheckDate();
    // Stops a backup in progress before the store's key changes under it;
    // once it has stopped, the day is backed up again with the new key.
    void DropRunning();
    // The key changed: the copies made under the one before are encrypted
    // again in the background, and the day's copy is made afresh.
    void RekeyCopies();

private slots:
    void OnBackupFinished();

private:
    void Run(std::function<StockBackup::Result()> job);

    QString folder;
    Today today;
    QTimer dateTimer;
    QDate lastDay;
    std::unique_ptr<StockBackup> backup;
    std::unique_ptr<QThread> worker;
    StockBackup::Result result;
    // The keys the copies may have from before the changes, until they all
    // have the store's key.
    QStringList keysBefore;
    bool rekeyPending = false;
    bool rekeying = false;
};

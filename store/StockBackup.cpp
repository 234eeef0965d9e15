#include "store/StockBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sqlite3.h>
#include <unistd.h>

namespace {

// Pages copied per step; the store's lock is held for one step only (a few
// milliseconds for 1 KiB pages), so a sale waits at most that long.
const int kPagesPerStep = 256;
// The store's own connection may hold its lock for a whole write.
const int kBusyTimeoutMs = 5000;
const char kPartSuffix[] = ".part";

const QRegularExpression& DailyName()
{
    static const QRegularExpression name(QStringLiteral("^Stock-(\\d{4}-\\d{2}-\\d{2})\\.db$"));
    return name;
}

// A copy's name whose date is a real one; anything else is not ours.
bool IsDaily(const QString& name, const QString& suffix = QString())
{
    if (!name.endsWith(suffix))
        return false;
    const QRegularExpressionMatch match = DailyName().match(name.chopped(suffix.size()));
    return match.hasMatch() && QDate::fromString(match.captured(1), Qt::ISODate).isValid();
}

QStringList DailyFiles(const QString& folder, const QString& suffix)
{
    QStringList names;
    const QStringList entries =
        QDir(folder).entryList({QStringLiteral("Stock-*.db") + suffix}, QDir::Files);
    for (const QString& name : entries) {
        if (IsDaily(name, suffix))
            names << name;
    }
    return names;
}

struct Connection
{
    ~Connection() { sqlite3_close_v2(db); }
    QString Error() const { return QString::fromUtf8(sqlite3_errmsg(db)); }

    sqlite3* db = nullptr;
};

// Empty on success, else why the file could not be opened.
QString OpenKeyed(Connection& connection, const QString& path, int flags, const QByteArray& key)
{
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &connection.db, flags, nullptr);
    if (rc == SQLITE_OK && !key.isEmpty())
        rc = sqlite3_key(connection.db, key.constData(), key.size());
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_timeout(connection.db, kBusyTimeoutMs);
    return rc == SQLITE_OK ? QString() : connection.Error();
}

// "ok", or what quick_check (or the read that it needed) found.
QString QuickCheck(Connection& connection)
{
    sqlite3_stmt* statement = nullptr;
    QStringList lines;
    int rc = sqlite3_prepare_v2(connection.db, "PRAGMA quick_check", -1, &statement, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        lines << QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE ? lines.join(QLatin1Char('\n')) : connection.Error();
}

// Makes what was written to `path` survive a power cut.
bool Sync(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

StockBackup::Result Failure(const QString& reason)
{
    return {StockBackup::Outcome::Failed, reason};
}

} // namespace

StockBackup::StockBackup(QString storePath, QString key, QString folder)
    : storePath(storePath), key(key.toUtf8()), folder(folder)
{
    // Copied through a connection of its own, the store would have to stay
    // unwritten from the first page to the last: a sale every few seconds
    // made a large store's copy start over and never end.
    const QSqlDatabase program =
        QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    const QVariant handle = program.isOpen() ? program.driver()->handle() : QVariant();
    if (program.databaseName() == storePath && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        programConnection = *static_cast<sqlite3* const*>(handle.constData());
}

QString StockBackup::FileName(QDate day)
{
    return QStringLiteral("Stock-%1.db").arg(day.toString(Qt::ISODate));
}

StockBackup::Result StockBackup::Make(QDate day, bool afresh)
{
    if (!QDir().mkpath(folder))
        return Failure(QStringLiteral("无法创建备份文件夹 %1").arg(folder));
    RemoveLeftovers();
    const QString target = folder + QLatin1Char('/') + FileName(day);
    if (!afresh && QFileInfo::exists(target))
        return {Outcome::AlreadyThere, QString()};
    const Result result = Copy(target);
    if (result.outcome == Outcome::Made)
        KeepNewest(day);
    else
        QFile::remove(target + kPartSuffix);
    return result;
}

StockBackup::Result StockBackup::Copy(const QString& target)
{
    const QString part = target + kPartSuffix;
    const Result filled = Fill(part);
    if (filled.outcome != Outcome::Made)
        return filled;
    if (!Sync(part))
        return Failure(QStringLiteral("无法写入备份文件 %1").arg(part));

    // Checked as it lies on disk, through a connection of its own. The copy
    // holds the store's pages as the program reads them, so this is also the
    // store's check: a damaged store never becomes a backup (a page damaged
    // on disk after the program read it is copied as it was read, sound, and
    // shows at the next start). Checking the store itself would hold its lock
    // for the whole check and stop every sale meanwhile.
    {
        Connection check;
        QString verdict = OpenKeyed(check, part, SQLITE_OPEN_READONLY, key);
        if (verdict.isEmpty())
            verdict = QuickCheck(check);
        if (verdict != QLatin1String("ok"))
            return Failure(QStringLiteral("数据库已损坏：%1").arg(verdict));
    }
    // The key may have changed while the copy was checked.
    if (cancelled)
        return {Outcome::Cancelled, QString()};
    if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) !=
        0)
        return Failure(QStringLiteral("无法写入备份文件 %1").arg(target));
    // The name too must survive a power cut; the copy itself is complete.
    Sync(folder);
    return {Outcome::Made, QString()};
}

StockBackup::Result StockBackup::Fill(const QString& part)
{
    {
        Connection own;
        sqlite3* store = programConnection;
        QString error;
        if (!store) {
            error = OpenKeyed(own, storePath, SQLITE_OPEN_READONLY, key);
            store = own.db;
        }
        if (!error.isEmpty())
            return Failure(QStringLiteral("无法读取数据库：%1").arg(error));
        Connection copy;
        error = OpenKeyed(copy, part, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, key);
        // The copy is checked and renamed before anyone relies on it, so it
        // needs no journal: one temporary file, not two. Its first write
        // derives its key, a tenth of a second or more, which the first step
        // would otherwise spend holding the program's connection.
        if (error.isEmpty() &&
            sqlite3_exec(copy.db, "PRAGMA journal_mode=OFF; BEGIN IMMEDIATE; COMMIT", nullptr,
                         nullptr, nullptr) != SQLITE_OK)
            error = copy.Error();
        if (!error.isEmpty())
            return Failure(QStringLiteral("无法写入备份文件 %1：%2").arg(part, error));

        sqlite3_backup* backup = sqlite3_backup_init(copy.db, "main", store, "main");
        if (!backup)
            return Failure(QStringLiteral("无法开始备份：%1").arg(copy.Error()));
        // Between steps the store is unlocked. A write through the program's
        // connection goes into the pages copied so far as well, so the copy
        // is of the moment it ends and ends after one pass; a sale waits at
        // most for one step. The pause lets the program's thread in between
        // steps on the connection they share; busy, that connection is inside
        // a transaction.
        int rc = SQLITE_OK;
        while (!cancelled) {
            rc = sqlite3_backup_step(backup, kPagesPerStep);
            if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
                QThread::msleep(10);
            else if (rc == SQLITE_OK)
                QThread::msleep(1);
            else
                break;
        }
        const int finished = sqlite3_backup_finish(backup);
        if (cancelled)
            return {Outcome::Cancelled, QString()};
        if (rc != SQLITE_DONE || finished != SQLITE_OK) {
            const int code = rc != SQLITE_DONE ? rc : finished;
            const QString message = QString::fromUtf8(sqlite3_errstr(code));
            return Failure((code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB
                               ? QStringLiteral("数据库已损坏：%1").arg(message)
                               : QStringLiteral("无法写入备份文件 %1：%2").arg(part, message));
        }
    }
    return {Outcome::Made, QString()};
}

StockBackup::Result StockBackup::Rekey(const QStringList& oldKeys)
{
    RemoveLeftovers();
    QStringList failed;
    for (const QString& name : DailyFiles(folder, QString())) {
        if (cancelled)
            return {Outcome::Cancelled, QString()};
        const QString reason = RekeyCopy(folder + QLatin1Char('/') + name, oldKeys);
        if (!reason.isEmpty())
            failed << name + QStringLiteral("：") + reason;
    }
    if (failed.isEmpty())
        return {Outcome::Made, QString()};
    return Failure(
        QStringLiteral("备份未能改用新密钥（%1）").arg(failed.join(QStringLiteral("；"))));
}

QString StockBackup::RekeyCopy(const QString& path, const QStringList& oldKeys) const
{
    const auto readable = [](const QString& file, const QByteArray& withKey) {
        Connection check;
        return OpenKeyed(check, file, SQLITE_OPEN_READONLY, withKey).isEmpty() &&
               QuickCheck(check) == QLatin1String("ok");
    };
    if (readable(path, key))
        return QString();
    QByteArray oldKey;
    for (const QString& candidate : oldKeys) {
        if (readable(path, candidate.toUtf8())) {
            oldKey = candidate.toUtf8();
            break;
        }
    }
    if (oldKey.isEmpty())
        return QStringLiteral("无法用原来的密钥打开");
    const QString part = path + kPartSuffix;
    QFile::remove(part);
    if (!QFile::copy(path, part))
        return QStringLiteral("无法写入 %1").arg(part);
    QString error;
    {
        Connection copy;
        error = OpenKeyed(copy, part, SQLITE_OPEN_READWRITE, oldKey);
        // The key is taken at the first read.
        if (error.isEmpty() && sqlite3_exec(copy.db, "SELECT count(*) FROM sqlite_master", nullptr,
                                            nullptr, nullptr) != SQLITE_OK)
            error = copy.Error();
        if (error.isEmpty() && sqlite3_rekey(copy.db, key.constData(), key.size()) != SQLITE_OK)
            error = copy.Error();
    }
    // SQLCipher may report a rekey done that was not: only a fresh
    // connection under the new key tells.
    if (error.isEmpty() && !(Sync(part) && readable(part, key)))
        error = QStringLiteral("改用新密钥后无法读取");
    if (error.isEmpty() &&
        std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) != 0)
        error = QStringLiteral("无法写入 %1").arg(path);
    if (!error.isEmpty()) {
        QFile::remove(part);
        return error;
    }
    Sync(folder);
    return QString();
}

void StockBackup::RemoveLeftovers() const
{
    for (const QString& name : DailyFiles(folder, kPartSuffix))
        QFile::remove(folder + QLatin1Char('/') + name);
}

void StockBackup::KeepNewest(QDate day) const
{
    // The date in the name sorts as text. A copy dated after `day` was made
    // while the clock ran ahead; counted, it would hold a place for good, and
    // a clock set back would have the new copy removed as soon as it is made.
    // So such copies are left alone, and the new copy always ranks first.
    const QString newest = FileName(day);
    QStringList names;
    for (const QString& name : DailyFiles(folder, QString())) {
        if (name <= newest)
            names << name;
    }
    std::sort(names.begin(), names.end(), std::greater<QString>());
    for (int old = kKeep; old < names.size(); ++old)
        QFile::remove(folder + QLatin1Char('/') + names[old]);
}

#include "store/ServerBackup.h"

#include "store/StockDb.h"
#include "store/StoreCopy.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace {
StockBackup::Result Failure(const QString& reason)
{
    return {StockBackup::Outcome::Failed, reason};
}
} // namespace

ServerBackup::ServerBackup(QString connection, QString key, QString folder)
    : StockBackup(QString(), key, folder), connection(connection), key(key)
{
}

StockBackup::Result ServerBackup::Fill(const QString& part)
{
    // Connections belong to the thread that opens them: names of this copy's own.
    const QString id = QString::number(quintptr(QThread::currentThreadId()));
    const QString readName = QStringLiteral("server-backup-read-") + id;
    const QString writeName = QStringLiteral("server-backup-write-") + id;
    const Result result = FillFrom(readName, writeName, part);
    QSqlDatabase::removeDatabase(readName);
    QSqlDatabase::removeDatabase(writeName);
    return result;
}

StockBackup::Result ServerBackup::FillFrom(const QString& readName, const QString& writeName,
                                           const QString& part)
{
    QSqlDatabase server = QSqlDatabase::cloneDatabase(connection, readName);
    if (!server.open())
        return Failure(QStringLiteral("无法连接数据库服务器：%1").arg(server.lastError().text()));
    QSqlDatabase file = QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"), writeName);
    file.setDatabaseName(part);
    file.setPassword(key);
    file.setConnectOptions(QStringLiteral("QSQLITE_CREATE_KEY"));
    QSqlQuery write(file);
    // Checked and renamed before anyone relies on it: no journal needed.
    bool written = file.open() && write.exec(QStringLiteral("PRAGMA journal_mode=OFF"));
    for (const QString& statement : StockDb::FileSchema())
        written = written && write.exec(statement);
    if (!written)
        return Failure(
            QStringLiteral("无法写入备份文件 %1：%2")
                .arg(part, (file.isOpen() ? write.lastError() : file.lastError()).text()));

    // Every table as of one moment, while the tills go on selling.
    QSqlQuery snapshot(server);
    if (!snapshot.exec(
            QStringLiteral("START TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")))
        return Failure(QStringLiteral("无法读取数据库服务器：%1").arg(snapshot.lastError().text()));
    if (!file.transaction())
        return Failure(
            QStringLiteral("无法写入备份文件 %1：%2").arg(part, file.lastError().text()));
    for (const QString& table : StoreCopy::Tables()) {
        const QString error = StoreCopy::CopyTable(server, file, table, nullptr, &cancelled);
        if (cancelled)
            return {Outcome::Cancelled, QString()};
        if (!error.isEmpty())
            return Failure(QStringLiteral("无法备份数据库服务器：%1").arg(error));
    }
    if (!file.commit())
        return Failure(
            QStringLiteral("无法写入备份文件 %1：%2").arg(part, file.lastError().text()));
    snapshot.exec(QStringLiteral("COMMIT"));
    return {Outcome::Made, QString()};
}

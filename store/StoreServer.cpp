// The shared server: connecting, the session's settings, making the
// connection again after it was lost, the till's worker number, and the
// record of the day's backup.
#include "app/AppContext.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

#include <QDateTime>
#include <QDebug>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSysInfo>
#include <QVariant>
#include <libpq-fe.h>

namespace {
const int kWorkerNumbers = 1024;
// Failed connects are not tried again sooner, so that a list reading many
// rows waits for the server once, not once per row.
const qint64 kReconnectPauseMs = 1000;
// libpq settings that keep every wait for the server under five seconds: a
// dead link is noticed within about two, and one connect attempt takes at
// most two more. The shop's own connection string comes after them and may
// change them.
const char kServerDefaults[] = "connect_timeout=2 keepalives=1 keepalives_idle=1 "
                               "keepalives_interval=1 keepalives_count=1 tcp_user_timeout=2000 ";

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

QString MaskedConnection(QString connection)
{
    static const QRegularExpression password(R"((\b\w*password\s*=\s*)('(?:[^'\\]|\\.)*'?|\S*))",
                                             QRegularExpression::CaseInsensitiveOption);
    return connection.replace(password, QStringLiteral("\\1***"));
}

void StockDb::OpenServer()
{
    statements = &kServerStatements;
    const QString connection = appContext.storeConnection;
    qDebug() << "Store server: " << MaskedConnection(connection);
    // Qt's driver turns every ';' of its options into a blank, which would
    // silently change a value: refused rather than guessed at, and no
    // connection is made that a later action could try again.
    if (connection.contains(QLatin1Char(';'))) {
        openError = QStringLiteral("plconfig.ini 中的 connection 不能含有分号（;）");
        qDebug() << "Can not open connection: " << openError;
        return;
    }
    db = QSqlDatabase::addDatabase("QPSQL", connectionName);
    db.setConnectOptions(QLatin1String(kServerDefaults) + connection);
    ConnectServer();
}

bool StockDb::ConnectServer()
{
    lastConnectAttemptMs = NowMs();
    db.close();
    if (!db.open()) {
        openError = Reason(db.lastError());
        qDebug() << "Can not open connection: " << openError;
        db.close();
        return false;
    }
    QSqlQuery query = NewQuery();
    if (!Execute(query, QString::fromLatin1(statements->sessionSetup))) {
        openError = Reason(query.lastError());
        db.close();
        return false;
    }
    if (!CreateTables() || !ClaimWorker()) {
        qDebug() << "Can not open connection: " << openError;
        db.close();
        return false;
    }
    openError.clear();
    return true;
}

// The lowest number no till holds, kept by this till from then on. The key
// names the machine and the program's folder as well as the client identity,
// so that a folder copied to another machine, identity and all, claims a
// number of its own. A disk image cloned to several tills shares even that:
// the number is held by the connection as well, and a till that finds its
// number held by a running one goes on with a key and number of its own.
bool StockDb::ClaimWorker()
{
    const QString identity = QString::fromLatin1(
        Md5Hex((QSysInfo::machineUniqueId() + '|' + appContext.appDir.toUtf8() + '|' +
                appContext.clientUuid.toUtf8() + '|' + connectionName.toUtf8())));
    const QString since = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
    QSqlQuery query = NewQuery();
    for (int attempt = 0; attempt <= kWorkerNumbers; ++attempt) {
        const QString key = attempt == 0 ? identity : identity + '#' + QString::number(attempt);
        const QString own = Statement(statements->ownWorker, {key});
        const QString claim = Statement(statements->claimWorker, {key, since});
        if ((Execute(query, own) && query.next()) || (Execute(query, claim) && query.next())) {
            const QString number = query.value(0).toString();
            if (!Execute(query, Statement(statements->holdWorker, {number})) || !query.next())
                break;
            if (!query.value(0).toBool())
                continue;
            worker = number.toInt();
            if (connectionName == QLatin1String(QSqlDatabase::defaultConnection))
                SetRecordIdWorker(worker);
            qDebug() << "Till worker number: " << worker;
            return true;
        }
        if (query.lastError().isValid())
            break;
        // Nothing claimed and nothing failed: another till took the number
        // first, or none is left (1009 is never handed out).
        if (Execute(query, QString::fromLatin1(statements->claimedWorkers)) && query.next() &&
            query.value(0).toInt() >= kWorkerNumbers - 1) {
            openError = QStringLiteral("此服务器上已登记 %1 台收银台，编号已用完，本机无法加入。"
                                       "请管理员在 tills 表中删除不再使用的收银台。")
                            .arg(kWorkerNumbers - 1);
            return false;
        }
    }
    openError = Reason(query.lastError());
    return false;
}

QString StockDb::ServerAwayNote() const
{
    if (IsServer() && (!IsOpen() || ConnectionBroken()))
        return QStringLiteral("\n无法连接数据库服务器，服务器恢复后请再试一次");
    // lock_not_available: lock_timeout ended a wait for another till's lock.
    if (IsServer() && failureCode == QLatin1String("55P03"))
        return QStringLiteral("\n该商品正被其他收银台修改，请稍后再试");
    return QString();
}

bool StockDb::ConnectionRestored()
{
    if (!IsServer() || !db.isValid() || transactionDepth > 0 ||
        (db.isOpen() && !ConnectionBroken()) || NowMs() - lastConnectAttemptMs < kReconnectPauseMs)
        return false;
    return ConnectServer();
}

bool StockDb::ConnectionBroken() const
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (qstrcmp(handle.typeName(), "PGconn*") != 0)
        return false;
    PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}

bool StockDb::ServerBackupDone(QDate day)
{
    if (!statements->backupDone)
        return false;
    QSqlQuery query =
        Select(Statement(statements->backupDone, {day.toString(Qt::ISODate)}), OnFailure::Log);
    return query.next();
}

void StockDb::RecordServerBackup(QDate day)
{
    if (!statements->recordBackup)
        return;
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
    QSqlQuery query = NewQuery();
    // Unrecorded, the next till only makes one more copy.
    Run(query,
        Statement(statements->recordBackup,
                  {day.toString(Qt::ISODate), QString::number(worker), now}),
        OnFailure::Log);
}

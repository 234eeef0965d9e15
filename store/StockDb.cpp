// The store's one way to the connection: every statement is sent, retried
// and its failure kept here; the tables are made here; the store's state.
#include "store/StockDb.h"

#include "store/RecordId.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>
#include <memory>

StockDb stockDb;

QSqlQuery StockDb::NewQuery() const
{
    // An invalid handle makes Qt use the default connection. Rows are only
    // ever read once, front to back: a forward-only query streams them
    // instead of keeping every row read until the query goes.
    QSqlQuery query{QString(), QSqlDatabase::database(connectionName, false)};
    query.setForwardOnly(true);
    return query;
}

StockDb::StockDb(QString connectionName)
    : connectionName(std::move(connectionName)), statements(&kFileStatements),
      worker(kRecordIdWorker)
{
    password = QString();
    qDebug() << QSqlDatabase::drivers();
    qDebug() << "initDb";
}

bool StockDb::CreateTables()
{
    QSqlQuery query = NewQuery();
    if (statements->tablesMissing) {
        if (!Execute(query, QString::fromLatin1(statements->tablesMissing))) {
            openError = FailureText(query);
            return false;
        }
        if (!query.next())
            return true;
    }
    std::unique_ptr<Transaction> together;
    if (statements->schemaLock) {
        together = std::make_unique<Transaction>(*this);
        Execute(query, QString::fromLatin1(statements->schemaLock));
    }
    // A store without its tables is reported at start-up like one that did
    // not open, with the first statement's reason.
    bool made = true;
    for (const char* const* statement = statements->tables; *statement; ++statement) {
        if (!Run(query, QString::fromLatin1(*statement), OnFailure::Silent) && made) {
            made = false;
            openError = FailureText(query);
        }
    }
    // Lookups still work without an index, only slower: not worth refusing a store for.
    for (const char* const* statement = statements->indexes; *statement; ++statement)
        Run(query, QString::fromLatin1(*statement), OnFailure::Log);
    if (together && made && !together->commit()) {
        made = false;
        openError = Reason(db.lastError());
    }
    return made;
}

bool StockDb::ExeSql(QString sql)
{
    QSqlQuery query = NewQuery();
    return Run(query, sql, OnFailure::Log);
}

bool StockDb::Execute(QSqlQuery& query, const QString& statement)
{
    lastStatement = statement;
    const bool ok = query.exec(statement);
    failureCode = ok ? QString() : query.lastError().nativeErrorCode();
    return ok;
}

bool StockDb::Run(QSqlQuery& query, const QString& statement, OnFailure onFailure)
{
    // A server that was away is tried again before the statement, and a
    // connection found lost under it is made again and the statement sent
    // once more. Outside a transaction that is safe: the keyed inserts cannot
    // store twice, and updates and deletes are the same the second time. An
    // insert refused for its key may have been stored by the first send,
    // whose reply was lost: the stored row tells.
    if (IsServer() && !IsOpen() && ConnectionRestored())
        query = NewQuery();
    bool ok = Execute(query, statement);
    if (!ok && ConnectionRestored()) {
        query = NewQuery();
        ok = Execute(query, statement) ||
             (failureCode == QLatin1String("23505") && StoredAsSent(statement));
    }
    if (!ok && onFailure == OnFailure::Log)
        qDebug() << "ExeSql Failed : " << FailureText(query);
    return ok;
}

bool StockDb::StoredAsSent(const QString& insert)
{
    static const QRegularExpression parts(
        QStringLiteral("^insert into (\\w+)\\(([\\w,]+)\\) values \\((.*)\\)$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = parts.match(insert);
    if (!match.hasMatch() || !statements->storedAsSent)
        return false;
    const QString refusal = failureCode;
    QSqlQuery stored = NewQuery();
    const bool same =
        Execute(stored, QString::fromLatin1(statements->storedAsSent)
                            .arg(match.captured(1), match.captured(2), match.captured(3))) &&
        stored.next();
    failureCode = same ? QString() : refusal;
    return same;
}

bool StockDb::IsServer() const
{
    return statements == &kServerStatements;
}

int StockDb::Worker() const
{
    return worker;
}

QString StockDb::Reason(const QSqlError& error) const
{
    // Qt's PostgreSQL driver keeps the server's own words in databaseText.
    const QString server = error.databaseText().trimmed();
    return IsServer() && !server.isEmpty() ? server : error.driverText();
}

QString StockDb::FailureText(const QSqlQuery& query) const
{
    // The file's connection carries SQLite's own reason; the server's reason
    // stays with the query.
    return IsServer() ? Reason(query.lastError()) : db.lastError().driverText();
}

QSqlQuery StockDb::Select(const QString& statement, OnFailure onFailure)
{
    QSqlQuery query = NewQuery();
    // On the open store a failure, at the start or partway, is logged once the
    // rows are read (ReadToTheEnd).
    Run(query, statement, IsOpen() ? OnFailure::Silent : onFailure);
    return query;
}

bool StockDb::DeleteByGuid(const char* pattern, const QString& guid)
{
    if (guid.isEmpty())
        return false;
    QSqlQuery query = NewQuery();
    return Run(query, Statement(pattern, {guid}), OnFailure::Silent);
}

bool StockDb::ReadToTheEnd(const QSqlQuery& query)
{
    readError = QSqlError();
    const QSqlError error = query.lastError();
    // A connection closed under the read (a reopen, a change of key) ends it
    // without an error: the query is no longer active. A store that never
    // opened was told at start-up; its reads are empty as expected.
    if (!error.isValid() && !query.isActive() && IsOpen()) {
        readError = QSqlError(QStringLiteral("数据库连接在读取途中关闭，未读完"), QString(),
                              QSqlError::ConnectionError);
        return false;
    }
    if (!error.isValid())
        return true;
    // A store that never opened was reported at start-up; its empty reads are
    // expected and logged as their operations always did (Select).
    // The file's connection carries the driver's own reason, where the query's
    // text only says that a fetch failed; the server's reason is the query's.
    if (IsOpen()) {
        readError = !IsServer() && db.lastError().isValid() ? db.lastError() : error;
        qDebug() << "ExeSql Failed : " << Reason(readError);
    }
    return false;
}

bool StockDb::LastReadFailed() const
{
    return readError.isValid();
}

QString StockDb::ReadErrorText() const
{
    return Reason(readError);
}

bool StockDb::IsOpen() const
{
    return db.isValid() && db.isOpen();
}

QString StockDb::OpenErrorText() const
{
    return openError;
}

QString StockDb::LastStatement() const
{
    return lastStatement;
}

void StockDb::CloseStockDb()
{
    if (!db.isValid())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

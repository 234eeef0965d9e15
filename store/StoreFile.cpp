// Opening the encrypted Stock.db, and its key: the program's, or the shop's
// own passphrase.
#include "app/AppContext.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

namespace {
const char kProgramKey[] = "19970408maple";
// What SQLite reports when page 1 does not decrypt.
const int kNotADatabase = 26;
} // namespace

void StockDb::OpenStockDb(QString name)
{
    CloseStockDb();
    this->name = name;
    const QString engine = appContext.storeEngine.toLower();
    if (engine == QLatin1String("postgresql")) {
        OpenServer();
        return;
    }
    statements = &kFileStatements;
    worker = kRecordIdWorker;
    if (connectionName == QLatin1String(QSqlDatabase::defaultConnection))
        SetRecordIdWorker(worker);
    if (!engine.isEmpty() && engine != QLatin1String("sqlcipher")) {
        openError = QStringLiteral("plconfig.ini 中的数据库引擎未知：") + appContext.storeEngine;
        qDebug() << "Can not open connection: " << openError;
        return;
    }
    password = QLatin1String(kProgramKey);
    db = QSqlDatabase::addDatabase("SQLITECIPHER", connectionName);
    qDebug() << QSqlDatabase::drivers();

    const QString path = AppendUtf8(appContext.appDir + PathSeparator(), "Stock.db");
    // A first start cut short before the first page was written leaves an
    // empty file; nothing can be lost by making it again, as on a first start.
    if (!QFile::exists(path) || QFileInfo(path).size() == 0) {
        db.setDatabaseName(path);
        db.setPassword(password);
        db.setConnectOptions("QSQLITE_CREATE_KEY");
        if (!db.open()) {
            openError = db.lastError().driverText();
            qDebug() << "Can not open connection: " << openError;
            db.close();
            return;
        }
        db.close();
    }
    if (OpenConnection(path)) {
        RecordKey();
        CreateTables();
    }
}

void StockDb::RecordKey(bool mayBeOwn) const
{
    // Only the program's own store: another till's connection is a test's.
    if (connectionName == QLatin1String(QSqlDatabase::defaultConnection))
        SaveStoreKey(appContext.appDir,
                     mayBeOwn || !HasProgramKey() ? StoreKey::Own : StoreKey::Program);
}

bool StockDb::KeyNeverChanged() const
{
    return LoadStoreKey(appContext.appDir) == StoreKey::Program;
}

bool StockDb::OpenConnection(QString path)
{
    db.setDatabaseName(path);
    db.setPassword(password);
    if (!password.isEmpty())
        db.setConnectOptions("QSQLITE_USE_CIPHER=chacha20");
    if (db.open()) {
        openError.clear();
        keyRefused = false;
        return true;
    }
    openError = db.lastError().driverText();
    keyRefused = (db.lastError().nativeErrorCode().toInt() & 0xff) == kNotADatabase;
    qDebug() << "Can not open connection: " << openError;
    db.close();
    return false;
}

QString StockDb::FilePath() const
{
    return db.databaseName();
}

QString StockDb::Password() const
{
    return password;
}

bool StockDb::KeyRefused() const
{
    return db.isValid() && !db.isOpen() && keyRefused;
}

bool StockDb::OpenWithPassphrase(QString passphrase)
{
    // An empty key would open the file as plain SQLite, which no store is.
    if (passphrase.isEmpty() || !KeyRefused())
        return false;
    password = passphrase;
    if (OpenConnection(db.databaseName())) {
        RecordKey();
        CreateTables();
        return true;
    }
    password = QLatin1String(kProgramKey);
    return false;
}

bool StockDb::KeyCanChange() const
{
    // A server has logins of its own; only the file is keyed by the program.
    return IsOpen() && !IsServer();
}

bool StockDb::HasProgramKey() const
{
    return password == QLatin1String(kProgramKey);
}

bool StockDb::ChangeKey(QString passphrase)
{
    keyChangeError.clear();
    if (!KeyCanChange())
        return false;
    const QString oldKey = password;
    const QString newKey = passphrase.isEmpty() ? QString(kProgramKey) : passphrase;
    {
        // Not through Run: the statement holds the key, and the last
        // statement is kept for diagnostics.
        QSqlQuery query = NewQuery();
        // The rekey reports no failure of its own: one that found the file
        // held by another program would be told as a key that does not fit.
        if (!query.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
            keyChangeError = FailureText(query);
            return false;
        }
        query.exec(QStringLiteral("ROLLBACK"));
        // Noted first: a file keyed by a rekey that a crash cut short must
        // still be asked for its passphrase at the next start.
        RecordKey(true);
        if (!query.exec(QStringLiteral("PRAGMA rekey = ") + Literal(newKey)))
            keyChangeError = FailureText(query);
    }
    // SQLCipher reports success however the rekey ended, and one that failed
    // leaves the connection writing pages under the new key into a file under
    // the old one. Only a fresh connection tells which key the file has, and
    // only a fresh connection is safe to write with.
    db.close();
    password = newKey;
    if (OpenConnection(db.databaseName())) {
        keyChangeError.clear();
        RecordKey();
        return true;
    }
    // The reopen under the old key would clear the reason.
    if (keyChangeError.isEmpty())
        keyChangeError = openError;
    password = oldKey;
    if (OpenConnection(db.databaseName()))
        RecordKey();
    return false;
}

QString StockDb::KeyChangeError() const
{
    return keyChangeError;
}

QString StockDb::FilePassword()
{
    return QLatin1String(kProgramKey);
}

QStringList StockDb::FileSchema()
{
    QStringList statements;
    for (const char* const* list : {kFileTables, kIndexStatements}) {
        for (const char* const* statement = list; *statement; ++statement)
            statements << QString::fromLatin1(*statement);
    }
    return statements;
}

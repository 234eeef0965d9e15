#include "SqlCipherDriver.h"

#include "SqlCipherResult.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlRecord>
#include <QtSql/private/qsqldriver_p.h>
#include <algorithm>
#include <sqlite3.h>

namespace {

constexpr int BusyTimeoutMs = 5000;

// Page cache of a connection, in KiB. SQLCipher decrypts and authenticates
// every page it reads into the cache, so a scan of a table larger than the
// cache decrypts the whole table again on every run. The screens scan orders
// and purchases whole; five years of a busy shop are about 20 MB of them. With
// room for them, a repeated scan costs what it costs on a plain file. The
// cache only grows by the pages actually read, so memory follows use.
constexpr int PageCacheKiB = 64 * 1024;

// Connect options, separated by ';':
//
// QSQLITE_CREATE_KEY
//     A missing or empty file is created and keyed with the password, and
//     something is written at once: SQLCipher writes nothing until the first
//     write, and an empty file would accept any key later. Without this option
//     a missing file fails to open and nothing is created.
//
// QSQLITE_USE_CIPHER=chacha20
//     The file format the program asks for. SQLCipher 3.4 has no ChaCha20
//     cipher, so this name stands for SQLCipher's default format: AES-256-CBC,
//     pages authenticated with HMAC-SHA1, the key derived from the password
//     with PBKDF2-HMAC-SHA1 (64000 iterations), 1024-byte pages. Every keyed
//     file this driver makes uses that format, with or without the option, so
//     the sqlcipher command-line tool opens it with `PRAGMA key` alone.
//
// QSQLITE_OPEN_READONLY
//     The file is opened for reading only: nothing done on the connection can
//     change it. Cannot be combined with QSQLITE_CREATE_KEY.
//
// Anything else fails the open: a misspelt option must not silently give a
// file in another format or an unprotected one.
struct ConnectOptions
{
    bool createKey = false;
    bool readOnly = false;
};

QString ParseConnectOptions(const QString& text, ConnectOptions& options)
{
    for (const QString& item : text.split(QLatin1Char(';'))) {
        const QString option = item.trimmed();
        if (option.isEmpty())
            continue;
        const int equals = option.indexOf(QLatin1Char('='));
        const QString name = option.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : option.mid(equals + 1).trimmed();
        if (name == QLatin1String("QSQLITE_CREATE_KEY")) {
            if (equals >= 0)
                return SqlCipherDriver::tr("Connect option QSQLITE_CREATE_KEY takes no value");
            options.createKey = true;
        } else if (name == QLatin1String("QSQLITE_OPEN_READONLY")) {
            if (equals >= 0)
                return SqlCipherDriver::tr("Connect option QSQLITE_OPEN_READONLY takes no value");
            options.readOnly = true;
        } else if (name == QLatin1String("QSQLITE_USE_CIPHER")) {
            if (value != QLatin1String("chacha20"))
                return SqlCipherDriver::tr("Unsupported cipher \"%1\" in QSQLITE_USE_CIPHER "
                                           "(supported: chacha20)")
                    .arg(value);
        } else {
            return SqlCipherDriver::tr("Unknown connect option \"%1\"").arg(option);
        }
    }
    if (options.createKey && options.readOnly)
        return SqlCipherDriver::tr(
            "QSQLITE_CREATE_KEY and QSQLITE_OPEN_READONLY exclude each other");
    return QString();
}

QString Message(sqlite3* connection)
{
    return QString::fromUtf8(sqlite3_errmsg(connection));
}

// Why the first read of the file failed. SQLCipher cannot tell a wrong key from
// a file that is not one of its databases: both fail to decrypt page 1.
QString ReadFailureText(int code, bool keyed, const QString& message)
{
    switch (code & 0xff) {
    case SQLITE_NOTADB:
        return keyed ? SqlCipherDriver::tr("Wrong password, or the file is not a database "
                                           "encrypted with it (%1)")
                           .arg(message)
                     : SqlCipherDriver::tr("The file is not a plain SQLite database; it may be "
                                           "encrypted (%1)")
                           .arg(message);
    case SQLITE_CORRUPT:
        return SqlCipherDriver::tr("The database file is damaged (%1)").arg(message);
    default:
        return SqlCipherDriver::tr("Cannot read the database file (%1)").arg(message);
    }
}

QString QuoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A default value as SQLite keeps it is SQL text; a text literal loses its quotes.
QString DefaultValue(const QString& sql)
{
    const int end = sql.lastIndexOf(QLatin1Char('\''));
    return sql.startsWith(QLatin1Char('\'')) && end > 0 ? sql.mid(1, end - 1) : sql;
}

class SqlCipherDriverPrivate : public QSqlDriverPrivate
{
public:
    SqlCipherDriverPrivate() : QSqlDriverPrivate(QSqlDriver::SQLite) {}
};

} // namespace

SqlCipherDriver::SqlCipherDriver(QObject* parent) : QSqlDriver(*new SqlCipherDriverPrivate, parent)
{
}

SqlCipherDriver::~SqlCipherDriver()
{
    close();
}

bool SqlCipherDriver::hasFeature(DriverFeature feature) const
{
    switch (feature) {
    case Transactions:
    case PreparedQueries:
    case PositionalPlaceholders:
    case NamedPlaceholders:
    case BLOB:
    case Unicode:
    case LastInsertId:
    case LowPrecisionNumbers:
    case FinishQuery:
    case SimpleLocking:
        return true;
    default:
        return false;
    }
}

bool SqlCipherDriver::open(const QString& db, const QString&, const QString& password,
                           const QString&, int, const QString& options)
{
    if (isOpen())
        close();
    const bool existed = QFileInfo::exists(db);
    Failure failure;
    if (Connect(db, password, options, failure)) {
        setOpen(true);
        setOpenError(false);
        setLastError(QSqlError());
        return true;
    }
    sqlite3_close_v2(connection);
    connection = nullptr;
    // A failed creating open leaves nothing behind that a later open could
    // mistake for a database.
    if (!existed)
        QFile::remove(db);
    setOpen(false);
    setOpenError(true);
    setLastError(QSqlError(failure.text, QString(), QSqlError::ConnectionError,
                           QString::number(failure.code)));
    return false;
}

bool SqlCipherDriver::Connect(const QString& path, const QString& password,
                              const QString& optionText, Failure& failure)
{
    ConnectOptions options;
    const QString optionError = ParseConnectOptions(optionText, options);
    if (!optionError.isEmpty()) {
        failure = {optionError, SQLITE_MISUSE};
        return false;
    }

    const QFileInfo file(path);
    const bool blank = !file.exists() || file.size() == 0;
    if (blank && !options.createKey) {
        if (!file.exists()) {
            failure = {tr("The database file %1 does not exist").arg(path), SQLITE_CANTOPEN};
            return false;
        }
        if (!password.isEmpty()) {
            failure = {tr("The database file %1 is empty, so no password protects it").arg(path),
                       SQLITE_NOTADB};
            return false;
        }
    }

    const int flags = options.readOnly
                          ? SQLITE_OPEN_READONLY
                          : SQLITE_OPEN_READWRITE | (options.createKey ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &connection, flags, nullptr);
    if (rc != SQLITE_OK) {
        failure = {tr("Cannot open the database file %1 (%2)").arg(path, Message(connection)), rc};
        return false;
    }
    if (!password.isEmpty()) {
        const QByteArray key = password.toUtf8();
        rc = sqlite3_key(connection, key.constData(), key.size());
        if (rc != SQLITE_OK) {
            failure = {tr("Cannot set the key (%1)").arg(Message(connection)), rc};
            return false;
        }
    }
    rc = ApplyConnectionSettings();
    if (rc == SQLITE_OK && blank) {
        // An empty write transaction still writes page 1 (and SQLCipher its salt).
        rc = sqlite3_exec(connection, "BEGIN IMMEDIATE; COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK || QFileInfo(path).size() == 0) {
            failure = {tr("Cannot write the new database file %1 (%2)")
                           .arg(path, rc != SQLITE_OK ? Message(connection) : tr("still empty")),
                       rc};
            return false;
        }
    }
    // SQLCipher notices a wrong key only when it first decrypts a page.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(connection, "SELECT count(*) FROM sqlite_master", nullptr, nullptr,
                          nullptr);
    if (rc != SQLITE_OK) {
        failure = {ReadFailureText(rc, !password.isEmpty(), Message(connection)), rc};
        return false;
    }
    return true;
}

// Per-connection settings: applied right after keying and before the key is
// checked, which is where cipher and cache PRAGMAs have to go. A PRAGMA that
// reads the file fails on a wrong key just like the check and is reported
// the same way.
int SqlCipherDriver::ApplyConnectionSettings()
{
    const int rc = sqlite3_busy_timeout(connection, BusyTimeoutMs);
    if (rc != SQLITE_OK)
        return rc;
    const QByteArray cacheSize = "PRAGMA cache_size = -" + QByteArray::number(PageCacheKiB);
    return sqlite3_exec(connection, cacheSize.constData(), nullptr, nullptr, nullptr);
}

void SqlCipherDriver::close()
{
    if (connection) {
        for (SqlCipherResult* result : qAsConst(results))
            result->Finalize();
        sqlite3_close_v2(connection);
        connection = nullptr;
    }
    setOpen(false);
    setOpenError(false);
}

QSqlResult* SqlCipherDriver::createResult() const
{
    return new SqlCipherResult(this);
}

bool SqlCipherDriver::beginTransaction()
{
    return RunTransactionStatement("BEGIN");
}

bool SqlCipherDriver::commitTransaction()
{
    return RunTransactionStatement("COMMIT");
}

bool SqlCipherDriver::rollbackTransaction()
{
    return RunTransactionStatement("ROLLBACK");
}

bool SqlCipherDriver::RunTransactionStatement(const char* sql)
{
    if (!connection) {
        setLastError(
            QSqlError(tr("The database is not open"), QString(), QSqlError::TransactionError));
        return false;
    }
    const int rc = sqlite3_exec(connection, sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return true;
    setLastError(QSqlError(Message(connection), QString(), QSqlError::TransactionError,
                           QString::number(rc)));
    return false;
}

bool SqlCipherDriver::ForEachRow(const QString& sql,
                                 const std::function<void(sqlite3_stmt*)>& row) const
{
    if (!connection)
        return false;
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(connection, text.constData(), text.size(), &stmt, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        row(stmt);
        rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

QStringList SqlCipherDriver::tables(QSql::TableType type) const
{
    QStringList names;
    QStringList kinds;
    if (type & QSql::Tables)
        kinds << QStringLiteral("type = 'table'");
    if (type & QSql::Views)
        kinds << QStringLiteral("type = 'view'");
    if (!kinds.isEmpty()) {
        // SQLite's own tables (sqlite_sequence, sqlite_stat1) hold no user data.
        const QString where =
            QStringLiteral(" WHERE (%1) AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'")
                .arg(kinds.join(QLatin1String(" OR ")));
        ForEachRow(QLatin1String("SELECT name FROM sqlite_master") + where +
                       QLatin1String(" UNION ALL SELECT name FROM sqlite_temp_master") + where,
                   [&names](sqlite3_stmt* stmt) { names << SqlCipherColumnText(stmt, 0); });
    }
    if ((type & QSql::SystemTables) && isOpen())
        names << QStringLiteral("sqlite_master");
    return names;
}

QVector<SqlCipherDriver::Column> SqlCipherDriver::ColumnsOf(const QString& name) const
{
    QString table = isIdentifierEscaped(name, TableName) ? stripDelimiters(name, TableName) : name;
    QString schema;
    const int dot = table.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        schema = QuoteIdentifier(table.left(dot)) + QLatin1Char('.');
        table = table.mid(dot + 1);
    }
    QVector<Column> columns;
    QStringList declaredTypes;
    // table_info rows: cid, name, type, notnull, dflt_value, pk
    ForEachRow(QStringLiteral("PRAGMA %1table_info(%2)").arg(schema, QuoteIdentifier(table)),
               [&](sqlite3_stmt* stmt) {
                   const QString declared = SqlCipherColumnText(stmt, 2);
                   QSqlField field(SqlCipherColumnText(stmt, 1), SqlCipherFieldType(declared),
                                   table);
                   field.setRequired(sqlite3_column_int(stmt, 3) != 0);
                   field.setDefaultValue(DefaultValue(SqlCipherColumnText(stmt, 4)));
                   columns.append({field, sqlite3_column_int(stmt, 5)});
                   declaredTypes << declared;
               });
    // Only a key of one INTEGER column is SQLite's rowid, filled in on insert.
    const auto inKey = [](const Column& column) { return column.keyPosition > 0; };
    if (std::count_if(columns.cbegin(), columns.cend(), inKey) == 1) {
        for (int i = 0; i < columns.size(); ++i)
            columns[i].field.setAutoValue(
                inKey(columns[i]) &&
                declaredTypes[i].compare(QLatin1String("integer"), Qt::CaseInsensitive) == 0);
    }
    return columns;
}

QSqlRecord SqlCipherDriver::record(const QString& table) const
{
    QSqlRecord fields;
    for (const Column& column : ColumnsOf(table))
        fields.append(column.field);
    return fields;
}

QSqlIndex SqlCipherDriver::primaryIndex(const QString& table) const
{
    QMap<int, QSqlField> keyColumns; // by position within the key
    for (const Column& column : ColumnsOf(table)) {
        if (column.keyPosition > 0)
            keyColumns.insert(column.keyPosition, column.field);
    }
    QSqlIndex index;
    for (const QSqlField& field : qAsConst(keyColumns))
        index.append(field);
    return index;
}

QString SqlCipherDriver::escapeIdentifier(const QString& identifier, IdentifierType type) const
{
    if (identifier.isEmpty() || isIdentifierEscaped(identifier, type))
        return identifier;
    if (type == FieldName)
        return QuoteIdentifier(identifier);
    // A table name may carry its schema: "main.items".
    QStringList parts = identifier.split(QLatin1Char('.'));
    for (QString& part : parts)
        part = QuoteIdentifier(part);
    return parts.join(QLatin1Char('.'));
}

QVariant SqlCipherDriver::handle() const
{
    return QVariant::fromValue(connection);
}

void SqlCipherDriver::ReportStatementError(const QSqlError& error)
{
    setLastError(error);
}

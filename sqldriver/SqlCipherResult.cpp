#include "SqlCipherResult.h"

#include "SqlCipherDriver.h"

#include <QCoreApplication>
#include <QSqlField>
#include <limits>
#include <sqlite3.h>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("SqlCipherResult", text);
}

// Type of an expression column, which has no declared type, from its first value.
QVariant::Type TypeOfStorageClass(int storageClass)
{
    switch (storageClass) {
    case SQLITE_INTEGER:
        return QVariant::Int;
    case SQLITE_FLOAT:
        return QVariant::Double;
    case SQLITE_BLOB:
        return QVariant::ByteArray;
    case SQLITE_TEXT:
        return QVariant::String;
    default:
        return QVariant::Invalid;
    }
}

} // namespace

QVariant::Type SqlCipherFieldType(const QString& declared)
{
    // The names Qt's own SQLite driver knows give its types, so generic code
    // and the empty values of new model rows agree with it.
    const QString type = declared.trimmed().toLower();
    if (type == QLatin1String("integer") || type == QLatin1String("int"))
        return QVariant::Int;
    if (type == QLatin1String("boolean") || type == QLatin1String("bool"))
        return QVariant::Bool;
    if (type.startsWith(QLatin1String("numeric")))
        return QVariant::Double;
    // Otherwise SQLite's affinity rules. BIGINT and the like hold 64-bit values.
    if (type.contains(QLatin1String("int")))
        return QVariant::LongLong;
    if (type.contains(QLatin1String("real")) || type.contains(QLatin1String("floa")) ||
        type.contains(QLatin1String("doub")))
        return QVariant::Double;
    if (type.contains(QLatin1String("blob")))
        return QVariant::ByteArray;
    return QVariant::String;
}

QString SqlCipherColumnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = static_cast<const QChar*>(sqlite3_column_text16(stmt, column));
    return QString(text, sqlite3_column_bytes16(stmt, column) / int(sizeof(QChar)));
}

SqlCipherResult::SqlCipherResult(const SqlCipherDriver* driver)
    : QSqlCachedResult(*new QSqlCachedResultPrivate(this, driver))
{
    driver->results.append(this);
}

SqlCipherResult::~SqlCipherResult()
{
    if (SqlCipherDriver* owner = Driver())
        owner->results.removeOne(this);
    Finalize();
}

SqlCipherDriver* SqlCipherResult::Driver() const
{
    // driver() turns null once the driver is gone.
    return const_cast<SqlCipherDriver*>(static_cast<const SqlCipherDriver*>(driver()));
}

sqlite3* SqlCipherResult::Connection() const
{
    const SqlCipherDriver* owner = Driver();
    return owner ? owner->connection : nullptr;
}

void SqlCipherResult::Finalize()
{
    sqlite3_finalize(stmt);
    stmt = nullptr;
    rowPending = false;
    finished = false;
    cleanup();
}

bool SqlCipherResult::Fail(const QString& text, const QString& reason, QSqlError::ErrorType type,
                           int code)
{
    const QString nativeCode = code ? QString::number(code) : QString();
    setLastError(QSqlError(text, reason, type, nativeCode));
    // The store logs the connection's driver text after a failed statement,
    // so the connection gets SQLite's own reason there when SQLite has one
    // (SQLITE_MISUSE marks the driver's own refusals).
    const bool sqliteReason = !reason.isEmpty() && code != SQLITE_MISUSE;
    if (SqlCipherDriver* owner = Driver())
        owner->ReportStatementError(QSqlError(sqliteReason ? reason : text, QString(),
                                              QSqlError::StatementError, nativeCode));
    return false;
}

bool SqlCipherResult::FailFromConnection(const QString& text, int code)
{
    return Fail(text, QString::fromUtf8(sqlite3_errmsg(Connection())), QSqlError::StatementError,
                code & 0xff);
}

bool SqlCipherResult::reset(const QString& query)
{
    return prepare(query) && exec();
}

bool SqlCipherResult::prepare(const QString& query)
{
    Finalize();
    setSelect(false);
    columns.clear();
    sqlite3* connection = Connection();
    if (!connection)
        return Fail(Tr("The database is not open"), QString(), QSqlError::StatementError,
                    SQLITE_MISUSE);

    const QByteArray text = query.toUtf8();
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(connection, text.constData(), text.size(), &stmt, &tail);
    if (rc != SQLITE_OK)
        return FailFromConnection(Tr("Unable to execute statement"), rc);
    if (!stmt)
        return Fail(Tr("No SQL statement to execute"), QString(), QSqlError::StatementError,
                    SQLITE_MISUSE);

    // Running only the first of several statements would drop the others
    // without a word; anything after it but comments and blanks is refused.
    const char* end = text.constData() + text.size();
    if (tail && tail < end) {
        sqlite3_stmt* next = nullptr;
        const int nextRc = sqlite3_prepare_v2(connection, tail, int(end - tail), &next, nullptr);
        sqlite3_finalize(next);
        if (nextRc != SQLITE_OK || next) {
            FailFromConnection(Tr("Unable to execute multiple statements at a time"),
                               SQLITE_MISUSE);
            Finalize();
            return false;
        }
    }
    return true;
}

bool SqlCipherResult::exec()
{
    cleanup();
    if (!stmt)
        return Fail(Tr("No prepared statement, or its connection was closed"), QString(),
                    QSqlError::StatementError, SQLITE_MISUSE);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    rowPending = false;
    finished = false;
    affectedRows = 0;
    if (!BindValues())
        return false;

    sqlite3* connection = Connection();
    const int changesBefore = sqlite3_total_changes(connection);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        rowPending = true;
    } else if (rc == SQLITE_DONE) {
        finished = true;
        // sqlite3_changes() still counts the last INSERT/UPDATE/DELETE after
        // other kinds of statement; only trust it when this one changed rows.
        if (sqlite3_total_changes(connection) != changesBefore)
            affectedRows = sqlite3_changes(connection);
    } else {
        FailFromConnection(Tr("Unable to fetch row"), rc);
        sqlite3_reset(stmt);
        setAt(QSql::AfterLastRow);
        return false;
    }
    columns = DescribeColumns();
    if (finished)
        sqlite3_reset(stmt);
    // Qt's row cache is only for statements with result columns; a debug Qt
    // asserts on a count of zero.
    if (!columns.isEmpty())
        init(columns.count());
    setSelect(columns.count() > 0);
    setActive(true);
    if (finished)
        setAt(QSql::AfterLastRow);
    return true;
}

bool SqlCipherResult::BindValues()
{
    // Qt keeps one value per placeholder as written; SQLite has one parameter
    // per distinct name, so a name used twice is looked up by its name.
    const QVector<QVariant>& values = boundValues();
    const int count = sqlite3_bind_parameter_count(stmt);
    int covered = 0;
    for (int index = 1; index <= count; ++index) {
        const QString name = QString::fromUtf8(sqlite3_bind_parameter_name(stmt, index));
        int slot = -1;
        if (name.isEmpty() || name.startsWith(QLatin1Char('?'))) {
            slot = index - 1 < values.size() ? index - 1 : -1;
            covered += slot >= 0;
        } else {
            for (int candidate = 0; candidate < values.size(); ++candidate) {
                if (boundValueName(candidate) != name)
                    continue;
                if (slot < 0)
                    slot = candidate;
                ++covered;
            }
        }
        if (slot < 0)
            return Fail(Tr("Parameter count mismatch"), QString(), QSqlError::StatementError, 0);
        const int rc = Bind(index, values.at(slot));
        if (rc != SQLITE_OK)
            return FailFromConnection(Tr("Unable to bind parameters"), rc);
    }
    if (covered != values.size())
        return Fail(Tr("Parameter count mismatch"), QString(), QSqlError::StatementError, 0);
    return true;
}

int SqlCipherResult::Bind(int index, const QVariant& value)
{
    if (value.isNull())
        return sqlite3_bind_null(stmt, index);
    QString text;
    switch (value.userType()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(stmt, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
    }
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(stmt, index, value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        // Beyond qint64 the decimal text keeps every digit.
        if (value.toULongLong() <= qulonglong(std::numeric_limits<qint64>::max()))
            return sqlite3_bind_int64(stmt, index, value.toLongLong());
        text = value.toString();
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        return sqlite3_bind_double(stmt, index, value.toDouble());
    default:
        text = value.toString();
        break;
    }
    return sqlite3_bind_text16(stmt, index, text.utf16(), text.size() * int(sizeof(QChar)),
                               SQLITE_TRANSIENT);
}

QSqlRecord SqlCipherResult::DescribeColumns() const
{
    QSqlRecord fields;
    const int count = sqlite3_column_count(stmt);
    for (int column = 0; column < count; ++column) {
        const QString declared = QString::fromUtf8(sqlite3_column_decltype(stmt, column));
        const QVariant::Type type = !declared.isEmpty() ? SqlCipherFieldType(declared)
                                    : rowPending
                                        ? TypeOfStorageClass(sqlite3_column_type(stmt, column))
                                        : QVariant::Invalid;
        fields.append(QSqlField(QString::fromUtf8(sqlite3_column_name(stmt, column)), type,
                                QString::fromUtf8(sqlite3_column_table_name(stmt, column))));
    }
    return fields;
}

QVariant SqlCipherResult::Value(int column) const
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        switch (numericalPrecisionPolicy()) {
        case QSql::LowPrecisionInt32:
            return sqlite3_column_int(stmt, column);
        case QSql::LowPrecisionInt64:
            return qlonglong(sqlite3_column_int64(stmt, column));
        default:
            return sqlite3_column_double(stmt, column);
        }
    case SQLITE_NULL:
        return QVariant(QVariant::String);
    case SQLITE_BLOB: {
        // The pointer first: asking for the size may convert the value.
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
        return QByteArray(bytes, sqlite3_column_bytes(stmt, column));
    }
    default:
        return SqlCipherColumnText(stmt, column);
    }
}

bool SqlCipherResult::gotoNext(ValueCache& values, int index)
{
    if (!stmt || finished)
        return false;
    if (rowPending) {
        rowPending = false;
    } else {
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW) {
            finished = true;
            if (rc != SQLITE_DONE)
                FailFromConnection(Tr("Unable to fetch row"), rc);
            sqlite3_reset(stmt);
            return false;
        }
    }
    // A negative index skips the row (a forward-only seek past it).
    if (index >= 0) {
        for (int column = 0; column < colCount(); ++column)
            values[index + column] = Value(column);
    }
    return true;
}

int SqlCipherResult::size()
{
    return -1;
}

int SqlCipherResult::numRowsAffected()
{
    return affectedRows;
}

QSqlRecord SqlCipherResult::record() const
{
    return isActive() && isSelect() ? columns : QSqlRecord();
}

QVariant SqlCipherResult::lastInsertId() const
{
    sqlite3* connection = Connection();
    if (!isActive() || !connection)
        return QVariant();
    const qlonglong id = sqlite3_last_insert_rowid(connection);
    return id ? QVariant(id) : QVariant();
}

QVariant SqlCipherResult::handle() const
{
    return QVariant::fromValue(stmt);
}

void SqlCipherResult::detachFromResultSet()
{
    // Releases the statement's read lock.
    if (stmt)
        sqlite3_reset(stmt);
    rowPending = false;
    finished = true;
    QSqlCachedResult::detachFromResultSet();
}

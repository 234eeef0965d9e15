#include "SqlCipherResult.h"

#include "SqlCipherDriver.h"

#include <QSqlError>
#include <QSqlField>
#include <limits>
#include <sqlite3.h>

namespace {

QVariant::Type TypeOfStorageClass(int storageClass)
{
    switch (storageClass) {
    case SQLITE_INTEGER:
        return QVariant::LongLong;
    case SQLITE_FLOAT:
        return QVariant::Double;
    case SQLITE_BLOB:
        return QVariant::ByteArray;
    default:
        return QVariant::String;
    }
}

} // namespace

QVariant::Type SqlCipherFieldType(const QString& declared)
{
    const QString type = declared.toUpper();
    if (type.contains(QLatin1String("INT")))
        return QVariant::LongLong;
    if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("FLOA")) ||
        type.contains(QLatin1String("DOUB")))
        return QVariant::Double;
    if (type.contains(QLatin1String("BLOB")))
        return QVariant::ByteArray;
    return QVariant::String;
}

QString SqlCipherColumnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = static_cast<const QChar*>(sqlite3_column_text16(stmt, column));
    return QString(text, sqlite3_column_bytes16(stmt, column) / int(sizeof(QChar)));
}

SqlCipherResult::SqlCipherResult(const SqlCipherDriver* driver) : QSqlResult(driver)
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
    setActive(false);
    setAt(QSql::BeforeFirstRow);
}

bool SqlCipherResult::Fail(const QString& text, int code)
{
    // The store logs the connection's error after a failed statement, so the
    // driver gets the same error as the query.
    const QSqlError error(text, QString(), QSqlError::StatementError, QString::number(code));
    setLastError(error);
    if (SqlCipherDriver* owner = Driver())
        owner->ReportStatementError(error);
    return false;
}

bool SqlCipherResult::FailFromConnection()
{
    sqlite3* connection = Connection();
    return Fail(QString::fromUtf8(sqlite3_errmsg(connection)),
                sqlite3_extended_errcode(connection));
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
        return Fail(SqlCipherDriver::tr("The database is not open"), SQLITE_MISUSE);

    const QByteArray text = query.toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(connection, text.constData(), text.size(), &stmt, &tail) != SQLITE_OK)
        return FailFromConnection();
    if (!stmt)
        return Fail(SqlCipherDriver::tr("No SQL statement to execute"), SQLITE_MISUSE);

    // Running only the first of several statements would drop the others
    // without a word; anything after it but comments and blanks is refused.
    const char* end = text.constData() + text.size();
    if (tail && tail < end) {
        sqlite3_stmt* next = nullptr;
        const int rc = sqlite3_prepare_v2(connection, tail, int(end - tail), &next, nullptr);
        sqlite3_finalize(next);
        if (rc != SQLITE_OK || next) {
            Finalize();
            return Fail(SqlCipherDriver::tr("Unable to execute multiple statements at a time"),
                        SQLITE_MISUSE);
        }
    }
    return true;
}

bool SqlCipherResult::exec()
{
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    if (!stmt)
        return Fail(SqlCipherDriver::tr("No prepared statement, or its connection was closed"),
                    SQLITE_MISUSE);
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
        sqlite3_reset(stmt);
    } else {
        FailFromConnection();
        sqlite3_reset(stmt);
        return false;
    }
    columns = DescribeColumns();
    setSelect(sqlite3_column_count(stmt) > 0);
    setActive(true);
    return true;
}

bool SqlCipherResult::BindValues()
{
    const QVector<QVariant>& values = boundValues();
    const int count = sqlite3_bind_parameter_count(stmt);
    const bool named = bindingSyntax() == NamedBinding;
    if (!named && values.size() != count)
        return Fail(SqlCipherDriver::tr("Parameter count mismatch"), SQLITE_RANGE);
    for (int index = 1; index <= count; ++index) {
        int slot = index - 1;
        if (named) {
            // A name used twice is one parameter to SQLite but two slots here.
            const QString name = QString::fromUtf8(sqlite3_bind_parameter_name(stmt, index));
            slot = values.size() - 1;
            while (slot >= 0 && boundValueName(slot) != name)
                --slot;
            if (slot < 0)
                return Fail(SqlCipherDriver::tr("No value bound to %1").arg(name), SQLITE_RANGE);
        }
        if (Bind(index, values.at(slot)) != SQLITE_OK)
            return FailFromConnection();
    }
    return true;
}

int SqlCipherResult::Bind(int index, const QVariant& value)
{
    if (value.isNull())
        return sqlite3_bind_null(stmt, index);
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
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        return sqlite3_bind_double(stmt, index, value.toDouble());
    default:
        break;
    }
    const QString text = value.toString();
    return sqlite3_bind_text16(stmt, index, text.utf16(), text.size() * int(sizeof(QChar)),
                               SQLITE_TRANSIENT);
}

QSqlRecord SqlCipherResult::DescribeColumns() const
{
    QSqlRecord fields;
    const int count = sqlite3_column_count(stmt);
    for (int column = 0; column < count; ++column) {
        const QString declared = QString::fromUtf8(sqlite3_column_decltype(stmt, column));
        // Expressions have no declared type; their first value tells.
        const QVariant::Type type = declared.isEmpty() && rowPending
                                        ? TypeOfStorageClass(sqlite3_column_type(stmt, column))
                                        : SqlCipherFieldType(declared);
        fields.append(QSqlField(QString::fromUtf8(sqlite3_column_name(stmt, column)), type,
                                QString::fromUtf8(sqlite3_column_table_name(stmt, column))));
    }
    return fields;
}

QVariant SqlCipherResult::data(int column)
{
    if (!stmt || column < 0 || column >= sqlite3_column_count(stmt))
        return QVariant();
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

bool SqlCipherResult::isNull(int column)
{
    return !stmt || sqlite3_column_type(stmt, column) == SQLITE_NULL;
}

bool SqlCipherResult::fetchNext()
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
                FailFromConnection();
            sqlite3_reset(stmt);
            return false;
        }
    }
    setAt(at() + 1);
    return true;
}

void SqlCipherResult::Rewind()
{
    sqlite3_reset(stmt);
    rowPending = false;
    finished = false;
    setAt(QSql::BeforeFirstRow);
}

bool SqlCipherResult::fetch(int row)
{
    if (!stmt || !isSelect() || row < 0)
        return false;
    if (row == at() && !finished)
        return true;
    if (row < at() || finished)
        Rewind();
    while (at() < row) {
        if (!fetchNext())
            return false;
    }
    return true;
}

bool SqlCipherResult::fetchFirst()
{
    return at() == QSql::BeforeFirstRow ? fetchNext() : fetch(0);
}

bool SqlCipherResult::fetchLast()
{
    if (!stmt || !isSelect())
        return false;
    if (finished)
        Rewind();
    int last = at();
    while (fetchNext())
        last = at();
    return last >= 0 && fetch(last);
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

void SqlCipherResult::detachFromResultSet()
{
    if (stmt)
        Rewind();
}

#include "store/StoreCopy.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <cmath>

namespace StoreCopy {

namespace {

// One statement to a server carries this many rows, or this much text: a
// round trip per row would make a ten-year history take hours. Progress is
// told as often.
const int kRowsPerStatement = 500;
const int kStatementChars = 256 * 1024;

// What TotalsOf reads of each table: its identifier, its quantity and its
// money columns.
struct Checked
{
    const char* table;
    const char* identifier;
    const char* quantity;
    QStringList money;
};

const QVector<Checked>& CheckedTables()
{
    static const QVector<Checked> tables = {
        {"providers", "provider_guid", nullptr, {}},
        {"purchases",
         "purchase_guid",
         "purchase_product_num",
         {"purchase_product_oprice", "purchase_product_wprice", "purchase_product_rprice"}},
        {"orders", "order_guid", "order_ptnum", {"order_total"}},
        {"orderdetail",
         "order_guid",
         "order_product_num",
         {"order_total", "order_product_rprice", "order_product_subtotal"}},
        {"products",
         "product_guid",
         "product_num",
         {"product_original_price", "product_wholesale_price", "product_retail_price"}},
        {"order_returns", "return_guid", nullptr, {}},
        // Named by words rather than numbers: their values, whole numbers,
        // are what is checked.
        {"settings", "setting_value", nullptr, {}},
    };
    return tables;
}

const Checked& CheckedOf(const QString& table)
{
    for (const Checked& checked : CheckedTables()) {
        if (table == QLatin1String(checked.table))
            return checked;
    }
    Q_ASSERT_X(false, "StoreCopy", "not a table of the store");
    return CheckedTables().front();
}

QString Reason(const QSqlError& error)
{
    return error.text().trimmed();
}

// The file's columns of the table as `db` holds them, without the server's
// row-order column.
QStringList FileColumns(const QSqlDatabase& db, const QString& table)
{
    QStringList columns;
    const QSqlRecord record = db.record(table);
    for (int i = 0; i < record.count(); ++i) {
        if (record.fieldName(i) != QLatin1String("rowid"))
            columns << record.fieldName(i);
    }
    return columns;
}

bool IsNumber(QVariant::Type type)
{
    return type == QVariant::Int || type == QVariant::LongLong || type == QVariant::UInt ||
           type == QVariant::ULongLong || type == QVariant::Double;
}

// Every value goes as a quoted literal and the destination column gives it
// its type, as when the program itself writes it; quotes are doubled, so a
// value never becomes SQL of its own. The file takes an empty text into a
// number column and reads it back empty; a server's number column takes
// NULL, which reads back empty as well.
QString Literal(const QVariant& value, bool numberColumn)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    QString text = value.toString();
    if (text.isEmpty() && numberColumn)
        return QStringLiteral("NULL");
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

const QStringList& Tables()
{
    static const QStringList tables = [] {
        QStringList names;
        for (const Checked& checked : CheckedTables())
            names << QLatin1String(checked.table);
        return names;
    }();
    return tables;
}

QString CopyTable(const QSqlDatabase& from, const QSqlDatabase& to, const QString& table,
                  const Progress& progress, const std::atomic<bool>* cancelled)
{
    const QStringList columns = FileColumns(from, table);
    if (columns.isEmpty())
        return QStringLiteral("读不到表 %1 的列：%2").arg(table, Reason(from.lastError()));
    const QSqlRecord target = to.record(table);
    QVector<bool> numberColumn;
    for (const QString& column : columns)
        numberColumn << IsNumber(target.field(column).type());

    QSqlQuery read(from);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                       .arg(columns.join(QLatin1Char(',')), table)))
        return QStringLiteral("读不出表 %1：%2").arg(table, Reason(read.lastError()));
    QSqlQuery write(to);
    const QString head =
        QStringLiteral("INSERT INTO %1(%2) VALUES ").arg(table, columns.join(QLatin1Char(',')));
    // A file is written in place: one prepared statement takes each row's
    // values as read, types and all, and spares parsing a text of them.
    const bool bound = to.driverName() != QLatin1String("QPSQL");
    if (bound &&
        !write.prepare(head + QLatin1Char('(') +
                       QStringLiteral("?,").repeated(columns.size()).chopped(1) + QLatin1Char(')')))
        return QStringLiteral("写不进表 %1：%2").arg(table, Reason(write.lastError()));
    QString statement;
    int batched = 0;
    qint64 written = 0;
    const auto flush = [&] {
        if (batched == 0)
            return true;
        if (!bound && !write.exec(statement))
            return false;
        written += batched;
        batched = 0;
        statement.clear();
        if (progress)
            progress(written);
        return true;
    };
    bool failed = false;
    while (!failed && read.next()) {
        if (cancelled && *cancelled)
            return QStringLiteral("已取消");
        if (bound) {
            for (int i = 0; i < columns.size(); ++i)
                write.bindValue(i, read.value(i));
            failed = !write.exec();
            if (!failed && ++batched == kRowsPerStatement)
                flush();
            continue;
        }
        statement += batched == 0 ? head : QStringLiteral(",");
        statement += QLatin1Char('(');
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0)
                statement += QLatin1Char(',');
            statement += Literal(read.value(i), numberColumn[i]);
        }
        statement += QLatin1Char(')');
        if (++batched == kRowsPerStatement || statement.size() > kStatementChars)
            failed = !flush();
    }
    if (!failed && read.lastError().isValid())
        return QStringLiteral("读不出表 %1：%2").arg(table, Reason(read.lastError()));
    if (failed || !flush())
        return QStringLiteral("写不进表 %1（第 %2 行起）：%3")
            .arg(table)
            .arg(written + (bound ? batched : 0) + 1)
            .arg(Reason(write.lastError()));
    return QString();
}

Totals TotalsOf(const QSqlDatabase& db, const QString& table)
{
    const Checked& checked = CheckedOf(table);
    QStringList columns{QLatin1String(checked.identifier)};
    if (checked.quantity)
        columns << QLatin1String(checked.quantity);
    columns << checked.money;
    // Summed here rather than by each engine's SQL, whose rounding and
    // summing orders differ: the same values give the same figures.
    Totals totals;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (query.exec(
            QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QLatin1Char(',')), table))) {
        while (query.next()) {
            ++totals.rows;
            totals.identifiers += quint64(query.value(0).toLongLong());
            int column = 1;
            if (checked.quantity)
                totals.quantity += query.value(column++).toLongLong();
            for (; column < columns.size(); ++column)
                totals.cents += std::llround(query.value(column).toDouble() * 100);
        }
    }
    if (query.lastError().isValid())
        totals.error = Reason(query.lastError());
    return totals;
}

bool HasQuantity(const QString& table)
{
    return CheckedOf(table).quantity != nullptr;
}

bool HasMoney(const QString& table)
{
    return !CheckedOf(table).money.isEmpty();
}

} // namespace StoreCopy

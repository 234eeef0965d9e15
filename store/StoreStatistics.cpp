// Statistics and exports of a period: sums by day and by product, the
// stock's value, and the rows of the exports handed over as they are read.
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

#include <QDebug>
#include <QHash>
#include <QSqlDriver>
#include <algorithm>
#include <cmath>
#include <memory>
#include <sqlite3.h>

namespace {
struct BarcodeSums
{
    qint64 quantity = 0;
    double amount = 0;
};
// By the barcode's UTF-8 bytes, as SQLite hands them over.
using SumsByBarcode = QHash<QByteArray, BarcodeSums>;

QString TextAt(sqlite3_stmt* row, int column)
{
    // The pointer first: asking for the size may convert the value.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(row, column));
}

// A quantity and an amount as Qt's conversions give them from the driver's
// values: numbers as stored, a fraction of a quantity rounded, text as the
// number it reads as (or 0).
qint64 QuantityAt(sqlite3_stmt* row, int column)
{
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(row, column);
    case SQLITE_FLOAT:
        return qRound64(sqlite3_column_double(row, column));
    default:
        return TextAt(row, column).toLongLong();
    }
}

double AmountAt(sqlite3_stmt* row, int column)
{
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(row, column);
    default:
        return TextAt(row, column).toDouble();
    }
}

// Adds up the lines that statement hands over (barcode, quantity, amount)
// straight from SQLite. A year has a quarter of a million lines: through Qt
// every value became a QVariant and every barcode a new string, four times
// the time SQLite takes to find the lines. Returns SQLite's reason when the
// read did not end, else an empty text.
QString AddUpLines(sqlite3* connection, const QString& statement, SumsByBarcode& sums)
{
    const QByteArray text = statement.toUtf8();
    sqlite3_stmt* row = nullptr;
    int rc = sqlite3_prepare_v2(connection, text.constData(), text.size(), &row, nullptr);
    const bool prepared = rc == SQLITE_OK;
    while (prepared && (rc = sqlite3_step(row)) == SQLITE_ROW) {
        const auto* barcode = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
        const QByteArray key = QByteArray::fromRawData(barcode, sqlite3_column_bytes(row, 0));
        auto sum = sums.find(key);
        if (sum == sums.end())
            sum = sums.insert(QByteArray(key.constData(), key.size()), BarcodeSums());
        sum->quantity += QuantityAt(row, 1);
        sum->amount += AmountAt(row, 2);
    }
    const QString failure =
        rc == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(connection));
    sqlite3_finalize(row);
    return failure;
}
} // namespace

std::unique_ptr<StockDb::Transaction> StockDb::Snapshot()
{
    // The file has one till, whose reads nothing changes meanwhile; a
    // transaction there would only keep a change of key from taking effect.
    if (!statements->readSnapshot)
        return nullptr;
    auto transaction = std::make_unique<Transaction>(*this);
    // A failure shows in the first read, which then runs on a dead transaction.
    if (transaction->isActive()) {
        QSqlQuery query = NewQuery();
        Execute(query, QString::fromLatin1(statements->readSnapshot));
    }
    return transaction;
}

// The days, the products and their names are read in one moment: sales made
// meanwhile at other tills would make the totals and the top list disagree.
PeriodSales StockDb::QuerySales(QDate first, QDate last, int topCount)
{
    const QStringList range{DayRangeOf(first).from, DayRangeOf(last).to};
    const auto snapshot = Snapshot();
    PeriodSales sales;
    QSqlQuery days = Select(Statement(kSalesByDay, range), OnFailure::Log);
    while (days.next())
        sales.days.append({days.value(0).toString(), days.value(1).toLongLong(),
                           CentsOf(days.value(2).toDouble())});
    if (!ReadToTheEnd(days))
        return PeriodSales();

    SumsByBarcode sums;
    const QString lines = Statement(statements->salesByBarcode, range);
    const QVariant handle = db.driver()->handle();
    if (IsOpen() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        lastStatement = lines;
        const QString failure =
            AddUpLines(*static_cast<sqlite3* const*>(handle.constData()), lines, sums);
        if (!failure.isEmpty()) {
            readError = QSqlError(failure, QString(), QSqlError::StatementError);
            qDebug() << "ExeSql Failed : " << failure;
            return PeriodSales();
        }
    } else {
        QSqlQuery barcodes = Select(lines, OnFailure::Log);
        while (barcodes.next()) {
            BarcodeSums& barcode = sums[barcodes.value(0).toString().toUtf8()];
            barcode.quantity += barcodes.value(1).toLongLong();
            barcode.amount += barcodes.value(2).toDouble();
        }
        if (!ReadToTheEnd(barcodes))
            return PeriodSales();
    }
    QVector<ProductSales> products;
    products.reserve(sums.size());
    for (auto barcode = sums.cbegin(); barcode != sums.cend(); ++barcode) {
        products.append({QString(), QString::fromUtf8(barcode.key()), barcode->quantity,
                         CentsOf(barcode->amount)});
        sales.items += barcode->quantity;
    }
    // Ranked here on whole cents: sums of doubles that differ in the last bit
    // would break a tie the wrong way.
    const auto higher = [](const ProductSales& a, const ProductSales& b) {
        return a.turnoverCents != b.turnoverCents ? a.turnoverCents > b.turnoverCents
                                                  : a.barcode < b.barcode;
    };
    const int shown = qMin(topCount, products.size());
    std::partial_sort(products.begin(), products.begin() + shown, products.end(), higher);
    sales.topProducts = products.mid(0, shown);
    if (shown > 0 && !ReadLatestNames(range, sales.topProducts))
        return PeriodSales();
    return sales;
}

bool StockDb::ReadLatestNames(const QStringList& range, QVector<ProductSales>& products)
{
    QHash<QString, QString*> unnamed;
    QStringList literals;
    for (ProductSales& product : products) {
        unnamed.insert(product.barcode, &product.name);
        literals << Literal(product.barcode);
    }
    QSqlQuery lines =
        Select(Statement(kLatestNames, range).arg(literals.join(QLatin1Char(','))), OnFailure::Log);
    while (!unnamed.isEmpty() && lines.next()) {
        QString* name = unnamed.take(lines.value(0).toString());
        if (name)
            *name = lines.value(1).toString();
    }
    return ReadToTheEnd(lines);
}

namespace {
// Whole cents as "yuan.cc", from their decimal digits.
QString CentsDigitsText(QString digits)
{
    digits = digits.rightJustified(3, QLatin1Char('0'));
    return digits.insert(digits.size() - 2, QLatin1Char('.'));
}

QString DigitsOf(unsigned __int128 value)
{
    QString digits;
    do {
        digits.prepend(QLatin1Char(char('0' + int(value % 10))));
        value /= 10;
    } while (value != 0);
    return digits;
}
} // namespace

QString StockDb::QueryStockValue()
{
    QSqlQuery query = Select(QString::fromLatin1(kStockValue), OnFailure::Log);
    // Every count and price the fields accept makes an exact product in 128
    // bits. A stored count or price beyond 64 bits, written by another
    // program, is added as a long double instead: rounded, never wrapped.
    unsigned __int128 exact = 0;
    long double beyond = 0;
    const long double kBeyond = 9.2e18L;
    while (query.next()) {
        const QVariant count = query.value(0);
        bool isNumber = false;
        const long double units = count.toDouble(&isNumber);
        bool isPrice = false;
        const long double cents = std::round(query.value(1).toDouble(&isPrice) * 100.0L);
        if (!isNumber || !isPrice || !std::isfinite(units) || !std::isfinite(cents))
            continue;
        // The server's driver hands a positive bigint over unsigned.
        const int type = count.userType();
        const bool whole = type == QMetaType::LongLong || type == QMetaType::ULongLong ||
                           type == QMetaType::Int || type == QMetaType::UInt;
        unsigned __int128 term = 0;
        unsigned __int128 sum = 0;
        if (whole && cents < kBeyond &&
            !__builtin_mul_overflow(static_cast<unsigned __int128>(count.toULongLong()),
                                    static_cast<unsigned __int128>(cents), &term) &&
            !__builtin_add_overflow(exact, term, &sum)) {
            exact = sum;
            continue;
        }
        beyond += units * cents;
    }
    if (!ReadToTheEnd(query))
        return CentsText(0);
    if (beyond == 0)
        return CentsDigitsText(DigitsOf(exact));
    return CentsDigitsText(QString::asprintf("%.0Lf", beyond + static_cast<long double>(exact)));
}

bool StockDb::StreamRows(const QString& statement, const QVector<bool>& money, const RowSink& row)
{
    const auto snapshot = Snapshot();
    QSqlQuery query = Select(statement, OnFailure::Log);
    QStringList fields;
    while (query.next()) {
        fields.clear();
        for (int column = 0; column < money.size(); ++column) {
            const QVariant value = query.value(column);
            bool number = false;
            const double amount = money[column] && !value.isNull() ? value.toDouble(&number) : 0.0;
            // The server's driver reads a NULL number as 0; the file's as empty.
            fields.append(number           ? CentsText(CentsOf(amount))
                          : value.isNull() ? QString()
                                           : value.toString());
        }
        if (!row(fields))
            break;
    }
    return ReadToTheEnd(query);
}

bool StockDb::ExportOrderLines(QDate first, QDate last, const RowSink& row)
{
    return StreamRows(Statement(kOrderLinesExport, {DayRangeOf(first).from, DayRangeOf(last).to}),
                      {false, false, false, false, false, true, true, false}, row);
}

bool StockDb::ExportPurchases(QDate first, QDate last, const RowSink& row)
{
    return StreamRows(Statement(kPurchasesExport, {DayRangeOf(first).from, DayRangeOf(last).to}),
                      {false, false, false, false, false, true, true, false}, row);
}

bool StockDb::ExportStock(const RowSink& row)
{
    return StreamRows(QString::fromLatin1(kStockExport), {false, false, false, true, true}, row);
}

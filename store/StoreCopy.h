#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

// Moves a store's rows between the encrypted file and a server, in both
// directions: a shop's history onto its new server, and the server's rows
// into a backup file a till can carry on with alone.
namespace StoreCopy {

// The store's tables, in the order the store makes them.
const QStringList& Tables();

// Called after every batch with the rows of the table written so far.
using Progress = std::function<void(qint64 rows)>;

// Appends every row of `table` in `from` to the same table in `to`, in the
// order `from` keeps them, every value as it reads (identifiers digit for
// digit). Empty on success, else why it stopped; `to` should be inside a
// transaction, which then holds all or nothing. The columns are those of the
// file's table: a server's own row-order column is not copied, the
// destination numbers its rows itself.
QString CopyTable(const QSqlDatabase& from, const QSqlDatabase& to, const QString& table,
                  const Progress& progress, const std::atomic<bool>* cancelled = nullptr);

// What must come out the same on both sides of a copy. Money is summed in
// whole cents and identifiers as a 64-bit checksum, so that both engines'
// figures compare exactly.
struct Totals
{
    qint64 rows = 0;
    qint64 quantity = 0;
    qint64 cents = 0;
    quint64 identifiers = 0;
    QString error; // the read failed: the figures mean nothing

    bool operator==(const Totals& other) const
    {
        return error.isEmpty() && other.error.isEmpty() && rows == other.rows &&
               quantity == other.quantity && cents == other.cents &&
               identifiers == other.identifiers;
    }
};
Totals TotalsOf(const QSqlDatabase& db, const QString& table);
// Which figures of the table mean something, for printing them.
bool HasQuantity(const QString& table);
bool HasMoney(const QString& table);

} // namespace StoreCopy

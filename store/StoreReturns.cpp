// Returns: goods taken back against a sale, stored as an order of their own
// with negative figures and linked to the sale, never more than it sold.
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

#include <QHash>
#include <QMap>
#include <QPair>

namespace {
// A sale may sell one barcode at two prices (a price changed between two
// scans); each is returned on its own.
using LineKey = QPair<QString, qint64>;

LineKey KeyOf(const QString& barcode, const QString& price)
{
    return {barcode, CentsOf(price.toDouble())};
}

// The sale's lines by barcode and price, with what its returns took back.
ReturnLineList Tally(const OrderDetailList& sold, const OrderDetailList& returned)
{
    ReturnLineList lines;
    QHash<LineKey, int> at;
    for (const OrderDetailInfo& line : sold) {
        const LineKey key = KeyOf(line.order_product_barcode, line.order_product_rprice);
        if (!at.contains(key)) {
            at.insert(key, lines.size());
            lines.append({line.order_product_name, line.order_product_guid,
                          line.order_product_barcode, line.order_product_rprice});
        }
        lines[at.value(key)].sold += line.order_product_num.toLongLong();
    }
    // A return's quantities are negative.
    for (const OrderDetailInfo& line : returned) {
        const int index =
            at.value(KeyOf(line.order_product_barcode, line.order_product_rprice), -1);
        if (index >= 0)
            lines[index].returned -= line.order_product_num.toLongLong();
    }
    return lines;
}
} // namespace

QString StockDb::SaleOfReturn(QString order_guid)
{
    if (order_guid.isEmpty())
        return QString();
    QSqlQuery query = Select(Statement(kSaleOfReturn, {order_guid}), OnFailure::Log);
    const QString sale = query.next() ? query.value(0).toString() : QString();
    return ReadToTheEnd(query) ? sale : QString();
}

ReturnLineList StockDb::QueryReturnLines(QString order_guid)
{
    const OrderDetailList sold = QueryOrderDetails(order_guid);
    if (sold.isEmpty())
        return ReturnLineList();
    const OrderDetailList returned = AllRows<OrderDetailInfo>(
        Select(Statement(kReturnedLinesOfSale, {order_guid}), OnFailure::Log));
    return LastReadFailed() ? ReturnLineList() : Tally(sold, returned);
}

StockDb::Return StockDb::StoreReturn(const QString& saleGuid, const QString& returnGuid,
                                     const QString& time, const ReturnLineList& lines)
{
    QHash<LineKey, qint64> asked;
    qint64 refundCents = 0;
    for (const ReturnLine& line : lines) {
        if (line.quantity < 0)
            return Return::TooMany;
        if (line.quantity > 0)
            asked[KeyOf(line.barcode, line.price)] += line.quantity;
        refundCents += line.quantity * CentsOf(line.price.toDouble());
    }
    if (saleGuid.isEmpty() || asked.isEmpty())
        return Return::Failed;
    const QString total = CentsText(-refundCents);
    Return refused = Return::Failed;
    const bool stored = Atomically([&] {
        refused = Return::Failed;
        // The return's own row first: on the file that write takes the lock
        // that keeps another connection's return waiting until this one is
        // stored, before either has read the limits.
        if (!InsertOrder({returnGuid, time, total, QString::number(-asked.size())}) ||
            LastRow<OrderInfo>(
                Select(Statement(statements->orderForUpdate, {saleGuid}), OnFailure::Log))
                .order_guid.isEmpty())
            return false;
        if (!SaleOfReturn(saleGuid).isEmpty()) {
            refused = Return::OfAReturn;
            return false;
        }
        if (LastReadFailed())
            return false;
        const ReturnLineList sale = QueryReturnLines(saleGuid);
        if (LastReadFailed())
            return false;
        refused = Return::TooMany;
        QHash<LineKey, qint64> left = asked;
        ReturnLineList taken;
        for (ReturnLine line : sale) {
            line.quantity = left.take(KeyOf(line.barcode, line.price));
            if (line.quantity > 0 && line.quantity > line.sold - line.returned)
                return false;
            if (line.quantity > 0)
                taken.append(line);
        }
        // Asked for what the sale never sold.
        if (!left.isEmpty())
            return false;
        refused = Return::Failed;
        if (!ExeSql(Statement(kInsertReturnLink, {returnGuid, saleGuid})))
            return false;
        for (const ReturnLine& line : taken) {
            const qint64 cents = line.quantity * CentsOf(line.price.toDouble());
            if (!InsertOrderDetail({returnGuid, time, total, line.name, line.product_guid,
                                    line.barcode, QString::number(-line.quantity), line.price,
                                    CentsText(-cents)}))
                return false;
        }
        // The units go back on the shelf only where sales take them off it;
        // in barcode order, as paying takes them, so that tills wait for
        // each other instead of deadlocking.
        const bool reduceStock = SalesReduceStock();
        if (LastReadFailed())
            return false;
        QMap<QString, qint64> back;
        for (const ReturnLine& line : taken)
            back[line.barcode] += line.quantity;
        for (auto units = back.cbegin(); reduceStock && units != back.cend(); ++units) {
            if (!ChangeStockBy(units.key(), units.value()))
                return false;
        }
        return true;
    });
    return stored ? Return::Stored : refused;
}

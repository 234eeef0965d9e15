// Sales: orders and their lines, as the checkout stores them and the order
// history reads them.
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

bool StockDb::InsertOrder(OrderInfo order)
{
    return ExeSql(Statement(statements->insertOrder, ValuesOf(order)));
}

bool StockDb::InsertOrderDetail(OrderDetailInfo line)
{
    return ExeSql(Statement(statements->insertOrderDetail, ValuesOf(line)));
}

OrderList StockDb::QueryOrdersOfDay(QDate day)
{
    const DayRange range = DayRangeOf(day);
    return QueryOrdersBetween(range.from, range.to);
}

OrderList StockDb::QueryOrdersBetween(QString from, QString to)
{
    return AllRows<OrderInfo>(
        Select(Statement(statements->ordersBetween, {from, to}), OnFailure::Silent));
}

OrderInfo StockDb::QueryOrderByGuid(QString order_guid)
{
    if (order_guid.isEmpty())
        return OrderInfo();
    return LastRow<OrderInfo>(Select(Statement(kOrderByGuid, {order_guid}), OnFailure::Log));
}

OrderDetailList StockDb::QueryOrderDetails(QString order_guid)
{
    if (order_guid.isEmpty())
        return OrderDetailList();
    return AllRows<OrderDetailInfo>(
        Select(Statement(kOrderDetailsOfOrder, {order_guid}), OnFailure::Log));
}

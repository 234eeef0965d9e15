// Turns paid and stored orders into print jobs for the till's printer.
#include "app/ReceiptPrinter.h"

#include "receipt/ReceiptBytes.h"
#include "store/StockDb.h"

namespace {
const QString kSaleTitle = QStringLiteral("销售小票");
} // namespace

ReceiptPrinter::ReceiptPrinter(const PrinterSettings& settings, QObject* parent)
    : QObject(parent), settings(settings)
{
    connect(&queue, &PrintQueue::Finished, this, &ReceiptPrinter::Finished);
}

void ReceiptPrinter::PrintSale(const OrderInfo& order, const OrderDetailList& lines)
{
    if (settings.autoPrint)
        Send(ReceiptBytes(ReceiptOfOrder(order, lines, kSaleTitle), settings, settings.drawer));
    else if (settings.drawer)
        Send(DrawerPulse());
}

void ReceiptPrinter::Reprint(const QString& orderGuid)
{
    const OrderInfo order = stockDb.QueryOrderByGuid(orderGuid);
    const OrderDetailList lines = stockDb.QueryOrderDetails(orderGuid);
    if (order.order_guid.isEmpty() || stockDb.LastReadFailed()) {
        emit Finished(QStringLiteral("订单读取失败 ") + stockDb.ReadErrorText());
        return;
    }
    Send(ReceiptBytes(ReceiptOfOrder(order, lines, kSaleTitle, QStringLiteral("补打")), settings,
                      false));
}

void ReceiptPrinter::OpenDrawer()
{
    Send(DrawerPulse());
}

void ReceiptPrinter::Send(const QByteArray& job)
{
    if (HasPrinter())
        queue.Send(settings.connection, job);
}

// Turns paid and stored orders into print jobs for the till's printer.
#include "app/ReceiptPrinter.h"

#include "store/StockDb.h"

namespace {
const QString kSaleTitle = QStringLiteral("销售小票");
const QString kReturnTitle = QStringLiteral("退货小票");
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
    Receipt receipt;
    if (ReadReceipt(orderGuid, QStringLiteral("补打"), receipt))
        Send(ReceiptBytes(receipt, settings, false));
}

void ReceiptPrinter::PrintReturn(const QString& returnGuid)
{
    Receipt receipt;
    if (ReadReceipt(returnGuid, QString(), receipt))
        Send(ReceiptBytes(receipt, settings, settings.drawer));
}

bool ReceiptPrinter::ReadReceipt(const QString& orderGuid, const QString& mark, Receipt& receipt)
{
    const QString sale = stockDb.SaleOfReturn(orderGuid);
    const bool failed = stockDb.LastReadFailed();
    const OrderInfo order = stockDb.QueryOrderByGuid(orderGuid);
    const OrderDetailList lines = stockDb.QueryOrderDetails(orderGuid);
    if (failed || order.order_guid.isEmpty() || stockDb.LastReadFailed()) {
        emit Finished(QStringLiteral("订单读取失败 ") + stockDb.ReadErrorText());
        return false;
    }
    receipt = ReceiptOfOrder(order, lines, sale.isEmpty() ? kSaleTitle : kReturnTitle, mark);
    if (!sale.isEmpty())
        receipt.orderId = sale;
    return true;
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

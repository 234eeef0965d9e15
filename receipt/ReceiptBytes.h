// A receipt as plain data, and the ESC/POS bytes a receipt printer prints it from.
#pragma once

#include "app/AppContext.h"
#include "store/Records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

struct ReceiptLine
{
    QString name;
    qint64 quantity = 0;
    qint64 unitCents = 0;
    qint64 subtotalCents = 0;
};

struct Receipt
{
    // "销售小票", or the title of another kind of slip.
    QString title;
    // Shown under the title ("补打" on a reprint); empty for none.
    QString mark;
    QString time;
    QString orderId;
    QVector<ReceiptLine> lines;
    qint64 totalCents = 0;
};

// An order and its lines, as stored, as the receipt under title.
Receipt ReceiptOfOrder(const OrderInfo& order, const OrderDetailList& lines, const QString& title,
                       const QString& mark = QString());

// The lines as the printer prints them, none wider than the paper.
QStringList ReceiptText(const Receipt& receipt, const PrinterSettings& printer);

// The whole print job: reset, the printed lines, feed and cut, and the
// drawer pulse after them when asked for.
QByteArray ReceiptBytes(const Receipt& receipt, const PrinterSettings& printer, bool openDrawer);

// Opens a cash drawer wired to the printer's drawer port.
QByteArray DrawerPulse();

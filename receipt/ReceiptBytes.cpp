// Lays a receipt out in the paper's columns and encodes it for the printer.
#include "receipt/ReceiptBytes.h"

#include "store/RecordId.h"

#include <QTextCodec>

namespace {
// ESC/POS: reset; Chinese character mode; print and feed 4 lines; partial
// cut without further feed; pulse on drawer pin 2 for 50 ms, 500 ms off.
const QByteArray kReset = QByteArrayLiteral("\x1b\x40");
const QByteArray kChineseMode = QByteArrayLiteral("\x1c\x26");
const QByteArray kFeed = QByteArrayLiteral("\x1b\x64\x04");
const QByteArray kPartialCut = QByteArrayLiteral("\x1d\x56\x42\x00");
const QByteArray kDrawerPulse = QByteArrayLiteral("\x1b\x70\x00\x19\xfa");
// First code point a UTF-8 printer's fonts draw two columns wide (CJK).
const uint kFirstWide = 0x2E80;

// Text in the paper's columns, measured as the printer will print it.
class Paper
{
public:
    explicit Paper(const PrinterSettings& printer)
        : columns(printer.width == 80 ? 48 : 32),
          codec(QTextCodec::codecForName(printer.encoding.toLatin1())),
          chinese(printer.encoding != QLatin1String("UTF-8"))
    {
        if (!codec)
            codec = QTextCodec::codecForName("GB18030");
    }

    // With a GB code page the printer gives every character of two or more
    // bytes two columns, symbols included; a character GBK lacks prints as "?".
    int Width(uint codePoint) const
    {
        if (!chinese)
            return codePoint >= kFirstWide ? 2 : 1;
        return codec->fromUnicode(QString::fromUcs4(&codePoint, 1)).size() >= 2 ? 2 : 1;
    }

    int Width(const QString& text) const
    {
        int width = 0;
        for (uint codePoint : text.toUcs4())
            width += Width(codePoint);
        return width;
    }

    // Whole characters only: a half of a double-byte character would print
    // as a stray glyph and shift the rest of the line.
    QStringList Wrapped(const QString& text) const
    {
        QStringList lines{QString()};
        int width = 0;
        for (uint codePoint : text.toUcs4()) {
            const int charWidth = Width(codePoint);
            if (width + charWidth > columns) {
                lines.append(QString());
                width = 0;
            }
            lines.last().append(QString::fromUcs4(&codePoint, 1));
            width += charWidth;
        }
        return lines;
    }

    QStringList Centred(const QString& text) const
    {
        QStringList lines = Wrapped(text);
        for (QString& line : lines)
            line.prepend(QString((columns - Width(line)) / 2, ' '));
        return lines;
    }

    // left, and right at the right edge; right goes on a line of its own
    // when both do not fit on one.
    QStringList Spread(const QString& left, const QString& right) const
    {
        QStringList lines = Wrapped(left);
        const int room = columns - Width(lines.last()) - Width(right);
        if (room < 1)
            lines.append(QString(columns - Width(right), ' ') + right);
        else
            lines.last().append(QString(room, ' ') + right);
        return lines;
    }

    QByteArray Encoded(const QStringList& lines) const
    {
        QByteArray bytes = chinese ? kReset + kChineseMode : kReset;
        for (const QString& line : lines)
            bytes += codec->fromUnicode(line) + '\n';
        return bytes + kFeed + kPartialCut;
    }

    const int columns;

private:
    QTextCodec* codec;
    const bool chinese;
};
} // namespace

Receipt ReceiptOfOrder(const OrderInfo& order, const OrderDetailList& lines, const QString& title,
                       const QString& mark)
{
    Receipt receipt{
        title, mark, order.order_time, order.order_guid, {}, CentsOf(order.order_total.toDouble())};
    for (const OrderDetailInfo& line : lines)
        receipt.lines.append({line.order_product_name, line.order_product_num.toLongLong(),
                              CentsOf(line.order_product_rprice.toDouble()),
                              CentsOf(line.order_product_subtotal.toDouble())});
    return receipt;
}

QStringList ReceiptText(const Receipt& receipt, const PrinterSettings& printer)
{
    const Paper paper(printer);
    QStringList text;
    if (!printer.header.trimmed().isEmpty())
        text << paper.Centred(printer.header.trimmed());
    text << paper.Centred(receipt.title);
    if (!receipt.mark.isEmpty())
        text << paper.Centred(receipt.mark);
    text << paper.Wrapped(receipt.time) << paper.Spread(QStringLiteral("订单号"), receipt.orderId);
    qint64 units = 0;
    for (const ReceiptLine& line : receipt.lines) {
        text << paper.Wrapped(line.name)
             << paper.Spread(
                    QStringLiteral("  %1 × %2").arg(line.quantity).arg(CentsText(line.unitCents)),
                    CentsText(line.subtotalCents));
        units += line.quantity;
    }
    text << QString(paper.columns, '-')
         << paper.Spread(QStringLiteral("件数"), QString::number(units))
         << paper.Spread(QStringLiteral("合计"), CentsText(receipt.totalCents));
    if (!printer.footer.trimmed().isEmpty())
        text << paper.Centred(printer.footer.trimmed());
    return text;
}

QByteArray ReceiptBytes(const Receipt& receipt, const PrinterSettings& printer, bool openDrawer)
{
    const QByteArray job = Paper(printer).Encoded(ReceiptText(receipt, printer));
    return openDrawer ? job + kDrawerPulse : job;
}

QByteArray DrawerPulse()
{
    return kDrawerPulse;
}

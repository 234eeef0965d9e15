// The return dialog: a sale's lines with what can still go back, the
// quantities chosen, the refund, and storing it.
#include "screens/CTReturnDialog.h"

#include "screens/MessageBoxes.h"
#include "store/RecordId.h"
#include "store/StockDb.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const char kBoxTitle[] = "Quorrin1009";
enum Column
{
    Name,
    Barcode,
    Price,
    Sold,
    Returned,
    Taken,
    Columns
};
} // namespace

CTReturnDialog::CTReturnDialog(QString sale, QWidget* parent)
    : QDialog(parent), sale(std::move(sale)), returnGuid(QString::fromLatin1(NewRecordIdText()))
{
    setWindowTitle(QStringLiteral("退货"));
    table = new QTableWidget(0, Columns, this);
    table->setObjectName(QStringLiteral("tw_returnlines"));
    table->setHorizontalHeaderLabels({QStringLiteral("商品名称"), QStringLiteral("条形码"),
                                      QStringLiteral("单价"), QStringLiteral("已售"),
                                      QStringLiteral("已退"), QStringLiteral("本次退货")});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    refund = new QLabel(this);
    refund->setObjectName(QStringLiteral("lb_refund"));
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CTReturnDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CTReturnDialog::reject);

    auto* refundRow = new QHBoxLayout;
    refundRow->addWidget(new QLabel(QStringLiteral("退款金额："), this));
    refundRow->addWidget(refund);
    refundRow->addStretch();
    refundRow->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table);
    layout->addLayout(refundRow);
    resize(720, 360);
    ReadLines();
}

void CTReturnDialog::ReadLines()
{
    saleLines = stockDb.QueryReturnLines(sale);
    if (stockDb.LastReadFailed())
        MessageBoxes::Information(this, kBoxTitle,
                                  QStringLiteral("订单读取失败\n") + stockDb.ReadErrorText());
    table->setRowCount(saleLines.size());
    for (int row = 0; row < saleLines.size(); ++row) {
        const ReturnLine& line = saleLines[row];
        const QStringList texts{line.name, line.barcode, line.price, QString::number(line.sold),
                                QString::number(line.returned)};
        for (int column = 0; column < texts.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(texts[column]));
        auto* taken = new QSpinBox(table);
        taken->setRange(0, int(qBound<qint64>(0, line.sold - line.returned, INT_MAX)));
        connect(taken, QOverload<int>::of(&QSpinBox::valueChanged), this,
                &CTReturnDialog::ShowRefund);
        table->setCellWidget(row, Taken, taken);
    }
    ShowRefund();
}

ReturnLineList CTReturnDialog::ChosenLines() const
{
    ReturnLineList chosen;
    for (int row = 0; row < saleLines.size(); ++row) {
        ReturnLine line = saleLines[row];
        line.quantity = qobject_cast<QSpinBox*>(table->cellWidget(row, Taken))->value();
        if (line.quantity > 0)
            chosen.append(line);
    }
    return chosen;
}

qint64 CTReturnDialog::RefundCents() const
{
    qint64 cents = 0;
    for (const ReturnLine& line : ChosenLines())
        cents += line.quantity * CentsOf(line.price.toDouble());
    return cents;
}

void CTReturnDialog::ShowRefund()
{
    refund->setText(CentsText(RefundCents()));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!ChosenLines().isEmpty());
}

void CTReturnDialog::accept()
{
    const ReturnLineList chosen = ChosenLines();
    if (chosen.isEmpty())
        return;
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    switch (stockDb.StoreReturn(sale, returnGuid, now, chosen)) {
    case StockDb::Return::Stored:
        MessageBoxes::Information(
            this, kBoxTitle, QStringLiteral("退货成功\n退款 %1 元").arg(CentsText(RefundCents())));
        QDialog::accept();
        return;
    case StockDb::Return::TooMany:
        // Another till took some back meanwhile: the limits as they are now.
        MessageBoxes::Information(this, kBoxTitle, QStringLiteral("退货数量超过可退数量"));
        ReadLines();
        return;
    case StockDb::Return::OfAReturn:
        MessageBoxes::Information(this, kBoxTitle, QStringLiteral("退货单不能再退货"));
        reject();
        return;
    case StockDb::Return::Failed:
        MessageBoxes::Information(
            this, kBoxTitle, QStringLiteral("退货失败，数据未保存") + stockDb.ServerAwayNote());
        return;
    }
}

#include "screens/CTTodaySale.h"

#include "screens/ColumnFitting.h"
#include "screens/MessageBoxes.h"
#include "screens/NumberEntry.h"
#include "screens/StylePictures.h"
#include "screens/TableSupport.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "ui_todaySale.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHash>
#include <QLabel>
#include <QMap>
#include <QRegularExpressionValidator>
#include <QStyle>

namespace {
const char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss";
const QString kBoxTitle = QStringLiteral("Quorrin1009");

enum Column
{
    ScanTime,
    Name,
    Price,
    Quantity,
    Subtotal,
    Barcode,
    Guid,
};

QIcon ButtonIcon(const char* file)
{
    return QIcon::fromTheme("select", QIcon(QString(":/Pellory/images/") + file));
}

bool AskYes(const QString& question)
{
    return MessageBoxes::Ask(nullptr, QMessageBox::Question, kBoxTitle, question, true) !=
           QMessageBox::No;
}

// Holds a label in the room its first text asked of the layout, at the size of
// its text and aligned in that room as the label aligns its text, so it shows
// as before. Left in the layout, a label's new text asks every layout above it
// to be redone and repaints the label's whole room through every widget behind
// it, on every scan. The holder has no layout: the request stops here and only
// the old and the new text are repainted. A text that needs more room gets it.
class LabelHolder : public QWidget
{
public:
    explicit LabelHolder(QLabel* label)
        : room(label->sizeHint()), minimumRoom(label->minimumSizeHint()), label(label)
    {
        setSizePolicy(label->sizePolicy());
    }
    QSize sizeHint() const override { return room; }
    QSize minimumSizeHint() const override { return minimumRoom; }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            PlaceLabel();
        return QWidget::event(event);
    }
    void resizeEvent(QResizeEvent*) override { PlaceLabel(); }

private:
    void PlaceLabel()
    {
        const QSize text = TextSize();
        const QSize grown = room.expandedTo(text);
        if (grown != room && (text.width() > width() || text.height() > height())) {
            room = grown;
            minimumRoom = minimumRoom.expandedTo(label->minimumSizeHint());
            updateGeometry();
        }
        label->setGeometry(QStyle::alignedRect(layoutDirection(), label->alignment(),
                                               text.boundedTo(size()), rect()));
    }

    // The totals' texts come back with every sale; measuring the item count's
    // text anew on each scan cost a tenth of the scan.
    QSize TextSize()
    {
        if (label->font() != measuredFont || label->style() != measuredStyle) {
            textSizes.clear();
            measuredFont = label->font();
            measuredStyle = label->style();
        }
        auto found = textSizes.constFind(label->text());
        if (found == textSizes.cend()) {
            if (textSizes.size() >= 256)
                textSizes.clear();
            found = textSizes.insert(label->text(), label->sizeHint());
        }
        return *found;
    }

    QSize room;
    QSize minimumRoom;
    QLabel* const label;
    QHash<QString, QSize> textSizes;
    QFont measuredFont;
    QStyle* measuredStyle = nullptr;
};

// Puts label into a holder that takes its place in grid.
void HoldInItsRoom(QGridLayout* grid, QLabel* label)
{
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(label), &row, &column, &rowSpan, &columnSpan);
    auto* holder = new LabelHolder(label);
    grid->removeWidget(label);
    label->setParent(holder);
    grid->addWidget(holder, row, column, rowSpan, columnSpan);
}
} // namespace

CTTodaySale::CTTodaySale(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::todaySale>())
{
    ui->setupUi(this);
    ui->pb_pay->setIcon(ButtonIcon("pay.png"));
    ui->pb_pay->setIconSize(QSize(24, 24));
    ui->pb_Cancel->setIcon(ButtonIcon("cancelpay.png"));
    ui->pb_Cancel->setIconSize(QSize(24, 24));
    HoldInItsRoom(ui->gridLayout_2, ui->lb_detailInfo);
    HoldInItsRoom(ui->gridLayout_2, ui->lb_totalprice);
    StylePictures::KeepBoxPicture(ui->groupBox);

    StylePictures::KeepTextPictures(ui->lb_detailInfo);
    StylePictures::KeepTextPictures(ui->lb_totalprice);
    StylePictures::KeepFramePictures(ui->le_barcode);
    StylePictures::KeepHeaderPictures(ui->tv_salelist);
    model = TableSupport::CreateModel(this, ui->tv_salelist,
                                      {tr("时间"), tr("商品名"), tr("商品价格"), tr("商品数量"),
                                       tr("商品小计"), tr("商品条形码"), tr("商品GUID")},
                                      QHeaderView::Fixed);
    TableSupport::FitColumnsToContents(model, ui->tv_salelist,
                                       TableSupport::WhenEmptied::KeepWidths);
    // Stretched evenly, the columns cut the time and the barcode; the
    // identifier is the one column the cashier can do without.
    ui->tv_salelist->horizontalHeader()->setSectionResizeMode(Guid, QHeaderView::Stretch);
    ui->tv_salelist->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tv_salelist->setSelectionMode(QAbstractItemView::SingleSelection);
    // Quantities are stored as order_product_num, so only whole numbers get in.
    auto* delegate = new ValidatingDelegate(ui->tv_salelist);
    delegate->SetColumnValidator(Quantity, [](QObject* parent) {
        return new QRegularExpressionValidator(QRegularExpression("-?[0-9]{1,9}"), parent);
    });
    ui->tv_salelist->setItemDelegate(delegate);

    connect(ui->le_barcode, SIGNAL(returnPressed()), this, SLOT(OnreturnPressed()));
    connect(ui->pb_pay, SIGNAL(clicked(bool)), this, SLOT(onclicked(bool)));
    connect(ui->pb_Cancel, SIGNAL(clicked(bool)), this, SLOT(OnCancelClicked(bool)));
    connect(model, SIGNAL(itemChanged(QStandardItem*)), this, SLOT(OnitemChanged(QStandardItem*)));
    connect(ui->tv_salelist->itemDelegate(),
            SIGNAL(closeEditor(QWidget*, QAbstractItemDelegate::EndEditHint)), this,
            SLOT(EditCompleteSlot(QWidget*, QAbstractItemDelegate::EndEditHint)));

    FocusBarcodeInput();
}

CTTodaySale::~CTTodaySale() = default;

void CTTodaySale::FocusBarcodeInput()
{
    ui->le_barcode->setFocus(Qt::OtherFocusReason);
}

void CTTodaySale::RecomputeTotals()
{
    const int lineCount = model->rowCount();
    // In whole cents, so that the stored lines add up to the stored total.
    qint64 totalCents = 0;
    for (int row = 0; row < lineCount; ++row) {
        const double price = TableSupport::CellText(model, row, Price).toDouble();
        const int quantity = TableSupport::CellText(model, row, Quantity).toInt(nullptr, 10);
        const qint64 subtotalCents = qRound64(quantity * price * 100.0);
        model->item(row, Subtotal)->setText(TableSupport::MoneyText(subtotalCents));
        totalCents += subtotalCents;
    }
    ShowTotals(lineCount, totalCents / 100.0);
}

void CTTodaySale::ShowTotals(int lineCount, double total)
{
    ui->lb_detailInfo->setText(QString::asprintf("商品数：【%d】\n\n统计金额：", lineCount));
    ui->lb_totalprice->setText(QString::asprintf("%0.2f", total));
}

void CTTodaySale::OnreturnPressed()
{
    const QString barcode = ui->le_barcode->text();
    const ProductInfo product = stockDb.QueryProductByBarcode(barcode);
    if (product.product_name.isEmpty())
        return;

    QList<QStandardItem*> line = TableSupport::MakeItems(
        {QDateTime::currentDateTime().toString(kTimeFormat), product.product_name,
         product.product_retail_price, QStringLiteral("1"), product.product_retail_price, barcode,
         product.product_guid});
    for (int column = 0; column < line.size(); ++column) {
        if (column != Quantity)
            line[column]->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }
    model->insertRow(model->rowCount(), line);

    FocusBarcodeInput();
    ui->le_barcode->clear();
    RecomputeTotals();
}

void CTTodaySale::OnCancelClicked(bool)
{
    if (AskYes(QStringLiteral("是否要取消订单")))
        ClearSale();
}

void CTTodaySale::onclicked(bool)
{
    if (model->rowCount() == 0) {
        MessageBoxes::Information(nullptr, kBoxTitle, QStringLiteral("添先添加商品，才能完成结算"));
        return;
    }
    if (!AskYes(QStringLiteral("请先确认订单信息无误，是否继续结算")))
        return;

    // The sale keeps its identifier until it is stored or cancelled, so that
    // paying again can never store it twice.
    if (saleGuid.isEmpty())
        saleGuid = QString::fromLatin1(NewRecordIdText());
    const QString totalText = ui->lb_totalprice->text();
    const OrderDetailList lines = SaleLines(saleGuid, totalText);
    const OrderInfo order{saleGuid, QDateTime::currentDateTime().toString(kTimeFormat), totalText,
                          QString::number(lines.size())};
    // A failed COMMIT may have lost only its reply: the sale stored counts
    // as paid, told to no one.
    if (!StoreSale(order, lines) && stockDb.QueryOrderByGuid(saleGuid).order_guid != saleGuid) {
        // The lines stay on screen so the cashier can simply pay again.
        MessageBoxes::Information(
            nullptr, kBoxTitle, QStringLiteral("结算失败，订单未保存") + stockDb.ServerAwayNote());
        return;
    }
    ClearSale();
    emit SalePaid(order, lines);
}

OrderDetailList CTTodaySale::SaleLines(const QString& orderGuid, const QString& totalText) const
{
    OrderDetailList lines;
    for (int row = 0; row < model->rowCount(); ++row) {
        const auto cell = [this, row](int column) {
            return TableSupport::CellText(model, row, column);
        };
        lines.append({orderGuid, cell(ScanTime), totalText, cell(Name), cell(Guid), cell(Barcode),
                      cell(Quantity), cell(Price), cell(Subtotal)});
    }
    return lines;
}

// The detail rows and the order row are one sale: a half-stored sale would
// show up in the turnover with lines missing, so either all land or none.
bool CTTodaySale::StoreSale(const OrderInfo& order, const OrderDetailList& lines)
{
    StockDb::Transaction transaction(stockDb);
    bool ok = transaction.isActive();
    // Each barcode's units at once and in barcode order, so that two tills
    // selling the same products wait for each other instead of deadlocking.
    QMap<QString, qint64> sold;
    for (int row = 0; ok && row < lines.size(); ++row) {
        ok = stockDb.InsertOrderDetail(lines[row]);
        sold[lines[row].order_product_barcode] += lines[row].order_product_num.toLongLong();
    }
    ok = ok && stockDb.InsertOrder(order);
    // Asked at every sale: another till may have changed it.
    const bool reduceStock = ok && stockDb.SalesReduceStock();
    ok = ok && !stockDb.LastReadFailed();
    for (auto units = sold.cbegin(); ok && reduceStock && units != sold.cend(); ++units)
        ok = stockDb.ChangeStockBy(units.key(), -units.value());
    if (!ok || !transaction.commit())
        return false;
    NoteLowStock(reduceStock ? sold.keys() : QStringList());
    return true;
}

void CTTodaySale::NoteLowStock(const QStringList& barcodes)
{
    const qint64 level = barcodes.isEmpty() ? 0 : stockDb.LowStockLevel();
    QStringList low;
    for (int i = 0; level > 0 && i < barcodes.size(); ++i) {
        const ProductInfo product = stockDb.QueryProductByBarcode(barcodes[i]);
        if (!product.product_name.isEmpty() && product.product_num.toLongLong() <= level)
            low << product.product_name + QStringLiteral(" 剩余 ") + product.product_num;
    }
    emit LowStockNoted(
        low.isEmpty() ? QString() : QStringLiteral("库存不足：") + low.join(QStringLiteral("，")));
}

void CTTodaySale::ClearSale()
{
    saleGuid.clear();
    ShowTotals(0, 0.0);
    FocusBarcodeInput();
    ui->le_barcode->clear();
    TableSupport::ClearRows(model);
}

void CTTodaySale::OnitemChanged(QStandardItem* sItem)
{
    // Totals follow when the editor closes, not on every cell write (the
    // recomputation itself writes cells).
    Q_UNUSED(sItem);
}

void CTTodaySale::EditCompleteSlot(QWidget*, QAbstractItemDelegate::EndEditHint)
{
    RecomputeTotals();
}

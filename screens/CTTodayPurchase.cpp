#include "screens/CTTodayPurchase.h"

#include "screens/MessageBoxes.h"
#include "screens/NumberEntry.h"
#include "screens/TableSupport.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "ui_purchase.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {
const QString kTitle = QStringLiteral("Quorrin1009");

// Digits with a fraction of more than `decimals` digits: "1.5" for a whole
// number, "2.555" for a price.
bool TooManyDecimals(const QString& text, int decimals)
{
    static const QRegularExpression decimalNumber(QStringLiteral("^\\d*\\.(\\d+)$"));
    const QRegularExpressionMatch match = decimalNumber.match(text);
    return match.hasMatch() && match.capturedLength(1) > decimals;
}

QString PriceRefusal(const QString& price, const QString& otherwise)
{
    return TooManyDecimals(price, 2) ? QStringLiteral("价格最多两位小数") : otherwise;
}
} // namespace

CTTodayPurchase::CTTodayPurchase(QWidget* parent) : QDialog(parent), ui(new Ui::purchase)
{
    ui->setupUi(this);
    ui->pb_addpurchase->setIcon(QIcon::fromTheme("select", QIcon(":/Pellory/images/additem.png")));
    ui->pb_addpurchase->setIconSize(QSize(24, 24));

    model = TableSupport::CreateModel(this, ui->tv_purchase,
                                      {tr("进货时间"), tr("供应商"), tr("货单号"), tr("商品名"),
                                       tr("商品条码"), tr("商品数量"), tr("商品进价"),
                                       tr("商品售价"), tr("进货ID")},
                                      QHeaderView::ResizeToContents);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_purchase);

    // The stock list's cells take the same numbers: a "1,000" or "2e3" would
    // be stored as text and count as 0 when stock is added up. Like the cells,
    // the fields keep what is typed, and "进货" refuses what they cannot take.
    ui->le_ptnum->setValidator(
        TableSupport::NewWholeEntryValidator(TableSupport::NewStockValidator(this)));
    ui->le_ptoprice->setValidator(
        TableSupport::NewWholeEntryValidator(TableSupport::NewPriceValidator(this)));
    ui->le_ptrpice->setValidator(
        TableSupport::NewWholeEntryValidator(TableSupport::NewPriceValidator(this)));
    ui->le_pcguid->setText(NewRecordIdText());

    connect(ui->pb_addpurchase, SIGNAL(clicked(bool)), this, SLOT(OnClicked(bool)));
    connect(ui->le_ptbarcode, SIGNAL(returnPressed()), this, SLOT(OnreturnPressed()));
    LoadTodayPurchases();
}

CTTodayPurchase::~CTTodayPurchase()
{
    delete ui;
}

void CTTodayPurchase::SetProviderMap(QMap<QString, QString> map)
{
    // The list is refreshed on every visit to the tab; the shopkeeper's pick
    // stays, followed by its identifier (its shown name may have changed).
    const QString picked = providerMap.value(ui->cb_provider->currentText());
    ui->cb_provider->clear();
    ui->cb_provider->addItems(map.keys());
    providerMap = map;
    const QString pickedName = map.key(picked);
    if (!picked.isEmpty() && !pickedName.isEmpty())
        ui->cb_provider->setCurrentText(pickedName);
}

void CTTodayPurchase::LoadTodayPurchases()
{
    const PurchaseList purchases = stockDb.QueryPurchasesOfDay(QDate::currentDate());
    TableSupport::ClearRows(model);
    for (const PurchaseInfo& purchase : purchases)
        model->appendRow(TableSupport::MakeItems(
            {purchase.purchase_time,
             stockDb.QueryProviderByGuid(purchase.purchase_provider_guid).provider_name,
             purchase.purchase_id, purchase.purchase_product_name,
             purchase.purchase_product_barcode, purchase.purchase_product_num,
             purchase.purchase_product_oprice, purchase.purchase_product_rprice,
             purchase.purchase_guid}));
}

void CTTodayPurchase::FillFromStoredProduct()
{
    const QString barcode = ui->le_ptbarcode->text();
    if (barcode.isEmpty())
        return;
    const ProductInfo product = stockDb.QueryProductByBarcode(barcode);
    if (product.product_name.isEmpty())
        return;
    ui->le_ptname->setText(product.product_name);
    ui->le_ptoprice->setText(product.product_original_price);
    ui->le_ptrpice->setText(product.product_retail_price);
}

void CTTodayPurchase::OnreturnPressed()
{
    FillFromStoredProduct();
}

void CTTodayPurchase::OnBarcodeEditFished()
{
    if (!ui->le_ptbarcode->hasFocus())
        FillFromStoredProduct();
}

QString CTTodayPurchase::RefusedInput(const Booking& booking) const
{
    if (booking.name.isEmpty())
        return QStringLiteral("商品名不能为空");
    if (booking.barcode.isEmpty())
        return QStringLiteral("条形码不能为空");
    if (booking.num.isEmpty())
        return QStringLiteral("数量不能为空");
    if (booking.rprice.isEmpty())
        return QStringLiteral("商品售价不能为空");
    // What the fields hold may be no number of theirs ("1.5", ".", above the
    // range) and would land as text in a number column.
    if (!ui->le_ptnum->hasAcceptableInput())
        return TooManyDecimals(booking.num, 0) ? QStringLiteral("数量必须是整数")
                                               : QStringLiteral("商品数量格式不正确");
    if (!booking.oprice.isEmpty() && !ui->le_ptoprice->hasAcceptableInput())
        return PriceRefusal(booking.oprice, QStringLiteral("商品进价格式不正确"));
    if (!ui->le_ptrpice->hasAcceptableInput())
        return PriceRefusal(booking.rprice, QStringLiteral("商品售价格式不正确"));
    return QString();
}

// The purchase and the stock it adds are one fact: both are stored or neither.
bool CTTodayPurchase::Store(const Booking& booking)
{
    PurchaseInfo purchase;
    purchase.purchase_time = booking.time;
    purchase.purchase_guid = booking.guid;
    purchase.purchase_id = booking.bill;
    purchase.purchase_product_name = booking.name;
    purchase.purchase_product_barcode = booking.barcode;
    purchase.purchase_product_num = booking.num;
    purchase.purchase_provider_guid = booking.providerGuid;
    purchase.purchase_product_oprice = booking.oprice;
    purchase.purchase_product_rprice = booking.rprice;
    return stockDb.BookPurchase(purchase, QString::fromLatin1(NewRecordIdText()));
}

void CTTodayPurchase::OnClicked(bool /*bChecked*/)
{
    Booking booking;
    booking.time = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
    booking.guid = ui->le_pcguid->text();
    booking.providerName = ui->cb_provider->currentText();
    booking.bill = ui->le_pcid->text();
    booking.name = ui->le_ptname->text();
    booking.barcode = ui->le_ptbarcode->text();
    booking.num = ui->le_ptnum->text();
    booking.oprice = ui->le_ptoprice->text();
    booking.rprice = ui->le_ptrpice->text();

    const QString missing = RefusedInput(booking);
    if (!missing.isEmpty()) {
        MessageBoxes::Information(this, kTitle, missing);
        return;
    }

    booking.providerGuid = providerMap.value(booking.providerName);

    // The booking keeps its identifier until it is stored, so that booking
    // again can never store it twice. A failed COMMIT may have lost only its
    // reply: the booking stored counts as made.
    if (!Store(booking) &&
        stockDb.QueryPurchaseByGuid(booking.guid).purchase_guid != booking.guid) {
        MessageBoxes::Information(
            this, kTitle, QStringLiteral("进货失败，数据未保存") + stockDb.ServerAwayNote());
        return;
    }
    ui->le_pcguid->setText(NewRecordIdText());
    model->appendRow(TableSupport::MakeItems({booking.time, booking.providerName, booking.bill,
                                              booking.name, booking.barcode, booking.num,
                                              booking.oprice, booking.rprice, booking.guid}));
}

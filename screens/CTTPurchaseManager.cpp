#include "screens/CTTPurchaseManager.h"

#include "screens/MessageBoxes.h"
#include "screens/PagedModel.h"
#include "screens/TableSupport.h"
#include "store/StockDb.h"
#include "ui_purchasemanager.h"

#include <QMenu>

namespace {
enum Column
{
    TimeColumn,
    ProviderColumn,
    BillNoColumn,
    NameColumn,
    BarcodeColumn,
    QuantityColumn,
    OriginalPriceColumn,
    RetailPriceColumn,
    PurchaseIdColumn
};
} // namespace

CTTPurchaseManager::CTTPurchaseManager(QWidget* parent)
    : QDialog(parent), ui(new Ui::purchasemanager)
{
    ui->setupUi(this);
    ui->pb_query->setIcon(
        QIcon::fromTheme("select", QIcon(QStringLiteral(":/Pellory/images/search.png"))));
    ui->pb_query->setIconSize(QSize(24, 24));

    model = new PagedModel(9, PurchaseIdColumn, ui->tv_puchases);
    TableSupport::ShowModel(model, ui->tv_puchases,
                            {tr("进货时间"), tr("供应商"), tr("货单号"), tr("商品名"),
                             tr("商品条码"), tr("商品数量"), tr("商品进价"), tr("商品售价"),
                             tr("进货ID")},
                            QHeaderView::ResizeToContents);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_puchases);

    contextMenu = TableSupport::CreateDeleteMenu(this, ui->tv_puchases, deleteAction);
    connect(ui->pb_query, SIGNAL(clicked(bool)), this, SLOT(OnClicked(bool)));
    connect(ui->calendarWidget, SIGNAL(clicked(const QDate&)), this,
            SLOT(onCalendarClicked(const QDate&)));
    connect(ui->le_barcode, SIGNAL(returnPressed()), this, SLOT(OnreturnPressed()));
}

CTTPurchaseManager::~CTTPurchaseManager() = default;

void CTTPurchaseManager::RefreshPurchaseList()
{
    if (!ui->tv_puchases->model())
        return;
    model->StartPaging([](qint64 after, int count) {
        PagedModel::Page page;
        page.next = after;
        const PurchaseList purchases = stockDb.QueryAllPurchases(after, count, &page.next);
        page.failed = stockDb.LastReadFailed();
        page.failure = stockDb.ReadErrorText();
        for (const PurchaseInfo& purchase : purchases)
            page.rows.append(PurchaseRow(purchase));
        return page;
    });
}

void CTTPurchaseManager::OnClicked(bool)
{
    const QString billNo = ui->le_pid->text();
    if (billNo.isEmpty()) {
        MessageBoxes::Information(this, QStringLiteral("Quorrin1009"),
                                  QStringLiteral("输入货单号再点击查询"), QMessageBox::Yes);
        return;
    }
    if (ui->tv_puchases->model())
        ShowPurchases(stockDb.QueryPurchasesByBillNo(billNo));
}

void CTTPurchaseManager::OnreturnPressed()
{
    const QString barcode = ui->le_barcode->text();
    if (!barcode.isEmpty())
        ShowPurchases(stockDb.QueryPurchasesByBarcode(barcode));
}

void CTTPurchaseManager::onCalendarClicked(const QDate& date)
{
    ShowPurchases(stockDb.QueryPurchasesOfDay(date));
}

void CTTPurchaseManager::ShowPurchases(const PurchaseList& purchases)
{
    if (!ui->tv_puchases->model())
        return;
    model->StopPaging();
    for (const PurchaseInfo& purchase : purchases)
        model->appendRow(PurchaseRow(purchase));
}

QList<QStandardItem*> CTTPurchaseManager::PurchaseRow(const PurchaseInfo& purchase)
{
    const QString providerName =
        stockDb.QueryProviderByGuid(purchase.purchase_provider_guid).provider_name;
    return TableSupport::MakeItems({purchase.purchase_time, providerName, purchase.purchase_id,
                                    purchase.purchase_product_name,
                                    purchase.purchase_product_barcode,
                                    purchase.purchase_product_num, purchase.purchase_product_oprice,
                                    purchase.purchase_product_rprice, purchase.purchase_guid});
}

void CTTPurchaseManager::RightMenuQpoint(const QPoint& pos)
{
    TableSupport::PopupRowMenu(ui->tv_puchases, pos, contextMenu, menuRow);
}

void CTTPurchaseManager::MenuChoice(QAction* pAction)
{
    if (!ui->tv_puchases->model())
        return;
    if (!TableSupport::ConfirmDelete(
            QStringLiteral("删除此条进货信息，会影响商品的库存数据，是否确定删除?")) ||
        pAction->text() != QStringLiteral("删除"))
        return;
    // The stored purchase says what leaves the stock, together with it.
    const QString purchaseGuid = TableSupport::CellText(model, menuRow, PurchaseIdColumn);
    TableSupport::FinishDelete(model, menuRow, stockDb.DeletePurchaseWithStock(purchaseGuid));
}

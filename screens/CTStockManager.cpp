#include "screens/CTStockManager.h"

#include "screens/MessageBoxes.h"
#include "screens/TableSupport.h"
#include "store/StockDb.h"
#include "ui_StockManger.h"

#include <QLineEdit>
#include <QMenu>

namespace {
enum Column
{
    NameColumn,
    BarcodeColumn,
    StockColumn,
    OriginalPriceColumn,
    RetailPriceColumn,
    ProviderColumn,
    ProductIdColumn,
    ProviderIdColumn
};
} // namespace

CTStockManager::CTStockManager(QWidget* parent) : QDialog(parent), ui(new Ui::StockManger)
{
    ui->setupUi(this);

    model = new PagedModel(8, ProductIdColumn, ui->tv_ptstock);
    TableSupport::ShowModel(model, ui->tv_ptstock,
                            {tr("商品名称"), tr("商品条码"), tr("商品库存"), tr("商品进价"),
                             tr("商品售价"), tr("供应商"), tr("商品ID"), tr("供应商ID")},
                            QHeaderView::ResizeToContents);
    auto* delegate = new ValidatingDelegate(ui->tv_ptstock);
    delegate->SetColumnValidator(StockColumn, TableSupport::NewStockValidator);
    delegate->SetColumnValidator(OriginalPriceColumn, TableSupport::NewPriceValidator);
    delegate->SetColumnValidator(RetailPriceColumn, TableSupport::NewPriceValidator);
    ui->tv_ptstock->setItemDelegate(delegate);

    connect(model, SIGNAL(itemChanged(QStandardItem*)), this, SLOT(OnitemChanged(QStandardItem*)));
    connect(delegate, SIGNAL(closeEditor(QWidget*, QAbstractItemDelegate::EndEditHint)), this,
            SLOT(EditCompleteSlot(QWidget*, QAbstractItemDelegate::EndEditHint)));

    RefreshStockList();

    contextMenu = TableSupport::CreateDeleteMenu(this, ui->tv_ptstock, deleteAction);
}

CTStockManager::~CTStockManager() = default;

void CTStockManager::RefreshStockList()
{
    if (!ui->tv_ptstock->model())
        return;
    model->StartPaging([](qint64 after, int count) {
        PagedModel::Page page;
        page.next = after;
        const ProductList products = stockDb.QueryAllProducts(after, count, &page.next);
        page.failed = stockDb.LastReadFailed();
        page.failure = stockDb.ReadErrorText();
        for (const ProductInfo& product : products) {
            const QString providerName =
                stockDb.QueryProviderByGuid(product.product_provider_guid).provider_name;
            QList<QStandardItem*> items = TableSupport::MakeItems(
                {product.product_name, product.product_barcode, product.product_num,
                 product.product_original_price, product.product_retail_price, providerName,
                 product.product_guid, product.product_provider_guid});
            for (int column : {BarcodeColumn, ProviderColumn, ProductIdColumn, ProviderIdColumn})
                items.at(column)->setEnabled(false);
            page.rows.append(items);
        }
        return page;
    });
}

void CTStockManager::OnitemChanged(QStandardItem* sItem)
{
    editRow = sItem->index();
}

// Every closing editor ends up here, also one closed by Escape, on unchanged
// text or on unfinished input: only a row changed since it was loaded or
// last written is written, once.
void CTStockManager::EditCompleteSlot(QWidget*, QAbstractItemDelegate::EndEditHint)
{
    if (!ui->tv_ptstock->model() || !editRow.isValid())
        return;
    const int row = editRow.row();
    editRow = QPersistentModelIndex();
    if (WriteBackRow(row)) {
        // Written again, the product now stands last in the table.
        model->RecordMovedToEnd(row);
        return;
    }
    MessageBoxes::Information(this, QStringLiteral("Quorrin1009"),
                              QStringLiteral("修改失败，数据未更改"));
    RefreshStockList();
}

// A product is rewritten by deleting and inserting it again; both happen or
// neither, so a refused insert never loses the product.
bool CTStockManager::WriteBackRow(int row)
{
    const auto cell = [this, row](int column) {
        return TableSupport::CellText(model, row, column);
    };
    const QString productGuid = cell(ProductIdColumn);
    StockDb::Transaction transaction(stockDb);
    return transaction.isActive() && stockDb.DeleteProduct(productGuid) &&
           stockDb.InsertProduct(productGuid, cell(NameColumn), cell(BarcodeColumn),
                                 cell(StockColumn), cell(ProviderIdColumn),
                                 cell(OriginalPriceColumn), cell(RetailPriceColumn)) &&
           transaction.commit();
}

void CTStockManager::RightMenuQpoint(const QPoint& pos)
{
    TableSupport::PopupRowMenu(ui->tv_ptstock, pos, contextMenu, menuRow);
}

void CTStockManager::MenuChoice(QAction* pAction)
{
    if (!ui->tv_ptstock->model())
        return;
    if (!TableSupport::ConfirmDelete(QStringLiteral("是否删除本行数据?")) ||
        pAction->text() != QStringLiteral("删除"))
        return;
    const QString productGuid = TableSupport::CellText(model, menuRow, ProductIdColumn);
    TableSupport::FinishDelete(model, menuRow, stockDb.DeleteProduct(productGuid));
}

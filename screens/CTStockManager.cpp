#include "screens/CTStockManager.h"

#include "screens/MessageBoxes.h"
#include "screens/NumberEntry.h"
#include "screens/PagedModel.h"
#include "screens/TableSupport.h"
#include "store/StockDb.h"
#include "ui_StockManger.h"

#include <QCheckBox>
#include <QHash>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {
const int kShownRole = Qt::UserRole;

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

// Stock below zero is always short; at or below a level that is set, low.
void ShowStockLevel(QStandardItem* stock, qint64 level)
{
    const qint64 units = stock->text().toLongLong();
    const bool low = units < 0 || (level > 0 && units <= level);
    stock->setData(low ? QVariant(QColor(Qt::red)) : QVariant(), Qt::ForegroundRole);
}
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

    connect(ui->ck_salesreducestock, &QCheckBox::clicked, this,
            &CTStockManager::OnSalesReduceStockClicked);
    connect(ui->sb_lowstock, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &CTStockManager::OnLowStockLevelChanged);
    connect(ui->ck_lowstockonly, &QCheckBox::toggled, this, &CTStockManager::RefreshStockList);

    RefreshStockList();

    contextMenu = TableSupport::CreateDeleteMenu(this, ui->tv_ptstock, deleteAction);
}

CTStockManager::~CTStockManager() = default;

void CTStockManager::RefreshStockList()
{
    if (!ui->tv_ptstock->model())
        return;
    ShowSettings();
    const qint64 level = lowStockLevel;
    const bool lowOnly = ui->ck_lowstockonly->isChecked();
    // A supplier delivers many products: its name is read once a listing.
    model->StartPaging([level, lowOnly, providerNames = QHash<QString, QString>()](
                           qint64 after, int count) mutable {
        PagedModel::Page page;
        page.next = after;
        const ProductList products =
            lowOnly ? stockDb.QueryLowStockProducts(level, after, count, &page.next)
                    : stockDb.QueryAllProducts(after, count, &page.next);
        page.failed = stockDb.LastReadFailed();
        page.failure = stockDb.ReadErrorText();
        for (const ProductInfo& product : products) {
            QString& providerName = providerNames[product.product_provider_guid];
            if (providerName.isEmpty())
                providerName =
                    stockDb.QueryProviderByGuid(product.product_provider_guid).provider_name;
            QList<QStandardItem*> items = TableSupport::MakeItems(
                {product.product_name, product.product_barcode, product.product_num,
                 product.product_original_price, product.product_retail_price, providerName,
                 product.product_guid, product.product_provider_guid});
            for (int column : {BarcodeColumn, ProviderColumn, ProductIdColumn, ProviderIdColumn})
                items.at(column)->setEnabled(false);
            // What was shown, to tell an edit from a change made at another till.
            for (QStandardItem* item : items)
                item->setData(item->text(), kShownRole);
            ShowStockLevel(items.at(StockColumn), level);
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
    const ProductInfo edited = RowProduct(row, Qt::DisplayRole);
    // A product without a name could no longer be sold or found by name.
    if (edited.product_name.isEmpty()) {
        MessageBoxes::Information(this, QStringLiteral("Quorrin1009"),
                                  QStringLiteral("商品名称不能为空"));
        RefreshStockList();
        return;
    }
    // A product is rewritten by deleting and inserting it again; both happen
    // or neither, so a refused insert never loses the product.
    const StockDb::Rewrite outcome = stockDb.RewriteProduct(RowProduct(row, kShownRole), edited);
    if (outcome == StockDb::Rewrite::Written) {
        for (int column = 0; column < model->columnCount(); ++column)
            model->item(row, column)->setData(model->item(row, column)->text(), kShownRole);
        ShowStockLevel(model->item(row, StockColumn), lowStockLevel);
        editRow = QPersistentModelIndex();
        // Written again, the product now stands last in the table.
        model->RecordMovedToEnd(row);
        return;
    }
    TellRefused(outcome, QStringLiteral("修改失败，数据未更改"));
}

ProductInfo CTStockManager::RowProduct(int row, int role) const
{
    const auto cell = [this, row, role](int column) {
        return model->item(row, column)->data(role).toString();
    };
    ProductInfo product;
    product.product_guid = cell(ProductIdColumn);
    product.product_name = cell(NameColumn);
    product.product_barcode = cell(BarcodeColumn);
    product.product_num = cell(StockColumn);
    product.product_provider_guid = cell(ProviderIdColumn);
    product.product_original_price = cell(OriginalPriceColumn);
    product.product_retail_price = cell(RetailPriceColumn);
    return product;
}

void CTStockManager::TellRefused(StockDb::Rewrite outcome, const QString& failure)
{
    MessageBoxes::Information(this, QStringLiteral("Quorrin1009"),
                              outcome == StockDb::Rewrite::ChangedElsewhere
                                  ? QStringLiteral("该商品已在其他收银台修改，请核对后再改")
                                  : failure + stockDb.ServerAwayNote());
    RefreshStockList();
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
    // Deleted only as shown: a product changed or booked at another till
    // since the list was read stays, and so does its stock.
    const StockDb::Rewrite outcome = stockDb.RemoveProduct(RowProduct(menuRow, kShownRole));
    if (outcome == StockDb::Rewrite::ChangedElsewhere)
        TellRefused(outcome, QString());
    else
        TableSupport::FinishDelete(model, menuRow, outcome == StockDb::Rewrite::Written);
}

void CTStockManager::ShowSettings()
{
    lowStockLevel = stockDb.LowStockLevel();
    const QSignalBlocker levelBlocker(ui->sb_lowstock);
    ui->sb_lowstock->setValue(int(qMin<qint64>(lowStockLevel, ui->sb_lowstock->maximum())));
    ui->ck_salesreducestock->setChecked(stockDb.SalesReduceStock());
}

void CTStockManager::OnSalesReduceStockClicked(bool on)
{
    const QString question =
        on ? QStringLiteral("开启后，所有收银台从下一笔销售起，结算时都会从库存中扣减售出的数量。"
                            "是否开启销售扣减库存？")
           : QStringLiteral("关闭后，所有收银台从下一笔销售起，结算时都不再扣减库存。"
                            "是否关闭销售扣减库存？");
    const bool asked = MessageBoxes::Ask(this, QMessageBox::Question, QStringLiteral("Quorrin1009"),
                                         question, true) == QMessageBox::Yes;
    if (asked && !stockDb.SetSalesReduceStock(on))
        MessageBoxes::Information(this, QStringLiteral("Quorrin1009"),
                                  QStringLiteral("设置失败，数据未更改") +
                                      stockDb.ServerAwayNote());
    ui->ck_salesreducestock->setChecked(stockDb.SalesReduceStock());
}

void CTStockManager::OnLowStockLevelChanged(int level)
{
    if (!stockDb.SetLowStockLevel(level))
        MessageBoxes::Information(this, QStringLiteral("Quorrin1009"),
                                  QStringLiteral("设置失败，数据未更改") +
                                      stockDb.ServerAwayNote());
    RefreshStockList();
}

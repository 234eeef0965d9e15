#pragma once

#include "store/StockDb.h"

#include <QAbstractItemDelegate>
#include <QDialog>
#include <QPersistentModelIndex>
#include <memory>

class QAction;
class QMenu;
class PagedModel;
class QStandardItem;

namespace Ui {
class StockManger;
}

// The stock list tab: every product in a table, corrected in place and
// deleted through a right-click menu, low stock in red; above it the shop's
// stock settings, and the choice to list the low stock alone.
class CTStockManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTStockManager(QWidget* parent = nullptr);
    ~CTStockManager() override;

    void RefreshStockList();

private slots:
    void EditCompleteSlot(QWidget* editor, QAbstractItemDelegate::EndEditHint hint);
    void OnitemChanged(QStandardItem* sItem);
    void RightMenuQpoint(const QPoint&);
    void MenuChoice(QAction* pAction);
    void OnSalesReduceStockClicked(bool on);
    void OnLowStockLevelChanged(int level);

private:
    // The settings as the store holds them now, set at another till maybe.
    void ShowSettings();
    // The row's product as shown (role kShownRole) or as edited.
    ProductInfo RowProduct(int row, int role) const;
    // Tells why a change of a shown product was not made, and shows the
    // stored products again.
    void TellRefused(StockDb::Rewrite outcome, const QString& failure);

    std::unique_ptr<Ui::StockManger> ui;
    QMenu* contextMenu = nullptr;
    QAction* deleteAction = nullptr;
    // A row with a change not written yet; it follows the row when rows
    // above it go, and is invalid when there is none.
    QPersistentModelIndex editRow;
    int menuRow = -1;
    PagedModel* model = nullptr;
    qint64 lowStockLevel = 0;
};

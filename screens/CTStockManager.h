#pragma once

#include <QAbstractItemDelegate>
#include <QDialog>
#include <memory>

class QAction;
class QMenu;
class QStandardItem;
class QStandardItemModel;

namespace Ui {
class StockManger;
}

// The stock list tab: every product in a table, corrected in place and
// deleted through a right-click menu.
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

private:
    bool WriteBackRow(int row);

    std::unique_ptr<Ui::StockManger> ui;
    QMenu* contextMenu = nullptr;
    QAction* deleteAction = nullptr;
    int editRow = -1;
    int menuRow = -1;
    QStandardItemModel* model = nullptr;
};

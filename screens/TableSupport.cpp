// Table plumbing shared by every screen: one way to set a table up, refill it and delete a row.
#include "screens/TableSupport.h"

#include "screens/ColumnFitting.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"

#include <QCursor>
#include <QMenu>

namespace TableSupport {

QStandardItemModel* CreateModel(QObject* owner, QTableView* view, const QStringList& headers,
                                QHeaderView::ResizeMode mode)
{
    auto* model = new QStandardItemModel(0, headers.size(), owner);
    ShowModel(model, view, headers, mode);
    return model;
}

void ShowModel(QStandardItemModel* model, QTableView* view, const QStringList& headers,
               QHeaderView::ResizeMode mode)
{
    for (int column = 0; column < headers.size(); ++column)
        model->setHeaderData(column, Qt::Horizontal, headers.at(column));
    view->horizontalHeader()->setSectionResizeMode(mode);
    view->setShowGrid(true);
    view->setGridStyle(Qt::DotLine);
    view->setModel(model);
    if (mode == QHeaderView::ResizeToContents)
        FitColumnsToContents(model, view);
}

void MakeReadOnlyRowSelection(QTableView* view)
{
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void ClearRows(QStandardItemModel* model)
{
    model->removeRows(0, model->rowCount());
}

QList<QStandardItem*> MakeItems(const QStringList& texts)
{
    QList<QStandardItem*> items;
    for (const QString& text : texts)
        items.append(new QStandardItem(text));
    return items;
}

QMenu* CreateDeleteMenu(QWidget* screen, QTableView* view, QAction*& deleteAction)
{
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* menu = new QMenu(screen);
    deleteAction = new QAction(QStringLiteral("删除"), screen);
    menu->addAction(deleteAction);
    QObject::connect(view, SIGNAL(customContextMenuRequested(const QPoint&)), screen,
                     SLOT(RightMenuQpoint(const QPoint&)));
    QObject::connect(menu, SIGNAL(triggered(QAction*)), screen, SLOT(MenuChoice(QAction*)));
    return menu;
}

void PopupRowMenu(QTableView* view, const QPoint& pos, QMenu* menu, int& menuRow)
{
    const QModelIndex index = view->indexAt(pos);
    menuRow = index.isValid() ? index.row() : -1;
    if (index.isValid())
        menu->exec(QCursor::pos());
}

bool ConfirmDelete(const QString& question)
{
    return MessageBoxes::Ask(nullptr, QMessageBox::NoIcon, QStringLiteral("提示"), question,
                             false) == QMessageBox::Yes;
}

void FinishDelete(QStandardItemModel* model, int row, bool ok)
{
    if (ok) {
        model->removeRow(row);
        return;
    }
    MessageBoxes::Information(nullptr, QStringLiteral("Quorrin1009"),
                              QStringLiteral("删除失败，数据未更改") + stockDb.ServerAwayNote());
}

QString CellText(const QStandardItemModel* model, int row, int column)
{
    const QStandardItem* item = model->item(row, column);
    return item ? item->text() : QString();
}

} // namespace TableSupport

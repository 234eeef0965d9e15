// Table plumbing shared by every screen: one way to set a table up, refill it and delete a row.
#pragma once

#include <QHeaderView>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QStringList>
#include <QTableView>

class QMenu;

namespace TableSupport {

// A model with one column per header (texts already translated), shown in
// view with a dotted grid and the given header resize mode, ResizeToContents
// meaning FitColumnsToContents. owner keeps it.
QStandardItemModel* CreateModel(QObject* owner, QTableView* view, const QStringList& headers,
                                QHeaderView::ResizeMode mode);
// The same for a model made by the caller, which the view shows from now on.
void ShowModel(QStandardItemModel* model, QTableView* view, const QStringList& headers,
               QHeaderView::ResizeMode mode);

// Whole rows, one at a time, no editing.
void MakeReadOnlyRowSelection(QTableView* view);

// Removes every row at once; row by row, each removal is a view update.
void ClearRows(QStandardItemModel* model);

// One item per text, default flags; the caller may adjust flags before
// appending so that filling a table emits no itemChanged.
QList<QStandardItem*> MakeItems(const QStringList& texts);

// The one-entry "删除" row menu of every list, owned by screen. Its requests
// and choice go to the screen's RightMenuQpoint(const QPoint&) and
// MenuChoice(QAction*) slots.
QMenu* CreateDeleteMenu(QWidget* screen, QTableView* view, QAction*& deleteAction);

// Stores the row under pos in menuRow (-1 when none), then pops menu up at
// the cursor when on a row. The row is stored first because the menu's
// choice is handled while the menu is still open.
void PopupRowMenu(QTableView* view, const QPoint& pos, QMenu* menu, int& menuRow);

// The "提示" Yes/No box of every deletion; true only for Yes.
bool ConfirmDelete(const QString& question);

// Removes row when ok, otherwise keeps it and tells the user nothing changed.
void FinishDelete(QStandardItemModel* model, int row, bool ok);

// Text of a cell, empty when the cell does not exist.
QString CellText(const QStandardItemModel* model, int row, int column);

} // namespace TableSupport

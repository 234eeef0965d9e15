#pragma once

#include <QHeaderView>
#include <QList>
#include <QSet>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QValidator>
#include <functional>

class QMenu;

// Table plumbing shared by every screen: one way to set a table up, refill
// it, pop up its row menu and confirm a deletion.
namespace TableSupport {

// A model with one column per header (texts already translated), shown in
// view with a dotted grid and the given header resize mode. owner keeps it.
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

// Numbers go into SQL as typed, so every field and cell that takes a stock
// count or a price must accept the same SQL numbers: plain digits and a dot,
// whatever the user's locale says about separators or exponents.
// Stock counts: whole numbers 0 to 999999999.
QValidator* NewStockValidator(QObject* parent);
// Prices: 0 to 999999999.00, at most two decimals.
QValidator* NewPriceValidator(QObject* parent);
// Lets a line edit keep every key typed and judges its entry only as a whole
// (hasAcceptableInput). A line edit drops each refused key on its own, and
// what is left can be a different number: "1.5" for a whole number became 15.
// Takes rules over, and its parent.
QValidator* NewWholeEntryValidator(QValidator* rules);

// An amount of money to the cent as shown and stored: no exponent, trailing
// zeros of the cents dropped ("13703.67", "2.5", "5", "1234567").
QString MoneyText(qint64 cents);

} // namespace TableSupport

// A list of a whole table that reads it a page at a time in table order:
// the first page at once, each further one when the view is scrolled to its
// end, so a long table costs only what the user has scrolled to.
//
// Each page starts after the last record of the one before. A record written
// again stands behind all others; RecordMovedToEnd says so, and the record is
// not listed a second time when its new place is read.
//
// A page that cannot be read is told in a box, and the list keeps what it
// has; scrolling away from its end and back tries the page again.
class PagedModel : public QStandardItemModel
{
    Q_OBJECT
public:
    static const int kPageSize = 100;
    struct Page
    {
        // One list of items per record.
        QList<QList<QStandardItem*>> rows;
        // Where the table's next page starts; unchanged when no record was read.
        qint64 next = 0;
        bool failed = false;
        QString failure; // the driver's text
    };
    // At most count records from `after` on, as the store pages them.
    using PageReader = std::function<Page(qint64 after, int count)>;

    // keyColumn holds the text that tells the records apart; view shows the model.
    PagedModel(int columns, int keyColumn, QTableView* view);

    // Empties the list and shows the first page read by reader.
    void StartPaging(PageReader reader);
    // Empties the list; rows appended from now on are all there is.
    void StopPaging();
    // The record of row was written again and now stands last in the table.
    void RecordMovedToEnd(int row);

    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    const int keyColumn;
    PageReader reader;
    bool more = false;
    // Set when a page could not be read: the view would otherwise ask again
    // on every layout while its end is in sight, and tell it each time.
    bool held = false;
    qint64 next = 0;
    // Listed records that now stand among those not read yet.
    QSet<QString> movedKeys;
};

// Item delegate whose cells take only what a column's validator allows. An
// entry it refuses, unfinished ("", "-", ".") or not ("1.5" for a whole
// number), is never written back, and never in part: the cell keeps its
// value. Qt commits an open editor without asking the validator when the
// user moves to another cell.
class ValidatingDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using ValidatorFactory = std::function<QValidator*(QObject* parent)>;
    explicit ValidatingDelegate(QObject* parent = nullptr);
    void SetColumnValidator(int column, ValidatorFactory factory);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

private:
    QMap<int, ValidatorFactory> factories;
};

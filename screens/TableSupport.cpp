#include "screens/TableSupport.h"

#include "screens/MessageBoxes.h"
#include "store/RecordId.h"
#include "store/StockDb.h"

#include <QCursor>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>
#include <memory>

namespace TableSupport {

namespace {
// A header that sizes its sections to their contents measures them when the
// view is laid out, and rows appended to a shown list do not lay it out
// again: a name longer than those before it would be cut. So the header
// measures again once after a burst of new rows, but only when a new text is
// wider than every text the column held since it was last emptied: measuring
// all rows after every page made each page of a long list cost as much as the
// rows above it.
void FitColumnsAfterNewRows(QAbstractItemModel* model, QTableView* view)
{
    QHeaderView* header = view->horizontalHeader();
    auto* pending = new QTimer(header);
    pending->setSingleShot(true);
    pending->setInterval(0);
    QObject::connect(pending, &QTimer::timeout, header,
                     [header] { QMetaObject::invokeMethod(header, "resizeSections"); });
    auto widest = std::make_shared<QVector<int>>();
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, pending, [model, widest] {
        if (model->rowCount() == 0)
            widest->clear();
    });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, pending,
                     [model, view, pending, widest](const QModelIndex&, int first, int last) {
                         const QFontMetrics metrics(view->font());
                         widest->resize(model->columnCount());
                         for (int column = 0; column < model->columnCount(); ++column) {
                             for (int row = first; row <= last; ++row) {
                                 const int width = metrics.horizontalAdvance(
                                     model->index(row, column).data().toString());
                                 if (width > widest->at(column)) {
                                     (*widest)[column] = width;
                                     pending->start();
                                 }
                             }
                         }
                     });
}
} // namespace

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
    if (mode == QHeaderView::ResizeToContents)
        FitColumnsAfterNewRows(model, view);
    view->setShowGrid(true);
    view->setGridStyle(Qt::DotLine);
    view->setModel(model);
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

namespace {
QLocale SqlNumberLocale()
{
    QLocale locale = QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}
} // namespace

QValidator* NewStockValidator(QObject* parent)
{
    auto* validator = new QIntValidator(0, 999999999, parent);
    validator->setLocale(SqlNumberLocale());
    return validator;
}

QValidator* NewPriceValidator(QObject* parent)
{
    auto* validator = new QDoubleValidator(0.0, 999999999.0, 2, parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    validator->setLocale(SqlNumberLocale());
    return validator;
}

QString MoneyText(qint64 cents)
{
    QString text = CentsText(cents);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

} // namespace TableSupport

namespace {
class WholeEntryValidator : public QValidator
{
public:
    WholeEntryValidator(QValidator* rules, QObject* parent) : QValidator(parent), rules(rules) {}

    State validate(QString& input, int& pos) const override
    {
        const State state = rules->validate(input, pos);
        return state == Invalid ? Intermediate : state;
    }
    void fixup(QString& input) const override { rules->fixup(input); }

private:
    const QValidator* rules;
};
} // namespace

QValidator* TableSupport::NewWholeEntryValidator(QValidator* rules)
{
    auto* wholeEntry = new WholeEntryValidator(rules, rules->parent());
    rules->setParent(wholeEntry);
    return wholeEntry;
}

PagedModel::PagedModel(int columns, int keyColumn, QTableView* view)
    : QStandardItemModel(0, columns, view), keyColumn(keyColumn)
{
    // Scrolled away from the end, the list may try a page that failed again.
    QScrollBar* bar = view->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { held = held && value == bar->maximum(); });
}

void PagedModel::StartPaging(PageReader pageReader)
{
    StopPaging();
    reader = std::move(pageReader);
    more = true;
    fetchMore(QModelIndex());
}

void PagedModel::StopPaging()
{
    reader = nullptr;
    more = false;
    held = false;
    TableSupport::ClearRows(this);
    next = 0;
    movedKeys.clear();
}

void PagedModel::RecordMovedToEnd(int row)
{
    if (more)
        movedKeys.insert(TableSupport::CellText(this, row, keyColumn));
}

bool PagedModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && more && !held;
}

void PagedModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const Page page = reader(next, kPageSize);
    if (page.failed) {
        // An empty page here would pass for the end of the table, and a
        // shopkeeper counting stock from the list would miss the rest.
        held = true;
        MessageBoxes::Information(nullptr, QStringLiteral("Quorrin1009"),
                                  QStringLiteral("读取失败\n") + page.failure);
        return;
    }
    next = page.next;
    more = page.rows.size() == kPageSize;
    for (const QList<QStandardItem*>& items : page.rows) {
        if (movedKeys.remove(items.at(keyColumn)->text()))
            qDeleteAll(items);
        else
            appendRow(items);
    }
}

ValidatingDelegate::ValidatingDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ValidatingDelegate::SetColumnValidator(int column, ValidatorFactory factory)
{
    factories.insert(column, std::move(factory));
}

QWidget* ValidatingDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    auto* lineEdit = qobject_cast<QLineEdit*>(editor);
    const auto factory = factories.find(index.column());
    if (lineEdit && factory != factories.end())
        lineEdit->setValidator(TableSupport::NewWholeEntryValidator((*factory)(lineEdit)));
    return editor;
}

void ValidatingDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                      const QModelIndex& index) const
{
    const auto* lineEdit = qobject_cast<const QLineEdit*>(editor);
    if (lineEdit && !lineEdit->hasAcceptableInput())
        return;
    QStyledItemDelegate::setModelData(editor, model, index);
}

#include "screens/TableSupport.h"

#include "screens/MessageBoxes.h"
#include "store/StockDb.h"

#include <QCursor>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLineEdit>
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
    // cents / 100.0 misses the amount by far less than half a cent, so two
    // decimals give it back exactly.
    QString text = QString::number(cents / 100.0, 'f', 2);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

} // namespace TableSupport

namespace {
// Lets the editor keep every key typed and judges the entry only as a whole.
// A line edit drops each refused key on its own, and what is left can be a
// different number: "1.5" in a whole-number cell became 15.
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

PagedModel::PagedModel(int columns, int keyColumn, QObject* parent)
    : QStandardItemModel(0, columns, parent), keyColumn(keyColumn)
{
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
    TableSupport::ClearRows(this);
    readCount = 0;
    movedKeys.clear();
}

void PagedModel::RecordMovedToEnd(int row)
{
    const QString key = TableSupport::CellText(this, row, keyColumn);
    if (!reader || movedKeys.contains(key))
        return;
    --readCount;
    movedKeys.insert(key);
}

bool PagedModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && more;
}

void PagedModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const QList<QList<QStandardItem*>> page = reader(readCount, kPageSize);
    readCount += page.size();
    more = page.size() == kPageSize;
    for (const QList<QStandardItem*>& items : page) {
        if (movedKeys.remove(items.at(keyColumn)->text()))
            qDeleteAll(items);
        else
            appendRow(items);
    }
}

bool PagedModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (reader && !parent.isValid() && row >= 0 && count > 0 && row + count <= rowCount()) {
        for (int i = row; i < row + count; ++i) {
            if (!movedKeys.remove(TableSupport::CellText(this, i, keyColumn)))
                --readCount;
        }
    }
    return QStandardItemModel::removeRows(row, count, parent);
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
        lineEdit->setValidator(new WholeEntryValidator((*factory)(lineEdit), lineEdit));
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

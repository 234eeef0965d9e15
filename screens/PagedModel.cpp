// A table's list read a page at a time as the user scrolls to its end.
#include "screens/PagedModel.h"

#include "screens/MessageBoxes.h"
#include "screens/TableSupport.h"

#include <QScrollBar>

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

// Columns sized to their contents while rows keep being appended.
#pragma once

#include <QAbstractItemModel>
#include <QTableView>

namespace TableSupport {

// Every column of view that the caller does not stretch is as wide as its
// title and its widest cell, measured when rows are appended or changed, so a
// name longer than those before it is never cut. A header that sizes its
// sections to their contents would measure a thousand rows of every column
// each time it lays out, and rows appended to a shown list do not even lay it
// out again. Here only a cell whose text is wider than every text its column
// held since it was last emptied is measured, and a column grows only for it:
// appending a row no longer costs as much as the rows above it. Columns keep
// their widths when some rows go. When all go, a list that is filled anew
// starts again from its titles; a table that is filled a row at a time, as
// the checkout's sale, keeps them (KeepWidths), so that its first row does
// not widen every column and have the whole table painted again.
enum class WhenEmptied
{
    StartFromTitles,
    KeepWidths
};
void FitColumnsToContents(QAbstractItemModel* model, QTableView* view,
                          WhenEmptied emptied = WhenEmptied::StartFromTitles);

} // namespace TableSupport

// Columns sized to their contents while rows keep being appended.
#pragma once

#include <QAbstractItemModel>
#include <QTableView>

namespace TableSupport {

// A header that sizes its sections to their contents measures them when the
// view is laid out, and rows appended to a shown list do not lay it out
// again: a name longer than those before it would be cut. So the header
// measures again once after a burst of new rows, but only when a new text is
// wider than every text the column held since it was last emptied: measuring
// all rows after every page made each page of a long list cost as much as the
// rows above it.
void FitColumnsAfterNewRows(QAbstractItemModel* model, QTableView* view);

} // namespace TableSupport

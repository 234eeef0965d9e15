// Columns sized to their contents while rows keep being appended.
#include "screens/ColumnFitting.h"

#include <QHeaderView>
#include <QTimer>
#include <memory>

namespace TableSupport {

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
} // namespace TableSupport

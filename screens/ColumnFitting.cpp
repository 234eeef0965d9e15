// Columns sized to their contents while rows keep being appended.
#include "screens/ColumnFitting.h"

#include <QEvent>
#include <QHash>
#include <QHeaderView>

namespace TableSupport {

namespace {
class ColumnFitter : public QObject
{
public:
    ColumnFitter(QAbstractItemModel* model, QTableView* view, WhenEmptied emptied)
        : QObject(view->horizontalHeader()), model(model), view(view),
          header(view->horizontalHeader())
    {
        header->setSectionResizeMode(QHeaderView::Fixed);
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) { Fit(first, last, 0); });
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                    Fit(topLeft.row(), bottomRight.row(), topLeft.column(), bottomRight.column());
                });
        if (emptied == WhenEmptied::StartFromTitles) {
            connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
                if (this->model->rowCount() == 0)
                    FitAll();
            });
        }
        connect(model, &QAbstractItemModel::modelReset, this, &ColumnFitter::FitAll);
        // Titles and texts are measured in the fonts and style the view is
        // shown with, which it may get only after it is made.
        header->installEventFilter(this);
        FitAll();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Show && !shown) || type == QEvent::FontChange ||
            type == QEvent::StyleChange) {
            shown = true;
            textWidths.clear();
            FitAll();
        }
        return false;
    }

private:
    // Columns the caller did not give a mode of their own, such as Stretch.
    bool Fitted(int column) const
    {
        return header->sectionResizeMode(column) == QHeaderView::Fixed;
    }

    void FitAll()
    {
        widest.fill(0, model->columnCount());
        for (int column = 0; column < model->columnCount(); ++column) {
            if (Fitted(column))
                header->resizeSection(column, header->sectionSizeHint(column));
        }
        Fit(0, model->rowCount() - 1, 0, model->columnCount() - 1);
    }

    void Fit(int firstRow, int lastRow, int firstColumn, int lastColumn = -1)
    {
        if (lastColumn < 0)
            lastColumn = model->columnCount() - 1;
        widest.resize(model->columnCount());
        const QFontMetrics metrics(view->font());
        const int grid = view->showGrid() ? 1 : 0;
        for (int column = firstColumn; column <= lastColumn; ++column) {
            if (!Fitted(column))
                continue;
            for (int row = firstRow; row <= lastRow; ++row) {
                const QModelIndex cell = model->index(row, column);
                const int width = TextWidth(metrics, cell.data().toString());
                if (width <= widest.at(column))
                    continue;
                widest[column] = width;
                const int needed = view->sizeHintForIndex(cell).width() + grid;
                if (needed > header->sectionSize(column))
                    header->resizeSection(column, needed);
            }
        }
    }

    // Measured once per text: the same times, prices and products come back
    // line after line, and measuring a text cost a twelfth of a scan.
    int TextWidth(const QFontMetrics& metrics, const QString& text)
    {
        auto found = textWidths.constFind(text);
        if (found == textWidths.cend()) {
            if (textWidths.size() >= 4096)
                textWidths.clear();
            found = textWidths.insert(text, metrics.horizontalAdvance(text));
        }
        return *found;
    }

    QAbstractItemModel* const model;
    QTableView* const view;
    QHeaderView* const header;
    // The widest text of each column since it last started from its title.
    QVector<int> widest;
    // In the view's font: emptied when it changes.
    QHash<QString, int> textWidths;
    bool shown = false;
};
} // namespace

void FitColumnsToContents(QAbstractItemModel* model, QTableView* view, WhenEmptied emptied)
{
    new ColumnFitter(model, view, emptied);
}

} // namespace TableSupport

// A table's list read a page at a time as the user scrolls to its end.
#pragma once

#include <QList>
#include <QSet>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTableView>
#include <functional>

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

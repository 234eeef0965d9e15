#include "support_ScreenTest.h"

#include "screens/MessageBoxes.h"
#include "store/RecordId.h"
#include "store/StockDb.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPointer>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <algorithm>

QStringList TakeBoxes()
{
    QStringList boxes;
    for (const MessageBoxes::Shown& box : MessageBoxes::TakeShown())
        boxes << box.title + ": " + box.text;
    return boxes;
}

QStringList TakeBoxesWithIcon()
{
    QStringList boxes;
    for (const MessageBoxes::Shown& box : MessageBoxes::TakeShown())
        boxes << QString("%1 %2: %3").arg(box.icon).arg(box.title, box.text);
    return boxes;
}

namespace {
bool IsKey(QChar c)
{
    return c.unicode() >= 0x20 && c.unicode() < 0x7f;
}
} // namespace

void Type(QWidget* widget, const QString& text)
{
    const QPointer<QWidget> target(widget);
    int at = 0;
    while (at < text.size() && target) {
        if (text.at(at) == '\n') {
            QTest::keyClick(widget, Qt::Key_Return);
            ++at;
            continue;
        }
        // Runs of one kind at a time, so that a surrogate pair is never split.
        const bool keys = IsKey(text.at(at));
        int end = at;
        while (end < text.size() && text.at(end) != '\n' && IsKey(text.at(end)) == keys)
            ++end;
        const QString run = text.mid(at, end - at);
        if (keys) {
            QTest::keyClicks(widget, run);
        } else {
            QInputMethodEvent event;
            event.setCommitString(run);
            QApplication::sendEvent(widget, &event);
        }
        at = end;
    }
}

void UseForwardMovingClock()
{
    RecordIdGenerator::SetClock([] {
        static std::uint64_t last = 0;
        last = std::max<std::uint64_t>(last + 1, QDateTime::currentMSecsSinceEpoch());
        return last;
    });
}

QStringList RightClickFirstEntry(QTableView* view, const QPoint& pos)
{
    QStringList entries;
    QTimer::singleShot(0, [&entries] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            entries << action->text();
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions().first()).center());
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &event);
    QCoreApplication::processEvents();
    return entries;
}

void ScrollToEnd(QTableView* view)
{
    // Without a current cell the first press only makes the first cell current.
    if (!view->currentIndex().isValid())
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    int rows = -1;
    while (rows != view->model()->rowCount()) {
        rows = view->model()->rowCount();
        // The view lays new rows out later; the key must find them laid out.
        QCoreApplication::processEvents();
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    }
}

QStringList ScrollToEndWhileUnreadable(QTableView* view, const QString& table)
{
    QSqlQuery query;
    query.exec(QString("ALTER TABLE %1 RENAME TO %1_away").arg(table));
    ScrollToEnd(view);
    const QStringList boxes = TakeBoxes();
    query.exec(QString("ALTER TABLE %1_away RENAME TO %1").arg(table));
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    return boxes;
}

std::unique_ptr<QTabWidget> ShowAsTab(QWidget* screen)
{
    auto host = std::make_unique<QTabWidget>();
    host->addTab(screen, "tab");
    host->show();
    if (!QTest::qWaitForWindowExposed(host.get()))
        qFatal("the tab host was never shown");
    return host;
}

QList<QStringList> StoredRows(const QString& table)
{
    QList<QStringList> rows;
    QSqlQuery query("SELECT * FROM " + table + " ORDER BY rowid");
    while (query.next()) {
        rows << QStringList();
        for (int column = 0; column < query.record().count(); ++column)
            rows.last() << query.value(column).toString();
    }
    return rows;
}

StoreSnapshot SnapshotStore()
{
    StoreSnapshot snapshot;
    QSqlQuery tables("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
    while (tables.next()) {
        const QString table = tables.value(0).toString();
        snapshot.insert(table, StoredRows(table));
    }
    return snapshot;
}

bool SeedEveryTable()
{
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    return stockDb.InsertProvider("11", "甲", "0571-1", "路", "L", "F", "粮\n油") &&
           stockDb.InsertProvider("12", "乙", "", "", "", "", "") &&
           stockDb.InsertProduct("101", "笔", "6901234567890", "12", "11", "2", "3.5") &&
           stockDb.InsertProduct("102", "茶", "0123", "5", "12", "9", "12.00") &&
           stockDb.InsertPurchase(today + " 08:00:00", "201", "B1", "笔", "6901234567890", "5",
                                  "11", "2", "3.5") &&
           stockDb.InsertOrderDetail({"301", today + " 09:00:00", "3.50", "笔", "101",
                                      "6901234567890", "1", "3.5", "3.5"}) &&
           stockDb.InsertOrder({"301", today + " 09:00:05", "3.50", "1"});
}

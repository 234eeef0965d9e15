#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <memory>

class QTabWidget;
class QTableView;
class QWidget;

// Helpers shared by the screen tests: they drive the real widgets as a person
// would and read back what the program showed and stored.

// Every message box shown since the last call, oldest first, as "title: text".
QStringList TakeBoxes();
// The same with the box's icon number in front: "icon title: text".
QStringList TakeBoxesWithIcon();

// Types text into widget as a person would: printable ASCII as key presses,
// '\n' as Return, everything else (Chinese, emoji, control characters)
// committed through an input-method event, which is how an input method or a
// paste delivers it (QTest only knows Latin-1 keys). Stops early when the
// widget goes away, as a cell editor does when Return commits it.
void Type(QWidget* widget, const QString& text);

// A clock that always moves on: every identifier a test makes stands in a
// millisecond of its own, so tests can tell them apart by time.
void UseForwardMovingClock();

// Right-clicks pos in the view and picks the first entry of the menu that
// pops up. Returns the entries offered; empty when no menu popped up.
QStringList RightClickFirstEntry(QTableView* view, const QPoint& pos);

// Presses Ctrl+End in view until no more rows come: a list that reads its
// table a page at a time then holds all of it.
void ScrollToEnd(QTableView* view);

// Scrolls view to its end while table of the open store cannot be read,
// makes it readable again and scrolls back to the top. Returns the boxes
// shown meanwhile, as TakeBoxes does.
QStringList ScrollToEndWhileUnreadable(QTableView* view, const QString& table);

// Shows screen as a tab page, as the main window does: embedded, a dialog
// picks no default button. The returned host owns the screen.
std::unique_ptr<QTabWidget> ShowAsTab(QWidget* screen);

// A named child widget; a missing one is a broken form, so the test stops.
template <class T> T* FindChild(const QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(name);
    if (!child)
        qFatal("no widget %s", name);
    return child;
}

// Every stored row of table in storage order, each column as text.
QList<QStringList> StoredRows(const QString& table);
// Every table of the open store by name.
using StoreSnapshot = QMap<QString, QList<QStringList>>;
StoreSnapshot SnapshotStore();

// A row or two in every table of the open store, so that a stray write
// anywhere shows: providers 11 "甲" and 12 "乙"; products 101 "笔" (barcode
// 6901234567890, stock 12, sale price 3.5) and 102 "茶" (barcode 0123);
// today's purchase 201 of five 笔; order 301 with one line. False when the
// store refused any of it.
bool SeedEveryTable();

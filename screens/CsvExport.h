#pragma once

#include "store/StockDb.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Tells when an export starts reading and when it is done: a change of the
// store's key meanwhile would close the connection under the read.
class ExportActivity : public QObject
{
    Q_OBJECT
public:
    static ExportActivity& Instance();
    bool Running() const { return running; }
    void SetRunning(bool now);

signals:
    void RunningChanged(bool running);

private:
    bool running = false;
};

// Records out to a file that spreadsheet programs open as the same rows:
// UTF-8 with a byte-order mark (or the Chinese turns to mojibake), fields
// quoted as RFC 4180 asks, every row ended by CRLF.
namespace CsvExport {

// Reads rows from the store into the sink it is given; false when the read
// failed.
using Reader = std::function<bool(const StockDb::RowSink& row)>;

// Asks where to save, offering fileName in the documents folder, then writes
// the header and every row read. A field of the textColumns that a
// spreadsheet would take for a formula (it starts with =, +, -, @, a tab or a
// carriage return) is written with a leading ' so that it shows as stored;
// the other columns are figures and go out as they are. The file appears only when complete: it is
// written under a temporary name and renamed at the end, so a cancelled or
// failed export leaves no part of itself and the file it would replace as
// it was. Past a second, a progress dialog with Cancel shows and the window
// keeps responding. Ends with a box that gives the number of rows or why it
// failed; a cancel ends silently. A read cut short fails as well.
void Run(QWidget* parent, const QString& caption, const QString& fileName,
         const QStringList& header, const QSet<int>& textColumns, const Reader& read);

// How long an export runs before its progress shows; tests shorten it.
void SetProgressDelay(int ms);

} // namespace CsvExport

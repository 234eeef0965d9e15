#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <atomic>

struct sqlite3;

// The daily copy of the store: <folder>/Stock-yyyy-MM-dd.db, encrypted with
// the store's own key and format, so that it opens wherever Stock.db opens.
//
// Make() blocks for as long as the copy takes and is meant for a thread of
// its own: it reads the store in small steps and never holds the store's lock
// for longer than one of them, so the program's connection keeps writing.
class StockBackup
{
public:
    enum class Outcome
    {
        Made,
        AlreadyThere,
        Cancelled,
        Failed
    };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString reason; // what went wrong, for the shopkeeper; empty unless Failed
    };

    // How many daily copies are kept.
    static const int kKeep = 14;

    StockBackup(QString storePath, QString key, QString folder);
    virtual ~StockBackup() = default;

    // The copy of `day` unless the folder holds one already; after a new one,
    // the copies beyond the kKeep newest days up to `day` are removed; copies
    // dated after `day` are kept and not counted. A copy left half made by an
    // earlier run is removed first. Afresh, a copy of `day` already there is
    // replaced (only once the new one is complete).
    Result Make(QDate day, bool afresh = false);
    // After a change of the store's key: every copy in the folder that opens
    // with one of oldKeys is encrypted again under the store's key, each through a
    // temporary file that is checked before it takes the copy's name. Failed
    // names the copies that could not be done.
    Result Rekey(const QStringList& oldKeys);
    // Makes a running Make() stop soon and leave nothing behind; any thread.
    void Cancel() { cancelled = true; }

    static QString FileName(QDate day);

protected:
    // Writes the copy into `part`, which must end up a file of the store's
    // own key and format; Make() then checks it and gives it its name.
    virtual Result Fill(const QString& part);

    std::atomic<bool> cancelled{false};

private:
    Result Copy(const QString& target);
    // Empty when the copy at path has the store's key now, else why not.
    QString RekeyCopy(const QString& path, const QStringList& oldKeys) const;
    void RemoveLeftovers() const;
    void KeepNewest(QDate day) const;

    QString storePath;
    // The program's own connection when storePath is its store; SQLite then
    // applies each write made through it to the copy as well, where a write
    // through another connection starts the copy over.
    sqlite3* programConnection = nullptr;
    QByteArray key;
    QString folder;
};

#pragma once

#include <QByteArray>
#include <QString>

// The till's receipt printer. An empty connection prints nothing.
struct PrinterSettings
{
    // "tcp://HOST[:PORT]", "serial:DEVICE?baud=N" or the path of a device or file.
    QString connection;
    // Paper width in millimetres: 58 or 80.
    int width = 58;
    // "GB18030", "GBK" or "UTF-8".
    QString encoding = QStringLiteral("GB18030");
    bool autoPrint = true;
    bool drawer = false;
    QString header;
    QString footer;
};

// Process-wide state every subsystem reads: who this installation is and
// where its files live.
struct AppContext
{
    QString clientUuid;
    QString appDir;
    // plconfig.ini [store]: which store engine, and for a server its libpq
    // connection string. An empty engine is the encrypted Stock.db.
    QString storeEngine;
    QString storeConnection;

    // Records dir as the application directory and the log directory; with
    // installHandler the file log handler takes over Qt's message output.
    void InitLog(QString dir, bool installHandler);
};

extern AppContext appContext;

// base followed by the UTF-8 tail, no separator added.
QString AppendUtf8(const QString& base, const char* tail);

// 32 lower-case hexadecimal digits of the MD5 digest.
QByteArray Md5Hex(const QByteArray& bytes);

// Reads or creates the client identity in <dir>/plconfig.ini.
void LoadClientUuid(QString dir);

// Reads the [store] section of <dir>/plconfig.ini; nothing is written.
void LoadStoreSettings(QString dir);

// Reads or writes the [printer] section of <dir>/plconfig.ini; writing keeps
// the other sections.
PrinterSettings LoadPrinterSettings(QString dir);
bool SavePrinterSettings(QString dir, const PrinterSettings& printer);
// Which key <dir>/Stock.db last opened with, as plconfig.ini [store] ownkey
// keeps it (never the key itself): a file that refuses the program's key and
// never had another is damaged, not locked. Unknown until a build that keeps
// it has opened the file.
enum class StoreKey
{
    Unknown,
    Program,
    Own
};
StoreKey LoadStoreKey(QString dir);
void SaveStoreKey(QString dir, StoreKey key);

// The platform's directory separator as a UTF-8 tail for AppendUtf8.
const char* PathSeparator();

#include "app/AppContext.h"

#include "app/DiagnosticLog.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QUuid>

AppContext appContext;

void AppContext::InitLog(QString dir, bool installHandler)
{
    appDir = dir;
    logDir = dir;
    if (installHandler)
        qInstallMessageHandler(LogMessageHandler);
}

QString AppendUtf8(const QString& base, const char* tail)
{
    return base + QString::fromUtf8(tail);
}

QByteArray Md5Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

const char* PathSeparator()
{
#ifdef Q_OS_WIN
    return "\\";
#else
    return "/";
#endif
}

namespace {
QString SettingsPath(const QString& dir)
{
    return AppendUtf8(dir + "//", "plconfig.ini");
}

// Shopkeepers edit the file by hand in UTF-8; without the codec Qt would read
// its bytes as Latin-1 and write them back so, garbling every Chinese text.
// Escaped values written before read the same either way.
class Plconfig : public QSettings
{
public:
    explicit Plconfig(const QString& dir) : QSettings(SettingsPath(dir), QSettings::IniFormat)
    {
        setIniCodec("UTF-8");
    }
};

const char kPrinter[] = "printer";
} // namespace

void LoadStoreSettings(QString dir)
{
    const Plconfig settings(dir);
    appContext.storeEngine = settings.value("/store/engine").toString().trimmed();
    appContext.storeConnection = settings.value("/store/connection").toString();
}

StoreKey LoadStoreKey(QString dir)
{
    const QVariant own = QSettings(SettingsPath(dir), QSettings::IniFormat).value("/store/ownkey");
    return own.isNull() ? StoreKey::Unknown : own.toBool() ? StoreKey::Own : StoreKey::Program;
}

void SaveStoreKey(QString dir, StoreKey key)
{
    if (key != LoadStoreKey(dir))
        QSettings(SettingsPath(dir), QSettings::IniFormat)
            .setValue("/store/ownkey", key == StoreKey::Own);
}

void LoadClientUuid(QString dir)
{
    // A candidate is made on every start and thrown away when one is stored.
    const QByteArray candidate = Md5Hex(QUuid::createUuid().toString().toUtf8());

    Plconfig settings(dir);
    const QString stored = settings.value("/config/clientuuid", QVariant()).toString();
    if (stored.isEmpty()) {
        settings.setValue("/config/clientuuid", QString::fromLatin1(candidate));
        appContext.clientUuid = QString::fromLatin1(candidate);
    } else {
        appContext.clientUuid = stored;
    }
}

PrinterSettings LoadPrinterSettings(QString dir)
{
    Plconfig settings(dir);
    settings.beginGroup(kPrinter);
    PrinterSettings printer;
    printer.connection = settings.value("connection").toString().trimmed();
    printer.width = settings.value("width", printer.width).toInt() == 80 ? 80 : 58;
    const QString encoding = settings.value("encoding").toString().trimmed().toUpper();
    if (encoding == "GBK" || encoding == "UTF-8")
        printer.encoding = encoding;
    printer.autoPrint = settings.value("auto", printer.autoPrint).toBool();
    printer.drawer = settings.value("drawer", printer.drawer).toBool();
    printer.header = settings.value("header").toString();
    printer.footer = settings.value("footer").toString();
    return printer;
}

bool SavePrinterSettings(QString dir, const PrinterSettings& printer)
{
    Plconfig settings(dir);
    settings.beginGroup(kPrinter);
    settings.setValue("connection", printer.connection);
    settings.setValue("width", printer.width);
    settings.setValue("encoding", printer.encoding);
    settings.setValue("auto", printer.autoPrint);
    settings.setValue("drawer", printer.drawer);
    settings.setValue("header", printer.header);
    settings.setValue("footer", printer.footer);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

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
} // namespace

void LoadStoreSettings(QString dir)
{
    const QSettings settings(SettingsPath(dir), QSettings::IniFormat);
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

    QSettings settings(SettingsPath(dir), QSettings::IniFormat);
    const QString stored = settings.value("/config/clientuuid", QVariant()).toString();
    if (stored.isEmpty()) {
        settings.setValue("/config/clientuuid", QString::fromLatin1(candidate));
        appContext.clientUuid = QString::fromLatin1(candidate);
    } else {
        appContext.clientUuid = stored;
    }
}

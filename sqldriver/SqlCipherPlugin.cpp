#include "SqlCipherDriver.h"

#include <QSqlDriverPlugin>

class SqlCipherPlugin : public QSqlDriverPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QSqlDriverFactoryInterface_iid FILE "sqlcipher.json")

public:
    QSqlDriver* create(const QString& key) override
    {
        return key == QLatin1String("SQLITECIPHER") ? new SqlCipherDriver : nullptr;
    }
};

#include "SqlCipherPlugin.moc"

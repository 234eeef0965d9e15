#include "store/StockDb.h"

#include "app/AppContext.h"
#include "store/RecordId.h"

#include <QDebug>
#include <QFile>
#include <QSqlError>

StockDb stockDb;

namespace {
const char* const kCreateStatements[] = {
    "CREATE TABLE IF NOT EXISTS providers (provider_guid BIGINT PRIMARY KEY, provider_name "
    "VARCHAR(128) NOT NULL,provider_phone VARCHAR(32),provider_address "
    "VARCHAR(128),provider_license VARCHAR(128),provider_foodlicense "
    "VARCHAR(128),provider_business VARCHAR(256))",
    "CREATE TABLE IF NOT EXISTS purchases (purchase_guid BIGINT PRIMARY KEY, purchase_time "
    "DATETIME NOT NULL,purchase_id VARCHAR(32),purchase_product_guid BIGINT, "
    "purchase_product_name VARCHAR(128) NOT NULL,purchase_product_barcode "
    "VARCHAR(32),purchase_product_num INTEGER,purchase_provider_guid "
    "BIGINT,purchase_product_oprice DOUBLE,purchase_product_wprice "
    "DOULBE,purchase_product_rprice DOUBLE)",
    "CREATE TABLE IF NOT EXISTS orders (order_guid BIGINT PRIMARY KEY NOT NULL,order_time "
    "DATETIME NOT NULL,order_total DOUBLE NOT NULL,order_ptnum INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS orderdetail (order_guid BIGINT NOT NULL,order_time DATETIME NOT "
    "NULL,order_total DOUBLE NOT NULL,order_product_name VARCHAR(128) NOT "
    "NULL,order_product_guid BIGINT NOT NULL,order_product_barcode VARCHAR(32) NOT "
    "NULL,order_product_num INTEGER NOT NULL,order_product_rprice DOUBLE NOT "
    "NULL,order_product_subtotal DOUBLE NOT NULL)",
    "CREATE TABLE IF NOT EXISTS products (product_guid BIGINT PRIMARY KEY, product_name "
    "VARCHAR(128) NOT NULL,product_barcode VARCHAR(32),product_num "
    "INTEGER,product_provider_guid BIGINT,product_original_price "
    "DOUBLE,product_wholesale_price DOULBE,product_retail_price DOUBLE)",
};
} // namespace

StockDb::StockDb()
{
    password = QString();
    qDebug() << QSqlDatabase::drivers();
    qDebug() << "initDb";
}

void StockDb::OpenStockDb(QString name)
{
    CloseStockDb();
    this->name = name;
    password = QStringLiteral("19970408maple");
    db = QSqlDatabase::addDatabase("SQLITECIPHER", QLatin1String(QSqlDatabase::defaultConnection));
    qDebug() << QSqlDatabase::drivers();

    const QString path = AppendUtf8(appContext.appDir + PathSeparator(), "Stock.db");
    if (!QFile::exists(path)) {
        db.setDatabaseName(path);
        db.setPassword(password);
        db.setConnectOptions("QSQLITE_CREATE_KEY");
        if (!db.open()) {
            openError = db.lastError().driverText();
            qDebug() << "Can not open connection: " << openError;
            db.close();
            return;
        }
        db.close();
    }
    if (OpenConnection(path))
        CreateTables();
}

bool StockDb::OpenConnection(QString path)
{
    db.setDatabaseName(path);
    db.setPassword(password);
    if (!password.isEmpty())
        db.setConnectOptions("QSQLITE_USE_CIPHER=chacha20");
    if (db.open()) {
        openError.clear();
        return true;
    }
    openError = db.lastError().driverText();
    qDebug() << "Can not open connection: " << openError;
    db.close();
    return false;
}

bool StockDb::CreateTables()
{
    QSqlQuery query{QString(), QSqlDatabase()};
    for (const char* statement : kCreateStatements)
        query.exec(QString::fromLatin1(statement));
    return true;
}

bool StockDb::ExeSql(QString sql)
{
    QSqlQuery query{QString(), QSqlDatabase()};
    const bool ok = query.exec(sql);
    if (!ok)
        qDebug() << "ExeSql Failed : " << db.lastError().driverText();
    return ok;
}

bool StockDb::IsOpen() const
{
    return db.isValid() && db.isOpen();
}

QString StockDb::OpenErrorText() const
{
    return openError;
}

void StockDb::CloseStockDb()
{
    if (!db.isValid())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

StockDb::Transaction::Transaction(StockDb& store) : store(store)
{
    active = store.IsOpen() && store.db.transaction();
}

StockDb::Transaction::~Transaction()
{
    if (active)
        store.db.rollback();
}

bool StockDb::Transaction::commit()
{
    if (!active)
        return false;
    active = false;
    if (store.db.commit())
        return true;
    store.db.rollback();
    return false;
}

QSqlQuery StockDb::QueryTable(QString table, int offset, int count)
{
    const QByteArray name = table.toUtf8();
    const QByteArray statement =
        offset < 0 ? FormatSql("SELECT * FROM %s", name.constData())
                   : FormatSql("SELECT * FROM %s limit %d,%d", name.constData(), offset, count);
    QSqlQuery query{QString(), QSqlDatabase()};
    query.exec(QString::fromUtf8(statement));
    return query;
}

ProviderList StockDb::QueryAllProviders(int, int)
{
    ProviderList providers;
    QSqlQuery query = QueryTable("providers", -1, 0);
    while (query.next()) {
        providers.append({query.value(0).toString(), query.value(1).toString(),
                          query.value(2).toString(), query.value(3).toString(),
                          query.value(4).toString(), query.value(5).toString(),
                          query.value(6).toString()});
    }
    return providers;
}

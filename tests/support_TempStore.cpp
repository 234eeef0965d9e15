#include "support_TempStore.h"

#include "app/AppContext.h"
#include "store/StockDb.h"

#include <QCoreApplication>

TempStore::TempStore()
{
    // The store's static set-up asks for drivers before the application
    // exists, which freezes the plug-in search; the program adds the folder
    // in main, the tests do it here.
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/sqldrivers");
    appContext.appDir = folder.path();
    stockDb.OpenStockDb(QString());
}

TempStore::~TempStore()
{
    stockDb.CloseStockDb();
}

QString TempStore::DbPath() const
{
    return folder.filePath("Stock.db");
}

bool TempStore::IsOpen() const
{
    return stockDb.IsOpen();
}

QSqlQuery TempStore::Exec(const QString& sql)
{
    QSqlQuery query;
    query.exec(sql);
    return query;
}

QVariant TempStore::Scalar(const QString& sql)
{
    QSqlQuery query = Exec(sql);
    return query.next() ? query.value(0) : QVariant();
}

int TempStore::Count(const QString& table)
{
    return Scalar("SELECT count(*) FROM " + table).toInt();
}

void TempStore::RefuseWrites()
{
    Exec("PRAGMA query_only=1");
}

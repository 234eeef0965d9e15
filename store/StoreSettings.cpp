// The shop-wide settings every till of a store shares, and the stock that
// sales take out under them and that shows as low.
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

namespace {
const QString kSalesReduceStock = QStringLiteral("sales_reduce_stock");
const QString kLowStockLevel = QStringLiteral("low_stock_level");
} // namespace

QString StockDb::Setting(const QString& key)
{
    QSqlQuery query = Select(Statement(kSettingByKey, {key}), OnFailure::Log);
    const QString value = query.next() ? query.value(0).toString() : QString();
    ReadToTheEnd(query);
    return value;
}

bool StockDb::SetSetting(const QString& key, const QString& value)
{
    return ExeSql(Statement(statements->writeSetting, {key, value}));
}

bool StockDb::SalesReduceStock()
{
    return Setting(kSalesReduceStock) == QLatin1String("1");
}

bool StockDb::SetSalesReduceStock(bool on)
{
    return SetSetting(kSalesReduceStock, on ? QStringLiteral("1") : QStringLiteral("0"));
}

qint64 StockDb::LowStockLevel()
{
    // A value set by hand that is no whole number at or above 0 is no level.
    bool whole = false;
    const qint64 level = Setting(kLowStockLevel).toLongLong(&whole);
    return whole && level > 0 ? level : 0;
}

bool StockDb::SetLowStockLevel(qint64 level)
{
    return SetSetting(kLowStockLevel, QString::number(qMax<qint64>(level, 0)));
}

bool StockDb::ChangeStockBy(const QString& barcode, qint64 delta)
{
    return LockBarcode(barcode) &&
           ExeSql(Statement(kChangeStock, {QString::number(delta), barcode}));
}

ProductList StockDb::QueryLowStockProducts(qint64 level, qint64 afterRowid, int count,
                                           qint64* lastRowid)
{
    const QByteArray statement = FormatSql(kLowStockPage, static_cast<long long>(level),
                                           static_cast<long long>(afterRowid), count);
    return AllRows<ProductInfo>(Select(QString::fromUtf8(statement), OnFailure::Silent), lastRowid);
}

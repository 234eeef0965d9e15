// Plain reads and writes of providers, products and purchases, and the
// paged reads of whole tables.
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

QSqlQuery StockDb::QueryTable(QString table, qint64 afterRowid, int count)
{
    const QByteArray name = table.toUtf8();
    const QByteArray statement =
        afterRowid < 0
            ? FormatSql(statements->wholeTable, name.constData())
            : FormatSql(kTablePage, name.constData(), static_cast<long long>(afterRowid), count);
    return Select(QString::fromUtf8(statement), OnFailure::Silent);
}

bool StockDb::InsertProvider(QString provider_guid, QString provider_name, QString provider_phone,
                             QString provider_address, QString provider_license,
                             QString provider_foodlicense, QString provider_business)
{
    return ExeSql(Statement(statements->insertProvider,
                            {provider_guid, provider_name, provider_phone, provider_address,
                             provider_license, provider_foodlicense, provider_business}));
}

bool StockDb::DeleteProvider(QString provider_guid)
{
    return DeleteByGuid(statements->deleteProvider, provider_guid);
}

ProviderInfo StockDb::QueryProviderByGuid(QString provider_guid)
{
    return LastRow<ProviderInfo>(
        Select(Statement(statements->providerByGuid, {provider_guid}), OnFailure::Log));
}

ProviderList StockDb::QueryAllProviders(int, int)
{
    return AllRows<ProviderInfo>(QueryTable("providers", -1, 0));
}

bool StockDb::InsertProduct(QString product_guid, QString product_name, QString product_barcode,
                            QString product_num, QString product_provider_guid,
                            QString product_original_price, QString product_retail_price)
{
    return ExeSql(Statement(statements->insertProduct,
                            {product_guid, product_name, product_barcode, product_num,
                             product_provider_guid, product_original_price, product_retail_price}));
}

bool StockDb::DeleteProduct(QString product_guid)
{
    return DeleteByGuid(statements->deleteProduct, product_guid);
}

ProductInfo StockDb::QueryProductByBarcode(QString product_barcode)
{
    if (product_barcode.isEmpty())
        return ProductInfo();
    return LastRow<ProductInfo>(
        Select(Statement(statements->productByBarcode, {product_barcode}), OnFailure::Silent));
}

ProductList StockDb::QueryAllProducts(qint64 afterRowid, int count, qint64* lastRowid)
{
    return AllRows<ProductInfo>(QueryTable("products", afterRowid, count), lastRowid);
}

bool StockDb::UpdateProductNum(ProductInfo product)
{
    return ExeSql(
        Statement(statements->updateProductNum, {product.product_num, product.product_guid}));
}

bool StockDb::InsertPurchase(QString purchase_time, QString purchase_guid, QString purchase_id,
                             QString purchase_product_name, QString purchase_product_barcode,
                             QString purchase_product_num, QString purchase_provider_guid,
                             QString purchase_product_oprice, QString purchase_product_rprice)
{
    return ExeSql(Statement(statements->insertPurchase,
                            {purchase_guid, purchase_time, purchase_id, purchase_product_name,
                             purchase_product_barcode, purchase_product_num, purchase_provider_guid,
                             purchase_product_oprice, purchase_product_rprice}));
}

bool StockDb::DeletePurchase(QString purchase_guid)
{
    return DeleteByGuid(statements->deletePurchase, purchase_guid);
}

PurchaseList StockDb::QueryPurchasesByBillNo(QString purchase_id)
{
    if (purchase_id.isEmpty())
        return PurchaseList();
    return AllRows<PurchaseInfo>(
        Select(Statement(statements->purchasesByBillNo, {purchase_id}), OnFailure::Log));
}

PurchaseList StockDb::QueryPurchasesByBarcode(QString purchase_product_barcode)
{
    if (purchase_product_barcode.isEmpty())
        return PurchaseList();
    return AllRows<PurchaseInfo>(Select(
        Statement(statements->purchasesByBarcode, {purchase_product_barcode}), OnFailure::Log));
}

PurchaseInfo StockDb::QueryPurchaseByGuid(QString purchase_guid)
{
    if (purchase_guid.isEmpty())
        return PurchaseInfo();
    return LastRow<PurchaseInfo>(
        Select(Statement(kPurchaseByGuid, {purchase_guid}), OnFailure::Log));
}

PurchaseList StockDb::QueryPurchasesOfDay(QDate day)
{
    const DayRange range = DayRangeOf(day);
    return QueryPurchasesBetween(range.from, range.to);
}

PurchaseList StockDb::QueryPurchasesBetween(QString from, QString to)
{
    return AllRows<PurchaseInfo>(
        Select(Statement(statements->purchasesBetween, {from, to}), OnFailure::Log));
}

PurchaseList StockDb::QueryAllPurchases(qint64 afterRowid, int count, qint64* lastRowid)
{
    return AllRows<PurchaseInfo>(QueryTable("purchases", afterRowid, count), lastRowid);
}

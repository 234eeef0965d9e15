// Transactions, and the changes that build on what was read, each atomic
// against other tills: bookings, deletes of bookings, rewrites of products.
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "store/StoreRows.h"
#include "store/StoreStatements.h"

namespace {
// A till whose transaction lost a conflict to another till's tries again;
// with one lock per barcode this is rare, so a few times is plenty.
const int kConflictAttempts = 5;

bool SameShownProduct(const ProductInfo& a, const ProductInfo& b)
{
    return a.product_guid == b.product_guid && a.product_name == b.product_name &&
           a.product_barcode == b.product_barcode && a.product_num == b.product_num &&
           a.product_provider_guid == b.product_provider_guid &&
           a.product_original_price == b.product_original_price &&
           a.product_retail_price == b.product_retail_price;
}
} // namespace

StockDb::Transaction::Transaction(StockDb& store) : store(store)
{
    if (store.IsServer() && !store.IsOpen())
        store.ConnectionRestored();
    // Nothing is done yet when a lost connection refuses to begin.
    active = store.IsOpen() &&
             (store.db.transaction() || (store.ConnectionRestored() && store.db.transaction()));
    if (active)
        ++store.transactionDepth;
}

StockDb::Transaction::~Transaction()
{
    if (!active)
        return;
    store.db.rollback();
    --store.transactionDepth;
}

bool StockDb::Transaction::commit()
{
    if (!active)
        return false;
    active = false;
    --store.transactionDepth;
    if (store.db.commit())
        return true;
    store.failureCode = store.db.lastError().nativeErrorCode();
    store.db.rollback();
    // A COMMIT whose reply was lost may have stored everything: the caller
    // looks its work up at once on a fresh connection.
    if (store.ConnectionBroken())
        store.lastConnectAttemptMs = 0;
    return false;
}

bool StockDb::Atomically(const std::function<bool()>& steps)
{
    for (int attempt = 1;; ++attempt) {
        {
            Transaction transaction(*this);
            if (transaction.isActive() && steps() && transaction.commit())
                return true;
        }
        // Serialization failure or deadlock: the other till's change stands
        // and this one is simply made again on top of it.
        const bool lostConflict =
            failureCode == QLatin1String("40001") || failureCode == QLatin1String("40P01");
        if (!lostConflict || attempt == kConflictAttempts)
            return false;
    }
}

bool StockDb::LockBarcode(const QString& barcode)
{
    if (!statements->lockBarcode)
        return true;
    QSqlQuery query = NewQuery();
    return Run(query, Statement(statements->lockBarcode, {barcode}), OnFailure::Log);
}

bool StockDb::BookPurchase(const PurchaseInfo& purchase, const QString& newProductGuid)
{
    const PurchaseInfo& p = purchase;
    return Atomically([&] {
        if (!LockBarcode(p.purchase_product_barcode) ||
            !InsertPurchase(p.purchase_time, p.purchase_guid, p.purchase_id,
                            p.purchase_product_name, p.purchase_product_barcode,
                            p.purchase_product_num, p.purchase_provider_guid,
                            p.purchase_product_oprice, p.purchase_product_rprice))
            return false;
        ProductInfo product = LastRow<ProductInfo>(
            Select(Statement(statements->productByBarcodeForUpdate, {p.purchase_product_barcode}),
                   OnFailure::Log));
        // An unread product is not a missing one: making it would give the
        // barcode a second product.
        if (LastReadFailed())
            return false;
        // Found by its barcode alone: a product whose name was cleared is
        // still the barcode's product.
        if (product.product_guid.isEmpty())
            return InsertProduct(newProductGuid, p.purchase_product_name,
                                 p.purchase_product_barcode, p.purchase_product_num,
                                 p.purchase_provider_guid, p.purchase_product_oprice,
                                 p.purchase_product_rprice);
        // Text that is no integer counts as 0; 64 bits so large stocks never wrap.
        product.product_num =
            QString::number(product.product_num.toLongLong() + p.purchase_product_num.toLongLong());
        return UpdateProductNum(product);
    });
}

bool StockDb::DeletePurchaseWithStock(const QString& purchaseGuid)
{
    return Atomically([&] {
        const QVector<PurchaseInfo> stored = AllRows<PurchaseInfo>(
            Select(Statement(statements->purchaseByGuidForUpdate, {purchaseGuid}), OnFailure::Log));
        if (LastReadFailed() || !DeletePurchase(purchaseGuid))
            return false;
        // Deleted at another till meanwhile: its quantity has left already.
        if (stored.isEmpty())
            return true;
        const PurchaseInfo& purchase = stored.first();
        if (!LockBarcode(purchase.purchase_product_barcode))
            return false;
        ProductInfo product = LastRow<ProductInfo>(Select(
            Statement(statements->productByBarcodeForUpdate, {purchase.purchase_product_barcode}),
            OnFailure::Log));
        if (LastReadFailed())
            return false;
        const qlonglong stock = product.product_num.toLongLong();
        const qlonglong taken = purchase.purchase_product_num.toLongLong();
        product.product_num = QString::number(stock < taken ? 0 : stock - taken);
        return UpdateProductNum(product);
    });
}

StockDb::Rewrite StockDb::ChangeShownProduct(const ProductInfo& shown,
                                             const std::function<bool()>& change)
{
    bool changedElsewhere = false;
    const bool written = Atomically([&] {
        if (!LockBarcode(shown.product_barcode))
            return false;
        const ProductInfo stored = LastRow<ProductInfo>(Select(
            Statement(statements->productByGuidForUpdate, {shown.product_guid}), OnFailure::Log));
        if (LastReadFailed())
            return false;
        // Also when it is gone: a delete that finds nothing deleted nothing.
        changedElsewhere = !SameShownProduct(stored, shown);
        return !changedElsewhere && change();
    });
    if (written)
        return Rewrite::Written;
    return changedElsewhere ? Rewrite::ChangedElsewhere : Rewrite::Failed;
}

StockDb::Rewrite StockDb::RewriteProduct(const ProductInfo& shown, const ProductInfo& edited)
{
    return ChangeShownProduct(shown, [&] {
        return DeleteProduct(shown.product_guid) &&
               InsertProduct(shown.product_guid, edited.product_name, shown.product_barcode,
                             edited.product_num, shown.product_provider_guid,
                             edited.product_original_price, edited.product_retail_price);
    });
}

StockDb::Rewrite StockDb::RemoveProduct(const ProductInfo& shown)
{
    return ChangeShownProduct(shown, [&] { return DeleteProduct(shown.product_guid); });
}

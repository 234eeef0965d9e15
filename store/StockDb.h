#pragma once

#include "store/Records.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct StoreStatements;

// The one data-access object of the process: owns the single connection to
// the store, the encrypted Stock.db or a shop's PostgreSQL database shared by
// several tills, and every SQL statement of the system. Its members are
// defined by concern: StockDb.cpp (sending statements), StoreFile.cpp,
// StoreServer.cpp, StoreTransactions.cpp, StoreRecords.cpp, StoreSales.cpp,
// StoreReturns.cpp, StoreStatistics.cpp, StoreSettings.cpp; the SQL itself is
// in StoreStatements.cpp.
class StockDb
{
public:
    // The program's store is on Qt's default connection; a second object on a
    // connection of its own stands for another till (tests, benchmark).
    explicit StockDb(QString connectionName = QLatin1String(QSqlDatabase::defaultConnection));

    // Opens the store appContext's [store] settings name: <appDir>/Stock.db
    // (made on first run) or the server, and makes the tables. Calling it
    // again closes the previous connection first (tests reopen).
    void OpenStockDb(QString name);
    bool OpenConnection(QString path);
    bool CreateTables();
    bool ExeSql(QString sql);

    bool IsServer() const;
    // A line for a failure box when the server cannot be reached or another
    // till held the lock the change waited for; empty otherwise (and always
    // for the file).
    QString ServerAwayNote() const;
    // Worker number of the identifiers this store's till makes.
    int Worker() const;
    bool IsOpen() const;
    // Driver text of the failed open, or of the first table that could not be
    // made; empty when the last open succeeded with its tables.
    QString OpenErrorText() const;
    // Closes and removes the connection (tests and shutdown).
    void CloseStockDb();
    // Whether the last read failed on the open store (at its start or
    // partway); such a read returns no rows rather than some of them.
    bool LastReadFailed() const;
    QString ReadErrorText() const;
    // Text of the last statement sent to the connection, for diagnostics.
    QString LastStatement() const;
    // The store's file and key, for a connection of its own beside this one.
    QString FilePath() const;
    QString Password() const;
    // What makes a Stock.db: its key, and its tables and indexes (a backup of
    // the server is made into one).
    static QString FilePassword();
    static QStringList FileSchema();

    // The shop's own passphrase. Until the shop sets one, the store has the
    // program's key, which every copy of the program knows.
    //
    // Whether the last open failed because the file does not decrypt with
    // the key tried (SQLCipher cannot tell that from a file that is no
    // database at all).
    bool KeyRefused() const;
    // Whether the file last opened with the program's key and its key was
    // never changed since: then a refused key means a damaged file.
    bool KeyNeverChanged() const;
    // Opens the store that refused the program's key with the shop's
    // passphrase. A wrong one leaves the store closed and the file as it was.
    bool OpenWithPassphrase(QString passphrase);
    // Whether the shop can set a key of its own on this store: the open,
    // encrypted file. Nothing else offers the passphrase.
    bool KeyCanChange() const;
    bool HasProgramKey() const;
    // Re-encrypts the store in place with the passphrase, or with the
    // program's key when it is empty. False: the store kept its key, or did
    // not open again at all (IsOpen); KeyChangeError then says why.
    bool ChangeKey(QString passphrase);
    QString KeyChangeError() const;

    // Providers and products.
    bool InsertProvider(QString provider_guid, QString provider_name, QString provider_phone,
                        QString provider_address, QString provider_license,
                        QString provider_foodlicense, QString provider_business);
    bool DeleteProvider(QString provider_guid);
    ProviderInfo QueryProviderByGuid(QString provider_guid);
    ProviderList QueryAllProviders(int offset, int count);
    bool InsertProduct(QString product_guid, QString product_name, QString product_barcode,
                       QString product_num, QString product_provider_guid,
                       QString product_original_price, QString product_retail_price);
    bool DeleteProduct(QString product_guid);
    ProductInfo QueryProductByBarcode(QString product_barcode);
    // A page of the table in rowid order: at most count rows whose rowid is
    // above afterRowid (0 for the first page). The last row's rowid goes to
    // *lastRowid, which is left alone when no row was read; pass it as the
    // next page's afterRowid.
    ProductList QueryAllProducts(qint64 afterRowid, int count, qint64* lastRowid = nullptr);
    bool UpdateProductNum(ProductInfo product);
    // A page as QueryAllProducts reads it, each row's rowid after its columns;
    // with afterRowid below 0 the whole table instead, without rowids.
    QSqlQuery QueryTable(QString table, qint64 afterRowid, int count);

    // Purchases.
    bool InsertPurchase(QString purchase_time, QString purchase_guid, QString purchase_id,
                        QString purchase_product_name, QString purchase_product_barcode,
                        QString purchase_product_num, QString purchase_provider_guid,
                        QString purchase_product_oprice, QString purchase_product_rprice);
    bool DeletePurchase(QString purchase_guid);
    PurchaseList QueryPurchasesByBillNo(QString purchase_id);
    PurchaseList QueryPurchasesByBarcode(QString purchase_product_barcode);
    PurchaseList QueryPurchasesOfDay(QDate day);
    PurchaseList QueryPurchasesBetween(QString from, QString to);
    // A page as QueryAllProducts reads it.
    PurchaseList QueryAllPurchases(qint64 afterRowid, int count, qint64* lastRowid = nullptr);

    // Orders.
    bool InsertOrder(OrderInfo order);
    bool InsertOrderDetail(OrderDetailInfo line);
    OrderList QueryOrdersOfDay(QDate day);
    OrderList QueryOrdersBetween(QString from, QString to);
    // One stored order and its lines in the order they were stored; empty
    // when there is no such order.
    OrderInfo QueryOrderByGuid(QString order_guid);
    OrderDetailList QueryOrderDetails(QString order_guid);
    // One stored purchase; empty when there is none.
    PurchaseInfo QueryPurchaseByGuid(QString purchase_guid);

    // Returns. A return is an order of its own, with a negative total and
    // negative line quantities and subtotals, linked in order_returns to the
    // sale it took goods back from.
    //
    // The sale of a stored return; empty for any other order.
    QString SaleOfReturn(QString order_guid);
    // Each barcode and price of the sale, in the order sold, with what its
    // returns took back so far. Empty when the read failed.
    ReturnLineList QueryReturnLines(QString order_guid);
    enum class Return
    {
        Stored,
        // Refused: with the sale's earlier returns, more than it sold.
        TooMany,
        // Refused: the order is itself a return.
        OfAReturn,
        Failed
    };
    // Stores the quantities of lines (matched to the sale by barcode and
    // price) as the return returnGuid made at time, all or nothing. The
    // limits are checked while the sale is held against other tills.
    Return StoreReturn(const QString& saleGuid, const QString& returnGuid, const QString& time,
                       const ReturnLineList& lines);

    // Statistics and exports of the days first to last. An order and its
    // lines belong to the day on which the order was paid (its order_time).
    PeriodSales QuerySales(QDate first, QDate last, int topCount);
    // Sum over products of stock on hand (above 0) times purchase price, in
    // yuan to the cent; no price counts 0. Text, since the entry fields'
    // limits already give figures beyond 64 bits of cents.
    QString QueryStockValue();
    // Hands the rows over one at a time as they are read, fields as text:
    // identifiers and quantities as stored, money to the cent; `row` returns
    // false to stop. False when the read failed (see LastReadFailed).
    using RowSink = std::function<bool(const QStringList& fields)>;
    // Paid at, order, barcode, name, quantity, unit price, subtotal, and for
    // a return's line the sale it took back from.
    bool ExportOrderLines(QDate first, QDate last, const RowSink& row);
    // Booked at, bill number, barcode, name, quantity, purchase and sale
    // price, provider name.
    bool ExportPurchases(QDate first, QDate last, const RowSink& row);
    // Name, barcode, stock, purchase and sale price.
    bool ExportStock(const RowSink& row);

    // Changes that build on what was read, each atomic against other tills.
    // A booking adds its quantity to the stock of the product with its
    // barcode, or makes that product (as newProductGuid) on its first booking.
    bool BookPurchase(const PurchaseInfo& purchase, const QString& newProductGuid);
    // The purchase goes and its quantity leaves the product's stock (never
    // below zero); a purchase already gone takes nothing out.
    bool DeletePurchaseWithStock(const QString& purchaseGuid);
    enum class Rewrite
    {
        Written,
        // Refused: the stored product no longer holds what was shown.
        ChangedElsewhere,
        Failed
    };
    // Writes edited over the product that was shown as shown.
    Rewrite RewriteProduct(const ProductInfo& shown, const ProductInfo& edited);
    // Deletes the product that was shown as shown.
    Rewrite RemoveProduct(const ProductInfo& shown);

    // Whether a till completed the backup of the shop's server for day, and
    // the record that this one did. One copy a day is enough; the file
    // store's copies are its own (never recorded, never done).
    bool ServerBackupDone(QDate day);
    void RecordServerBackup(QDate day);

    // The shop's settings, kept in the store so that every till of a server
    // shares them; each read asks the store again. Whether paying takes the
    // sold units out of stock (off unless set).
    bool SalesReduceStock();
    bool SetSalesReduceStock(bool on);
    // Stock at or below this is low; 0 (also when never set): no warning.
    qint64 LowStockLevel();
    bool SetLowStockLevel(qint64 level);
    // Adds delta (negative: takes out) to the stock of the product a scan of
    // the barcode finds, relative to what is stored at that moment, so that
    // no till's change is lost; stock may fall below zero. A barcode without
    // a product changes nothing. Meant to run inside a Transaction.
    bool ChangeStockBy(const QString& barcode, qint64 delta);
    // A page as QueryAllProducts reads it, of the products whose stock is at
    // or below level.
    ProductList QueryLowStockProducts(qint64 level, qint64 afterRowid, int count,
                                      qint64* lastRowid = nullptr);

    // Several operations that must be stored together:
    //   StockDb::Transaction tx(stockDb);
    //   ok = tx.isActive() && op1 && op2 && tx.commit();
    // Leaving the scope without a successful commit rolls everything back.
    class Transaction
    {
    public:
        explicit Transaction(StockDb& store);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;

        bool isActive() const { return active; }
        bool commit();

    private:
        StockDb& store;
        bool active = false;
    };

private:
    void OpenServer();
    // Notes in the settings which key the open file has, or that it may
    // have the shop's own.
    void RecordKey(bool mayBeOwn = false) const;
    bool ConnectServer();
    bool LockBarcode(const QString& barcode);
    // Sends one statement, nothing more: no log, no second try.
    bool Execute(QSqlQuery& query, const QString& statement);
    QString FailureText(const QSqlQuery& query) const;
    bool ClaimWorker();
    // Server only: makes a lost or never made connection again, at most once
    // a second; true when a fresh connection is open.
    bool ConnectionRestored();
    bool ConnectionBroken() const;
    // Runs steps in a transaction, again when the server chose it as the
    // loser of a conflict with another till.
    bool Atomically(const std::function<bool()>& steps);
    QSqlQuery NewQuery() const;
    QString Reason(const QSqlError& error) const;
    enum class OnFailure
    {
        Silent,
        Log
    };
    // Every statement of the store goes through here.
    bool Run(QSqlQuery& query, const QString& statement, OnFailure onFailure);
    QSqlQuery Select(const QString& statement, OnFailure onFailure);
    bool DeleteByGuid(const char* pattern, const QString& guid);
    QString Setting(const QString& key);
    bool SetSetting(const QString& key, const QString& value);
    // False when the query ended in an error instead of after its last row.
    bool ReadToTheEnd(const QSqlQuery& query);
    // With lastRowid, the rows are a page and each row's rowid follows its columns.
    template <typename Record>
    QVector<Record> AllRows(QSqlQuery query, qint64* lastRowid = nullptr);
    template <typename Record> Record LastRow(QSqlQuery query);
    bool StreamRows(const QString& statement, const QVector<bool>& money, const RowSink& row);
    // On the server, the transaction a read of several statements runs in,
    // so that they all see one moment of the store; null on the file.
    std::unique_ptr<Transaction> Snapshot();
    // After a resent insert failed on its key: whether the row stored by the
    // first send holds what the statement would have stored.
    bool StoredAsSent(const QString& insert);
    Rewrite ChangeShownProduct(const ProductInfo& shown, const std::function<bool()>& change);
    // Names each product after its latest line in the period (from, to).
    bool ReadLatestNames(const QStringList& range, QVector<ProductSales>& products);

    const QString connectionName;
    const StoreStatements* statements;
    QSqlDatabase db;
    int worker;
    int transactionDepth = 0;
    QString failureCode;
    qint64 lastConnectAttemptMs = 0;
    QString password;
    QString name;
    QString openError;
    bool keyRefused = false;
    QString keyChangeError;
    QSqlError readError;
    QString lastStatement;
};

// The process-wide instance, alive from before main to process exit.
extern StockDb stockDb;

// The connection string with the value of any password= replaced, for logs
// and boxes.
QString MaskedConnection(QString connection);

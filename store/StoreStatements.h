// The SQL of the store: the shape of an engine's statement table, the two
// engines' tables, and the statements every engine reads alike.
#pragma once

#include <QString>
#include <QStringList>

// One table of statements per engine. Values take the place of "%s" as
// quoted literals; the table name and numbers of the two table reads are
// printf arguments. A statement an engine does not need is null.
struct StoreStatements
{
    const char* const* tables;
    const char* const* indexes;
    // A row when a table is missing: then the tables are made (the server's
    // tills may lack the right to make them, and need not have it).
    const char* tablesMissing;
    // Held while the tables are made, so that two first starts do not race.
    const char* schemaLock;
    const char* sessionSetup;
    const char* wholeTable;
    const char* insertProvider;
    const char* deleteProvider;
    const char* providerByGuid;
    const char* insertProduct;
    const char* deleteProduct;
    const char* productByBarcode;
    const char* productByBarcodeForUpdate;
    const char* productByGuidForUpdate;
    const char* updateProductNum;
    // Every stock change of one barcode waits for the one before: the
    // barcode is not unique, so no row lock covers a product not made yet.
    const char* lockBarcode;
    const char* insertPurchase;
    const char* deletePurchase;
    const char* purchaseByGuidForUpdate;
    const char* purchasesByBillNo;
    const char* purchasesByBarcode;
    const char* purchasesBetween;
    const char* insertOrder;
    const char* insertOrderDetail;
    const char* ordersBetween;
    // The sale a return is stored against, held until the return is: two
    // returns of one sale are checked and stored one after the other.
    const char* orderForUpdate;
    const char* salesByBarcode;
    const char* ownWorker;
    const char* claimWorker;
    const char* claimedWorkers;
    // Sets a setting's value, whether or not it was set before.
    const char* writeSetting;
    // Held by the till's connection for as long as it lives: a till whose
    // stored number a running till holds (a cloned disk) claims another.
    const char* holdWorker;
    // Whether a till completed the day's backup of the server, and the
    // record that one did: one copy a day is enough.
    const char* backupDone;
    const char* recordBackup;
    // Makes the transaction just begun read one moment of the store.
    const char* readSnapshot;
    // A row when the stored row of an insert holds its values: %1 the table,
    // %2 the columns, %3 the values, as the insert names them.
    const char* storedAsSent;
};

extern const StoreStatements kFileStatements;
extern const StoreStatements kServerStatements;

// What makes a Stock.db, in the texts every Stock.db already holds.
extern const char kSettingsTable[];
extern const char* const kFileTables[];
extern const char* const kIndexStatements[];

// Statements both engines read alike.
extern const char kTablePage[];
extern const char kLowStockPage[];
extern const char kChangeStock[];
extern const char kSettingByKey[];

extern const char kSalesByDay[];
extern const char kLatestNames[];
extern const char kStockValue[];
extern const char kOrderLinesExport[];
extern const char kPurchasesExport[];
extern const char kStockExport[];
extern const char kOrderDetailsOfOrder[];
extern const char kOrderByGuid[];
extern const char kInsertReturnLink[];
extern const char kSaleOfReturn[];
extern const char kReturnedLinesOfSale[];
extern const char kPurchaseByGuid[];

// A value as an SQL string literal.
QString Literal(QString value);
// Puts the values, as literals, in place of the "%s" of the pattern, in order.
QString Statement(const char* pattern, const QStringList& values);

// The SQL of the store: both engines' schemas and statement tables side by
// side, and the statements every engine reads alike.
#include "store/StoreStatements.h"

// The shop's own choices, which every till of the store must share. Made by
// each start when missing, so a Stock.db of an earlier build gets it and
// every earlier build still opens the file.
const char kSettingsTable[] =
    "CREATE TABLE IF NOT EXISTS settings (setting_key TEXT PRIMARY KEY, setting_value TEXT)";

// The file's schema. Its texts are what every Stock.db already holds.
const char* const kFileTables[] = {
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
    // A return is an order of its own; this names the sale it took goods
    // back from. A table of its own, so that a file stays readable by every
    // earlier build, which neither knows nor minds it.
    "CREATE TABLE IF NOT EXISTS order_returns (return_guid BIGINT PRIMARY KEY, order_guid BIGINT "
    "NOT NULL)",
    kSettingsTable,
    nullptr,
};

// The same tables on the server, so that values read back as from the file:
// texts without a length limit (SQLite keeps any length), whole numbers in 64
// bits, times as text compared byte by byte, as SQLite compares them. SQLite
// keeps rows in rowid order; the trailing rowid gives the server the same
// order under the same name, and "select *" still finds the file's columns
// first. Each till's identifier worker number is claimed in tills.
const char* const kServerTables[] = {
    "CREATE TABLE IF NOT EXISTS providers (provider_guid BIGINT PRIMARY KEY, provider_name TEXT "
    "NOT NULL, provider_phone TEXT, provider_address TEXT, provider_license TEXT, "
    "provider_foodlicense TEXT, provider_business TEXT, "
    "rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS purchases (purchase_guid BIGINT PRIMARY KEY, purchase_time TEXT "
    "COLLATE \"C\" NOT NULL, purchase_id TEXT, purchase_product_guid BIGINT, "
    "purchase_product_name TEXT NOT NULL, purchase_product_barcode TEXT, purchase_product_num "
    "BIGINT, purchase_provider_guid BIGINT, purchase_product_oprice DOUBLE PRECISION, "
    "purchase_product_wprice DOUBLE PRECISION, purchase_product_rprice DOUBLE PRECISION, "
    "rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS orders (order_guid BIGINT PRIMARY KEY NOT NULL, order_time TEXT "
    "COLLATE \"C\" NOT NULL, order_total DOUBLE PRECISION NOT NULL, order_ptnum BIGINT NOT NULL, "
    "rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS orderdetail (order_guid BIGINT NOT NULL, order_time TEXT "
    "COLLATE \"C\" NOT NULL, order_total DOUBLE PRECISION NOT NULL, order_product_name TEXT NOT "
    "NULL, order_product_guid BIGINT NOT NULL, order_product_barcode TEXT NOT NULL, "
    "order_product_num BIGINT NOT NULL, order_product_rprice DOUBLE PRECISION NOT NULL, "
    "order_product_subtotal DOUBLE PRECISION NOT NULL, "
    "rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS products (product_guid BIGINT PRIMARY KEY, product_name TEXT NOT "
    "NULL, product_barcode TEXT, product_num BIGINT, product_provider_guid BIGINT, "
    "product_original_price DOUBLE PRECISION, product_wholesale_price DOUBLE PRECISION, "
    "product_retail_price DOUBLE PRECISION, rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS order_returns (return_guid BIGINT PRIMARY KEY, order_guid BIGINT "
    "NOT NULL, rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS tills (till_worker INTEGER PRIMARY KEY CHECK (till_worker "
    "BETWEEN 0 AND 1023), till_key TEXT NOT NULL UNIQUE, till_since TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS settings (setting_key TEXT PRIMARY KEY, setting_value TEXT, "
    "rowid BIGINT GENERATED ALWAYS AS IDENTITY UNIQUE)",
    "CREATE TABLE IF NOT EXISTS backups (backup_day TEXT PRIMARY KEY, backup_worker INTEGER NOT "
    "NULL, backup_time TEXT NOT NULL)",
    nullptr,
};

// The columns the program searches by. Without them every day, barcode and
// bill lookup reads the whole history. Kept out of the tables themselves so
// that a file stays readable by every earlier build.
const char* const kIndexStatements[] = {
    // A period's orders by day and its orders' lines are read from this index
    // alone, without a look into the table for each order.
    "DROP INDEX IF EXISTS orders_order_time",
    "CREATE INDEX IF NOT EXISTS orders_order_time_sales ON orders(order_time,order_guid,"
    "order_total)",
    "CREATE INDEX IF NOT EXISTS products_product_barcode ON products(product_barcode)",
    "CREATE INDEX IF NOT EXISTS purchases_purchase_time ON purchases(purchase_time)",
    "CREATE INDEX IF NOT EXISTS purchases_purchase_id ON purchases(purchase_id)",
    "CREATE INDEX IF NOT EXISTS purchases_purchase_product_barcode ON "
    "purchases(purchase_product_barcode)",
    // The lines of the orders of a period, for the statistics and exports.
    // The statistics read barcode, quantity and amount of a year's lines
    // from the index alone, without a look into the table for each line.
    "DROP INDEX IF EXISTS orderdetail_order_guid",
    "CREATE INDEX IF NOT EXISTS orderdetail_order_guid_sales ON orderdetail(order_guid,"
    "order_product_barcode,order_product_num,order_product_subtotal)",
    // The returns of a sale, read again whenever it is returned from.
    "CREATE INDEX IF NOT EXISTS order_returns_order_guid ON order_returns(order_guid)",
    nullptr,
};

// Statistics and exports: written once for every engine, so only plain SQL
// (no engine's own functions, no rounding of doubles: sums are rounded to
// the cent where they are read). A period is the inclusive text range of its
// times; the lines of an order count where the order was paid, since a line
// is stamped when it was scanned, a moment earlier and maybe the day before.
// Returns are orders with negative totals, so every sum is net; only the
// orders that are no return count as orders.
const char kSalesByDay[] =
    "SELECT substr(o.order_time,1,10),count(*)-count(r.return_guid),sum(o.order_total) FROM "
    "orders o LEFT JOIN order_returns r ON r.return_guid=o.order_guid WHERE o.order_time>=%s AND "
    "o.order_time<=%s GROUP BY substr(o.order_time,1,10) ORDER BY substr(o.order_time,1,10)";
// Barcode, quantity and amount, added up per barcode where they are read.
// The server sums them itself; the file hands over the lines, since SQLite
// groups by sorting, and sorting a year's lines costs more than reading them.
// The names are read for the shown barcodes only (kLatestNames).
const char kSalesByBarcode[] =
    "SELECT d.order_product_barcode,sum(d.order_product_num),sum(d.order_product_subtotal) "
    "FROM orders o JOIN orderdetail d ON d.order_guid=o.order_guid WHERE o.order_time>=%s AND "
    "o.order_time<=%s GROUP BY d.order_product_barcode";
const char kSalesLines[] =
    "SELECT d.order_product_barcode,d.order_product_num,d.order_product_subtotal FROM orders o "
    "JOIN orderdetail d ON d.order_guid=o.order_guid WHERE o.order_time>=%s AND "
    "o.order_time<=%s";
// The lines of the given barcodes, latest first (by payment, then scan time):
// the first line of a barcode carries its current name. Read from the end of
// the period, a shown barcode turns up within its last few orders.
const char kLatestNames[] =
    "SELECT d.order_product_barcode,d.order_product_name FROM orders o JOIN orderdetail d ON "
    "d.order_guid=o.order_guid WHERE o.order_time>=%s AND o.order_time<=%s AND "
    "d.order_product_barcode IN (%1) ORDER BY o.order_time DESC,d.order_time DESC,"
    "d.order_product_name DESC";
// Only stock on hand at a price has a value; the products' sum is taken where
// it is read, in integers wider than either engine's.
const char kStockValue[] = "SELECT product_num,product_original_price FROM products WHERE "
                           "product_num>0 AND product_original_price>0";
// A return's lines name the sale they took back from.
const char kOrderLinesExport[] =
    "SELECT o.order_time,d.order_guid,d.order_product_barcode,d.order_product_name,"
    "d.order_product_num,d.order_product_rprice,d.order_product_subtotal,r.order_guid FROM "
    "orders o JOIN orderdetail d ON d.order_guid=o.order_guid LEFT JOIN order_returns r ON "
    "r.return_guid=o.order_guid WHERE o.order_time>=%s AND o.order_time<=%s ORDER BY "
    "o.order_time,o.order_guid,d.rowid";
const char kPurchasesExport[] =
    "SELECT p.purchase_time,p.purchase_id,p.purchase_product_barcode,p.purchase_product_name,"
    "p.purchase_product_num,p.purchase_product_oprice,p.purchase_product_rprice,v.provider_name "
    "FROM purchases p LEFT JOIN providers v ON v.provider_guid=p.purchase_provider_guid WHERE "
    "p.purchase_time>=%s AND p.purchase_time<=%s ORDER BY p.purchase_time,p.rowid";
const char kStockExport[] =
    "SELECT product_name,product_barcode,product_num,product_original_price,"
    "product_retail_price FROM products ORDER BY rowid";

// Statements both engines read alike.
// A page of the stock list or the purchase history starts after the last row
// of the one before, found through the rowid's index: no row is skipped or
// read twice when rows before it were deleted or written again, and no page
// reads through the rows before it. The server's tables end in a rowid column
// of their own, so the page's rowid is the column after the record's there too.
const char kTablePage[] = "SELECT *, rowid FROM %s WHERE rowid > %lld ORDER BY rowid LIMIT %d";
// The low stock as a page of the stock list, in the same order.
const char kLowStockPage[] = "SELECT *, rowid FROM products WHERE product_num <= %lld AND rowid > "
                             "%lld ORDER BY rowid LIMIT %d";
// Relative, so that two tills selling the same product at once both count;
// on the product a scan of the barcode finds (the last in table order).
const char kChangeStock[] =
    "UPDATE products SET product_num = COALESCE(product_num, 0) + %s WHERE rowid = (SELECT "
    "max(rowid) FROM products WHERE product_barcode = %s)";
const char kSettingByKey[] = "SELECT setting_value FROM settings WHERE setting_key = %s";
const char kInsertProvider[] =
    "insert into providers(provider_guid,provider_name,provider_phone,provider_address,"
    "provider_license,provider_foodlicense,provider_business) values (%s,%s,%s,%s,%s,%s,%s)";
const char kDeleteProvider[] = "DELETE FROM providers where provider_guid=%s";
const char kDeleteProduct[] = "DELETE FROM products where product_guid=%s";
const char kDeletePurchase[] = "DELETE FROM purchases where purchase_guid=%s";
const char kPurchasesBetween[] =
    "select * from purchases where purchase_time>=%s and purchase_time <= %s ORDER BY rowid";
const char kInsertOrder[] =
    "insert into orders(order_guid,order_time,order_total,order_ptnum) values (%s,%s,%s,%s)";
const char kInsertOrderDetail[] =
    "insert into orderdetail(order_guid,order_time,order_total,order_product_name,"
    "order_product_guid,order_product_barcode,order_product_num,order_product_rprice,"
    "order_product_subtotal) values (%s,%s,%s,%s,%s,%s,%s,%s,%s)";
const char kOrdersBetween[] =
    "select * from orders where order_time>=%s and order_time <=%s ORDER BY rowid";
const char kProductByBarcode[] = "SELECT * FROM products where product_barcode=%s ORDER BY rowid";
// One order and its lines, as they were stored (reprints, returns).
const char kOrderByGuid[] = "select * from orders where order_guid=%s";
const char kOrderDetailsOfOrder[] = "select * from orderdetail where order_guid=%s ORDER BY rowid";
// Returns: the link of a return to its sale, and the lines of every return
// of a sale.
const char kInsertReturnLink[] = "insert into order_returns(return_guid,order_guid) values (%s,%s)";
const char kSaleOfReturn[] = "select order_guid from order_returns where return_guid=%s";
const char kReturnedLinesOfSale[] =
    "select d.* from order_returns r JOIN orderdetail d ON d.order_guid=r.return_guid WHERE "
    "r.order_guid=%s ORDER BY d.rowid";
const char kPurchaseByGuid[] = "select * from purchases where purchase_guid=%s";
const StoreStatements kFileStatements = {
    kFileTables,
    kIndexStatements,
    nullptr,
    nullptr,
    nullptr,
    "SELECT * FROM %s",
    kInsertProvider,
    kDeleteProvider,
    "select * from providers where provider_guid=%s",
    "insert into products(product_guid,product_name,product_barcode,product_num,"
    "product_provider_guid,product_original_price,product_retail_price) values "
    "(%s,%s,%s,%s,%s,%s,%s)",
    kDeleteProduct,
    kProductByBarcode,
    kProductByBarcode,
    "select * from products where product_guid=%s",
    "update products set product_num=%s where product_guid=%s",
    nullptr,
    "insert into purchases(purchase_guid,purchase_time,purchase_id,purchase_product_name,"
    "purchase_product_barcode,purchase_product_num,purchase_provider_guid,"
    "purchase_product_oprice,purchase_product_rprice) values (%s,%s,%s,%s,%s,%s,%s,%s,%s)",
    kDeletePurchase,
    "select * from purchases where purchase_guid=%s",
    "select * from purchases where purchase_id==%s ORDER BY rowid",
    "select * from purchases where purchase_product_barcode==%s ORDER BY rowid",
    kPurchasesBetween,
    kInsertOrder,
    kInsertOrderDetail,
    kOrdersBetween,
    kOrderByGuid,
    kSalesLines,
    nullptr,
    nullptr,
    nullptr,
    "INSERT OR REPLACE INTO settings(setting_key, setting_value) VALUES (%s, %s)",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Where the file takes an empty text into a number column and reads it back
// empty, the server stores NULL, which reads back empty too.
const StoreStatements kServerStatements = {
    kServerTables,
    kIndexStatements,
    "SELECT 1 WHERE to_regclass('providers') IS NULL OR to_regclass('purchases') IS NULL OR "
    "to_regclass('orders') IS NULL OR to_regclass('orderdetail') IS NULL OR "
    "to_regclass('products') IS NULL OR to_regclass('tills') IS NULL OR "
    "to_regclass('order_returns') IS NULL OR to_regclass('settings') IS NULL OR "
    "to_regclass('backups') IS NULL",
    "SELECT pg_advisory_xact_lock(1010, 0)",
    // A lock another till holds is given up on before the statement's own
    // limit, so that the failure can say so; a till gone from the network
    // in the middle of a change frees its locks within seconds, not when TCP
    // gives up after hours.
    "SELECT set_config('statement_timeout','4000',false),"
    "set_config('lock_timeout','3000',false),"
    "set_config('idle_in_transaction_session_timeout','10000',false)",
    "SELECT * FROM %s ORDER BY rowid",
    kInsertProvider,
    kDeleteProvider,
    "select * from providers where provider_guid=NULLIF(%s,'')::bigint",
    "insert into products(product_guid,product_name,product_barcode,product_num,"
    "product_provider_guid,product_original_price,product_retail_price) values "
    "(%s,%s,%s,NULLIF(%s,'')::bigint,NULLIF(%s,'')::bigint,NULLIF(%s,'')::float8,"
    "NULLIF(%s,'')::float8)",
    kDeleteProduct,
    kProductByBarcode,
    "SELECT * FROM products where product_barcode=%s ORDER BY rowid FOR UPDATE",
    "select * from products where product_guid=NULLIF(%s,'')::bigint FOR UPDATE",
    "update products set product_num=NULLIF(%s,'')::bigint where "
    "product_guid=NULLIF(%s,'')::bigint",
    "SELECT pg_advisory_xact_lock(1009, hashtext(%s))",
    "insert into purchases(purchase_guid,purchase_time,purchase_id,purchase_product_name,"
    "purchase_product_barcode,purchase_product_num,purchase_provider_guid,"
    "purchase_product_oprice,purchase_product_rprice) values (%s,%s,%s,%s,%s,"
    "NULLIF(%s,'')::bigint,NULLIF(%s,'')::bigint,NULLIF(%s,'')::float8,NULLIF(%s,'')::float8)",
    kDeletePurchase,
    "select * from purchases where purchase_guid=NULLIF(%s,'')::bigint FOR UPDATE",
    "select * from purchases where purchase_id=%s ORDER BY rowid",
    "select * from purchases where purchase_product_barcode=%s ORDER BY rowid",
    kPurchasesBetween,
    kInsertOrder,
    kInsertOrderDetail,
    kOrdersBetween,
    "select * from orders where order_guid=%s FOR UPDATE",
    kSalesByBarcode,
    // 1009 is the file store's worker: a copy of a Stock.db put on the
    // server must not meet a till's identifiers.
    "SELECT till_worker FROM tills WHERE till_key=%s AND till_worker<>1009",
    "INSERT INTO tills(till_worker,till_key,till_since) SELECT n,%s,%s FROM "
    "generate_series(0,1023) AS n WHERE n<>1009 AND NOT EXISTS (SELECT 1 FROM tills WHERE "
    "till_worker=n) ORDER BY n LIMIT 1 ON CONFLICT DO NOTHING RETURNING till_worker",
    "SELECT count(*) FROM tills WHERE till_worker<>1009",
    "INSERT INTO settings(setting_key, setting_value) VALUES (%s, %s) ON CONFLICT (setting_key) "
    "DO UPDATE SET setting_value = excluded.setting_value",
    "SELECT pg_try_advisory_lock(1011,%s::int)",
    "SELECT 1 FROM backups WHERE backup_day=%s",
    "INSERT INTO backups(backup_day,backup_worker,backup_time) VALUES (%s,%s::int,%s) "
    "ON CONFLICT DO NOTHING",
    "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY",
    "SELECT 1 FROM %1 WHERE (%2) IS NOT DISTINCT FROM (%3)",
};

// A value as an SQL string literal. Doubling its quotes keeps the whole value
// inside the literal, so no value can ever become SQL of its own.
QString Literal(QString value)
{
    value.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

// Puts the values, as literals, in place of the "%s" of the pattern, in order.
// Built as QString on purpose: printf-style formatting would end a value at a
// NUL or at a length bound and could leave a literal cut short but closed.
QString Statement(const char* pattern, const QStringList& values)
{
    const QString format = QString::fromLatin1(pattern);
    QString statement;
    int from = 0;
    for (const QString& value : values) {
        const int at = format.indexOf(QLatin1String("%s"), from);
        Q_ASSERT(at >= 0);
        statement += format.midRef(from, at - from);
        statement += Literal(value);
        from = at + 2;
    }
    Q_ASSERT(format.indexOf(QLatin1String("%s"), from) < 0);
    statement += format.midRef(from);
    return statement;
}

#include "store/StockDb.h"

#include "app/AppContext.h"
#include "store/RecordId.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QSysInfo>
#include <QVariant>
#include <algorithm>
#include <iterator>
#include <libpq-fe.h>
#include <memory>

StockDb stockDb;

namespace {
const char kProgramKey[] = "19970408maple";
// What SQLite reports when page 1 does not decrypt.
const int kNotADatabase = 26;

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
    "CREATE TABLE IF NOT EXISTS tills (till_worker INTEGER PRIMARY KEY CHECK (till_worker "
    "BETWEEN 0 AND 1023), till_key TEXT NOT NULL UNIQUE, till_since TEXT NOT NULL)",
    nullptr,
};

// The columns the program searches by. Without them every day, barcode and
// bill lookup reads the whole history. Kept out of the tables themselves so
// that a file stays readable by every earlier build.
const char* const kIndexStatements[] = {
    "CREATE INDEX IF NOT EXISTS orders_order_time ON orders(order_time)",
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
    nullptr,
};

// Statistics and exports: written once for every engine, so only plain SQL
// (no engine's own functions, no rounding of doubles: sums are rounded to
// the cent where they are read). A period is the inclusive text range of its
// times; the lines of an order count where the order was paid, since a line
// is stamped when it was scanned, a moment earlier and maybe the day before.
const char kSalesByDay[] =
    "SELECT substr(order_time,1,10),count(*),sum(order_total) FROM orders WHERE "
    "order_time>=%s AND order_time<=%s GROUP BY substr(order_time,1,10) ORDER BY "
    "substr(order_time,1,10)";
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
const char kStockValue[] = "SELECT sum(product_num*product_original_price) FROM products";
const char kOrderLinesExport[] =
    "SELECT o.order_time,d.order_guid,d.order_product_barcode,d.order_product_name,"
    "d.order_product_num,d.order_product_rprice,d.order_product_subtotal FROM orders o JOIN "
    "orderdetail d ON d.order_guid=o.order_guid WHERE o.order_time>=%s AND o.order_time<=%s "
    "ORDER BY o.order_time,o.order_guid,d.rowid";
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
} // namespace

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
    const char* salesByBarcode;
    const char* ownWorker;
    const char* claimWorker;
    const char* claimedWorkers;
};

namespace {
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
    kSalesLines,
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
    "to_regclass('products') IS NULL OR to_regclass('tills') IS NULL",
    "SELECT pg_advisory_xact_lock(1010, 0)",
    "SET statement_timeout = 4000",
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
    kSalesByBarcode,
    "SELECT till_worker FROM tills WHERE till_key=%s",
    "INSERT INTO tills(till_worker,till_key,till_since) SELECT n,%s,%s FROM "
    "generate_series(0,1023) AS n WHERE NOT EXISTS (SELECT 1 FROM tills WHERE till_worker=n) "
    "ORDER BY n LIMIT 1 ON CONFLICT DO NOTHING RETURNING till_worker",
    "SELECT count(*) FROM tills",
};

const int kWorkerNumbers = 1024;
// A till whose transaction lost a conflict to another till's tries again;
// with one lock per barcode this is rare, so a few times is plenty.
const int kConflictAttempts = 5;
// Failed connects are not tried again sooner, so that a list reading many
// rows waits for the server once, not once per row.
const qint64 kReconnectPauseMs = 1000;
// libpq settings that keep every wait for the server under five seconds: a
// dead link is noticed within about two, and one connect attempt takes at
// most two more. The shop's own connection string comes after them and may
// change them.
const char kServerDefaults[] = "connect_timeout=2 keepalives=1 keepalives_idle=1 "
                               "keepalives_interval=1 keepalives_count=1 tcp_user_timeout=2000 ";

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

// The fields of each record in column order: the one place where a row of
// "select *" and the values of a record line up with the table.
template <typename Record> struct Columns;

template <> struct Columns<ProviderInfo>
{
    static constexpr QString ProviderInfo::*fields[] = {
        &ProviderInfo::provider_guid,     &ProviderInfo::provider_name,
        &ProviderInfo::provider_phone,    &ProviderInfo::provider_address,
        &ProviderInfo::provider_license,  &ProviderInfo::provider_foodlicense,
        &ProviderInfo::provider_business,
    };
};

template <> struct Columns<ProductInfo>
{
    static constexpr QString ProductInfo::*fields[] = {
        &ProductInfo::product_guid,
        &ProductInfo::product_name,
        &ProductInfo::product_barcode,
        &ProductInfo::product_num,
        &ProductInfo::product_provider_guid,
        &ProductInfo::product_original_price,
        &ProductInfo::product_wholesale_price,
        &ProductInfo::product_retail_price,
    };
};

template <> struct Columns<PurchaseInfo>
{
    static constexpr QString PurchaseInfo::*fields[] = {
        &PurchaseInfo::purchase_guid,
        &PurchaseInfo::purchase_time,
        &PurchaseInfo::purchase_id,
        &PurchaseInfo::purchase_product_guid,
        &PurchaseInfo::purchase_product_name,
        &PurchaseInfo::purchase_product_barcode,
        &PurchaseInfo::purchase_product_num,
        &PurchaseInfo::purchase_provider_guid,
        &PurchaseInfo::purchase_product_oprice,
        &PurchaseInfo::purchase_product_wprice,
        &PurchaseInfo::purchase_product_rprice,
    };
};

template <> struct Columns<OrderInfo>
{
    static constexpr QString OrderInfo::*fields[] = {
        &OrderInfo::order_guid,
        &OrderInfo::order_time,
        &OrderInfo::order_total,
        &OrderInfo::order_ptnum,
    };
};

template <> struct Columns<OrderDetailInfo>
{
    static constexpr QString OrderDetailInfo::*fields[] = {
        &OrderDetailInfo::order_guid,
        &OrderDetailInfo::order_time,
        &OrderDetailInfo::order_total,
        &OrderDetailInfo::order_product_name,
        &OrderDetailInfo::order_product_guid,
        &OrderDetailInfo::order_product_barcode,
        &OrderDetailInfo::order_product_num,
        &OrderDetailInfo::order_product_rprice,
        &OrderDetailInfo::order_product_subtotal,
    };
};

template <typename Record> Record RecordOfRow(const QSqlQuery& query)
{
    Record record;
    int column = 0;
    for (QString Record::*field : Columns<Record>::fields) {
        // A NULL number reads as "0" from the server's driver; the file's reads as empty.
        const QVariant value = query.value(column++);
        record.*field = value.isNull() ? QString() : value.toString();
    }
    return record;
}

template <typename Record> QStringList ValuesOf(const Record& record)
{
    QStringList values;
    for (QString Record::*field : Columns<Record>::fields)
        values.append(record.*field);
    return values;
}

bool SameShownProduct(const ProductInfo& a, const ProductInfo& b)
{
    return a.product_guid == b.product_guid && a.product_name == b.product_name &&
           a.product_barcode == b.product_barcode && a.product_num == b.product_num &&
           a.product_provider_guid == b.product_provider_guid &&
           a.product_original_price == b.product_original_price &&
           a.product_retail_price == b.product_retail_price;
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

QString MaskedConnection(QString connection)
{
    static const QRegularExpression password(R"((\bpassword\s*=\s*)('(?:[^'\\]|\\.)*'?|\S*))",
                                             QRegularExpression::CaseInsensitiveOption);
    return connection.replace(password, QStringLiteral("\\1***"));
}

QSqlQuery StockDb::NewQuery() const
{
    // An invalid handle makes Qt use the default connection. Rows are only
    // ever read once, front to back: a forward-only query streams them
    // instead of keeping every row read until the query goes.
    QSqlQuery query{QString(), QSqlDatabase::database(connectionName, false)};
    query.setForwardOnly(true);
    return query;
}

template <typename Record> QVector<Record> StockDb::AllRows(QSqlQuery query, qint64* lastRowid)
{
    // A page's rowid stands right after the record's columns.
    const int rowidColumn = int(std::size(Columns<Record>::fields));
    QVector<Record> records;
    qint64 last = 0;
    while (query.next()) {
        records.append(RecordOfRow<Record>(query));
        if (lastRowid)
            last = query.value(rowidColumn).toLongLong();
    }
    if (!ReadToTheEnd(query))
        records.clear();
    if (lastRowid && !records.isEmpty())
        *lastRowid = last;
    return records;
}

// Several matches: the last one in table order wins.
template <typename Record> Record StockDb::LastRow(QSqlQuery query)
{
    const QVector<Record> records = AllRows<Record>(query);
    return records.isEmpty() ? Record() : records.last();
}

StockDb::StockDb(QString connectionName)
    : connectionName(std::move(connectionName)), statements(&kFileStatements),
      worker(kRecordIdWorker)
{
    password = QString();
    qDebug() << QSqlDatabase::drivers();
    qDebug() << "initDb";
}

void StockDb::OpenStockDb(QString name)
{
    CloseStockDb();
    this->name = name;
    const QString engine = appContext.storeEngine.toLower();
    if (engine == QLatin1String("postgresql")) {
        OpenServer();
        return;
    }
    statements = &kFileStatements;
    worker = kRecordIdWorker;
    if (connectionName == QLatin1String(QSqlDatabase::defaultConnection))
        SetRecordIdWorker(worker);
    if (!engine.isEmpty() && engine != QLatin1String("sqlcipher")) {
        openError = QStringLiteral("plconfig.ini 中的数据库引擎未知：") + appContext.storeEngine;
        qDebug() << "Can not open connection: " << openError;
        return;
    }
    password = QLatin1String(kProgramKey);
    db = QSqlDatabase::addDatabase("SQLITECIPHER", connectionName);
    qDebug() << QSqlDatabase::drivers();

    const QString path = AppendUtf8(appContext.appDir + PathSeparator(), "Stock.db");
    // A first start cut short before the first page was written leaves an
    // empty file; nothing can be lost by making it again, as on a first start.
    if (!QFile::exists(path) || QFileInfo(path).size() == 0) {
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

void StockDb::OpenServer()
{
    statements = &kServerStatements;
    const QString connection = appContext.storeConnection;
    qDebug() << "Store server: " << MaskedConnection(connection);
    // Qt's driver turns every ';' of its options into a blank, which would
    // silently change a value: refused rather than guessed at, and no
    // connection is made that a later action could try again.
    if (connection.contains(QLatin1Char(';'))) {
        openError = QStringLiteral("plconfig.ini 中的 connection 不能含有分号（;）");
        qDebug() << "Can not open connection: " << openError;
        return;
    }
    db = QSqlDatabase::addDatabase("QPSQL", connectionName);
    db.setConnectOptions(QLatin1String(kServerDefaults) + connection);
    ConnectServer();
}

bool StockDb::ConnectServer()
{
    lastConnectAttemptMs = NowMs();
    db.close();
    if (!db.open()) {
        openError = Reason(db.lastError());
        qDebug() << "Can not open connection: " << openError;
        db.close();
        return false;
    }
    QSqlQuery query = NewQuery();
    if (!Execute(query, QString::fromLatin1(statements->sessionSetup))) {
        openError = Reason(query.lastError());
        db.close();
        return false;
    }
    if (!CreateTables() || !ClaimWorker()) {
        qDebug() << "Can not open connection: " << openError;
        db.close();
        return false;
    }
    openError.clear();
    return true;
}

// The lowest number no till holds, kept by this till from then on. The key
// names the machine and the program's folder as well as the client identity,
// so that a folder copied to another machine, identity and all, claims a
// number of its own.
bool StockDb::ClaimWorker()
{
    const QString key = QString::fromLatin1(
        Md5Hex((QSysInfo::machineUniqueId() + '|' + appContext.appDir.toUtf8() + '|' +
                appContext.clientUuid.toUtf8() + '|' + connectionName.toUtf8())));
    const QString since = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
    QSqlQuery query = NewQuery();
    for (int attempt = 0; attempt <= kWorkerNumbers; ++attempt) {
        const QString own = Statement(statements->ownWorker, {key});
        const QString claim = Statement(statements->claimWorker, {key, since});
        if ((Execute(query, own) && query.next()) || (Execute(query, claim) && query.next())) {
            worker = query.value(0).toInt();
            if (connectionName == QLatin1String(QSqlDatabase::defaultConnection))
                SetRecordIdWorker(worker);
            qDebug() << "Till worker number: " << worker;
            return true;
        }
        if (query.lastError().isValid())
            break;
        // Nothing claimed and nothing failed: another till took the number
        // first, or none is left.
        if (Execute(query, QString::fromLatin1(statements->claimedWorkers)) && query.next() &&
            query.value(0).toInt() >= kWorkerNumbers) {
            openError = QStringLiteral("此服务器上已登记 %1 台收银台，编号已用完，本机无法加入。"
                                       "请管理员在 tills 表中删除不再使用的收银台。")
                            .arg(kWorkerNumbers);
            return false;
        }
    }
    openError = Reason(query.lastError());
    return false;
}

bool StockDb::OpenConnection(QString path)
{
    db.setDatabaseName(path);
    db.setPassword(password);
    if (!password.isEmpty())
        db.setConnectOptions("QSQLITE_USE_CIPHER=chacha20");
    if (db.open()) {
        openError.clear();
        keyRefused = false;
        return true;
    }
    openError = db.lastError().driverText();
    keyRefused = (db.lastError().nativeErrorCode().toInt() & 0xff) == kNotADatabase;
    qDebug() << "Can not open connection: " << openError;
    db.close();
    return false;
}

bool StockDb::CreateTables()
{
    QSqlQuery query = NewQuery();
    if (statements->tablesMissing) {
        if (!Execute(query, QString::fromLatin1(statements->tablesMissing))) {
            openError = FailureText(query);
            return false;
        }
        if (!query.next())
            return true;
    }
    std::unique_ptr<Transaction> together;
    if (statements->schemaLock) {
        together = std::make_unique<Transaction>(*this);
        Execute(query, QString::fromLatin1(statements->schemaLock));
    }
    // A store without its tables is reported at start-up like one that did
    // not open, with the first statement's reason.
    bool made = true;
    for (const char* const* statement = statements->tables; *statement; ++statement) {
        if (!Run(query, QString::fromLatin1(*statement), OnFailure::Silent) && made) {
            made = false;
            openError = FailureText(query);
        }
    }
    // Lookups still work without an index, only slower: not worth refusing a store for.
    for (const char* const* statement = statements->indexes; *statement; ++statement)
        Run(query, QString::fromLatin1(*statement), OnFailure::Log);
    if (together && made && !together->commit()) {
        made = false;
        openError = Reason(db.lastError());
    }
    return made;
}

bool StockDb::ExeSql(QString sql)
{
    QSqlQuery query = NewQuery();
    return Run(query, sql, OnFailure::Log);
}

bool StockDb::Execute(QSqlQuery& query, const QString& statement)
{
    lastStatement = statement;
    const bool ok = query.exec(statement);
    failureCode = ok ? QString() : query.lastError().nativeErrorCode();
    return ok;
}

bool StockDb::Run(QSqlQuery& query, const QString& statement, OnFailure onFailure)
{
    // A server that was away is tried again before the statement, and a
    // connection found lost under it is made again and the statement sent
    // once more. Outside a transaction that is safe: the keyed inserts cannot
    // store twice, and updates and deletes are the same the second time.
    if (IsServer() && !IsOpen() && ConnectionRestored())
        query = NewQuery();
    bool ok = Execute(query, statement);
    if (!ok && ConnectionRestored()) {
        query = NewQuery();
        ok = Execute(query, statement);
    }
    if (!ok && onFailure == OnFailure::Log)
        qDebug() << "ExeSql Failed : " << FailureText(query);
    return ok;
}

bool StockDb::IsServer() const
{
    return statements == &kServerStatements;
}

QString StockDb::ServerAwayNote() const
{
    return IsServer() && (!IsOpen() || ConnectionBroken())
               ? QStringLiteral("\n无法连接数据库服务器，服务器恢复后请再试一次")
               : QString();
}

int StockDb::Worker() const
{
    return worker;
}

bool StockDb::ConnectionRestored()
{
    if (!IsServer() || !db.isValid() || transactionDepth > 0 ||
        (db.isOpen() && !ConnectionBroken()) || NowMs() - lastConnectAttemptMs < kReconnectPauseMs)
        return false;
    return ConnectServer();
}

bool StockDb::ConnectionBroken() const
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (qstrcmp(handle.typeName(), "PGconn*") != 0)
        return false;
    PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}

QString StockDb::Reason(const QSqlError& error) const
{
    // Qt's PostgreSQL driver keeps the server's own words in databaseText.
    const QString server = error.databaseText().trimmed();
    return IsServer() && !server.isEmpty() ? server : error.driverText();
}

QString StockDb::FailureText(const QSqlQuery& query) const
{
    // The file's connection carries SQLite's own reason; the server's reason
    // stays with the query.
    return IsServer() ? Reason(query.lastError()) : db.lastError().driverText();
}

QSqlQuery StockDb::Select(const QString& statement, OnFailure onFailure)
{
    QSqlQuery query = NewQuery();
    // On the open store a failure, at the start or partway, is logged once the
    // rows are read (ReadToTheEnd).
    Run(query, statement, IsOpen() ? OnFailure::Silent : onFailure);
    return query;
}

bool StockDb::DeleteByGuid(const char* pattern, const QString& guid)
{
    if (guid.isEmpty())
        return false;
    QSqlQuery query = NewQuery();
    return Run(query, Statement(pattern, {guid}), OnFailure::Silent);
}

bool StockDb::ReadToTheEnd(const QSqlQuery& query)
{
    readError = QSqlError();
    const QSqlError error = query.lastError();
    if (!error.isValid())
        return true;
    // A store that never opened was reported at start-up; its empty reads are
    // expected and logged as their operations always did (Select).
    // The file's connection carries the driver's own reason, where the query's
    // text only says that a fetch failed; the server's reason is the query's.
    if (IsOpen()) {
        readError = !IsServer() && db.lastError().isValid() ? db.lastError() : error;
        qDebug() << "ExeSql Failed : " << Reason(readError);
    }
    return false;
}

bool StockDb::LastReadFailed() const
{
    return readError.isValid();
}

QString StockDb::ReadErrorText() const
{
    return Reason(readError);
}

bool StockDb::IsOpen() const
{
    return db.isValid() && db.isOpen();
}

QString StockDb::OpenErrorText() const
{
    return openError;
}

QString StockDb::LastStatement() const
{
    return lastStatement;
}

QString StockDb::FilePath() const
{
    return db.databaseName();
}

QString StockDb::Password() const
{
    return password;
}

bool StockDb::KeyRefused() const
{
    return db.isValid() && !db.isOpen() && keyRefused;
}

bool StockDb::OpenWithPassphrase(QString passphrase)
{
    // An empty key would open the file as plain SQLite, which no store is.
    if (passphrase.isEmpty() || !KeyRefused())
        return false;
    password = passphrase;
    if (OpenConnection(db.databaseName())) {
        CreateTables();
        return true;
    }
    password = QLatin1String(kProgramKey);
    return false;
}

bool StockDb::KeyCanChange() const
{
    // A server has logins of its own; only the file is keyed by the program.
    return IsOpen() && !IsServer();
}

bool StockDb::HasProgramKey() const
{
    return password == QLatin1String(kProgramKey);
}

bool StockDb::ChangeKey(QString passphrase)
{
    if (!IsOpen())
        return false;
    const QString oldKey = password;
    const QString newKey = passphrase.isEmpty() ? QString(kProgramKey) : passphrase;
    {
        // Not through Run: the statement holds the key, and the last
        // statement is kept for diagnostics.
        QSqlQuery query = NewQuery();
        query.exec(QStringLiteral("PRAGMA rekey = ") + Literal(newKey));
    }
    // SQLCipher reports success however the rekey ended, and one that failed
    // leaves the connection writing pages under the new key into a file under
    // the old one. Only a fresh connection tells which key the file has, and
    // only a fresh connection is safe to write with.
    db.close();
    password = newKey;
    if (OpenConnection(db.databaseName()))
        return true;
    password = oldKey;
    OpenConnection(db.databaseName());
    return false;
}

QString StockDb::FilePassword()
{
    return QLatin1String(kProgramKey);
}

QStringList StockDb::FileSchema()
{
    QStringList statements;
    for (const char* const* list : {kFileTables, kIndexStatements}) {
        for (const char* const* statement = list; *statement; ++statement)
            statements << QString::fromLatin1(*statement);
    }
    return statements;
}

void StockDb::CloseStockDb()
{
    if (!db.isValid())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

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
        if (product.product_name.isEmpty())
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

StockDb::Rewrite StockDb::RewriteProduct(const ProductInfo& shown, const ProductInfo& edited)
{
    bool changedElsewhere = false;
    const bool written = Atomically([&] {
        if (!LockBarcode(shown.product_barcode))
            return false;
        const ProductInfo stored = LastRow<ProductInfo>(Select(
            Statement(statements->productByGuidForUpdate, {shown.product_guid}), OnFailure::Log));
        if (LastReadFailed())
            return false;
        changedElsewhere = !SameShownProduct(stored, shown);
        return !changedElsewhere && DeleteProduct(shown.product_guid) &&
               InsertProduct(shown.product_guid, edited.product_name, shown.product_barcode,
                             edited.product_num, shown.product_provider_guid,
                             edited.product_original_price, edited.product_retail_price);
    });
    if (written)
        return Rewrite::Written;
    return changedElsewhere ? Rewrite::ChangedElsewhere : Rewrite::Failed;
}

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

bool StockDb::InsertOrder(OrderInfo order)
{
    return ExeSql(Statement(statements->insertOrder, ValuesOf(order)));
}

bool StockDb::InsertOrderDetail(OrderDetailInfo line)
{
    return ExeSql(Statement(statements->insertOrderDetail, ValuesOf(line)));
}

OrderList StockDb::QueryOrdersOfDay(QDate day)
{
    const DayRange range = DayRangeOf(day);
    return QueryOrdersBetween(range.from, range.to);
}

OrderList StockDb::QueryOrdersBetween(QString from, QString to)
{
    return AllRows<OrderInfo>(
        Select(Statement(statements->ordersBetween, {from, to}), OnFailure::Silent));
}

PeriodSales StockDb::QuerySales(QDate first, QDate last, int topCount)
{
    const QStringList range{DayRangeOf(first).from, DayRangeOf(last).to};
    PeriodSales sales;
    QSqlQuery days = Select(Statement(kSalesByDay, range), OnFailure::Log);
    while (days.next())
        sales.days.append({days.value(0).toString(), days.value(1).toLongLong(),
                           CentsOf(days.value(2).toDouble())});
    if (!ReadToTheEnd(days))
        return PeriodSales();

    struct Sums
    {
        qint64 quantity = 0;
        double amount = 0;
    };
    QHash<QString, Sums> sums;
    QSqlQuery barcodes = Select(Statement(statements->salesByBarcode, range), OnFailure::Log);
    while (barcodes.next()) {
        Sums& barcode = sums[barcodes.value(0).toString()];
        barcode.quantity += barcodes.value(1).toLongLong();
        barcode.amount += barcodes.value(2).toDouble();
    }
    if (!ReadToTheEnd(barcodes))
        return PeriodSales();
    QVector<ProductSales> products;
    products.reserve(sums.size());
    for (auto barcode = sums.cbegin(); barcode != sums.cend(); ++barcode) {
        products.append({QString(), barcode.key(), barcode->quantity, CentsOf(barcode->amount)});
        sales.items += barcode->quantity;
    }
    // Ranked here on whole cents: sums of doubles that differ in the last bit
    // would break a tie the wrong way.
    const auto higher = [](const ProductSales& a, const ProductSales& b) {
        return a.turnoverCents != b.turnoverCents ? a.turnoverCents > b.turnoverCents
                                                  : a.barcode < b.barcode;
    };
    const int shown = qMin(topCount, products.size());
    std::partial_sort(products.begin(), products.begin() + shown, products.end(), higher);
    sales.topProducts = products.mid(0, shown);
    if (shown > 0 && !ReadLatestNames(range, sales.topProducts))
        return PeriodSales();
    return sales;
}

bool StockDb::ReadLatestNames(const QStringList& range, QVector<ProductSales>& products)
{
    QHash<QString, QString*> unnamed;
    QStringList literals;
    for (ProductSales& product : products) {
        unnamed.insert(product.barcode, &product.name);
        literals << Literal(product.barcode);
    }
    QSqlQuery lines =
        Select(Statement(kLatestNames, range).arg(literals.join(QLatin1Char(','))), OnFailure::Log);
    while (!unnamed.isEmpty() && lines.next()) {
        QString* name = unnamed.take(lines.value(0).toString());
        if (name)
            *name = lines.value(1).toString();
    }
    return ReadToTheEnd(lines);
}

qint64 StockDb::QueryStockValueCents()
{
    QSqlQuery query = Select(QString::fromLatin1(kStockValue), OnFailure::Log);
    const qint64 cents = query.next() ? CentsOf(query.value(0).toDouble()) : 0;
    return ReadToTheEnd(query) ? cents : 0;
}

bool StockDb::StreamRows(const QString& statement, const QVector<bool>& money, const RowSink& row)
{
    QSqlQuery query = Select(statement, OnFailure::Log);
    QStringList fields;
    while (query.next()) {
        fields.clear();
        for (int column = 0; column < money.size(); ++column) {
            const QVariant value = query.value(column);
            bool number = false;
            const double amount = money[column] && !value.isNull() ? value.toDouble(&number) : 0.0;
            fields.append(number ? CentsText(CentsOf(amount)) : value.toString());
        }
        if (!row(fields))
            break;
    }
    return ReadToTheEnd(query);
}

bool StockDb::ExportOrderLines(QDate first, QDate last, const RowSink& row)
{
    return StreamRows(Statement(kOrderLinesExport, {DayRangeOf(first).from, DayRangeOf(last).to}),
                      {false, false, false, false, false, true, true}, row);
}

bool StockDb::ExportPurchases(QDate first, QDate last, const RowSink& row)
{
    return StreamRows(Statement(kPurchasesExport, {DayRangeOf(first).from, DayRangeOf(last).to}),
                      {false, false, false, false, false, true, true, false}, row);
}

bool StockDb::ExportStock(const RowSink& row)
{
    return StreamRows(QString::fromLatin1(kStockExport), {false, false, false, true, true}, row);
}

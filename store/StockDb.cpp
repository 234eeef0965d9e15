#include "store/StockDb.h"

#include "app/AppContext.h"
#include "store/RecordId.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <iterator>

StockDb stockDb;

namespace {
const char kProgramKey[] = "19970408maple";
// What SQLite reports when page 1 does not decrypt.
const int kNotADatabase = 26;

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
    "CREATE INDEX IF NOT EXISTS orderdetail_order_guid ON orderdetail(order_guid)",
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
// The last column orders the lines by payment, then scan time: its greatest
// value ends in the name of a barcode's latest line.
const char kSalesByBarcode[] =
    "SELECT d.order_product_barcode,sum(d.order_product_num),sum(d.order_product_subtotal),"
    "max(o.order_time||d.order_time||'|'||d.order_product_name) FROM orders o JOIN orderdetail "
    "d ON d.order_guid=o.order_guid WHERE o.order_time>=%s AND o.order_time<=%s GROUP BY "
    "d.order_product_barcode";
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
    for (QString Record::*field : Columns<Record>::fields)
        record.*field = query.value(column++).toString();
    return record;
}

template <typename Record> QStringList ValuesOf(const Record& record)
{
    QStringList values;
    for (QString Record::*field : Columns<Record>::fields)
        values.append(record.*field);
    return values;
}

QSqlQuery NewQuery()
{
    // An invalid handle makes Qt use the default connection. Rows are only
    // ever read once, front to back: a forward-only query streams them
    // instead of keeping every row read until the query goes.
    QSqlQuery query{QString(), QSqlDatabase()};
    query.setForwardOnly(true);
    return query;
}
} // namespace

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
    password = QLatin1String(kProgramKey);
    db = QSqlDatabase::addDatabase("SQLITECIPHER", QLatin1String(QSqlDatabase::defaultConnection));
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
    // A store without its tables is reported at start-up like one that did
    // not open, with the first statement's reason.
    QSqlQuery query = NewQuery();
    bool made = true;
    for (const char* statement : kCreateStatements) {
        if (!Run(query, QString::fromLatin1(statement), OnFailure::Silent) && made) {
            made = false;
            openError = db.lastError().driverText();
        }
    }
    // Lookups still work without an index, only slower: not worth refusing a store for.
    for (const char* statement : kIndexStatements)
        Run(query, QString::fromLatin1(statement), OnFailure::Log);
    return made;
}

bool StockDb::ExeSql(QString sql)
{
    QSqlQuery query = NewQuery();
    return Run(query, sql, OnFailure::Log);
}

bool StockDb::Run(QSqlQuery& query, const QString& statement, OnFailure onFailure)
{
    lastStatement = statement;
    const bool ok = query.exec(statement);
    if (!ok && onFailure == OnFailure::Log)
        qDebug() << "ExeSql Failed : " << db.lastError().driverText();
    return ok;
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
    // The connection carries the driver's own reason; the query's text only
    // says that a fetch failed.
    if (IsOpen()) {
        readError = db.lastError().isValid() ? db.lastError() : error;
        qDebug() << "ExeSql Failed : " << readError.driverText();
    }
    return false;
}

bool StockDb::LastReadFailed() const
{
    return readError.isValid();
}

QString StockDb::ReadErrorText() const
{
    return readError.driverText();
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
    return IsOpen();
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

QSqlQuery StockDb::QueryTable(QString table, qint64 afterRowid, int count)
{
    const QByteArray name = table.toUtf8();
    // A page starts after the last row of the one before, found through the
    // rowid's index: no row is skipped or read twice when rows before it were
    // deleted or written again, and no page reads through the rows before it.
    const QByteArray statement =
        afterRowid < 0
            ? FormatSql("SELECT * FROM %s", name.constData())
            : FormatSql("SELECT *, rowid FROM %s WHERE rowid > %lld ORDER BY rowid LIMIT %d",
                        name.constData(), static_cast<long long>(afterRowid), count);
    return Select(QString::fromUtf8(statement), OnFailure::Silent);
}

bool StockDb::InsertProvider(QString provider_guid, QString provider_name, QString provider_phone,
                             QString provider_address, QString provider_license,
                             QString provider_foodlicense, QString provider_business)
{
    return ExeSql(Statement("insert into providers(provider_guid,provider_name,provider_phone,"
                            "provider_address,provider_license,provider_foodlicense,"
                            "provider_business) values (%s,%s,%s,%s,%s,%s,%s)",
                            {provider_guid, provider_name, provider_phone, provider_address,
                             provider_license, provider_foodlicense, provider_business}));
}

bool StockDb::DeleteProvider(QString provider_guid)
{
    return DeleteByGuid("DELETE FROM providers where provider_guid=%s", provider_guid);
}

ProviderInfo StockDb::QueryProviderByGuid(QString provider_guid)
{
    return LastRow<ProviderInfo>(
        Select(Statement("select * from providers where provider_guid=%s", {provider_guid}),
               OnFailure::Log));
}

ProviderList StockDb::QueryAllProviders(int, int)
{
    return AllRows<ProviderInfo>(QueryTable("providers", -1, 0));
}

bool StockDb::InsertProduct(QString product_guid, QString product_name, QString product_barcode,
                            QString product_num, QString product_provider_guid,
                            QString product_original_price, QString product_retail_price)
{
    return ExeSql(Statement("insert into products(product_guid,product_name,product_barcode,"
                            "product_num,product_provider_guid,product_original_price,"
                            "product_retail_price) values (%s,%s,%s,%s,%s,%s,%s)",
                            {product_guid, product_name, product_barcode, product_num,
                             product_provider_guid, product_original_price, product_retail_price}));
}

bool StockDb::DeleteProduct(QString product_guid)
{
    return DeleteByGuid("DELETE FROM products where product_guid=%s", product_guid);
}

ProductInfo StockDb::QueryProductByBarcode(QString product_barcode)
{
    if (product_barcode.isEmpty())
        return ProductInfo();
    return LastRow<ProductInfo>(
        Select(Statement("SELECT * FROM products where product_barcode=%s ORDER BY rowid",
                         {product_barcode}),
               OnFailure::Silent));
}

ProductList StockDb::QueryAllProducts(qint64 afterRowid, int count, qint64* lastRowid)
{
    return AllRows<ProductInfo>(QueryTable("products", afterRowid, count), lastRowid);
}

bool StockDb::UpdateProductNum(ProductInfo product)
{
    return ExeSql(Statement("update products set product_num=%s where product_guid=%s",
                            {product.product_num, product.product_guid}));
}

bool StockDb::InsertPurchase(QString purchase_time, QString purchase_guid, QString purchase_id,
                             QString purchase_product_name, QString purchase_product_barcode,
                             QString purchase_product_num, QString purchase_provider_guid,
                             QString purchase_product_oprice, QString purchase_product_rprice)
{
    return ExeSql(Statement(
        "insert into purchases(purchase_guid,purchase_time,purchase_id,purchase_product_name,"
        "purchase_product_barcode,purchase_product_num,purchase_provider_guid,"
        "purchase_product_oprice,purchase_product_rprice) values (%s,%s,%s,%s,%s,%s,%s,%s,%s)",
        {purchase_guid, purchase_time, purchase_id, purchase_product_name, purchase_product_barcode,
         purchase_product_num, purchase_provider_guid, purchase_product_oprice,
         purchase_product_rprice}));
}

bool StockDb::DeletePurchase(QString purchase_guid)
{
    return DeleteByGuid("DELETE FROM purchases where purchase_guid=%s", purchase_guid);
}

PurchaseList StockDb::QueryPurchasesByBillNo(QString purchase_id)
{
    if (purchase_id.isEmpty())
        return PurchaseList();
    return AllRows<PurchaseInfo>(Select(
        Statement("select * from purchases where purchase_id==%s ORDER BY rowid", {purchase_id}),
        OnFailure::Log));
}

PurchaseList StockDb::QueryPurchasesByBarcode(QString purchase_product_barcode)
{
    if (purchase_product_barcode.isEmpty())
        return PurchaseList();
    return AllRows<PurchaseInfo>(Select(
        Statement("select * from purchases where purchase_product_barcode==%s ORDER BY rowid",
                  {purchase_product_barcode}),
        OnFailure::Log));
}

PurchaseList StockDb::QueryPurchasesOfDay(QDate day)
{
    const DayRange range = DayRangeOf(day);
    return QueryPurchasesBetween(range.from, range.to);
}

PurchaseList StockDb::QueryPurchasesBetween(QString from, QString to)
{
    return AllRows<PurchaseInfo>(
        Select(Statement("select * from purchases where purchase_time>=%s and purchase_time <= %s "
                         "ORDER BY rowid",
                         {from, to}),
               OnFailure::Log));
}

PurchaseList StockDb::QueryAllPurchases(qint64 afterRowid, int count, qint64* lastRowid)
{
    return AllRows<PurchaseInfo>(QueryTable("purchases", afterRowid, count), lastRowid);
}

bool StockDb::InsertOrder(OrderInfo order)
{
    return ExeSql(Statement("insert into orders(order_guid,order_time,order_total,order_ptnum) "
                            "values (%s,%s,%s,%s)",
                            ValuesOf(order)));
}

bool StockDb::InsertOrderDetail(OrderDetailInfo line)
{
    return ExeSql(Statement("insert into orderdetail(order_guid,order_time,order_total,"
                            "order_product_name,order_product_guid,order_product_barcode,"
                            "order_product_num,order_product_rprice,order_product_subtotal) "
                            "values (%s,%s,%s,%s,%s,%s,%s,%s,%s)",
                            ValuesOf(line)));
}

OrderList StockDb::QueryOrdersOfDay(QDate day)
{
    const DayRange range = DayRangeOf(day);
    return QueryOrdersBetween(range.from, range.to);
}

OrderList StockDb::QueryOrdersBetween(QString from, QString to)
{
    return AllRows<OrderInfo>(Select(
        Statement("select * from orders where order_time>=%s and order_time <=%s ORDER BY rowid",
                  {from, to}),
        OnFailure::Silent));
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

    QVector<ProductSales> products;
    QSqlQuery barcodes = Select(Statement(kSalesByBarcode, range), OnFailure::Log);
    while (barcodes.next()) {
        const QString latest = barcodes.value(3).toString();
        products.append({latest.mid(latest.indexOf(QLatin1Char('|')) + 1),
                         barcodes.value(0).toString(), barcodes.value(1).toLongLong(),
                         CentsOf(barcodes.value(2).toDouble())});
        sales.items += products.last().quantity;
    }
    if (!ReadToTheEnd(barcodes))
        return PeriodSales();
    // Ranked here on whole cents: sums of doubles that differ in the last bit
    // would break a tie the wrong way.
    const auto higher = [](const ProductSales& a, const ProductSales& b) {
        return a.turnoverCents != b.turnoverCents ? a.turnoverCents > b.turnoverCents
                                                  : a.barcode < b.barcode;
    };
    const int shown = qMin(topCount, products.size());
    std::partial_sort(products.begin(), products.begin() + shown, products.end(), higher);
    sales.topProducts = products.mid(0, shown);
    return sales;
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

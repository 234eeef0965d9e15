// Kills a process that books goods in, sells, deletes purchases and changes
// the store's key through the real window, hundreds of times at random
// moments, and after every kill checks that Stock.db holds each of those
// actions wholly or not at all, and opens with exactly one key. Each
// life also makes a daily backup of a day of its own, so kills land in those
// too: a backup under its final name must always be a sound database.
//
// The same executable is the worker: started with kWorkerDirEnv set it runs
// the window on that folder's Stock.db until it is killed.

#include "app/AppContext.h"
#include "app/BackupScheduler.h"
#include "app/Pellory.h"
#include "screens/CTPasswordDialog.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

namespace {
const char kWorkerDirEnv[] = "PELLORY_CRASH_WORKER_DIR";
const char kWorkerSeedEnv[] = "PELLORY_CRASH_WORKER_SEED";
const char kWorkerDayEnv[] = "PELLORY_CRASH_WORKER_DAY";
const char kTestSeedEnv[] = "PELLORY_CRASH_SEED";
const char kIntentFile[] = "intents.log";
const char kReady[] = "READY\n";

const int kKills = 210;
// How long a worker may run after it is ready before it is killed.
const int kMaxLifeMs = 260;
// A rekey derives two keys and takes longer than most lives: some lives run
// long enough for it to finish, so that kills land on both sides of its commit.
const int kLongLifePercent = 10;
const int kMaxLongLifeMs = 3000;
// Share of kills that land while the worker is still starting.
const int kEarlyKillPercent = 8;

// Products the shop has before the first booking: barcode, stock. The last
// one holds less stock than its stored purchase, as after a manual stock
// correction, so deleting that purchase must stop at zero.
struct SeedProduct
{
    const char* barcode;
    int stock;
};
const SeedProduct kSeedProducts[] = {{"6901234567892", 50}, {"0693", 0}, {"CLAMP7", 2}};
const char kSeedPurchaseGuid[] = "77";
const char kSeedPurchaseBarcode[] = "CLAMP7";
const int kSeedPurchaseQuantity = 10;

// Barcodes the worker books and sells: the seeded ones, a new one with
// letters and a new all-digit one.
const char* const kBarcodes[] = {"6901234567892", "0693", "CLAMP7", "A12B-x", "770000123"};

// The keys the worker gives the store in turn; "" is the program's own.
const char* const kKeys[] = {"", "店主的 'key' 1", "second passphrase"};

// ---- the worker ----------------------------------------------------------

// The worker's record of what it is about to do and how it ended. A line is
// handed to the kernel with one write() before the action starts, so a
// SIGKILL can cost at most the outcome line of the action in progress.
class IntentLog
{
public:
    explicit IntentLog(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT, 0600))
    {
    }
    ~IntentLog() { ::close(fd); }
    bool IsOpen() const { return fd >= 0; }
    void Write(const QByteArray& line)
    {
        const QByteArray text = line + '\n';
        const ssize_t written = ::write(fd, text.constData(), static_cast<size_t>(text.size()));
        if (written != text.size())
            qFatal("intent log write failed");
    }
    void Outcome(bool ok) { Write(ok ? "OK" : "FAIL"); }

private:
    int fd;
};

bool ShownText(const QString& text)
{
    for (const MessageBoxes::Shown& box : MessageBoxes::TakeShown()) {
        if (box.text == text)
            return true;
    }
    return false;
}

class Worker
{
public:
    Worker(Pellory& window, IntentLog& log, quint32 seed)
        : log(log), random(seed), tabs(window.Tabs()),
          stockIn(window.findChild<CTTodayPurchase*>()), sale(window.findChild<CTTodaySale*>()),
          history(window.findChild<CTTPurchaseManager*>()),
          passwordAction(window.findChild<QAction*>("passwordAction")),
          key(stockDb.HasProgramKey()          ? 0
              : stockDb.Password() == kKeys[1] ? 1
                                               : 2)
    {
    }

    void Run()
    {
        for (;;) {
            const int pick = random.bounded(100);
            if (pick < 45)
                Book();
            else if (pick < 75)
                Sell();
            else if (pick < 96)
                DeletePurchase();
            else
                ChangeKey();
        }
    }

private:
    QString AnyBarcode() { return kBarcodes[random.bounded(int(std::size(kBarcodes)))]; }

    void ShowTab(int index)
    {
        // Coming back to a tab is what refreshes it.
        if (tabs->currentIndex() == index)
            tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(index);
    }

    void Book()
    {
        ShowTab(3);
        const auto field = [this](const char* name) {
            return stockIn->findChild<QLineEdit*>(name);
        };
        const QString barcode = AnyBarcode();
        const QString quantity = QString::number(random.bounded(1, 21));
        field("le_pcid")->setText(random.bounded(2) ? QString::number(random.bounded(1000))
                                                    : QString());
        field("le_ptname")->setText("货" + barcode);
        field("le_ptbarcode")->setText(barcode);
        field("le_ptnum")->setText(quantity);
        field("le_ptoprice")->setText("1.5");
        field("le_ptrpice")->setText("2.25");
        const QString guid = field("le_pcguid")->text();

        log.Write(("B " + guid + ' ' + barcode + ' ' + quantity).toUtf8());
        stockIn->findChild<QPushButton*>("pb_addpurchase")->click();
        log.Outcome(!ShownText("进货失败，数据未保存"));
    }

    void Sell()
    {
        ShowTab(0);
        auto* input = sale->findChild<QLineEdit*>("le_barcode");
        auto* lines = sale->findChild<QTableView*>("tv_salelist")->model();
        QStringList sold;
        for (int count = random.bounded(1, 4); count > 0; --count) {
            const QString barcode = AnyBarcode();
            input->setText(barcode);
            const int before = lines->rowCount();
            QTest::keyClick(input, Qt::Key_Return);
            // A barcode that names no product yet adds no line.
            if (lines->rowCount() > before)
                sold << barcode;
            else
                input->clear();
        }
        if (sold.isEmpty())
            return;

        log.Write(("S " + sold.join(',')).toUtf8());
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        sale->findChild<QPushButton*>("pb_pay")->click();
        const bool failed = ShownText("结算失败，订单未保存");
        log.Outcome(!failed);
        if (failed)
            ClearSale();
    }

    void ClearSale()
    {
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        sale->findChild<QPushButton*>("pb_Cancel")->click();
    }

    void DeletePurchase()
    {
        ShowTab(4);
        auto* view = history->findChild<QTableView*>("tv_puchases");
        const QAbstractItemModel* rows = view->model();
        if (rows->rowCount() == 0)
            return;
        const int row = random.bounded(rows->rowCount());
        const auto cell = [rows, row](int column) {
            return rows->index(row, column).data().toString();
        };
        const QString guid = cell(8);

        log.Write(("D " + guid + ' ' + cell(4) + ' ' + cell(5)).toUtf8());
        view->scrollTo(rows->index(row, 0));
        const QPoint pos = view->visualRect(rows->index(row, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        QTimer::singleShot(0, [] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                QTest::keyClick(menu, Qt::Key_Down);
                QTest::keyClick(menu, Qt::Key_Return);
            }
        });
        QApplication::sendEvent(view->viewport(), &event);
        const bool failed = ShownText("删除失败，数据未更改");
        if (!failed && rows->rowCount() > 0 && cell(8) == guid)
            qFatal("the purchase's row was neither deleted nor reported as failed");
        log.Outcome(!failed);
    }

    void ChangeKey()
    {
        const int next = (key + 1 + random.bounded(2)) % 3;
        log.Write("K " + QByteArray::number(next));
        QTimer::singleShot(0, [this, next] {
            auto* dialog = qobject_cast<CTPasswordDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                qFatal("the passphrase dialog did not open");
            dialog->findChild<QLineEdit*>("le_oldpassword")->setText(kKeys[key]);
            for (const char* field : {"le_newpassword", "le_newpassword2"})
                dialog->findChild<QLineEdit*>(field)->setText(kKeys[next]);
            dialog->accept();
        });
        passwordAction->trigger();
        const bool done = ShownText("密码已修改");
        key = done ? next : key;
        log.Outcome(done);
    }

    IntentLog& log;
    QRandomGenerator random;
    QTabWidget* tabs;
    CTTodayPurchase* stockIn;
    CTTodaySale* sale;
    CTTPurchaseManager* history;
    QAction* passwordAction;
    int key; // into kKeys
};

int RunWorker(const QString& dir)
{
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/sqldrivers");
    appContext.appDir = dir;
    stockDb.OpenStockDb(QString());
    MessageBoxes::SetNextEntry(kKeys[1]);
    MessageBoxes::SetNextEntry(kKeys[2]);
    CTPasswordDialog::UnlockStore();
    if (!stockDb.IsOpen())
        return 3;
    IntentLog log(dir + '/' + kIntentFile);
    if (!log.IsOpen())
        return 4;
    MessageBoxes::SetTestMode(true);

    Pellory window(dir);
    BackupScheduler backups(
        dir, [] { return QDate(2030, 1, 1).addDays(qEnvironmentVariable(kWorkerDayEnv).toInt()); });
    QObject::connect(&window, &Pellory::StoreKeyChanging, &backups, &BackupScheduler::DropRunning);
    backups.Start();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 5;
    Worker worker(window, log, qEnvironmentVariable(kWorkerSeedEnv).toUInt());
    if (::write(STDOUT_FILENO, kReady, sizeof kReady - 1) < 0)
        return 6;
    worker.Run();
    return 0;
}

// ---- the checker ---------------------------------------------------------

struct Purchase
{
    QString barcode;
    qint64 quantity = 0;
    bool operator==(const Purchase& other) const
    {
        return barcode == other.barcode && quantity == other.quantity;
    }
};

// What Stock.db must hold: everything the worker reported done, plus the
// action it was in when it died if the store says that one got through.
struct Expected
{
    QMap<QString, qint64> stock;       // barcode -> product_num
    QMap<QString, Purchase> purchases; // purchase_guid -> purchase
    QList<QStringList> sales;          // barcodes of each order, oldest first
    int key = 0;                       // into kKeys
};

struct Stored
{
    QString integrity;
    QString synchronous;
    QMap<QString, qint64> stock;
    QStringList duplicateProducts;
    QMap<QString, Purchase> purchases;
    QList<QStringList> sales;
    QStringList brokenSales;
    int key = 0;
};

QStringList Column(const QString& sql)
{
    QStringList values;
    QSqlQuery query;
    query.exec(sql);
    while (query.next())
        values << query.value(0).toString();
    return values;
}

Stored ReadStore()
{
    Stored stored;
    stored.integrity = Column("PRAGMA integrity_check").join('\n');
    stored.synchronous = Column("PRAGMA synchronous").join('\n');
    {
        QSqlQuery query("SELECT product_barcode, product_num FROM products");
        while (query.next()) {
            const QString barcode = query.value(0).toString();
            if (stored.stock.contains(barcode))
                stored.duplicateProducts << barcode;
            stored.stock.insert(barcode, query.value(1).toLongLong());
        }
    }
    {
        QSqlQuery query(
            "SELECT purchase_guid, purchase_product_barcode, purchase_product_num FROM purchases");
        while (query.next())
            stored.purchases.insert(query.value(0).toString(),
                                    {query.value(1).toString(), query.value(2).toLongLong()});
    }
    QHash<QString, QStringList> lines;
    {
        QSqlQuery query("SELECT order_guid, order_product_barcode FROM orderdetail ORDER BY rowid");
        while (query.next())
            lines[query.value(0).toString()] << query.value(1).toString();
    }
    QSqlQuery query("SELECT order_guid, order_ptnum FROM orders ORDER BY order_guid");
    while (query.next()) {
        const QString guid = query.value(0).toString();
        const QStringList barcodes = lines.take(guid);
        if (barcodes.size() != query.value(1).toInt())
            stored.brokenSales << guid + " has " + QString::number(barcodes.size()) + " of " +
                                      query.value(1).toString() + " lines";
        stored.sales << barcodes;
    }
    for (auto orphan = lines.cbegin(); orphan != lines.cend(); ++orphan)
        stored.brokenSales << orphan.key() + ": lines without an order";
    return stored;
}

struct Action
{
    char kind = 0;
    QStringList fields;
};

void Apply(Expected& expected, const Action& action)
{
    switch (action.kind) {
    case 'B': {
        const Purchase purchase{action.fields[1], action.fields[2].toLongLong()};
        expected.purchases.insert(action.fields[0], purchase);
        expected.stock[purchase.barcode] += purchase.quantity;
        break;
    }
    case 'S':
        expected.sales << action.fields[0].split(',');
        break;
    case 'D': {
        const Purchase purchase = expected.purchases.take(action.fields[0]);
        qint64& stock = expected.stock[purchase.barcode];
        stock = qMax<qint64>(0, stock - purchase.quantity);
        break;
    }
    case 'K':
        expected.key = action.fields[0].toInt();
        break;
    }
}

// Whether the store shows the action that was cut short as done.
bool DoneInStore(const Action& action, const Expected& expected, const Stored& stored)
{
    switch (action.kind) {
    case 'B':
        return stored.purchases.contains(action.fields[0]);
    case 'S':
        return stored.sales.size() > expected.sales.size();
    case 'K':
        return stored.key == action.fields[0].toInt();
    default:
        return !stored.purchases.contains(action.fields[0]);
    }
}

struct Tally
{
    int kills = 0;
    int earlyKills = 0;
    int insideTransaction = 0;
    int insideBackup = 0;
    QMap<char, int> done;
    QMap<char, int> failed;
    QMap<char, int> cutAndKept;
    QMap<char, int> cutAndGone;
};

QString KindName(char kind)
{
    return kind == 'B' ? "bookings" : kind == 'S' ? "sales" : kind == 'D' ? "deletions" : "rekeys";
}
} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT
private slots:
    void killedWorkerLosesNothing();

private:
    void Seed(TempStore& store);
    // Outcome lines the worker wrote since the last kill; a line cut in half
    // is dropped from the file, so its action counts as never started.
    QList<QByteArray> TakeNewLines(const QString& path);
    void CheckAfterKill(const QString& path, const QString& context);
    void CheckBackups(const QString& context);

    Expected expected;
    Tally tally;
    qint64 consumed = 0;
    QStringList checkedBackups;
};

void TestCrashSafety::Seed(TempStore& store)
{
    store.Exec("insert into providers(provider_guid,provider_name) values (501,'东方供应')");
    store.Exec("insert into providers(provider_guid,provider_name) values (502,'北站批发')");
    int guid = 1001;
    for (const SeedProduct& product : kSeedProducts) {
        store.Exec(QString("insert into products(product_guid,product_name,product_barcode,"
                           "product_num,product_provider_guid,product_original_price,"
                           "product_retail_price) values (%1,'货%2','%2','%3',501,'1.5','2.25')")
                       .arg(guid++)
                       .arg(product.barcode)
                       .arg(product.stock));
        expected.stock.insert(product.barcode, product.stock);
    }
    store.Exec(QString("insert into purchases(purchase_guid,purchase_time,purchase_id,"
                       "purchase_product_name,purchase_product_barcode,purchase_product_num,"
                       "purchase_provider_guid,purchase_product_oprice,purchase_product_rprice) "
                       "values (%1,'2021-01-07 10:00:00','9','货%2','%2','%3',501,1.5,2.25)")
                   .arg(kSeedPurchaseGuid, kSeedPurchaseBarcode)
                   .arg(kSeedPurchaseQuantity));
    expected.purchases.insert(kSeedPurchaseGuid, {kSeedPurchaseBarcode, kSeedPurchaseQuantity});
}

void TestCrashSafety::CheckBackups(const QString& context)
{
    const QDir folder(appContext.appDir + "/backup");
    const QStringList parts = folder.entryList({"*.part"}, QDir::Files);
    QVERIFY2(parts.size() <= 1, qPrintable(context + ": half-made backups " + parts.join(' ')));
    tally.insideBackup += parts.size();
    for (const QString& name : folder.entryList({"Stock-*.db"}, QDir::Files)) {
        if (checkedBackups.contains(name))
            continue;
        checkedBackups << name;
        QString verdict;
        // A backup has the key the store had when it was copied.
        for (int key = 0; key < 3 && verdict != "ok"; ++key) {
            QSqlDatabase copy = QSqlDatabase::addDatabase("SQLITECIPHER", "backup");
            copy.setDatabaseName(folder.filePath(name));
            copy.setPassword(key ? kKeys[key] : "19970408maple");
            copy.setConnectOptions("QSQLITE_USE_CIPHER=chacha20");
            if (copy.open()) {
                QSqlQuery check(copy);
                verdict = check.exec("PRAGMA quick_check") && check.next()
                              ? check.value(0).toString()
                              : check.lastError().text();
            } else {
                verdict = copy.lastError().text();
            }
        }
        QSqlDatabase::removeDatabase("backup");
        QVERIFY2(verdict == "ok", qPrintable(context + ": " + name + ": " + verdict));
    }
}

QList<QByteArray> TestCrashSafety::TakeNewLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return {};
    file.seek(consumed);
    const QByteArray fresh = file.readAll();
    const int complete = fresh.lastIndexOf('\n') + 1;
    consumed += complete;
    file.resize(consumed);
    QList<QByteArray> lines = fresh.left(complete).split('\n');
    lines.removeLast();
    return lines;
}

void TestCrashSafety::CheckAfterKill(const QString& path, const QString& context)
{
    // A journal left behind means the kill hit a write transaction between
    // its first change and its commit: the case all of this is about.
    for (const char* journal : {"/Stock.db-journal", "/Stock.db-wal"}) {
        if (QFileInfo(appContext.appDir + journal).size() > 0)
            ++tally.insideTransaction;
    }
    CheckBackups(context);
    if (QTest::currentTestFailed())
        return;
    // The key it should have first; which one it has is checked below.
    const auto opens = [](int key) {
        stockDb.OpenStockDb(QString());
        return key == 0 ? stockDb.IsOpen() : stockDb.OpenWithPassphrase(kKeys[key]);
    };
    int key = expected.key;
    for (int other = 1; !opens(key) && other < 3; ++other)
        key = (expected.key + other) % 3;
    QVERIFY2(stockDb.IsOpen(),
             qPrintable(context + ": opens with no key: " + stockDb.OpenErrorText()));
    Stored stored = ReadStore();
    stored.key = key;
    stockDb.CloseStockDb();

    QCOMPARE(stored.integrity, QString("ok"));
    // SQLite's own default; nothing of ours may weaken it.
    QCOMPARE(stored.synchronous, QString("2"));

    Action pending;
    for (const QByteArray& line : TakeNewLines(path)) {
        if (line == "OK" || line == "FAIL") {
            QVERIFY2(pending.kind, qPrintable(context + ": outcome without an action"));
            if (line == "OK") {
                Apply(expected, pending);
                ++tally.done[pending.kind];
            } else {
                ++tally.failed[pending.kind];
            }
            pending = Action();
            continue;
        }
        QVERIFY2(!pending.kind, qPrintable(context + ": action without an outcome: " + line));
        const QStringList parts = QString::fromUtf8(line).split(' ');
        pending.kind = parts.first().at(0).toLatin1();
        pending.fields = parts.mid(1);
    }
    if (pending.kind) {
        const bool kept = DoneInStore(pending, expected, stored);
        if (kept)
            Apply(expected, pending);
        ++(kept ? tally.cutAndKept : tally.cutAndGone)[pending.kind];
    }

    const QString where = pending.kind
                              ? QString("%1, cut short: %2 %3")
                                    .arg(context, QChar(pending.kind), pending.fields.join(' '))
                              : context;
    QVERIFY2(stored.duplicateProducts.isEmpty(),
             qPrintable(where + ": two products for " + stored.duplicateProducts.join(',')));
    QVERIFY2(stored.key == expected.key,
             qPrintable(where + ": the store has key " + QString::number(key) + ", expected " +
                        QString::number(expected.key)));
    QVERIFY2(stored.brokenSales.isEmpty(),
             qPrintable(where + ": " + stored.brokenSales.join("; ")));
    QVERIFY2(stored.purchases == expected.purchases,
             qPrintable(where + ": purchases differ, stored " +
                        QString::number(stored.purchases.size()) + ", expected " +
                        QString::number(expected.purchases.size())));
    for (auto product = expected.stock.cbegin(); product != expected.stock.cend(); ++product) {
        QVERIFY2(stored.stock.contains(product.key()),
                 qPrintable(where + ": product " + product.key() + " missing"));
        QVERIFY2(stored.stock.value(product.key()) == product.value(),
                 qPrintable(where + ": stock of " + product.key() + " is " +
                            QString::number(stored.stock.value(product.key())) + ", expected " +
                            QString::number(product.value())));
    }
    QCOMPARE(stored.stock.size(), expected.stock.size());
    QVERIFY2(stored.sales == expected.sales,
             qPrintable(where + ": orders differ, stored " + QString::number(stored.sales.size()) +
                        ", expected " + QString::number(expected.sales.size())));
}

void TestCrashSafety::killedWorkerLosesNothing()
{
    const quint32 seed = qEnvironmentVariableIsSet(kTestSeedEnv)
                             ? qEnvironmentVariable(kTestSeedEnv).toUInt()
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (set %s to repeat)", seed, kTestSeedEnv);
    QRandomGenerator random(seed);

    TempStore store;
    QVERIFY(store.IsOpen());
    Seed(store);
    stockDb.CloseStockDb();
    const QString intents = store.Dir() + '/' + kIntentFile;
    const QString workerErrors = store.Dir() + "/worker-errors.txt";
    const auto ended = [&workerErrors](int life, const QProcess& worker) {
        QFile errors(workerErrors);
        errors.open(QIODevice::ReadOnly);
        return QString("worker of life %1 ended by itself, exit code %2:\n%3")
            .arg(life)
            .arg(worker.exitCode())
            .arg(QString::fromUtf8(errors.readAll().right(2000)));
    };

    QElapsedTimer clock;
    clock.start();
    for (int life = 1; life <= kKills; ++life) {
        QProcess worker;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kWorkerDirEnv, store.Dir());
        environment.insert(kWorkerSeedEnv, QString::number(random.generate()));
        environment.insert(kWorkerDayEnv, QString::number(life));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        worker.setProcessEnvironment(environment);
        // The store's start-up chatter of hundreds of workers would bury the
        // result; the last worker's output is kept for when it misbehaves.
        worker.setStandardErrorFile(workerErrors);
        worker.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY2(worker.waitForStarted(), qPrintable(worker.errorString()));

        const bool early = random.bounded(100) < kEarlyKillPercent;
        if (early) {
            QThread::msleep(random.bounded(300));
            ++tally.earlyKills;
        } else {
            while (!worker.readAllStandardOutput().contains("READY")) {
                QVERIFY2(worker.state() == QProcess::Running, qPrintable(ended(life, worker)));
                worker.waitForReadyRead(50);
            }
            QThread::msleep(random.bounded(random.bounded(100) < kLongLifePercent ? kMaxLongLifeMs
                                                                                  : kMaxLifeMs));
        }
        QVERIFY2(worker.state() == QProcess::Running, qPrintable(ended(life, worker)));
        worker.kill();
        QVERIFY(worker.waitForFinished());
        QCOMPARE(worker.exitStatus(), QProcess::CrashExit);
        ++tally.kills;

        CheckAfterKill(intents, QString("after kill %1 (seed %2)").arg(life).arg(seed));
        if (QTest::currentTestFailed())
            return;
    }

    QString summary = QString("%1 kills (%2 while starting, %3 inside a write transaction, %4 "
                              "inside a backup) in %5 s; store matched every time; %6 backups "
                              "checked sound.")
                          .arg(tally.kills)
                          .arg(tally.earlyKills)
                          .arg(tally.insideTransaction)
                          .arg(tally.insideBackup)
                          .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                          .arg(checkedBackups.size());
    for (char kind : {'B', 'S', 'D', 'K'})
        summary += QString(" %1: %2 done, %3 reported failed, cut short %4 kept / %5 gone.")
                       .arg(KindName(kind))
                       .arg(tally.done.value(kind))
                       .arg(tally.failed.value(kind))
                       .arg(tally.cutAndKept.value(kind))
                       .arg(tally.cutAndGone.value(kind));
    qInfo("%s", qPrintable(summary));
    // Each kind must really have been cut short on both sides of its commit,
    // or the run proved less than it claims.
    QVERIFY2(tally.insideTransaction > 0, "no kill landed inside a write transaction");
    QVERIFY2(tally.insideBackup > 0 && !checkedBackups.isEmpty(),
             "kills never landed inside a backup, or no backup was ever made");
    for (char kind : {'B', 'S', 'D', 'K'})
        QVERIFY2(tally.cutAndKept.value(kind) + tally.cutAndGone.value(kind) > 0,
                 qPrintable("no kill landed inside any of the " + KindName(kind)));
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Every reopen of the store logs the driver list; hundreds of them would
    // bury the result.
    QLoggingCategory::setFilterRules("default.debug=false");
    const QString workerDir = qEnvironmentVariable(kWorkerDirEnv);
    if (!workerDir.isEmpty())
        return RunWorker(workerDir);
    TestCrashSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashsafety.moc"

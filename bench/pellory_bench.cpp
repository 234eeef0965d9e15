// Times every counter action of the program on data sets of five and ten
// years of a busy shop, encrypted against plain, the counter's main actions
// on a PostgreSQL server over the loopback, two tills booking at once, and
// the real program's start-up, memory and idle CPU. Prints one table.
//
//   pellory_bench <data folder> [part of an action's name | --only server]
//
// --only server: just the server's rows (and the five-year file figures of
// the same actions beside them).
//
// With a name given, only the screen actions whose names contain it run.
// The data sets are made once in the data folder and copied for every run,
// so runs never see each other's writes. Start-up, memory and CPU need an X
// display (run it under xvfb-run); the screens themselves draw offscreen.

#include "DataSet.h"
#include "Measure.h"
#include "ProgramProbe.h"
#include "app/AppContext.h"
#include "app/Pellory.h"
#include "receipt/PrinterRoute.h"
#include "receipt/ReceiptBytes.h"
#include "screens/MessageBoxes.h"
#include "store/RecordId.h"
#include "store/ServerBackup.h"
#include "store/StockBackup.h"
#include "store/StockDb.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <unistd.h>

namespace {

const int kRepetitions = 40;
// Encrypted and plain take turns this many times, so that whatever else the
// machine is doing weighs on both alike.
const int kRounds = 4;
const int kStartRepetitions = 30;
const int kIdleSeconds = 60;
const int kSaleLines = 20;
// An export of a year takes seconds: fewer runs.
const int kExportRepetitions = 5;
const char kYearExport[] = "export a year's order lines";
// Bump when the recipes change, so cached data sets are made again.
const char kDataVersion[] = "pellory-bench-data 3";

const char kFiveYears[] = "five-years";
const char kTenYears[] = "ten-years";
const char kCatalogue[] = "products-100k";
// The five-year store as the build before the lookup indexes left it.
const char kEarlierBuild[] = "five-years/earlier-build";
// A ten-year action may take this much longer than the five-year one.
const double kGrowthLimit = 1.10;
// Two tills book this many times each, at once, among this many products.
const int kTillBookings = 400;
const int kContendedProducts = 20;
// The catalogue's stocks are spread evenly over 0 to 500: about 1,000 of its
// 100,000 products are at or below this.
const int kLowStockLevel = 4;

enum Tab
{
    Checkout,
    Orders,
    Stock,
    StockIn,
    Purchases,
    Providers,
    Statistics,
    TabCount
};

QTextStream& Progress()
{
    static QTextStream err(stderr);
    err.setCodec("UTF-8");
    return err;
}

void DropDebugMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QString CipherName(Cipher cipher)
{
    return cipher == Cipher::Encrypted ? QStringLiteral("encrypted") : QStringLiteral("plain");
}

// The shop's server: a PostgreSQL 15 of the benchmark's own, started by the
// tests' script, reached over the loopback as a shop's server is over the
// network, its commits flushed to disk as on a real server.
class Server
{
public:
    Server() : port(20000 + int(getpid() % 20000))
    {
        started = QProcess::execute(PG_SERVER_SCRIPT,
                                    {QStringLiteral("start"), folder.path(),
                                     QStringLiteral("-p %1 -c listen_addresses=127.0.0.1 "
                                                    "-c fsync=on")
                                         .arg(port)}) == 0;
    }
    ~Server() { QProcess::execute(PG_SERVER_SCRIPT, {QStringLiteral("stop"), folder.path()}); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Started() const { return started; }
    QString Connection() const
    {
        return QStringLiteral("host=127.0.0.1 port=%1 dbname=postgres user=postgres").arg(port);
    }

private:
    QTemporaryDir folder;
    int port;
    bool started = false;
};

// The shop's server, once it holds the five-year history; empty: not timed.
QString& ServerConnection()
{
    static QString connection;
    return connection;
}

// The catalogue in a database of its own on the same server; empty: not there.
QString& CatalogueConnection()
{
    static QString connection;
    return connection;
}

// The program's store on the server, as a till with [store] engine=postgresql.
bool OpenServerStore(const QString& connection = ServerConnection())
{
    appContext.storeEngine = QStringLiteral("postgresql");
    appContext.storeConnection = connection;
    stockDb.OpenStockDb(QString());
    appContext.storeEngine.clear();
    return stockDb.IsOpen() && stockDb.OpenErrorText().isEmpty();
}

QString StoreFolder(const QString& root, const QString& set, Cipher cipher)
{
    return root + QLatin1Char('/') + set + QLatin1Char('/') + CipherName(cipher);
}

bool CopyFile(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to);
}

// Makes a data set in both forms unless a complete one of this version exists.
// The history is written the way a build before the lookup indexes wrote it;
// the program's own table set-up then adds them, as on a shop's first start
// after the update.
bool EnsureDataSet(const QString& root, const QString& set, const Recipe& recipe)
{
    QFile marker(root + QLatin1Char('/') + set + QStringLiteral("/complete"));
    if (marker.open(QIODevice::ReadOnly) && marker.readAll() == kDataVersion)
        return true;
    marker.close();
    QDir(root + QLatin1Char('/') + set).removeRecursively();
    for (Cipher cipher : {Cipher::Encrypted, Cipher::Plain}) {
        const QString folder = StoreFolder(root, set, cipher);
        Progress() << "making " << set << " (" << CipherName(cipher) << ") ..." << Qt::endl;
        QDir().mkpath(folder);
        bool made = false;
        const bool keepEarlier = set == QLatin1String(kFiveYears) && cipher == Cipher::Encrypted;
        const double ms = ElapsedMs([&] {
            made = OpenStore(folder, cipher) && DropIndexes() && FillStore(recipe) &&
                   (!keepEarlier || CopyFile(folder + QStringLiteral("/Stock.db"),
                                             StoreFolder(root, kEarlierBuild, cipher) +
                                                 QStringLiteral("/Stock.db"))) &&
                   stockDb.CreateTables();
        });
        if (!made) {
            Progress() << "could not make " << folder << ": " << stockDb.LastStatement()
                       << Qt::endl;
            return false;
        }
        Progress() << "  done in " << qRound(ms / 1000) << " s" << Qt::endl;
    }
    return marker.open(QIODevice::WriteOnly) && marker.write(kDataVersion) > 0;
}

// Fresh copies of the cached data sets for this run.
bool CopyForRun(const QString& root, const QString& run, const QVector<const char*>& sets)
{
    for (const char* set : sets) {
        for (Cipher cipher : {Cipher::Encrypted, Cipher::Plain}) {
            if (!CopyFile(StoreFolder(root, set, cipher) + QStringLiteral("/Stock.db"),
                          StoreFolder(run, set, cipher) + QStringLiteral("/Stock.db")))
                return false;
        }
    }
    return true;
}

QStringList Column(const QString& sql)
{
    QStringList values;
    QSqlQuery query(sql);
    while (query.next())
        values << query.value(0).toString();
    return values;
}

// What the actions search for, taken from one history and the catalogue.
struct Picks
{
    QStringList barcodes;
    QStringList catalogueBarcodes;
    QStringList bills;
    QList<QDate> purchaseDays;
    QDate busiestDay;
    int busiestDayOrders = 0;
    QDate busiestMonth;
    int busiestMonthOrders = 0;
    // The last whole year of the history.
    int year = 0;
    int yearOrders = 0;
    int yearLines = 0;
    QString summary;
};

bool ReadPicks(const QString& run, const char* set, Picks& picks)
{
    if (!OpenStore(StoreFolder(run, kCatalogue, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    picks.catalogueBarcodes = Column("SELECT product_barcode FROM products");
    if (!OpenStore(StoreFolder(run, set, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    picks.barcodes = Column("SELECT product_barcode FROM products");
    picks.bills = Column("SELECT DISTINCT purchase_id FROM purchases");
    for (const QString& day : Column("SELECT DISTINCT substr(purchase_time, 1, 10) FROM purchases"))
        picks.purchaseDays << QDate::fromString(day, Qt::ISODate);
    QSqlQuery busiest("SELECT substr(order_time, 1, 10) AS day, count(*) AS n FROM orders "
                      "GROUP BY day ORDER BY n DESC LIMIT 1");
    if (busiest.next()) {
        picks.busiestDay = QDate::fromString(busiest.value(0).toString(), Qt::ISODate);
        picks.busiestDayOrders = busiest.value(1).toInt();
    }
    QSqlQuery month("SELECT substr(order_time, 1, 7) AS month, count(*) AS n FROM orders "
                    "GROUP BY month ORDER BY n DESC LIMIT 1");
    if (month.next()) {
        picks.busiestMonth =
            QDate::fromString(month.value(0).toString(), QStringLiteral("yyyy-MM"));
        picks.busiestMonthOrders = month.value(1).toInt();
    }
    picks.year = Column("SELECT max(order_time) FROM orders").value(0).left(4).toInt() - 1;
    const QString year = QString::number(picks.year);
    const QString yearRange =
        QStringLiteral("'%1-01-01 00:00:00' AND '%1-12-31 23:59:59'").arg(year);
    picks.yearOrders = Column("SELECT count(*) FROM orders WHERE order_time BETWEEN " + yearRange)
                           .value(0)
                           .toInt();
    picks.yearLines = Column("SELECT count(*) FROM orders o JOIN orderdetail d ON "
                             "d.order_guid = o.order_guid WHERE o.order_time BETWEEN " +
                             yearRange)
                          .value(0)
                          .toInt();
    QStringList counts;
    for (const char* table : {"providers", "products", "purchases", "orders", "orderdetail"})
        counts << Column(QStringLiteral("SELECT count(*) FROM ") + table).value(0) + ' ' + table;
    picks.summary = counts.join(QStringLiteral(", ")) +
                    QStringLiteral("; orders from %1 to %2, busiest day %3 with %4 orders")
                        .arg(Column("SELECT min(order_time) FROM orders").value(0).left(10),
                             Column("SELECT max(order_time) FROM orders").value(0).left(10),
                             picks.busiestDay.toString(Qt::ISODate))
                        .arg(picks.busiestDayOrders) +
                    QStringLiteral("; busiest month %1 with %2 orders; %3 with %4 orders, %5 lines")
                        .arg(picks.busiestMonth.toString(QStringLiteral("yyyy-MM")))
                        .arg(picks.busiestMonthOrders)
                        .arg(picks.year)
                        .arg(picks.yearOrders)
                        .arg(picks.yearLines);
    return !picks.barcodes.isEmpty() && !picks.catalogueBarcodes.isEmpty() &&
           !picks.bills.isEmpty() && picks.busiestDay.isValid() && picks.busiestMonth.isValid() &&
           picks.yearOrders > 0;
}

template <typename W> W* Find(QWidget* page, const char* name)
{
    W* widget = page->findChild<W*>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

int Rows(QTableView* view)
{
    return view->model()->rowCount();
}

QString Cell(QTableView* view, int row, int column)
{
    return view->model()->index(row, column).data().toString();
}

// A left click on the calendar's cell of its selected day, like a user's.
void ClickSelectedDay(QCalendarWidget* calendar)
{
    auto* days = Find<QTableView>(calendar, "qt_calendar_calendarview");
    const QModelIndex cell = days->selectionModel()->currentIndex();
    QTest::mouseClick(days->viewport(), Qt::LeftButton, Qt::NoModifier,
                      days->visualRect(cell).center());
}

struct TimedAction
{
    QString name;
    double limitMs;
    const char* set;
    Action action;
    // Above 0: timed on the server too, with the five-year history, against
    // this target (a round trip to the server is in every action there).
    double serverLimitMs = 0;
};

// The counter's actions on the real main window and its screens.
class Counter
{
public:
    Counter(Pellory& window, const Picks& picks, const char* set)
        : tabs(window.Tabs()), picks(picks), set(set)
    {
    }

    // The barcodes, bills and days picked from here on follow from the seed.
    void Reseed(unsigned seed) { random.seed(seed); }

    QVector<TimedAction> Actions()
    {
        QWidget* checkout = tabs->widget(Checkout);
        QWidget* stockIn = tabs->widget(StockIn);
        QWidget* purchases = tabs->widget(Purchases);
        auto* purchaseList = Find<QTableView>(purchases, "tv_puchases");
        auto* purchaseBarcode = Find<QLineEdit>(purchases, "le_barcode");
        auto* purchaseBill = Find<QLineEdit>(purchases, "le_pid");
        auto* purchaseCalendar = Find<QCalendarWidget>(purchases, "calendarWidget");
        auto* stockInList = Find<QTableView>(stockIn, "tv_purchase");
        auto* orderList = Find<QTableView>(tabs->widget(Orders), "tv_orderlist");
        auto* orderCalendar = Find<QCalendarWidget>(tabs->widget(Orders), "calendarWidget");
        auto* stockList = Find<QTableView>(tabs->widget(Stock), "tv_ptstock");
        barcode = Find<QLineEdit>(checkout, "le_barcode");
        sale = Find<QTableView>(checkout, "tv_salelist");
        cancel = Find<QPushButton>(checkout, "pb_Cancel");
        auto* pay = Find<QPushButton>(checkout, "pb_pay");
        QWidget* statistics = tabs->widget(Statistics);
        periodKind = Find<QComboBox>(statistics, "cb_period");
        period = Find<QDateEdit>(statistics, "de_period");
        periodOrders = Find<QLabel>(statistics, "lb_orders");

        return {
            {"scan, 5,000 products", 1, set, Scan(picks.barcodes), 16},
            {"scan, 100,000 products", 1, kCatalogue, Scan(picks.catalogueBarcodes)},
            {QStringLiteral("pay a %1-line sale").arg(kSaleLines), 50, set, Pay(pay, false), 50},
            {QStringLiteral("pay a %1-line sale, sales take stock out").arg(kSaleLines), 50, set,
             Pay(pay, true), 50},
            {"book goods in (stock-in)",
             50,
             set,
             {[=] {
                  ShowTab(StockIn);
                  Find<QLineEdit>(stockIn, "le_pcid")->setText(QStringLiteral("2099010101"));
                  Find<QLineEdit>(stockIn, "le_ptname")->setText(QStringLiteral("进货测试"));
                  Find<QLineEdit>(stockIn, "le_ptbarcode")->setText(Any(picks.barcodes));
                  Find<QLineEdit>(stockIn, "le_ptnum")->setText(QStringLiteral("24"));
                  Find<QLineEdit>(stockIn, "le_ptoprice")->setText(QStringLiteral("3.50"));
                  Find<QLineEdit>(stockIn, "le_ptrpice")->setText(QStringLiteral("5.00"));
                  rowsBefore = Rows(stockInList);
              },
              [=] {
                  QTest::mouseClick(Find<QPushButton>(stockIn, "pb_addpurchase"), Qt::LeftButton);
              },
              [=] { return Rows(stockInList) == rowsBefore + 1; }}},
            {QStringLiteral("order history, busiest day (%1 orders)").arg(picks.busiestDayOrders),
             16,
             set,
             {[=] {
                  // Only a click on the calendar reloads, so this day waits for the tab.
                  orderCalendar->setSelectedDate(picks.busiestDay);
                  ShowTab(Checkout);
              },
              [=] { tabs->setCurrentIndex(Orders); },
              [=] { return Rows(orderList) == picks.busiestDayOrders; }},
             16},
            {QStringLiteral("statistics, busiest month (%1 orders)").arg(picks.busiestMonthOrders),
             100, set, ShowStatistics(0, picks.busiestMonth, picks.busiestMonthOrders)},
            {QStringLiteral("statistics, a year (%1 orders)").arg(picks.yearOrders), 300, set,
             ShowStatistics(1, QDate(picks.year, 1, 1), picks.yearOrders)},
            {"stock list refresh", 50, set, SwitchTo(Stock, stockList, 100)},
            {"purchase history refresh", 50, set, SwitchTo(Purchases, purchaseList, 100)},
            {"purchase search by barcode",
             5,
             set,
             {[=] {
                  ShowTab(Purchases);
                  wanted = Any(picks.barcodes);
                  purchaseBarcode->setText(wanted);
              },
              [=] { QTest::keyClick(purchaseBarcode, Qt::Key_Return); },
              [=] { return FirstRowShowsWanted(purchaseList, 4); }}},
            {"purchase search by bill number",
             5,
             set,
             {[=] {
                  ShowTab(Purchases);
                  wanted = Any(picks.bills);
                  purchaseBill->setText(wanted);
              },
              [=] { QTest::mouseClick(Find<QPushButton>(purchases, "pb_query"), Qt::LeftButton); },
              [=] { return FirstRowShowsWanted(purchaseList, 2); }}},
            {"purchase search by day",
             5,
             set,
             {[=] {
                  ShowTab(Purchases);
                  const QDate day = picks.purchaseDays[Index(picks.purchaseDays.size())];
                  purchaseCalendar->setSelectedDate(day);
                  wanted = day.toString(Qt::ISODate);
              },
              [=] { ClickSelectedDay(purchaseCalendar); },
              [=] { return FirstRowShowsWanted(purchaseList, 0); }}},
            // Last: the stock list is left showing low stock alone.
            {"stock list, only low stock, 100,000 products (about 1,000 low)",
             50,
             kCatalogue,
             {[=] {
                  ShowTab(Checkout);
                  stockDb.SetLowStockLevel(kLowStockLevel);
                  Find<QCheckBox>(tabs->widget(Stock), "ck_lowstockonly")->setChecked(true);
              },
              [=] { tabs->setCurrentIndex(Stock); }, [=] { return Rows(stockList) == 100; }},
             50},
        };
    }

private:
    int Index(int size) { return std::uniform_int_distribution<int>(0, size - 1)(random); }
    QString Any(const QStringList& values) { return values[Index(values.size())]; }

    void ShowTab(int tab)
    {
        if (tabs->currentIndex() != tab)
            tabs->setCurrentIndex(tab);
        SettleEvents();
    }

    // A search shows what was asked for (a day: the times start with it).
    bool FirstRowShowsWanted(QTableView* view, int column) const
    {
        return Rows(view) > 0 && Cell(view, 0, column).startsWith(wanted);
    }

    void ScanNow(const QString& code)
    {
        barcode->setText(code);
        QTest::keyClick(barcode, Qt::Key_Return);
    }

    void ClearSale()
    {
        if (Rows(sale) == 0)
            return;
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(cancel, Qt::LeftButton);
    }

    // A whole sale paid, with or without the shop's choice that sales take
    // stock out.
    Action Pay(QPushButton* pay, bool reduceStock)
    {
        return {[=] {
                    ShowTab(Checkout);
                    ClearSale();
                    stockDb.SetSalesReduceStock(reduceStock);
                    for (int line = 0; line < kSaleLines; ++line)
                        ScanNow(Any(picks.barcodes));
                    MessageBoxes::SetNextAnswer(QMessageBox::Yes);
                },
                [=] { QTest::mouseClick(pay, Qt::LeftButton); }, [=] { return Rows(sale) == 0; }};
    }

    // Return in the barcode field; a sale is rung up again after some lines.
    Action Scan(const QStringList& codes)
    {
        return {[=] {
                    ShowTab(Checkout);
                    if (Rows(sale) >= kSaleLines)
                        ClearSale();
                    rowsBefore = Rows(sale);
                    barcode->setText(Any(codes));
                },
                [=] { QTest::keyClick(barcode, Qt::Key_Return); },
                [=] { return Rows(sale) == rowsBefore + 1; }};
    }

    // The statistics tab becomes current, coming from the checkout, with a
    // month (kind 0) or year (1) chosen that holds `orders` orders.
    Action ShowStatistics(int kind, const QDate& date, int orders)
    {
        return {[=] {
                    ShowTab(Checkout);
                    // Each change reads the period at once. Chosen before
                    // every showing: a tab shown without a period picked
                    // since it was last shown follows today.
                    if (periodKind->currentIndex() != kind)
                        periodKind->setCurrentIndex(kind);
                    if (period->date() == date)
                        period->setDate(date.addDays(1));
                    period->setDate(date);
                    periodOrders->clear();
                },
                [=] { tabs->setCurrentIndex(Statistics); },
                [=] { return periodOrders->text() == QString::number(orders); }};
    }

    // The tab becomes current, coming from the checkout.
    Action SwitchTo(int tab, QTableView* view, int rows)
    {
        return {[=] { ShowTab(Checkout); }, [=] { tabs->setCurrentIndex(tab); },
                [=] { return Rows(view) == rows; }};
    }

    QTabWidget* tabs;
    const Picks& picks;
    const char* set;
    std::mt19937 random;
    QLineEdit* barcode = nullptr;
    QTableView* sale = nullptr;
    QPushButton* cancel = nullptr;
    QComboBox* periodKind = nullptr;
    QDateEdit* period = nullptr;
    QLabel* periodOrders = nullptr;
    int rowsBefore = 0;
    QString wanted;
};

// One line of the table: a timed action, encrypted against plain or on the
// encrypted store alone, or a single reading of the running program.
struct Row
{
    enum Kind
    {
        Compared,
        EncryptedOnly,
        Reading
    };
    Row(const QString& action, double limit, const QString& unit, Kind kind = Compared)
        : action(action), limit(limit), unit(unit), kind(kind)
    {
    }

    QString action;
    double limit;
    QString unit;
    Kind kind;
    Figures encrypted;
    Figures plain;
    // The same action on the server; a Reading of the server is kept here.
    Figures server;
    // The server's target where it is not the file's.
    double serverLimit = -1;
    // The same action's encrypted p95 on the five-year history; 0: none.
    double fiveYearP95 = 0.0;
};

// A history the screens are timed on.
struct History
{
    const char* set;
    QString label;
    Picks picks;
};

// Every screen action on every history, in rounds of encrypted then plain,
// each on a fresh open of its store: the first run of the first round reads
// the file. The histories take turns within a round, so that whatever else
// the machine is doing weighs on all alike; all get the same picks in a round.
bool TimeScreens(const QString& run, const QVector<History>& histories, const QString& only,
                 bool serverOnly, QVector<Row>& rows)
{
    if (!OpenStore(StoreFolder(run, histories[0].set, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    Pellory window(run);
    window.resize(1280, 800);
    window.show();
    SettleEvents();
    std::vector<std::unique_ptr<Counter>> counters;
    QVector<QVector<TimedAction>> actions;
    for (const History& history : histories) {
        counters.push_back(std::make_unique<Counter>(window, history.picks, history.set));
        actions << counters.back()->Actions();
    }
    for (int a = 0; a < actions[0].size(); ++a) {
        if (!actions[0][a].name.contains(only) || (serverOnly && !actions[0][a].serverLimitMs))
            continue;
        Progress() << "timing " << actions[0][a].name << Qt::endl;
        // One row per history; the catalogue is the same for all of them.
        QVector<Row> sized;
        QVector<int> historyOf;
        for (int h = 0; h < histories.size(); ++h) {
            const TimedAction& timed = actions[h][a];
            if (h > 0 && timed.set == kCatalogue)
                continue;
            const QString name = timed.set == kCatalogue
                                     ? timed.name
                                     : timed.name + QStringLiteral(", ") + histories[h].label;
            sized << Row(name, timed.limitMs, QStringLiteral("ms"));
            sized.last().serverLimit = timed.serverLimitMs;
            historyOf << h;
        }
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < sized.size(); ++i) {
                const TimedAction& timed = actions[historyOf[i]][a];
                for (Cipher cipher : {Cipher::Encrypted, Cipher::Plain}) {
                    counters[historyOf[i]]->Reseed(1009 + round);
                    Figures& figures =
                        cipher == Cipher::Encrypted ? sized[i].encrypted : sized[i].plain;
                    if (!OpenStore(StoreFolder(run, timed.set, cipher), cipher) ||
                        !Measure(timed.action, kRepetitions / kRounds, figures)) {
                        Progress() << "  failed (" << sized[i].action << ", " << CipherName(cipher)
                                   << "): " << stockDb.LastStatement() << Qt::endl;
                        return false;
                    }
                }
                // The server holds the five-year history, and the catalogue apart.
                if (timed.serverLimitMs > 0 && historyOf[i] == 0 && !ServerConnection().isEmpty()) {
                    counters[0]->Reseed(1009 + round);
                    if (!OpenServerStore(timed.set == kCatalogue ? CatalogueConnection()
                                                                 : ServerConnection()) ||
                        !Measure(timed.action, kRepetitions / kRounds, sized[i].server)) {
                        Progress() << "  failed (" << sized[i].action
                                   << ", server): " << stockDb.OpenErrorText()
                                   << stockDb.LastStatement() << Qt::endl;
                        return false;
                    }
                }
            }
        }
        for (int i = 1; i < sized.size(); ++i)
            sized[i].fiveYearP95 = sized[0].encrypted.P95();
        rows << sized;
    }
    return true;
}

// The 5,000-product scan on the five-year store while backups of that store
// run beside it, one after the other, as the program's backup thread runs.
bool TimeScanDuringBackup(const QString& run, const Picks& picks, QVector<Row>& rows)
{
    if (!OpenStore(StoreFolder(run, kFiveYears, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    Pellory window(run);
    window.resize(1280, 800);
    window.show();
    SettleEvents();
    Counter counter(window, picks, kFiveYears);
    counter.Reseed(1009);
    const TimedAction scan = counter.Actions().front();
    const QString folder = run + QStringLiteral("/backups-during-scan");
    StockBackup backup(stockDb.FilePath(), stockDb.Password(), folder);
    std::unique_ptr<QThread> copier(QThread::create([&] {
        for (QDate day(2000, 1, 1); backup.Make(day).outcome == StockBackup::Outcome::Made;
             day = day.addDays(1))
            QFile::remove(folder + QLatin1Char('/') + StockBackup::FileName(day));
    }));
    copier->start();
    // Past the key derivation, into the copying.
    QTest::qWait(500);
    Progress() << "timing " << scan.name << " during a backup" << Qt::endl;
    // The copy takes a core of its own: a frame's time, not the idle counter's.
    Row row(scan.name + QStringLiteral(", during a backup"), 16, QStringLiteral("ms"),
            Row::EncryptedOnly);
    const bool measured = Measure(scan.action, kRepetitions, row.encrypted);
    const bool copying = copier->isRunning();
    backup.Cancel();
    copier->wait();
    if (!measured || !copying) {
        Progress() << "  failed: " << (measured ? "the backup stopped" : "a scan failed")
                   << Qt::endl;
        return false;
    }
    rows << row;
    return true;
}

// The five-year store backed up while the counter pays a sale every 100 ms,
// as the day's copy runs in a busy shop: how long the copy takes with sales
// going on, and how long each sale takes with the copy going on.
bool TimeBackupDuringSales(const QString& run, QVector<Row>& rows)
{
    if (!OpenStore(StoreFolder(run, kFiveYears, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    Progress() << "backing up the five-year database while selling" << Qt::endl;
    // A run earlier today left its copy there, and a copy is made once a day.
    const QString folder = run + QStringLiteral("/backups-during-sales");
    QDir(folder).removeRecursively();
    StockBackup backup(stockDb.FilePath(), stockDb.Password(), folder);
    StockBackup::Result result;
    Row copy("back up the five-year database while a sale is paid every 100 ms", 30, "s",
             Row::Reading);
    std::unique_ptr<QThread> copier(QThread::create([&] {
        copy.encrypted.runs << ElapsedMs([&] { result = backup.Make(QDate::currentDate()); }) /
                                   1000;
    }));
    copier->start();
    Row sales("pay a 3-line sale every 100 ms during a backup, five years", 50, "ms",
              Row::EncryptedOnly);
    bool paid = true;
    while (paid && !copier->isFinished()) {
        const QString order = QString::fromLatin1(NewRecordIdText());
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        // Stored as the checkout stores it: the lines and the order together.
        const double ms = ElapsedMs([&] {
            StockDb::Transaction transaction(stockDb);
            paid = transaction.isActive();
            for (int line = 0; line < 3 && paid; ++line)
                paid = stockDb.InsertOrderDetail(
                    {order, now, "7.5", "bench", "1", "6900000000001", "1", "2.5", "2.5"});
            paid = paid && stockDb.InsertOrder({order, now, "7.5", "3"}) && transaction.commit();
        });
        sales.encrypted.runs << ms;
        QThread::msleep(std::max(0, 100 - int(ms)));
    }
    copier->wait();
    if (!paid || result.outcome != StockBackup::Outcome::Made || sales.encrypted.runs.size() < 2) {
        Progress() << "  failed: " << (paid ? result.reason : "a sale was refused") << Qt::endl;
        return false;
    }
    Progress() << "  " << sales.encrypted.runs.size() << " sales, the longest "
               << *std::max_element(sales.encrypted.runs.begin(), sales.encrypted.runs.end())
               << " ms" << Qt::endl;
    sales.encrypted.first = sales.encrypted.runs.takeFirst();
    rows << copy << sales;
    return true;
}

// A receipt of a sale's lines built, and such a sale paid on the five-year
// store with the till's printer on the loopback: one that reads every job,
// and one that takes the connection and never reads. The receipt goes out on
// a thread of its own, so paying keeps its target with either.
bool TimeReceipts(const QString& run, const Picks& picks, QVector<Row>& rows)
{
    Receipt receipt{QStringLiteral("销售小票"), QString(), "2026-12-09 10:30:00",
                    "1234567890123456789",      {},        0};
    for (int line = 0; line < kSaleLines; ++line)
        receipt.lines.append(
            {QStringLiteral("农夫山泉天然矿泉水 Nongfu Spring 550ml"), 2, 200, 400});
    Row build(QStringLiteral("build a %1-line receipt").arg(kSaleLines), 50, "ms",
              Row::EncryptedOnly);
    Progress() << "timing " << build.action << Qt::endl;
    QByteArray job;
    if (!Measure({[&] { job.clear(); },
                  [&] { job = ReceiptBytes(receipt, PrinterSettings(), true); },
                  [&] { return !job.isEmpty(); }},
                 kRepetitions, build.encrypted))
        return false;
    rows << build;

    for (const bool reads : {true, false}) {
        QTcpServer printer;
        if (!printer.listen(QHostAddress::LocalHost, 0))
            return false;
        // The system still takes the connection and the job's bytes.
        if (!reads)
            printer.pauseAccepting();
        int printed = 0;
        QObject::connect(&printer, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = printer.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [socket] { socket->readAll(); });
                QObject::connect(socket, &QTcpSocket::disconnected, [&printed, socket] {
                    ++printed;
                    socket->deleteLater();
                });
            }
        });
        PrinterSettings settings;
        settings.connection = QStringLiteral("tcp://127.0.0.1:%1").arg(printer.serverPort());
        if (!SavePrinterSettings(run, settings) ||
            !OpenStore(StoreFolder(run, kFiveYears, Cipher::Encrypted), Cipher::Encrypted))
            return false;
        Row pay(QStringLiteral("pay a %1-line sale, receipt to a printer %2, five years")
                    .arg(kSaleLines)
                    .arg(reads ? "on a loopback listener" : "that never reads"),
                50, "ms", Row::EncryptedOnly);
        Progress() << "timing " << pay.action << Qt::endl;
        Pellory window(run);
        window.resize(1280, 800);
        window.show();
        SettleEvents();
        Counter counter(window, picks, kFiveYears);
        counter.Reseed(1009);
        for (const TimedAction& timed : counter.Actions()) {
            if (timed.name == QStringLiteral("pay a %1-line sale").arg(kSaleLines) &&
                !Measure(timed.action, kRepetitions, pay.encrypted))
                return false;
        }
        QDeadlineTimer printing(kPrinterJobMs);
        while (reads && printed <= kRepetitions && !printing.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (reads && printed != kRepetitions + 1) {
            Progress() << "  the printer got " << printed << " receipts of " << kRepetitions + 1
                       << Qt::endl;
            return false;
        }
        rows << pay;
    }
    // The rows after these start the program with no printer.
    return SavePrinterSettings(run, PrinterSettings());
}

// A year's order lines of the ten-year history out to a CSV file, as the
// statistics tab writes them.
bool TimeYearExport(const QString& run, const Picks& picks, QVector<Row>& rows)
{
    if (!OpenStore(StoreFolder(run, kTenYears, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    Pellory window(run);
    window.resize(1280, 800);
    window.show();
    window.Tabs()->setCurrentIndex(Statistics);
    SettleEvents();
    QWidget* statistics = window.Tabs()->widget(Statistics);
    Find<QComboBox>(statistics, "cb_period")->setCurrentIndex(1);
    Find<QDateEdit>(statistics, "de_period")->setDate(QDate(picks.year, 1, 1));
    auto* button = Find<QPushButton>(statistics, "pb_exportorders");
    const QString path = run + QStringLiteral("/order-lines-of-a-year.csv");
    const QString told = QStringLiteral("导出成功\n共 %1 行").arg(picks.yearLines);
    Row row(QStringLiteral("%1 (%2 lines), ten years")
                .arg(kYearExport, QLocale(QLocale::English).toString(picks.yearLines)),
            3000, QStringLiteral("ms"), Row::EncryptedOnly);
    Progress() << "timing " << row.action << Qt::endl;
    const Action exportYear{[&] {
                                MessageBoxes::TakeShown();
                                MessageBoxes::SetNextFileName(path);
                            },
                            [&] { QTest::mouseClick(button, Qt::LeftButton); },
                            [&] {
                                const auto shown = MessageBoxes::TakeShown();
                                return !shown.isEmpty() && shown.last().text == told;
                            }};
    if (!Measure(exportYear, kExportRepetitions, row.encrypted)) {
        Progress() << "  failed: " << stockDb.LastStatement() << Qt::endl;
        return false;
    }
    rows << row;
    return true;
}

// Today's backup in the program's folder, as the first start of the day makes
// it: seconds, or -1 when it failed. Later starts of the day find it there.
double BackUpToday(const QString& program)
{
    const QString folder = QFileInfo(program).absolutePath();
    StockBackup backup(folder + QStringLiteral("/Stock.db"), stockDb.Password(),
                       folder + QStringLiteral("/backup"));
    StockBackup::Result result;
    const double ms = ElapsedMs([&] { result = backup.Make(QDate::currentDate()); });
    if (result.outcome != StockBackup::Outcome::Made)
        Progress() << "  backup failed: " << result.reason << Qt::endl;
    return result.outcome == StockBackup::Outcome::Made ? ms / 1000 : -1;
}

// Giving the five-year store a passphrase rewrites every page of it, on a
// copy of its own so that no other row meets the passphrase.
bool TimeRekey(const QString& root, const QString& run, QVector<Row>& rows)
{
    Progress() << "giving the five-year database a passphrase" << Qt::endl;
    appContext.appDir = run + QStringLiteral("/rekey");
    bool changed =
        CopyFile(StoreFolder(root, kFiveYears, Cipher::Encrypted) + QStringLiteral("/Stock.db"),
                 appContext.appDir + QStringLiteral("/Stock.db"));
    stockDb.OpenStockDb(QString());
    Row rekey{"set a passphrase on the five-year database", 30, "s", Row::Reading};
    rekey.encrypted.runs << ElapsedMs([&] {
                                changed =
                                    changed &&
                                    stockDb.ChangeKey(QStringLiteral("the shop's own passphrase"));
                            }) / 1000;
    stockDb.CloseStockDb();
    rows << rekey;
    return changed;
}

// A folder with a copy of the program, its driver and a Stock.db: the
// program keeps its data beside itself.
QString ProgramFolder(const QString& run, const QString& name, const QString& database)
{
    const QString bin = QCoreApplication::applicationDirPath();
    const QString folder = run + QStringLiteral("/program-") + name;
    // Fresh each run: a backup or store left by an earlier run of the same
    // day would spare the program work it does at a real first start.
    QDir(folder).removeRecursively();
    const bool copied =
        CopyFile(bin + QStringLiteral("/pellory"), folder + QStringLiteral("/pellory")) &&
        QFile::setPermissions(folder + QStringLiteral("/pellory"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
        CopyFile(bin + QStringLiteral("/sqldrivers/libqsqlcipher.so"),
                 folder + QStringLiteral("/sqldrivers/libqsqlcipher.so"));
    // No database given: an empty store made the way the program makes it.
    const bool stored = database.isEmpty()
                            ? OpenStore(folder, Cipher::Encrypted)
                            : CopyFile(database, folder + QStringLiteral("/Stock.db"));
    return copied && stored ? folder + QStringLiteral("/pellory") : QString();
}

// A data set's encrypted store onto the server the way a shop moves it: the
// real program's --copy-to-server, in a folder of its own beside that
// Stock.db. Milliseconds it took; below 0: it failed.
double CopyToServer(const QString& root, const QString& run, const char* set,
                    const QString& connection)
{
    const QString program =
        ProgramFolder(run, QStringLiteral("copy-to-server-") + set,
                      StoreFolder(root, set, Cipher::Encrypted) + QStringLiteral("/Stock.db"));
    if (program.isEmpty())
        return -1;
    {
        QSettings settings(QFileInfo(program).absolutePath() + QStringLiteral("/plconfig.ini"),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("store/engine"), QStringLiteral("postgresql"));
        settings.setValue(QStringLiteral("store/connection"), connection);
    }
    QProcess copy;
    copy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double ms = ElapsedMs([&] {
        copy.start(program, {QStringLiteral("--copy-to-server")});
        copy.waitForFinished(-1);
    });
    if (copy.exitStatus() != QProcess::NormalExit || copy.exitCode() != 0) {
        Progress() << QString::fromUtf8(copy.readAllStandardOutput()) << Qt::endl;
        return -1;
    }
    return ms;
}

// The five-year history onto the server the way a shop moves it: the real
// program's --copy-to-server, in a folder of its own beside that Stock.db.
bool LoadServer(const QString& root, const QString& run, const Server& server, QVector<Row>& rows)
{
    if (!server.Started()) {
        Progress() << "the server did not start (tests/pg_server.sh)" << Qt::endl;
        return false;
    }
    Progress() << "copying the five-year history to the server" << Qt::endl;
    const double ms = CopyToServer(root, run, kFiveYears, server.Connection());
    if (ms < 0)
        return false;
    Row row{"copy the five-year history to the server (--copy-to-server)", 120, "s", Row::Reading};
    row.server.runs << ms / 1000;
    rows << row;
    ServerConnection() = server.Connection();
    // The catalogue goes into a database of its own beside the history.
    Progress() << "copying the catalogue to the server" << Qt::endl;
    const QString catalogue = server.Connection().replace(QStringLiteral("dbname=postgres"),
                                                          QStringLiteral("dbname=catalogue"));
    if (!OpenServerStore() || !QSqlQuery().exec(QStringLiteral("CREATE DATABASE catalogue")) ||
        CopyToServer(root, run, kCatalogue, catalogue) < 0)
        return false;
    CatalogueConnection() = catalogue;
    // The server's own work on the rows just copied (vacuuming them, their
    // statistics, writing them out) done before anything is timed, as it is
    // long before a shop's first sale after the move: left to the server, it
    // ran beside the first timed rows.
    Progress() << "settling the server after the copies" << Qt::endl;
    for (const QString& database : {ServerConnection(), catalogue}) {
        if (!OpenServerStore(database) || !QSqlQuery().exec(QStringLiteral("VACUUM ANALYZE")) ||
            !QSqlQuery().exec(QStringLiteral("CHECKPOINT")))
            return false;
    }
    return true;
}

// Stock of the contended products on the server: units, and product rows.
QPair<qint64, int> StockOf(const QStringList& barcodes)
{
    QSqlQuery query(QStringLiteral("SELECT sum(product_num), count(*) FROM products WHERE "
                                   "product_barcode IN ('%1')")
                        .arg(barcodes.join(QStringLiteral("','"))));
    return query.next() ? qMakePair(query.value(0).toLongLong(), query.value(1).toInt())
                        : qMakePair(qint64(-1), -1);
}

// Two tills book goods in at the same moment, on the same few products:
// bookings per second, and units the stock lost.
bool TimeTwoTills(const Picks& picks, QVector<Row>& rows)
{
    Progress() << "two tills booking at once" << Qt::endl;
    if (!OpenServerStore())
        return false;
    const QStringList barcodes = picks.barcodes.mid(0, kContendedProducts);
    const QPair<qint64, int> before = StockOf(barcodes);
    std::atomic<qint64> booked{0};
    std::atomic<int> bookings{0};
    std::atomic<int> failed{0};
    QSemaphore ready;
    QSemaphore go;
    appContext.storeEngine = QStringLiteral("postgresql");
    std::vector<std::unique_ptr<QThread>> tills;
    for (int till = 0; till < 2; ++till) {
        tills.emplace_back(QThread::create([&, till] {
            StockDb store(QStringLiteral("bench-till-%1").arg(till));
            store.OpenStockDb(QString());
            std::mt19937 random(1009 + till);
            ready.release();
            go.acquire();
            for (int i = 0; i < kTillBookings; ++i) {
                PurchaseInfo purchase;
                purchase.purchase_time =
                    QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                // Far above any identifier the program makes today.
                purchase.purchase_guid =
                    QString::number(8000000000000000000LL + till * 1000000LL + i);
                purchase.purchase_id = QStringLiteral("2099010101");
                purchase.purchase_product_name = QStringLiteral("进货测试");
                purchase.purchase_product_barcode = barcodes[int(random() % barcodes.size())];
                purchase.purchase_product_num = QString::number(1 + random() % 5);
                purchase.purchase_product_oprice = QStringLiteral("3.50");
                purchase.purchase_product_rprice = QStringLiteral("5.00");
                if (store.BookPurchase(purchase, purchase.purchase_guid)) {
                    booked += purchase.purchase_product_num.toLongLong();
                    ++bookings;
                } else {
                    ++failed;
                }
            }
            store.CloseStockDb();
        }));
        tills.back()->start();
    }
    ready.acquire(2);
    const double ms = ElapsedMs([&] {
        go.release(2);
        for (auto& till : tills)
            till->wait();
    });
    appContext.storeEngine.clear();
    const QPair<qint64, int> after = StockOf(barcodes);
    if (failed > 0 || before.second != barcodes.size() || after.second != barcodes.size()) {
        Progress() << "  " << failed << " bookings failed; product rows " << before.second
                   << " before, " << after.second << " after" << Qt::endl;
        return false;
    }
    Row perSecond{QStringLiteral("two tills booking at once, %1 bookings on %2 products")
                      .arg(2 * kTillBookings)
                      .arg(kContendedProducts),
                  -40, QStringLiteral("bookings/s"), Row::Reading};
    perSecond.server.runs << bookings * 1000.0 / ms;
    Row lost{"two tills booking at once, units lost", 0, "units", Row::Reading};
    lost.server.runs << double(booked - (after.first - before.first));
    rows << perSecond << lost;
    return true;
}

// The server's daily backup into an encrypted Stock.db, as a till makes it.
bool TimeServerBackup(const QString& run, QVector<Row>& rows)
{
    Progress() << "backing up the server" << Qt::endl;
    if (!OpenServerStore())
        return false;
    const QString folder = run + QStringLiteral("/server-backup");
    QDir(folder).removeRecursively();
    ServerBackup backup(QLatin1String(QSqlDatabase::defaultConnection), StockDb::FilePassword(),
                        folder);
    StockBackup::Result result;
    const double ms = ElapsedMs([&] { result = backup.Make(QDate::currentDate()); });
    if (result.outcome != StockBackup::Outcome::Made) {
        Progress() << "  backup failed: " << result.reason << Qt::endl;
        return false;
    }
    Row row{"back up the five-year server into an encrypted file", 30, "s", Row::Reading};
    row.server.runs << ms / 1000;
    rows << row;
    return true;
}

bool TimeStartUp(ProgramProbe& probe, const QString& program, Figures& figures)
{
    for (int i = 0; i <= kStartRepetitions; ++i) {
        const double ms = probe.Start(program);
        probe.Stop();
        if (ms < 0)
            return false;
        if (i == 0)
            figures.first = ms;
        else
            figures.runs.append(ms);
    }
    return true;
}

// The real program on the untouched data sets, on the five-year store of the
// earlier build (its first start builds the indexes) and on an empty one.
bool ProbeProgram(const QString& root, const QString& run, QVector<Row>& rows)
{
    ProgramProbe probe;
    if (!probe.HasDisplay()) {
        Progress() << "no X display: start-up, memory and CPU need one (use xvfb-run)" << Qt::endl;
        return false;
    }
    const auto stored = [&](const char* set) {
        return StoreFolder(root, set, Cipher::Encrypted) + QStringLiteral("/Stock.db");
    };
    const QString fiveYears = ProgramFolder(run, kFiveYears, stored(kFiveYears));
    const QString tenYears = ProgramFolder(run, kTenYears, stored(kTenYears));
    const QString earlier =
        ProgramFolder(run, QStringLiteral("earlier-build"), stored(kEarlierBuild));
    const QString empty = ProgramFolder(run, QStringLiteral("empty"), QString());
    stockDb.CloseStockDb();
    if (fiveYears.isEmpty() || tenYears.isEmpty() || earlier.isEmpty() || empty.isEmpty())
        return false;

    Progress() << "backing up the five-year database" << Qt::endl;
    Row backup{"back up the five-year database", 30, "s", Row::Reading};
    backup.encrypted.runs << BackUpToday(fiveYears);
    // The first start of a day makes that day's backup after the window is
    // shown; with today's backup already there, no start is timed with a
    // copy running behind it.
    if (backup.encrypted.runs.first() < 0 || BackUpToday(tenYears) < 0 ||
        BackUpToday(earlier) < 0 || BackUpToday(empty) < 0)
        return false;
    rows << backup;

    Row withFive{"start-up to main window, five-year database", 300, "ms", Row::EncryptedOnly};
    Row withTen{"start-up to main window, ten-year database", 300, "ms", Row::EncryptedOnly};
    Row withEarlier{"start-up to main window, five-year database of the earlier build (first: "
                    "the one-time index build)",
                    300, "ms", Row::EncryptedOnly};
    Row withoutData{"start-up to main window, empty database", 300, "ms", Row::EncryptedOnly};
    Progress() << "timing start-up" << Qt::endl;
    if (!TimeStartUp(probe, fiveYears, withFive.encrypted) ||
        !TimeStartUp(probe, tenYears, withTen.encrypted) ||
        !TimeStartUp(probe, earlier, withEarlier.encrypted) ||
        !TimeStartUp(probe, empty, withoutData.encrypted))
        return false;
    rows << withFive << withTen << withEarlier << withoutData;

    Progress() << "visiting every tab" << Qt::endl;
    for (const auto& [program, label] :
         {std::make_pair(fiveYears, "five-year"), std::make_pair(tenYears, "ten-year")}) {
        if (probe.Start(program) < 0 || !probe.VisitTabs(TabCount))
            return false;
        Row memory{
            QStringLiteral("peak resident memory, every tab visited, %1 database").arg(label), 150,
            "MB", Row::Reading};
        memory.encrypted.runs << probe.PeakRssMb();
        rows << memory;
        if (program == tenYears) {
            Progress() << kIdleSeconds << " s idle" << Qt::endl;
            Row idle{QStringLiteral("CPU over %1 idle seconds").arg(kIdleSeconds), 0.3,
                     "% of a core", Row::Reading};
            idle.encrypted.runs << probe.CpuPercentOver(kIdleSeconds);
            rows << idle;
        }
        probe.Stop();
    }
    return true;
}

QString Number(double value)
{
    return QString::number(value, 'f', value < 10 ? 2 : 1);
}

// Ctrl+End in a list until it shows all `records`, timing each appended page
// together with its layout and painting.
bool TimePages(QTableView* view, int records, Figures& figures)
{
    // The first press only makes a cell current.
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    SettleEvents();
    const bool first = figures.runs.isEmpty();
    while (Rows(view) < records) {
        const int before = Rows(view);
        const double ms = ElapsedMs([view] {
            QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
            SettleEvents();
        });
        if (Rows(view) == before)
            return false;
        if (first && before == 100)
            figures.first = ms;
        else
            figures.runs.append(ms);
    }
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    SettleEvents();
    return Rows(view) == records;
}

// The stock list and the purchase history, each scrolled to its end in a
// fresh main window, encrypted then plain; the resident memory is read once
// the encrypted lists hold everything.
bool TimeScrolling(const QString& run, QVector<Row>& rows)
{
    const struct
    {
        int tab;
        const char* list;
        const char* table;
        const char* what;
    } lists[] = {{Stock, "tv_ptstock", "products", "stock list"},
                 {Purchases, "tv_puchases", "purchases", "purchase history"}};
    if (!OpenStore(StoreFolder(run, kFiveYears, Cipher::Encrypted), Cipher::Encrypted))
        return false;
    QVector<Row> pages;
    QVector<Row> memory;
    QVector<int> records;
    for (const auto& list : lists) {
        records << Column(QStringLiteral("SELECT count(*) FROM ") + list.table).value(0).toInt();
        pages << Row(QStringLiteral("%1 scrolled to its end (%2 %3), per appended page")
                         .arg(list.what)
                         .arg(QLocale(QLocale::English).toString(records.last()))
                         .arg(list.table),
                     16, QStringLiteral("ms"));
        memory << Row(QStringLiteral("resident memory, %1 scrolled to its end").arg(list.what), 150,
                      QStringLiteral("MB"), Row::Reading);
    }
    for (Cipher cipher : {Cipher::Encrypted, Cipher::Plain}) {
        if (!OpenStore(StoreFolder(run, kFiveYears, cipher), cipher))
            return false;
        Pellory window(run);
        window.resize(1280, 800);
        window.show();
        SettleEvents();
        const double before = StatusMb(QStringLiteral("self"), "VmRSS");
        for (int i = 0; i < 2; ++i) {
            Progress() << "scrolling the " << lists[i].what << " (" << CipherName(cipher) << ")"
                       << Qt::endl;
            window.Tabs()->setCurrentIndex(lists[i].tab);
            SettleEvents();
            auto* view = Find<QTableView>(window.Tabs()->widget(lists[i].tab), lists[i].list);
            Row& row = pages[i];
            if (!TimePages(view, records[i],
                           cipher == Cipher::Encrypted ? row.encrypted : row.plain))
                return false;
            if (cipher == Cipher::Encrypted) {
                const double now = StatusMb(QStringLiteral("self"), "VmRSS");
                memory[i].encrypted.runs << now;
                Progress() << "  resident " << Number(now) << " MB, " << Number(now - before)
                           << " MB more than before scrolling" << Qt::endl;
            }
        }
    }
    rows << pages << memory;
    return true;
}

// The cells of a row after its name: target, the encrypted median, p95 and
// first run, the same plain, the ratio and whether the targets are met.
QStringList Cells(const Row& row)
{
    const QString none = QStringLiteral("–");
    const auto figures = [](const Figures& f) {
        return QStringList{Number(f.Median()), Number(f.P95()), Number(f.first)};
    };
    if (row.kind == Row::Reading) {
        // A reading of the server goes in the server's column, a negative
        // limit is a floor.
        const bool onServer = !row.server.runs.isEmpty();
        const double value = (onServer ? row.server : row.encrypted).runs.value(0);
        const bool met = row.limit < 0 ? value >= -row.limit : value <= row.limit;
        const QString cell = Number(value) + ' ' + row.unit;
        QStringList cells{row.limit < 0 ? QStringLiteral("≥ %1 %2").arg(-row.limit).arg(row.unit)
                                        : QStringLiteral("≤ %1 %2").arg(row.limit).arg(row.unit),
                          onServer ? none : cell};
        cells << none << none << none << none << none << (onServer ? cell : none) << none << none
              << none << (met ? "yes" : "no");
        return cells;
    }
    QStringList missed;
    if (row.encrypted.P95() > row.limit)
        missed << QStringLiteral("p95");
    QStringList server{none, none, none};
    if (!row.server.runs.isEmpty()) {
        server = figures(row.server);
        if (row.server.P95() > (row.serverLimit < 0 ? row.limit : row.serverLimit))
            missed << QStringLiteral("server p95");
    }
    if (row.fiveYearP95 > 0 && row.encrypted.P95() > kGrowthLimit * row.fiveYearP95)
        missed << QStringLiteral("growth");
    QString ratio = none;
    QStringList plain{none, none, none};
    if (row.kind == Row::Compared) {
        const double encryptedToPlain = row.encrypted.Median() / row.plain.Median();
        if (encryptedToPlain > 1.25)
            missed << QStringLiteral("ratio");
        ratio = Number(encryptedToPlain);
        plain = figures(row.plain);
    }
    QString target = QStringLiteral("p95 ≤ %1 ms").arg(row.limit);
    if (row.serverLimit > 0 && row.serverLimit != row.limit)
        target += QStringLiteral(" (server ≤ %1 ms)").arg(row.serverLimit);
    return QStringList{target} + figures(row.encrypted) + plain + server
           << ratio
           << (missed.isEmpty() ? QStringLiteral("yes")
                                : QStringLiteral("no (%1)").arg(missed.join(", ")));
}

void PrintTable(const QVector<Row>& rows, const QVector<History>& histories)
{
    QTextStream out(stdout);
    out.setCodec("UTF-8");
    out << "Pellory benchmark, " << QDate::currentDate().toString(Qt::ISODate) << ", "
        << QThread::idealThreadCount() << " cores; " << kRepetitions
        << " runs per action, start-up " << kStartRepetitions << " runs\n"
        << "Data, five years: " << histories[0].picks.summary << "\n";
    if (histories.size() > 1)
        out << "Data, ten years: " << histories[1].picks.summary << "\n";
    out << "\n"
        << "| action | target | encrypted median | encrypted p95 | encrypted first | plain median "
           "| plain p95 | plain first | server median | server p95 | server first | encrypted / "
           "plain | met |\n"
        << "|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|\n";
    for (const Row& row : rows)
        out << "| " << row.action << " | " << Cells(row).join(QStringLiteral(" | ")) << " |\n";
    out << QStringLiteral("\nTimes in ms. first: the first run after the store was opened "
                          "(nothing of the file read yet; the file itself is in the OS cache). "
                          "encrypted / plain: ratio of the medians, target ≤ 1.25. growth: the "
                          "ten-year p95 more than 10 % above the five-year one. server: the "
                          "program on a PostgreSQL 15 server over the loopback (127.0.0.1, "
                          "commits flushed to disk), holding the five-year history.\n");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DropDebugMessages);
    QApplication app(argc, argv);
    const bool serverOnly =
        argc == 4 && qstrcmp(argv[2], "--only") == 0 && qstrcmp(argv[3], "server") == 0;
    if (argc != 2 && argc != 3 && !serverOnly) {
        std::fprintf(
            stderr,
            "usage: pellory_bench <data folder> [part of an action's name | --only server]\n");
        return 2;
    }
    // Only the screen actions whose names contain it, when given.
    const QString only = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() +
                                     QStringLiteral("/sqldrivers"));
    MessageBoxes::SetTestMode(true);

    const QString root = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString run = root + QStringLiteral("/run");
    Recipe fiveYears;
    fiveYears.lastDay = QDate::currentDate();
    // The same shop kept five years longer: as busy, twice the history. The
    // years go on after the five-year set, as record identifiers cannot go
    // back before the program's epoch.
    Recipe tenYears = fiveYears;
    tenYears.years = 10;
    tenYears.lastDay = fiveYears.lastDay.addYears(5);
    tenYears.purchases = 50000;
    tenYears.orders = 730000;
    tenYears.orderLines = 2200000;
    Recipe catalogue = fiveYears;
    catalogue.products = 100000;
    catalogue.purchases = catalogue.orders = catalogue.orderLines = 0;

    QVector<History> histories{{kFiveYears, QStringLiteral("five years"), {}}};
    if (!serverOnly)
        histories.append({kTenYears, QStringLiteral("ten years"), {}});
    const QVector<const char*> sets = serverOnly
                                          ? QVector<const char*>{kFiveYears, kCatalogue}
                                          : QVector<const char*>{kFiveYears, kTenYears, kCatalogue};
    QVector<Row> rows;
    bool ok = EnsureDataSet(root, kFiveYears, fiveYears) &&
              (serverOnly || EnsureDataSet(root, kTenYears, tenYears)) &&
              EnsureDataSet(root, kCatalogue, catalogue) && CopyForRun(root, run, sets);
    for (History& history : histories)
        ok = ok && ReadPicks(run, history.set, history.picks);
    const bool all = only.isEmpty() && !serverOnly;
    Server server;
    ok = ok && (!(all || serverOnly) || LoadServer(root, run, server, rows)) &&
         (serverOnly || !QStringLiteral("list scrolled to its end").contains(only) ||
          TimeScrolling(run, rows)) &&
         TimeScreens(run, histories, only, serverOnly, rows) &&
         (serverOnly || !QString::fromLatin1(kYearExport).contains(only) ||
          TimeYearExport(run, histories.back().picks, rows)) &&
         (serverOnly || !QStringLiteral("receipt").contains(only) ||
          TimeReceipts(run, histories.front().picks, rows)) &&
         (!(all || serverOnly) ||
          (TimeTwoTills(histories.front().picks, rows) && TimeServerBackup(run, rows))) &&
         (!all || (TimeScanDuringBackup(run, histories.front().picks, rows) &&
                   TimeBackupDuringSales(run, rows) && ProbeProgram(root, run, rows) &&
                   TimeRekey(root, run, rows)));
    // The program's connection goes before the server does.
    stockDb.CloseStockDb();
    if (!ok) {
        Progress() << "benchmark failed" << Qt::endl;
        return 1;
    }
    PrintTable(rows, histories);
    return 0;
}

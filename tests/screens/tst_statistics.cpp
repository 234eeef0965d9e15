#include "screens/CTStatistics.h"
#include "screens/CsvExport.h"
#include "screens/MessageBoxes.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGraphicsTextItem>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>
#include <QtTest>
#include <cmath>

using Rows = QList<QStringList>;
using Bars = QMap<int, QString>;

namespace {
const QString kHostile = QStringLiteral("茶, \"特级\"\n第二行");

// One order paid at `paid`; lines "barcode|name|quantity|price|subtotal",
// each scanned five seconds before the payment.
bool Sell(const QString& guid, const QString& paid, const QStringList& lines)
{
    const QDateTime paidAt = QDateTime::fromString(paid, "yyyy-MM-dd HH:mm:ss");
    const QString scanned = paidAt.addSecs(-5).toString("yyyy-MM-dd HH:mm:ss");
    qint64 cents = 0;
    for (const QString& line : lines)
        cents += CentsOf(line.section('|', 4).toDouble());
    bool ok = true;
    for (const QString& line : lines) {
        const QStringList f = line.split('|');
        ok = ok && stockDb.InsertOrderDetail(
                       {guid, scanned, CentsText(cents), f[1], "7", f[0], f[2], f[3], f[4]});
    }
    return ok && stockDb.InsertOrder({guid, paid, CentsText(cents), QString::number(lines.size())});
}

// Each row's cells joined by '|'.
QStringList RowTexts(const QAbstractItemModel* model)
{
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells << model->index(row, column).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

// The file as Python's csv module reads it.
Rows ReadWithPython(const QString& path)
{
    QProcess python;
    python.start("python3", {"-c",
                             "import csv, json, sys\n"
                             "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                             "    print(json.dumps(list(csv.reader(f))))",
                             path});
    python.waitForFinished();
    Rows rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        rows << row.toVariant().toStringList();
    return rows;
}
} // namespace

class TestStatistics : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempStore> store;
    std::unique_ptr<QTabWidget> host;
    CTStatistics* screen = nullptr;

    template <class T> T* Widget(const char* name) { return FindChild<T>(screen, name); }

    void ChoosePeriod(int kind, const QDate& date)
    {
        Widget<QComboBox>("cb_period")->setCurrentIndex(kind);
        Widget<QDateEdit>("de_period")->setDate(date);
    }

    QStringList Figures()
    {
        QStringList texts;
        for (const char* name :
             {"lb_turnover", "lb_orders", "lb_average", "lb_items", "lb_stockvalue"})
            texts << Widget<QLabel>(name)->text();
        return texts;
    }

private slots:
    void init()
    {
        MessageBoxes::SetTestMode(true);
        store = std::make_unique<TempStore>();
        QVERIFY(store->IsOpen());
        screen = new CTStatistics;
        host = ShowAsTab(screen);
        // The main window's smallest size for reading every label.
        host->resize(1280, 660);
    }

    void cleanup()
    {
        host.reset();
        store.reset();
        CsvExport::SetProgressDelay(1000);
        MessageBoxes::SetTestMode(false);
    }

    void periodIsTheSumOfItsDays_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("figures");
        QTest::addColumn<Bars>("bars");
        QTest::addColumn<QStringList>("top");
        QTest::newRow("month, first and last second")
            << 0 << QStringList{"1234569.09", "3", "411523.03", "10", "0.70"}
            << Bars{{1, "0.30"}, {15, "0.90"}, {30, "1234567.89"}}
            << QStringList{"酒|692|1|1234567.89", "水|691|4|0.40", "盐|698|1|0.30", "糖|699|2|0.30",
                           "绿茶|690|2|0.20"};
        QTest::newRow("year, by month")
            << 1 << QStringList{"1234678.09", "5", "246935.62", "12", "0.70"}
            << Bars{{10, "10.00"}, {11, "1234569.09"}, {12, "99.00"}}
            << QStringList{"酒|692|1|1234567.89", "红茶|690|4|109.20", "水|691|4|0.40",
                           "盐|698|1|0.30", "糖|699|2|0.30"};
    }

    void periodIsTheSumOfItsDays()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, figures);
        QFETCH(Bars, bars);
        QFETCH(QStringList, top);
        QVERIFY(Sell("1", "2026-10-31 23:59:59", {"690|茶|1|10|10"}));
        QVERIFY(Sell("2", "2026-11-01 00:00:00", {"690|绿茶|2|0.1|0.2", "691|水|1|0.1|0.1"}));
        // 0.1 + 0.2 is a little more than 0.3 in doubles: a tie all the same.
        QVERIFY(
            Sell("3", "2026-11-15 12:00:00",
                 {"691|水|3|0.1|0.3", "699|糖|1|0.1|0.1", "699|糖|1|0.2|0.2", "698|盐|1|0.3|0.3"}));
        QVERIFY(Sell("4", "2026-11-30 23:59:59", {"692|酒|1|1234567.89|1234567.89"}));
        QVERIFY(Sell("5", "2026-12-01 00:00:00", {"690|红茶|1|99|99"}));
        QVERIFY(stockDb.InsertProduct("8", "水", "691", "7", "7", "0.1", "0.2"));

        ChoosePeriod(kind, QDate(2026, 11, 20));
        QCOMPARE(Figures(), figures);
        QCOMPARE(RowTexts(Widget<QTableView>("tv_topproducts")->model()), top);

        // Every bar is what the order history lists for its days, and all
        // days together give the figures.
        const auto* chartView = Widget<QChartView>("chartperiod");
        auto* series = qobject_cast<QBarSeries*>(chartView->chart()->series().value(0));
        QBarSet* shown = series->barSets().value(0);
        const QDate first(2026, kind == 0 ? 11 : 1, 1);
        const QDate last = kind == 0 ? QDate(2026, 11, 30) : QDate(2026, 12, 31);
        QCOMPARE(shown->count(), kind == 0 ? 30 : 12);
        QMap<int, qint64> listed;
        qint64 orders = 0, items = 0;
        for (QDate day = first; day <= last; day = day.addDays(1)) {
            for (const OrderInfo& order : stockDb.QueryOrdersOfDay(day))
                listed[kind == 0 ? day.day() : day.month()] +=
                    CentsOf(order.order_total.toDouble());
            const PeriodSales sales = stockDb.QuerySales(day, day, 20);
            orders += sales.days.isEmpty() ? 0 : sales.days[0].orders;
            items += sales.items;
        }
        qint64 turnover = 0;
        for (int bar = 1; bar <= shown->count(); ++bar) {
            QCOMPARE(CentsText(CentsOf(shown->at(bar - 1))), CentsText(listed.value(bar)));
            QCOMPARE(CentsText(listed.value(bar)), bars.value(bar, "0.00"));
            turnover += listed.value(bar);
        }
        QCOMPARE(
            (QStringList{CentsText(turnover), QString::number(orders), QString::number(items)}),
            (QStringList{figures[0], figures[1], figures[3]}));

        // Round ticks above the highest bar, every label in full.
        const int highest = kind == 0 ? 29 : 10;
        auto* amounts = qobject_cast<QValueAxis*>(chartView->chart()->axes(Qt::Vertical).value(0));
        const double step = (amounts->max() - amounts->min()) / (amounts->tickCount() - 1);
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
        QVERIFY2(amounts->min() == 0 && QList<double>({1, 2, 5}).contains(mantissa) &&
                     amounts->max() >= shown->at(highest),
                 qPrintable(QString::number(step)));
        auto* periods =
            qobject_cast<QBarCategoryAxis*>(chartView->chart()->axes(Qt::Horizontal)[0]);
        QStringList labels = periods->categories();
        for (int tick = 0; tick < amounts->tickCount(); ++tick)
            labels << QString::number(qint64(tick * step));
        const auto notDrawn = [&] {
            QStringList missing = labels;
            for (QGraphicsItem* item : chartView->scene()->items())
                if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
                    missing.removeAll(text->toPlainText());
            return missing;
        };
        QTRY_COMPARE(notDrawn().join(' '), QString());

        emit series->hovered(true, highest, shown);
        QCOMPARE(chartView->findChild<QLabel*>()->text(), bars.value(highest + 1) + "元");
    }

    // Yesterday's sale taken back in full today: the figures of both days are net.
    void returnsAreNet()
    {
        QVERIFY(Sell("1", "2026-11-01 10:00:00", {"690|茶|2|10|20"}));
        QVERIFY(Sell("2", "2026-11-01 11:00:00", {"691|水|1|5|5"}));
        QCOMPARE(
            stockDb.StoreReturn("1", "3", "2026-11-02 09:00:00", {{"", "", "690", "10", 0, 0, 2}}),
            StockDb::Return::Stored);
        ChoosePeriod(0, QDate(2026, 11, 20));
        QCOMPARE(Figures(), (QStringList{"5.00", "2", "2.50", "1", "0.00"}));
        QCOMPARE(RowTexts(Widget<QTableView>("tv_topproducts")->model()),
                 (QStringList{"水|691|1|5.00", "茶|690|0|0.00"}));
        const auto* chart = Widget<QChartView>("chartperiod")->chart();
        const QBarSet* bars = qobject_cast<QBarSeries*>(chart->series()[0])->barSets()[0];
        QCOMPARE(QList<qreal>({bars->at(0), bars->at(1)}), QList<qreal>({25, -20}));
        QVERIFY(qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical)[0])->min() <= -20);
    }

    // Lines that cannot be read leave the figures empty and say why.
    void unreadableLinesAreTold()
    {
        QVERIFY(Sell("1", "2026-11-01 10:00:00", {"690|茶|2|10|20"}));
        store->Exec("DROP TABLE orderdetail");
        TakeBoxes();
        ChoosePeriod(0, QDate(2026, 11, 20));
        QCOMPARE(Figures(), (QStringList{"0.00", "0", "0.00", "0", "0.00"}));
        const QStringList boxes = TakeBoxes();
        QVERIFY2(boxes.size() == 1 && boxes[0].startsWith("Quorrin1009: 统计读取失败\n") &&
                     boxes[0].contains("orderdetail"),
                 qPrintable(boxes.join('|')));
    }

    // At the entry fields' limits a product's value is past 64 bits of
    // cents; stock below zero has no value.
    void stockValueNeverWraps()
    {
        for (const char* guid : {"1", "2"})
            QVERIFY(stockDb.InsertProduct(guid, "酒", guid, "999999999", "1", "999999999.00", "1"));
        QVERIFY(stockDb.InsertProduct("3", "水", "3", "-5", "1", "2", "1"));
        QVERIFY(stockDb.InsertProduct("4", "盐", "4", "9223372036854775807", "1", "0.01", "1"));
        ChoosePeriod(0, QDate(2026, 11, 1));
        QCOMPARE(Widget<QLabel>("lb_stockvalue")->text(), QString("2092233716368547760.07"));
    }

    // A till left running into the next month opens the tab on that month,
    // unless another one was picked while the tab was shown.
    void tabFollowsToday()
    {
        QDate today(2030, 1, 31);
        CTStatistics running(nullptr, [&today] { return today; });
        auto* period = FindChild<QDateEdit>(&running, "de_period");
        today = QDate(2030, 2, 1);
        running.ReloadStatistics();
        QCOMPARE(period->date(), today);
        period->setDate(QDate(2029, 6, 1));
        running.ReloadStatistics();
        QCOMPARE(period->date(), QDate(2029, 6, 1));
        running.ReloadStatistics();
        QCOMPARE(period->date(), today);
    }

    void exportReadsBackAsStored_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QDate>("month");
        QTest::addColumn<Rows>("rows");
        const QDate november(2026, 11, 5);
        // clang-format off
        QTest::newRow("order lines") << "pb_exportorders" << "订单明细-2026-11.csv" << november << Rows{
            {"订单时间", "订单ID", "条形码", "商品名称", "数量", "单价", "小计", "原订单ID"},
            {"2026-11-01 00:00:00", "9223372036854714368", "0123", kHostile, "2", "0.10", "0.20", ""},
            {"2026-11-01 00:00:00", "9223372036854714368", "6901234567892", "水", "1", "12345678.90", "12345678.90", ""},
            {"2026-11-30 23:59:59", "3984215980838912", "0123", kHostile, "3", "0.10", "0.30", ""},
            {"2026-11-30 23:59:59", "9223372036854714369", "6901234567892", "水", "-1", "12345678.90", "-12345678.90", "9223372036854714368"}};
        QTest::newRow("purchases") << "pb_exportpurchases" << "进货记录-2026-11.csv" << november << Rows{
            {"进货时间", "进货单号", "条形码", "商品名称", "数量", "进价", "售价", "供应商"},
            {"2026-11-01 00:00:00", "0042", "0123", kHostile, "10", "0.10", "0.20", kHostile},
            {"2026-11-30 23:59:59", "0042", "0123", kHostile, "10", "0.10", "0.20", kHostile},
            {"2026-11-30 23:59:59", "B-7", "6901234567892", "水", "5", "12345678.90", "1.00", ""}};
        QTest::newRow("stock") << "pb_exportstock"
            << QDate::currentDate().toString("库存-yyyy-MM-dd.csv") << november << Rows{
            {"商品名称", "条形码", "库存数量", "进价", "售价"},
            {kHostile, "0123", "7", "0.10", "0.20"},
            {"水", "6901234567892", "-2", "12345678.90", "1.00"}};
        // Text a spreadsheet would run as a formula; figures stay as they are.
        QTest::newRow("formulas in text columns") << "pb_exportpurchases" << "进货记录-2026-12.csv" << QDate(2026, 12, 5) << Rows{
            {"进货时间", "进货单号", "条形码", "商品名称", "数量", "进价", "售价", "供应商"},
            {"2026-12-01 00:00:00", "0042", "0123", kHostile, "10", "0.10", "0.20", kHostile},
            {"2026-12-02 08:00:00", "'=1+2", "'+0123", "'-18℃速冻水饺", "-5", "0.10", "0.20", "'@供应商"},
            {"2026-12-02 08:00:00", "'\tB", "'\r0123", "'+1", "3", "0.10", "0.20", "'@供应商"}};
        // clang-format on
    }

    void exportReadsBackAsStored()
    {
        QFETCH(QString, button);
        QFETCH(QString, fileName);
        QFETCH(QDate, month);
        QFETCH(Rows, rows);
        QVERIFY(Sell("9", "2026-10-31 23:59:59", {"0123|旧|1|5|5"}));
        QVERIFY(
            Sell("9223372036854714368", "2026-11-01 00:00:00",
                 {"0123|" + kHostile + "|2|0.1|0.2", "6901234567892|水|1|12345678.9|12345678.9"}));
        QVERIFY(
            Sell("3984215980838912", "2026-11-30 23:59:59", {"0123|" + kHostile + "|3|0.1|0.3"}));
        QVERIFY(Sell("10", "2026-12-01 00:00:00", {"0123|新|1|5|5"}));
        QCOMPARE(stockDb.StoreReturn("9223372036854714368", "9223372036854714369",
                                     "2026-11-30 23:59:59",
                                     {{"", "", "6901234567892", "12345678.9", 0, 0, 1}}),
                 StockDb::Return::Stored);
        QVERIFY(stockDb.InsertProvider("11", kHostile, "", "", "", "", ""));
        int guid = 100;
        for (const QString time : {"2026-10-31 23:59:59", "2026-11-01 00:00:00",
                                   "2026-11-30 23:59:59", "2026-12-01 00:00:00"})
            QVERIFY(stockDb.InsertPurchase(time, QString::number(guid++), "0042", kHostile, "0123",
                                           "10", "11", "0.1", "0.2"));
        QVERIFY(stockDb.InsertPurchase("2026-11-30 23:59:59", "12", "B-7", "水", "6901234567892",
                                       "5", "404", "12345678.9", "1"));
        QVERIFY(stockDb.InsertProduct("13", kHostile, "0123", "7", "11", "0.1", "0.2"));
        QVERIFY(stockDb.InsertProduct("14", "水", "6901234567892", "-2", "11", "12345678.9", "1"));
        QVERIFY(stockDb.InsertProvider("15", "@供应商", "", "", "", "", ""));
        QVERIFY(stockDb.InsertPurchase("2026-12-02 08:00:00", "16", "=1+2", "-18℃速冻水饺", "+0123",
                                       "-5", "15", "0.1", "0.2"));
        QVERIFY(stockDb.InsertPurchase("2026-12-02 08:00:00", "17", "\tB", "+1", "\r0123", "3",
                                       "15", "0.1", "0.2"));
        ChoosePeriod(0, month);
        TakeBoxes();

        const QString path = store->Dir() + "/chosen.csv";
        MessageBoxes::SetNextFileName(path);
        QTest::mouseClick(Widget<QPushButton>(qPrintable(button)), Qt::LeftButton);
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(TakeBoxes(),
                 (QStringList{Widget<QPushButton>(qPrintable(button))->text() + ": " + documents +
                                  "/" + fileName,
                              QString("Quorrin1009: 导出成功\n共 %1 行").arg(rows.size() - 1)}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF") && bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count("\r\n"), rows.size());
        QCOMPARE(ReadWithPython(path), rows);
    }

    void failedOrCancelledExportLeavesNoFile_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("told");
        QTest::addColumn<bool>("reopened");
        QTest::newRow("cancelled over an older file") << "old.csv"
                                                      << "" << false;
        QTest::newRow("no folder of that name") << "old.csv/new.csv"
                                                << "Quorrin1009: 导出失败\n"
                                                << false;
        // The connection is closed under the read, which ends without an error.
        QTest::newRow("key changed meanwhile") << "new.csv"
                                               << "Quorrin1009: 导出失败\n"
                                               << true;
    }

    void failedOrCancelledExportLeavesNoFile()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, told);
        QFETCH(bool, reopened);
        if (reopened && TempStore::OnServer())
            QSKIP("the file's own key");
        QDir folder(store->Dir() + "/exports");
        QVERIFY(folder.mkpath("."));
        QFile old(folder.filePath("old.csv"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("older export\r\n") > 0);
        old.close();
        {
            StockDb::Transaction tx(stockDb);
            for (int i = 0; i < 300; ++i)
                QVERIFY(
                    stockDb.InsertProduct(QString::number(i + 1), "笔", "690", "1", "1", "1", "2"));
            QVERIFY(tx.commit());
        }
        TakeBoxes();

        CsvExport::SetProgressDelay(0);
        QTimer::singleShot(0, screen, [this, reopened] {
            auto* progress = screen->findChild<QProgressDialog*>();
            if (progress && reopened)
                stockDb.ChangeKey("the shop's own");
            else if (progress)
                progress->cancel();
        });
        MessageBoxes::SetNextFileName(folder.filePath(chosen));
        QTest::mouseClick(Widget<QPushButton>("pb_exportstock"), Qt::LeftButton);
        const QStringList boxes = TakeBoxes();
        QCOMPARE(boxes.size(), told.isEmpty() ? 1 : 2);
        QVERIFY2(boxes.last().startsWith(told) && boxes.last().size() > told.size() + 2,
                 qPrintable(boxes.last()));
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList{"old.csv"});
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("older export\r\n"));
    }
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"

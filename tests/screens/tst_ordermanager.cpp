#include "screens/CTOrderManager.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QCalendarWidget>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlError>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>
#include <QtTest>

using Bars = QMap<int, double>;

class OrderManagerTest : public QObject
{
    Q_OBJECT

    const QDate day{2021, 3, 5};
    QScopedPointer<TempStore> store;
    QScopedPointer<QTabWidget> host;
    CTOrderManager* screen = nullptr;
    QCalendarWidget* calendar = nullptr;
    QTableView* view = nullptr;
    QChartView* chartView = nullptr;
    int nextGuid = 1;

    void AddOrder(const QString& time, const QString& orderTotal)
    {
        const QSqlQuery query = store->Exec(QString("INSERT INTO orders VALUES (%1,'%2','%3',1)")
                                                .arg(nextGuid++)
                                                .arg(time, orderTotal));
        QVERIFY(!query.lastError().isValid());
    }

    // Clicks the date's cell in the calendar's month view, as a user would.
    void ClickDay(const QDate& date)
    {
        calendar->setSelectedDate(date);
        auto* days = calendar->findChild<QTableView*>("qt_calendar_calendarview");
        QVERIFY(days);
        QTest::mouseClick(days->viewport(), Qt::LeftButton, {},
                          days->visualRect(days->currentIndex()).center());
    }

    QBarSeries* Series() const
    {
        return qobject_cast<QBarSeries*>(chartView->chart()->series().value(0));
    }

    QValueAxis* AmountAxis() const
    {
        return qobject_cast<QValueAxis*>(chartView->chart()->axes(Qt::Vertical).value(0));
    }

    void CheckOneChart()
    {
        QCOMPARE(chartView->chart()->series().size(), 1);
        QCOMPARE(chartView->chart()->axes(Qt::Horizontal).size(), 1);
        QCOMPARE(chartView->chart()->axes(Qt::Vertical).size(), 1);
    }

private slots:
    void init()
    {
        MessageBoxes::SetTestMode(true);
        store.reset(new TempStore);
        QVERIFY(store->IsOpen());
        nextGuid = 1;
        screen = new CTOrderManager;
        host.reset(new QTabWidget);
        host->addTab(screen, QStringLiteral("订单管理"));
        calendar = screen->findChild<QCalendarWidget*>("calendarWidget");
        view = screen->findChild<QTableView*>("tv_orderlist");
        chartView = screen->findChild<QChartView*>("chartshow");
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.data()));
    }

    void cleanup()
    {
        host.reset();
        store.reset();
        MessageBoxes::SetTestMode(false);
    }

    void hourlyTurnover_data()
    {
        QTest::addColumn<QStringList>("orders");
        QTest::addColumn<Bars>("bars");
        // The axis runs from 0 to axisMax in ticks - 1 round steps.
        QTest::addColumn<double>("axisMax");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<double>("axisMin");
        QTest::newRow("two hours") << QStringList{"09:15:00=10", "09:40:00=5.5", "14:00:00=3"}
                                   << Bars{{9, 15.5}, {14, 3}} << 20.0 << 5 << 0.0;
        QTest::newRow("all zero") << QStringList{"10:00:00=0", "11:30:00=0"} << Bars{} << 0.0 << 5
                                  << 0.0;
        QTest::newRow("first and last second")
            << QStringList{"00:00:00=1", "23:59:59=2"} << Bars{{0, 1}, {23, 2}} << 2.0 << 5 << 0.0;
        QTest::newRow("unreadable times raise only the axis")
            << QStringList{"09:60:00=3", "12:3a:00=2", "12:30=2", "08:00:00=2"} << Bars{{8, 2}}
            << 8.0 << 5 << 0.0;
        QTest::newRow("steps of 500")
            << QStringList{"12:00:00=1234.5"} << Bars{{12, 1234.5}} << 1500.0 << 4 << 0.0;
        QTest::newRow("returns net, an hour below zero")
            << QStringList{"09:00:00=10", "09:30:00=-10", "10:00:00=20", "11:00:00=-25"}
            << Bars{{10, 20}, {11, -25}} << 20.0 << 6 << -30.0;
    }

    void hourlyTurnover()
    {
        QFETCH(QStringList, orders);
        QFETCH(Bars, bars);
        QFETCH(double, axisMax);
        QFETCH(int, ticks);
        QFETCH(double, axisMin);
        for (const QString& order : orders)
            AddOrder(day.toString("yyyy-MM-dd ") + order.section('=', 0, 0), order.section('=', 1));
        AddOrder(day.addDays(1).toString("yyyy-MM-dd 09:00:00"), "100");

        ClickDay(day);
        QCOMPARE(view->model()->rowCount(), orders.size());
        QCOMPARE(view->model()->index(0, 0).data().toString(),
                 day.toString("yyyy-MM-dd ") + orders[0].section('=', 0, 0));
        CheckOneChart();
        const QBarSet* turnover = Series()->barSets().value(0);
        QCOMPARE(turnover->label(), QStringLiteral("成交额"));
        QCOMPARE(turnover->count(), 24);
        for (int hour = 0; hour < 24; ++hour)
            QCOMPARE(turnover->at(hour), bars.value(hour, 0.0));
        auto* hours = qobject_cast<QBarCategoryAxis*>(chartView->chart()->axes(Qt::Horizontal)[0]);
        QCOMPARE(hours->count(), 24);
        QCOMPARE(hours->at(0), QStringLiteral("0点"));
        QCOMPARE(hours->at(23), QStringLiteral("23点"));
        QCOMPARE(AmountAxis()->min(), axisMin);
        QCOMPARE(AmountAxis()->max(), axisMax);
        QCOMPARE(AmountAxis()->tickCount(), ticks);

        // The same day again leaves the chart alone: each change lays it out anew.
        QSignalSpy ranges(AmountAxis(), &QValueAxis::rangeChanged);
        QSignalSpy tickCounts(AmountAxis(), &QValueAxis::tickCountChanged);
        QSignalSpy values(turnover, &QBarSet::valueChanged);
        screen->ReloadOrders();
        QCOMPARE(ranges.count() + tickCounts.count() + values.count(), 0);
    }

    void dayWithoutOrdersShowsZeroBars()
    {
        AddOrder("2021-03-05 09:15:00", "10");
        ClickDay(day);
        ClickDay(day.addDays(1));
        QCOMPARE(view->model()->rowCount(), 0);
        CheckOneChart();
        const QBarSet* turnover = Series()->barSets().value(0);
        QCOMPARE(turnover->count(), 24);
        for (int hour = 0; hour < 24; ++hour)
            QCOMPARE(turnover->at(hour), 0.0);
        QCOMPARE(AmountAxis()->max(), 0.0);
    }

    void reloadsKeepOneChart()
    {
        AddOrder("2021-03-05 09:15:00", "10");
        ClickDay(day);

        // Every reload reads the calendar's day again, so new orders show up.
        for (int i = 0; i < 20; ++i) {
            AddOrder("2021-03-05 10:00:00", "1");
            screen->ReloadOrders();
        }
        QCOMPARE(view->model()->rowCount(), 21);
        CheckOneChart();
        QCOMPARE(Series()->barSets()[0]->at(9), 10.0);
        QCOMPARE(Series()->barSets()[0]->at(10), 20.0);
        QCOMPARE(AmountAxis()->max(), 20.0);
    }

    // The menu names the order of the row it was opened on; none pops up below the rows.
    void rowMenuAsksForReprint()
    {
        AddOrder("2021-03-05 09:15:00", "10");
        AddOrder("2021-03-05 10:15:00", "20");
        ClickDay(day);
        QSignalSpy asked(screen, &CTOrderManager::ReprintAsked);
        const QRect second = view->visualRect(view->model()->index(1, 0));
        QCOMPARE(RightClickFirstEntry(view, second.center()), (QStringList{"补打小票", "退货"}));
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked[0][0].toString(), QString("2"));
        QCOMPARE(RightClickFirstEntry(view, second.bottomLeft() + QPoint(1, 40)), QStringList());
        QCOMPARE(asked.count(), 1);
    }

    void hoverShowsAmountAboveBar()
    {
        AddOrder("2021-03-05 09:15:00", "10");
        AddOrder("2021-03-05 09:40:00", "5.5");
        AddOrder("2021-03-05 12:00:00", "13703.67");
        ClickDay(day);
        QBarSet* turnover = Series()->barSets()[0];

        emit Series()->hovered(true, 9, turnover);
        auto* tip = chartView->findChild<QLabel*>();
        QVERIFY(tip);
        QVERIFY(tip->isVisible());
        QCOMPARE(tip->text(), QStringLiteral("15.5元"));
        const QPointF top = chartView->chart()->mapToPosition(QPointF(9, 15.5));
        // Left edge on the bar's centre line, wholly above the bar's top.
        QCOMPARE(tip->x(), int(top.x()));
        QVERIFY(tip->geometry().bottom() < top.y());

        emit Series()->hovered(true, 12, turnover);
        QCOMPARE(tip->text(), QStringLiteral("13703.67元"));
        emit Series()->hovered(true, 3, turnover);
        QCOMPARE(tip->text(), QStringLiteral("0元"));
        emit Series()->hovered(false, 3, turnover);
        QVERIFY(!tip->isVisible());
        QCOMPARE(chartView->findChildren<QLabel*>().size(), 1);
    }

    // An old sale's lines, taken back on today's date;
    // the return itself cannot be taken back.
    void linesShownAndReturned()
    {
        QVERIFY(stockDb.InsertOrderDetail(
            {"7", "2021-03-05 09:00:00", "11.5", "茶", "70", "690", "3", "2.5", "7.5"}));
        QVERIFY(stockDb.InsertOrderDetail(
            {"7", "2021-03-05 09:00:00", "11.5", "水", "71", "691", "1", "4", "4"}));
        QVERIFY(stockDb.InsertOrder({"7", "2021-03-05 09:00:05", "11.5", "2"}));
        ClickDay(day);
        view->setCurrentIndex(view->model()->index(0, 0));
        const auto* lines = FindChild<QTableView>(screen, "tv_orderdetail")->model();
        QCOMPARE(lines->rowCount(), 2);
        QCOMPARE(lines->index(1, 4).data().toString(), QString("4"));

        QTimer answer;
        connect(&answer, &QTimer::timeout, [] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* table = FindChild<QTableWidget>(dialog, "tw_returnlines");
            qobject_cast<QSpinBox*>(table->cellWidget(0, 5))->setValue(2);
            QCOMPARE(FindChild<QLabel>(dialog, "lb_refund")->text(), QString("5.00"));
            FindChild<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
        });
        answer.start(20);
        QSignalSpy stored(screen, &CTOrderManager::ReturnStored);
        FindChild<QPushButton>(screen, "pb_return")->click();
        QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: 退货成功\n退款 5.00 元"});
        QCOMPARE(stored.count(), 1);
        ClickDay(QDate::currentDate());
        view->setCurrentIndex(view->model()->index(0, 0));
        QCOMPARE(view->model()->index(0, 2).data().toString(), QString("-5"));
        QCOMPARE(view->model()->index(0, 1).data().toString(), stored[0][0].toString());
        FindChild<QPushButton>(screen, "pb_return")->click();
        QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: 退货单不能再退货"});
    }

    // A page in the middle of the day's orders goes bad on disk: the read
    // breaks off partway, and none of it may pass for the day.
    void damagedPageShowsNoPartOfTheDay()
    {
        store->Exec("BEGIN");
        for (int i = 0; i < 3000; ++i)
            AddOrder(QString("2021-03-05 %1:%2:00").arg(8 + i / 300).arg(i % 60, 2, 10, QChar('0')),
                     "1");
        store->Exec("COMMIT");
        stockDb.CloseStockDb();
        QFile file(store->DbPath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() / 2));
        file.write(QByteArray(64, '\x5a'));
        file.close();
        stockDb.OpenStockDb(QString());
        QVERIFY(store->IsOpen());
        TakeBoxes();

        ClickDay(day);
        QCOMPARE(view->model()->rowCount(), 0);
        const QStringList boxes = TakeBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(QStringLiteral("Quorrin1009: 订单读取失败\n")) &&
                     boxes[0].size() > QString("Quorrin1009: 订单读取失败\n").size(),
                 qPrintable(boxes[0]));
    }
};

QTEST_MAIN(OrderManagerTest)
#include "tst_ordermanager.moc"

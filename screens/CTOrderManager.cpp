#include "screens/CTOrderManager.h"

#include "screens/MessageBoxes.h"
#include "screens/TableSupport.h"
#include "store/StockDb.h"
#include "ui_Order.h"

#include <QDateTime>
#include <QLabel>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

namespace {
const char kTipStyle[] =
    "background: rgba(95,166,250,185);color: rgb(248, 248, 255);border:0px groove "
    "gray;border-radius:10px;padding:2px 4px;border:2px groove gray;border-radius:10px;padding:2px "
    "4px";
const int kHoursPerDay = 24;
} // namespace

CTOrderManager::CTOrderManager(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::Order>())
{
    ui->setupUi(this);

    model = TableSupport::CreateModel(
        this, ui->tv_orderlist, {tr("订单时间"), tr("订单ID"), tr("订单总额"), tr("商品数量")},
        QHeaderView::ResizeToContents);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_orderlist);

    chart = new QChart();
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setTitle(QStringLiteral("24小时成交额情况"));
    chart->setAnimationOptions(QChart::SeriesAnimations);
    ui->chartshow->setChart(chart);

    connect(ui->calendarWidget, SIGNAL(clicked(const QDate&)), this,
            SLOT(onCalendarClicked(const QDate&)));
}

CTOrderManager::~CTOrderManager() = default;

void CTOrderManager::ReloadOrders()
{
    TableSupport::ClearRows(model);
    const OrderList orders = stockDb.QueryOrdersOfDay(ui->calendarWidget->selectedDate());
    // A read that broke off gives no rows: an understated day must not pass for the real one.
    if (stockDb.LastReadFailed())
        MessageBoxes::Information(this, "Quorrin1009",
                                  QStringLiteral("订单读取失败\n") + stockDb.ReadErrorText());
    // A day without orders leaves the previous day's bars standing.
    if (orders.isEmpty())
        return;

    QMap<int, double> hourTotals;
    double maxValue = 0.0;
    for (const OrderInfo& order : orders) {
        model->appendRow(TableSupport::MakeItems(
            {order.order_time, order.order_guid, order.order_total, order.order_ptnum}));
        // An unreadable time gives hour -1: it raises the axis but shows in no bar.
        const int hour =
            QDateTime::fromString(order.order_time, "yyyy-MM-dd HH:mm:ss").time().hour();
        double& hourTotal = hourTotals[hour];
        hourTotal += order.order_total.toDouble();
        if (hourTotal > maxValue)
            maxValue = hourTotal;
    }
    BuildChart(hourTotals, maxValue);
}

void CTOrderManager::BuildChart(QMap<int, double> hourTotals, double maxValue)
{
    // removeAllSeries deletes the series and their sets; the axes are handed
    // back to us and would pile up with every reload if kept.
    chart->removeAllSeries();
    const QList<QAbstractAxis*> oldAxes = chart->axes();
    for (QAbstractAxis* axis : oldAxes) {
        chart->removeAxis(axis);
        delete axis;
    }

    auto* turnover = new QBarSet(QStringLiteral("成交额"));
    QStringList hours;
    for (int hour = 0; hour < kHoursPerDay; ++hour) {
        turnover->append(hourTotals.value(hour, 0.0));
        hours.append(QString::asprintf("%d点", hour));
    }

    auto* series = new QBarSeries();
    connect(series, SIGNAL(hovered(bool, int, QBarSet*)), this,
            SLOT(onhovered(bool, int, QBarSet*)));
    series->append(turnover);
    chart->addSeries(series);

    auto* hourAxis = new QBarCategoryAxis();
    hourAxis->append(hours);
    chart->addAxis(hourAxis, Qt::AlignBottom);
    series->attachAxis(hourAxis);

    auto* amountAxis = new QValueAxis();
    amountAxis->setRange(0, maxValue);
    chart->addAxis(amountAxis, Qt::AlignLeft);
    series->attachAxis(amountAxis);
}

void CTOrderManager::onCalendarClicked(const QDate&)
{
    ReloadOrders();
}

void CTOrderManager::onhovered(bool status, int index, QBarSet* barset)
{
    if (!tipLabel) {
        tipLabel = new QLabel(ui->chartshow);
        tipLabel->setStyleSheet(kTipStyle);
        tipLabel->hide();
    }
    if (!status) {
        tipLabel->hide();
        return;
    }
    const qreal value = barset->at(index);
    tipLabel->setText(QStringLiteral("%1元").arg(value, 0, 'g', 6));
    const QPointF pos = chart->mapToPosition(QPointF(index, value));
    tipLabel->move(int(pos.x()), int(pos.y() - 1.5 * tipLabel->height()));
    tipLabel->show();
}

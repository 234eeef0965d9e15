#include "screens/CTOrderManager.h"

#include "screens/ChartSupport.h"
#include "screens/MessageBoxes.h"
#include "screens/TableSupport.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "ui_Order.h"

#include <QMenu>
#include <QTime>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

namespace {
const int kHoursPerDay = 24;
// Ticks asked of the amount axis; rounding the range may add or take one.
const int kAmountTicks = 5;
const int kDateLength = 11;
} // namespace

CTOrderManager::CTOrderManager(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::Order>())
{
    ui->setupUi(this);

    model = TableSupport::CreateModel(
        this, ui->tv_orderlist, {tr("订单时间"), tr("订单ID"), tr("订单总额"), tr("商品数量")},
        QHeaderView::Fixed);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_orderlist);
    ui->tv_orderlist->setContextMenuPolicy(Qt::CustomContextMenu);
    rowMenu = new QMenu(this);
    connect(rowMenu->addAction(QStringLiteral("补打小票")), &QAction::triggered, this,
            [this] { emit ReprintAsked(TableSupport::CellText(model, menuRow, 1)); });
    connect(ui->tv_orderlist, &QTableView::customContextMenuRequested, this,
            &CTOrderManager::OnRowMenu);

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

    QMap<int, double> hourTotals;
    double maxValue = 0.0;
    for (const OrderInfo& order : orders) {
        model->appendRow(TableSupport::MakeItems(
            {order.order_time, order.order_guid, order.order_total, order.order_ptnum}));
        // Every order of the day starts with its date ("yyyy-MM-dd "), so only
        // the time is read: a third of the cost of reading both. An unreadable
        // time gives hour -1: it raises the axis but shows in no bar.
        const int hour = QTime::fromString(order.order_time.mid(kDateLength), "HH:mm:ss").hour();
        double& hourTotal = hourTotals[hour];
        hourTotal += order.order_total.toDouble();
        if (hourTotal > maxValue)
            maxValue = hourTotal;
    }
    FitColumnsToContents();
    BuildChart(hourTotals, maxValue);
    // A read that broke off gives no rows: an understated day must not pass
    // for the real one. Told once table and chart show nothing of it.
    if (stockDb.LastReadFailed())
        MessageBoxes::Information(this, "Quorrin1009",
                                  QStringLiteral("订单读取失败\n") + stockDb.ReadErrorText());
}

// Sizes the columns to their contents as the header would, but only when the
// table is refilled: left to the header, every row is measured again each
// time the tab is shown, rows about to be replaced included. A text is
// measured once while the same day is refilled: measuring means laying the
// text out, most of a fill's time.
void CTOrderManager::FitColumnsToContents()
{
    QTableView* view = ui->tv_orderlist;
    QHeaderView* header = view->horizontalHeader();
    QHash<QString, int> widths;
    for (int column = 0; column < model->columnCount(); ++column) {
        int widest = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex cell = model->index(row, column);
            const QString text = cell.data().toString();
            int width = cellWidths.value(text, -1);
            if (width < 0)
                width = view->sizeHintForIndex(cell).width();
            widths.insert(text, width);
            widest = qMax(widest, width);
        }
        const int grid = view->showGrid() ? 1 : 0;
        header->resizeSection(column, qMax(widest + grid, header->sectionSizeHint(column)));
    }
    cellWidths = widths;
}

void CTOrderManager::BuildChart(QMap<int, double> hourTotals, double maxValue)
{
    // Set, series and axes are made at the first build and then only take
    // the new day's values: made afresh, the chart lays out and measures
    // all its labels again on every switch to the tab.
    if (!turnover) {
        turnover = new QBarSet(QStringLiteral("成交额"));
        QStringList hours;
        // Only what changed goes to the chart: every change lays the chart out
        // again and measures all its labels anew, and asking 5 ticks and the raw
        // range only for the rounding to change both back moved the axis three
        // times on every switch to the tab, even to the same day.
        for (int hour = 0; hour < kHoursPerDay; ++hour) {
            turnover->append(0.0);
            hours.append(QString::asprintf("%d点", hour));
        }
        auto* series = new QBarSeries();
        connect(series, SIGNAL(hovered(bool, int, QBarSet*)), this,
                SLOT(onhovered(bool, int, QBarSet*)));
        series->append(turnover);
        chart->addSeries(series);

        auto* hourAxis = new QBarCategoryAxis();
        hourAxis->append(hours);
        // Upright, "23点" is wider than a bar's slot at 1280 pixels and gets
        // cut to "…"; turned, in a smaller font, every hour label fits.
        hourAxis->setLabelsAngle(-90);
        QFont labelsFont = hourAxis->labelsFont();
        labelsFont.setPointSize(10);
        hourAxis->setLabelsFont(labelsFont);
        chart->addAxis(hourAxis, Qt::AlignBottom);
        series->attachAxis(hourAxis);

        amountAxis = new QValueAxis();
        amountAxis->setLabelsFont(labelsFont);
        chart->addAxis(amountAxis, Qt::AlignLeft);
        series->attachAxis(amountAxis);
    }
    // Only what changed goes to the chart: every change lays the chart out
    // again and measures all its labels anew, and asking 5 ticks and the raw
    // range only for the rounding to change both back moved the axis three
    // times on every switch to the tab, even to the same day.
    for (int hour = 0; hour < kHoursPerDay; ++hour) {
        const double total = hourTotals.value(hour, 0.0);
        if (turnover->at(hour) != total)
            turnover->replace(hour, total);
    }
    if (maxValue == shownMaximum)
        return;
    shownMaximum = maxValue;
    // Ticks on round amounts (0, 5, 10, 15, 20 rather than 0, 4.8, 9.6, ...);
    // a day without turnover keeps 0 to 0, which no round step divides.
    amountAxis->setTickCount(kAmountTicks);
    amountAxis->setRange(0, maxValue);
    if (maxValue > 0)
        amountAxis->applyNiceNumbers();
}

void CTOrderManager::onCalendarClicked(const QDate&)
{
    ReloadOrders();
}

void CTOrderManager::onhovered(bool status, int index, QBarSet* barset)
{
    const qreal value = barset->at(index);
    ChartSupport::ShowBarTip(tipLabel, ui->chartshow, status, index, value,
                             QStringLiteral("%1元").arg(TableSupport::MoneyText(CentsOf(value))));
}

void CTOrderManager::OnRowMenu(const QPoint& pos)
{
    TableSupport::PopupRowMenu(ui->tv_orderlist, pos, rowMenu, menuRow);
}

#include "screens/CTOrderManager.h"

#include "screens/CTReturnDialog.h"
#include "screens/ChartSupport.h"
#include "screens/MessageBoxes.h"
#include "screens/NumberEntry.h"
#include "screens/TableSupport.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "ui_Order.h"

#include <QMenu>
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
const int kOrderColumn = 1;

// The hour of a stored "yyyy-MM-dd HH:mm:ss", or -1 when its time is no
// clock time. Read by hand: a parse by format costs more than the whole
// rest of a row, and a busy day has hundreds.
int HourOf(const QString& orderTime)
{
    const QStringRef clock = orderTime.midRef(kDateLength);
    if (clock.size() != 8 || clock.at(2) != QLatin1Char(':') || clock.at(5) != QLatin1Char(':'))
        return -1;
    int parts[3];
    for (int part = 0; part < 3; ++part) {
        const QChar tens = clock.at(3 * part);
        const QChar ones = clock.at(3 * part + 1);
        if (tens < QLatin1Char('0') || tens > QLatin1Char('9') || ones < QLatin1Char('0') ||
            ones > QLatin1Char('9'))
            return -1;
        parts[part] = (tens.unicode() - '0') * 10 + (ones.unicode() - '0');
    }
    return parts[0] < 24 && parts[1] < 60 && parts[2] < 60 ? parts[0] : -1;
}
} // namespace

CTOrderManager::CTOrderManager(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::Order>())
{
    ui->setupUi(this);

    model = TableSupport::CreateModel(
        this, ui->tv_orderlist, {tr("订单时间"), tr("订单ID"), tr("订单总额"), tr("商品数量")},
        QHeaderView::Fixed);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_orderlist);
    lines = TableSupport::CreateModel(
        this, ui->tv_orderdetail,
        {tr("商品名称"), tr("条形码"), tr("商品价格"), tr("数量"), tr("小计")},
        QHeaderView::ResizeToContents);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_orderdetail);
    // Orders above, the chosen one's lines below, each half of the height.
    ui->splitter->setSizes({1, 1});
    connect(ui->tv_orderlist->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &CTOrderManager::ShowLines);
    connect(ui->pb_return, &QPushButton::clicked, this, &CTOrderManager::OnReturnClicked);

    ui->tv_orderlist->setContextMenuPolicy(Qt::CustomContextMenu);
    rowMenu = new QMenu(this);
    connect(rowMenu->addAction(QStringLiteral("补打小票")), &QAction::triggered, this,
            [this] { emit ReprintAsked(TableSupport::CellText(model, menuRow, 1)); });
    rowMenu->addAction(QStringLiteral("退货"), this, &CTOrderManager::OnReturnClicked);
    connect(ui->tv_orderlist, &QTableView::customContextMenuRequested, this,
            &CTOrderManager::OnRowMenu);

    chart = ChartSupport::NewChart();
    chart->setTitle(QStringLiteral("24小时成交额情况"));
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
    for (const OrderInfo& order : orders) {
        model->appendRow(TableSupport::MakeItems(
            {order.order_time, order.order_guid, order.order_total, order.order_ptnum}));
        // Every order of the day starts with its date ("yyyy-MM-dd "), so only
        // the time is read. An unreadable time gives hour -1: it stretches the
        // axis but shows in no bar.
        hourTotals[HourOf(order.order_time)] += order.order_total.toDouble();
    }
    FitColumnsToContents();
    ShowLines();
    BuildChart(hourTotals);
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

void CTOrderManager::BuildChart(const QMap<int, double>& hourTotals)
{
    // Set, series and axes are made at the first build and then only take
    // the new day's values: made afresh, the chart lays out and measures
    // all its labels again on every switch to the tab.
    if (!turnover) {
        turnover = new QBarSet(QStringLiteral("成交额"));
        QStringList hours;
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
    // Returns are negative: an hour that took back more than it sold ends
    // below zero, and the axis then reaches below it.
    QPair<double, double> range{0.0, 0.0};
    for (const double total : hourTotals) {
        range.first = qMin(range.first, total);
        range.second = qMax(range.second, total);
    }
    if (range == shownRange)
        return;
    shownRange = range;
    // Ticks on round amounts (0, 5, 10, 15, 20 rather than 0, 4.8, 9.6, ...);
    // a day without turnover keeps 0 to 0, which no round step divides.
    amountAxis->setTickCount(kAmountTicks);
    amountAxis->setRange(range.first, range.second);
    if (range.first < range.second)
        amountAxis->applyNiceNumbers();
}

QString CTOrderManager::ChosenOrder() const
{
    const QModelIndex current = ui->tv_orderlist->currentIndex();
    return current.isValid() ? TableSupport::CellText(model, current.row(), kOrderColumn)
                             : QString();
}

void CTOrderManager::ShowLines()
{
    TableSupport::ClearRows(lines);
    const QString order = ChosenOrder();
    if (order.isEmpty())
        return;
    for (const OrderDetailInfo& line : stockDb.QueryOrderDetails(order))
        lines->appendRow(TableSupport::MakeItems(
            {line.order_product_name, line.order_product_barcode, line.order_product_rprice,
             line.order_product_num, line.order_product_subtotal}));
    if (stockDb.LastReadFailed())
        MessageBoxes::Information(this, "Quorrin1009",
                                  QStringLiteral("订单读取失败\n") + stockDb.ReadErrorText());
}

void CTOrderManager::OnReturnClicked()
{
    const QString sale = ChosenOrder();
    if (sale.isEmpty())
        return;
    if (!stockDb.SaleOfReturn(sale).isEmpty()) {
        MessageBoxes::Information(this, "Quorrin1009", QStringLiteral("退货单不能再退货"));
        return;
    }
    CTReturnDialog dialog(sale, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ReloadOrders();
    emit ReturnStored(dialog.ReturnGuid());
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
    // The row the menu is opened on is the chosen order: its lines show,
    // and "退货" takes goods back from it.
    const QModelIndex index = ui->tv_orderlist->indexAt(pos);
    if (index.isValid())
        ui->tv_orderlist->setCurrentIndex(index);
    TableSupport::PopupRowMenu(ui->tv_orderlist, pos, rowMenu, menuRow);
}

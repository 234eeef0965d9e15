#include "screens/CTStatistics.h"

#include "screens/ChartSupport.h"
#include "screens/CsvExport.h"
#include "screens/MessageBoxes.h"
#include "screens/TableSupport.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "ui_statistics.h"

#include <QSignalBlocker>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

namespace {
const int kTopProducts = 20;
const int kMonthsPerYear = 12;
enum PeriodKind
{
    Month,
    Year
};
} // namespace

CTStatistics::CTStatistics(QWidget* parent, Today today)
    : QDialog(parent), ui(std::make_unique<Ui::Statistics>()), today(today)
{
    ui->setupUi(this);
    ui->de_period->setDate(today());
    // A typed period is read once it is finished (Return or leaving the
    // field), not at every digit: a year takes a moment to read.
    ui->de_period->setKeyboardTracking(false);

    model = TableSupport::CreateModel(this, ui->tv_topproducts,
                                      {tr("商品名称"), tr("条形码"), tr("销售数量"), tr("销售额")},
                                      QHeaderView::ResizeToContents);
    TableSupport::MakeReadOnlyRowSelection(ui->tv_topproducts);
    ui->tv_topproducts->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);

    chart = ChartSupport::NewChart();
    chart->setMargins(QMargins(4, 4, 4, 4));
    turnover = new QBarSet(QStringLiteral("营业额"));
    auto* series = new QBarSeries();
    series->append(turnover);
    chart->addSeries(series);
    // The chart spans the page so that a month's 31 labels fit their bars
    // upright at 1280 pixels; beside a list they are cut to "…".
    periodAxis = new QBarCategoryAxis();
    QFont labelsFont = periodAxis->labelsFont();
    labelsFont.setPointSize(10);
    periodAxis->setLabelsFont(labelsFont);
    chart->addAxis(periodAxis, Qt::AlignBottom);
    series->attachAxis(periodAxis);
    amountAxis = new QValueAxis();
    amountAxis->setLabelsFont(labelsFont);
    chart->addAxis(amountAxis, Qt::AlignLeft);
    series->attachAxis(amountAxis);
    ui->chartperiod->setChart(chart);

    connect(series, SIGNAL(hovered(bool, int, QBarSet*)), this,
            SLOT(onhovered(bool, int, QBarSet*)));
    connect(ui->cb_period, SIGNAL(currentIndexChanged(int)), this, SLOT(OnPeriodKindChanged(int)));
    connect(ui->de_period, SIGNAL(dateChanged(const QDate&)), this,
            SLOT(OnPeriodChanged(const QDate&)));
    connect(ui->pb_exportorders, SIGNAL(clicked()), this, SLOT(OnExportOrdersClicked()));
    connect(ui->pb_exportpurchases, SIGNAL(clicked()), this, SLOT(OnExportPurchasesClicked()));
    connect(ui->pb_exportstock, SIGNAL(clicked()), this, SLOT(OnExportStockClicked()));
}

CTStatistics::~CTStatistics() = default;

CTStatistics::Period CTStatistics::ChosenPeriod() const
{
    const QDate chosen = ui->de_period->date();
    if (ui->cb_period->currentIndex() == Year)
        return {QDate(chosen.year(), 1, 1), QDate(chosen.year(), 12, 31),
                chosen.toString(QStringLiteral("yyyy")), true};
    const QDate first(chosen.year(), chosen.month(), 1);
    return {first, first.addMonths(1).addDays(-1), chosen.toString(QStringLiteral("yyyy-MM")),
            false};
}

void CTStatistics::ReloadStatistics()
{
    // A till left running into a new month opens the tab on that month.
    if (!periodPicked) {
        const QSignalBlocker quiet(ui->de_period);
        ui->de_period->setDate(today());
    }
    periodPicked = false;
    ReadPeriod();
}

void CTStatistics::ReadPeriod()
{
    const Period period = ChosenPeriod();
    const PeriodSales sales = stockDb.QuerySales(period.first, period.last, kTopProducts);
    QString failure = stockDb.ReadErrorText();
    const QString stockValue = stockDb.QueryStockValue();
    if (failure.isEmpty())
        failure = stockDb.ReadErrorText();

    qint64 orders = 0;
    qint64 turnoverCents = 0;
    for (const DaySales& day : sales.days) {
        orders += day.orders;
        turnoverCents += day.turnoverCents;
    }
    ui->lb_turnover->setText(CentsText(turnoverCents));
    ui->lb_orders->setText(QString::number(orders));
    ui->lb_average->setText(CentsText(orders > 0 ? qRound64(double(turnoverCents) / orders) : 0));
    ui->lb_items->setText(QString::number(sales.items));
    ui->lb_stockvalue->setText(stockValue);

    TableSupport::ClearRows(model);
    for (const ProductSales& product : sales.topProducts)
        model->appendRow(TableSupport::MakeItems({product.name, product.barcode,
                                                  QString::number(product.quantity),
                                                  CentsText(product.turnoverCents)}));
    BuildChart(period, sales.days);
    // A read that broke off shows nothing of the period: an understated
    // month must not pass for the real one.
    if (!failure.isEmpty())
        MessageBoxes::Information(this, "Quorrin1009", QStringLiteral("统计读取失败\n") + failure);
}

void CTStatistics::BuildChart(const Period& period, const QVector<DaySales>& days)
{
    const int bars = period.wholeYear ? kMonthsPerYear : period.last.day();
    QVector<qint64> cents(bars, 0);
    for (const DaySales& day : days) {
        // A time that is no date counts in the figures but in no bar.
        const QDate date = QDate::fromString(day.day, QStringLiteral("yyyy-MM-dd"));
        if (date.isValid())
            cents[(period.wholeYear ? date.month() : date.day()) - 1] += day.turnoverCents;
    }
    QStringList labels;
    QList<qreal> values;
    qint64 lowest = 0;
    qint64 highest = 0;
    for (int bar = 0; bar < bars; ++bar) {
        labels << (period.wholeYear ? QStringLiteral("%1月").arg(bar + 1)
                                    : QString::number(bar + 1));
        values << cents[bar] / 100.0;
        // A day that took back more than it sold is net below zero.
        lowest = qMin(lowest, cents[bar]);
        highest = qMax(highest, cents[bar]);
    }
    chart->setTitle(period.wholeYear ? QStringLiteral("%1年每月营业额").arg(period.first.year())
                                     : QStringLiteral("%1年%2月每日营业额")
                                           .arg(period.first.year())
                                           .arg(period.first.month()));
    if (periodAxis->categories() != labels)
        periodAxis->setCategories(labels);
    turnover->remove(0, turnover->count());
    turnover->append(values);
    ChartSupport::SetRoundRange(amountAxis, lowest / 100.0, highest / 100.0);
}

void CTStatistics::OnPeriodKindChanged(int index)
{
    ui->de_period->setDisplayFormat(index == Year ? QStringLiteral("yyyy")
                                                  : QStringLiteral("yyyy-MM"));
    periodPicked = true;
    ReadPeriod();
}

void CTStatistics::OnPeriodChanged(const QDate&)
{
    periodPicked = true;
    ReadPeriod();
}

void CTStatistics::onhovered(bool status, int index, QBarSet* barset)
{
    const qreal value = barset->at(index);
    ChartSupport::ShowBarTip(tipLabel, ui->chartperiod, status, index, value,
                             QStringLiteral("%1元").arg(CentsText(CentsOf(value))));
}

void CTStatistics::OnExportOrdersClicked()
{
    const Period period = ChosenPeriod();
    CsvExport::Run(this, ui->pb_exportorders->text(),
                   QStringLiteral("订单明细-%1.csv").arg(period.name),
                   {tr("订单时间"), tr("订单ID"), tr("条形码"), tr("商品名称"), tr("数量"),
                    tr("单价"), tr("小计"), tr("原订单ID")},
                   {2, 3}, [period](const StockDb::RowSink& row) {
                       return stockDb.ExportOrderLines(period.first, period.last, row);
                   });
}

void CTStatistics::OnExportPurchasesClicked()
{
    const Period period = ChosenPeriod();
    CsvExport::Run(this, ui->pb_exportpurchases->text(),
                   QStringLiteral("进货记录-%1.csv").arg(period.name),
                   {tr("进货时间"), tr("进货单号"), tr("条形码"), tr("商品名称"), tr("数量"),
                    tr("进价"), tr("售价"), tr("供应商")},
                   {1, 2, 3, 7}, [period](const StockDb::RowSink& row) {
                       return stockDb.ExportPurchases(period.first, period.last, row);
                   });
}

void CTStatistics::OnExportStockClicked()
{
    CsvExport::Run(this, ui->pb_exportstock->text(),
                   QStringLiteral("库存-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)),
                   {tr("商品名称"), tr("条形码"), tr("库存数量"), tr("进价"), tr("售价")}, {0, 1},
                   [](const StockDb::RowSink& row) { return stockDb.ExportStock(row); });
}

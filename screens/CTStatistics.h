#pragma once

#include <QDate>
#include <QDialog>
#include <QtCharts/QChartGlobal>
#include <functional>
#include <memory>

class QLabel;
class QStandardItemModel;
struct DaySales;
namespace Ui {
class Statistics;
}
QT_CHARTS_BEGIN_NAMESPACE
class QBarCategoryAxis;
class QBarSet;
class QChart;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

// The chart's signal names its types without the namespace; the slot must
// spell them the same way for the connection to match.
QT_CHARTS_USE_NAMESPACE

// The shop's month or year at a glance: turnover, orders, average order,
// items sold, today's stock value, the turnover per day or month and the
// best-selling products; and the records of the period out to CSV files.
// Read only.
class CTStatistics : public QDialog
{
    Q_OBJECT
public:
    using Today = std::function<QDate()>;
    explicit CTStatistics(QWidget* parent = nullptr, Today today = &QDate::currentDate);
    ~CTStatistics() override;

    // The main window calls it each time the tab becomes current: shows
    // today's month or year, or the period the user picked while the tab was
    // last shown, read again.
    void ReloadStatistics();

private:
    struct Period
    {
        QDate first;
        QDate last;
        // "yyyy-MM" or "yyyy", for file names.
        QString name;
        bool wholeYear = false;
    };
    Period ChosenPeriod() const;
    void ReadPeriod();
    void BuildChart(const Period& period, const QVector<DaySales>& days);

private slots:
    void OnPeriodKindChanged(int index);
    void OnPeriodChanged(const QDate& date);
    void onhovered(bool status, int index, QBarSet* barset);
    void OnExportOrdersClicked();
    void OnExportPurchasesClicked();
    void OnExportStockClicked();

private:
    std::unique_ptr<Ui::Statistics> ui;
    QStandardItemModel* model = nullptr;
    QChart* chart = nullptr;
    QBarSet* turnover = nullptr;
    QBarCategoryAxis* periodAxis = nullptr;
    QValueAxis* amountAxis = nullptr;
    QLabel* tipLabel = nullptr;
    Today today;
    bool periodPicked = false;
};

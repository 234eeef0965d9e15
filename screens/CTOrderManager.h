#pragma once

#include <QDate>
#include <QDialog>
#include <QHash>
#include <QMap>
#include <QtCharts/QChartGlobal>
#include <memory>

class QLabel;
class QMenu;
class QStandardItemModel;
namespace Ui {
class Order;
}
QT_CHARTS_BEGIN_NAMESPACE
class QBarSet;
class QChart;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

// The signals of the chart classes name their types without the namespace;
// the slot below must spell them the same way for the connection to match.
QT_CHARTS_USE_NAMESPACE

// Orders of one calendar day and that day's turnover per hour. Read only.
class CTOrderManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTOrderManager(QWidget* parent = nullptr);
    ~CTOrderManager() override;

    void ReloadOrders();

signals:
    // "补打小票" was chosen on the order's row.
    void ReprintAsked(const QString& orderGuid);

private:
    void BuildChart(QMap<int, double> hourTotals, double maxValue);
    void FitColumnsToContents();

private slots:
    void onCalendarClicked(const QDate& date);
    void onhovered(bool status, int index, QBarSet* barset);
    void OnRowMenu(const QPoint& pos);

private:
    std::unique_ptr<Ui::Order> ui;
    QStandardItemModel* model = nullptr;
    QChart* chart = nullptr;
    QLabel* tipLabel = nullptr;
    QMenu* rowMenu = nullptr;
    // The row the menu was opened on.
    int menuRow = -1;
    QBarSet* turnover = nullptr;
    QValueAxis* amountAxis = nullptr;
    // Highest hourly total the amount axis was last rounded for.
    double shownMaximum = -1.0;
    // Width of every cell text of the last fill, all cells sharing one font.
    QHash<QString, int> cellWidths;
};

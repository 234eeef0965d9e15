#pragma once

#include <QDate>
#include <QDialog>
#include <QHash>
#include <QMap>
#include <QPair>
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

// Orders of one calendar day, the lines of the chosen one, and that day's
// net turnover per hour. Goods are taken back here against their sale.
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
    // A return was stored, as the order returnGuid.
    void ReturnStored(const QString& returnGuid);

private:
    void BuildChart(const QMap<int, double>& hourTotals);
    void FitColumnsToContents();
    QString ChosenOrder() const;

private slots:
    void onCalendarClicked(const QDate& date);
    void onhovered(bool status, int index, QBarSet* barset);
    void OnRowMenu(const QPoint& pos);
    void ShowLines();
    void OnReturnClicked();

private:
    std::unique_ptr<Ui::Order> ui;
    QStandardItemModel* model = nullptr;
    QStandardItemModel* lines = nullptr;
    QChart* chart = nullptr;
    QLabel* tipLabel = nullptr;
    QMenu* rowMenu = nullptr;
    // The row the menu was opened on.
    int menuRow = -1;
    QBarSet* turnover = nullptr;
    QValueAxis* amountAxis = nullptr;
    // Hourly totals the amount axis was last rounded for, lowest and highest.
    QPair<double, double> shownRange{1.0, -1.0};
    // Width of every cell text of the last fill, all cells sharing one font.
    QHash<QString, int> cellWidths;
};

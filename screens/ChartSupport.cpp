#include "screens/ChartSupport.h"

#include <QLabel>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>
#include <cmath>

namespace ChartSupport {

namespace {
const char kTipStyle[] =
    "background: rgba(95,166,250,185);color: rgb(248, 248, 255);border:0px groove "
    "gray;border-radius:10px;padding:2px 4px;border:2px groove gray;border-radius:10px;padding:2px "
    "4px";
// More ticks than this crowd the axis of a small chart.
const int kMostSteps = 8;
} // namespace

QtCharts::QChart* NewChart()
{
    auto* chart = new QtCharts::QChart();
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QtCharts::QChart::SeriesAnimations);
    chart->setBackgroundRoundness(0);
    return chart;
}

void ShowBarTip(QLabel*& tip, QtCharts::QChartView* view, bool status, int index, double value,
                const QString& text)
{
    if (!tip) {
        tip = new QLabel(view);
        tip->setStyleSheet(kTipStyle);
        tip->hide();
    }
    if (!status) {
        tip->hide();
        return;
    }
    tip->setText(text);
    const QPointF pos = view->chart()->mapToPosition(QPointF(index, value));
    tip->move(int(pos.x()), int(pos.y() - 1.5 * tip->height()));
    tip->show();
}

void SetRoundRange(QtCharts::QValueAxis* axis, double bottom, double top)
{
    const auto below = [bottom](double step) { return std::ceil(-bottom / step); };
    const auto above = [top](double step) { return std::ceil(top / step); };
    double step = 1.0;
    for (double power = 1.0; below(step) + above(step) > kMostSteps; power *= 10.0) {
        for (double factor : {1.0, 2.0, 5.0}) {
            step = factor * power;
            if (below(step) + above(step) <= kMostSteps)
                break;
        }
    }
    const int stepsBelow = int(below(step));
    const int steps = qMax(1, stepsBelow + int(above(step)));
    axis->setRange(-stepsBelow * step, (steps - stepsBelow) * step);
    axis->setTickCount(steps + 1);
    axis->setLabelFormat(QStringLiteral("%.0f"));
}

} // namespace ChartSupport

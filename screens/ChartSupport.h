#pragma once

#include <QString>
#include <QtCharts/QChartGlobal>

class QLabel;
QT_CHARTS_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

// What the bar charts of the screens share.
namespace ChartSupport {

// A chart of the screens' look: the legend below, bars that grow into their
// new heights. Its background has square corners: a rounded one is filled
// as an anti-aliased path, a tenth of the time a tab takes to show.
QtCharts::QChart* NewChart();

// The floating label over a hovered bar: shows text with its left edge on
// the centre line of bar index (of the given value) in view's chart, just
// above the bar's top; hides it when the pointer left the bar (status
// false). tip is made at the first hover and kept.
void ShowBarTip(QLabel*& tip, QtCharts::QChartView* view, bool status, int index, double value,
                const QString& text);

// Range from at most bottom (0 or below) to at least top (0 or above), 0
// on a tick, ticks a round step apart (1, 2 or 5 times a power of ten, at
// least 1), labelled as whole numbers.
void SetRoundRange(QtCharts::QValueAxis* axis, double bottom, double top);

} // namespace ChartSupport

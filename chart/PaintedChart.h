#pragma once

#include <QColor>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>

class ChartSeriesData;
class QPainter;

// Layout and drawing of the painter-drawn time-series chart, kept apart from the widget
// so that every number it computes, and the picture itself, can be checked for a fixed
// moment in time.
namespace PaintedChart {

constexpr int LeftMargin = 48;
// Room above the plot for half the top value label, so that it is never cut off.
constexpr int TopMargin = 10;
constexpr int RightMargin = 8;
constexpr int BottomMargin = 20;

struct ValueRange
{
    double lo = 0.0;
    double hi = 0.0;
};

// The plot rectangle inside a widget of the given size (may be empty or negative).
QRectF plotArea(const QSize& size);

// Whether the records have anything to draw at all: a first record with samples.
bool hasData(const QList<ChartSeriesData*>* records);

// Minimum and maximum over the samples not older than startMsecs, padded by a tenth of
// the spread (or by 0.1 when the spread is nearly zero); nothing when no sample is visible.
std::optional<ValueRange> visibleRange(const QList<ChartSeriesData*>& records, qint64 startMsecs);
ValueRange paddedRange(double minimum, double maximum);

// Grid step for a visible span: 5 s up to 30 s, 10 s up to 2 min, 30 s beyond.
qint64 tickStepMsecs(double spanSecs);
// Multiples of the step strictly inside (start, now).
QList<qint64> timeTicks(qint64 startMsecs, qint64 nowMsecs);

// The five value labels, top to bottom, and the text of one.
QList<double> valueLabelValues(const ValueRange& range);
QString valueLabel(double value);

QColor curveColor(qsizetype position);

// Paints the whole chart for a widget of the given size as it looks at nowMsecs.
void paint(QPainter& painter, const QSize& size, const QList<ChartSeriesData*>* records, int windowSecs,
           qint64 nowMsecs);

} // namespace PaintedChart

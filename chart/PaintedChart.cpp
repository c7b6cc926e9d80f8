#include "PaintedChart.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

#include "ChartSeriesData.h"

namespace PaintedChart {

namespace {

const QColor BackgroundColor(0x0A, 0x0E, 0x16);
const QColor FrameColor(0x1E, 0x3A, 0x5F);
const QColor GridColor(0x1E, 0x3A, 0x5F, 50);
const QColor TextColor(0x64, 0x74, 0x8B);

QFont labelFont()
{
    return QFont(QStringLiteral("Segoe UI"), 9);
}

void paintNoData(QPainter& painter, const QSize& size)
{
    painter.setFont(QFont(QStringLiteral("Segoe UI"), 11));
    painter.setPen(TextColor);
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, QStringLiteral("No Data"));
}

qint64 floorDiv(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

} // namespace

QRectF plotArea(const QSize& size)
{
    return QRectF(LeftMargin, TopMargin, size.width() - LeftMargin - RightMargin,
                  size.height() - TopMargin - BottomMargin);
}

bool hasData(const QList<ChartSeriesData*>* records)
{
    return records && !records->isEmpty() && !records->first()->points().isEmpty();
}

ValueRange paddedRange(double minimum, double maximum)
{
    const double spread = maximum - minimum;
    const double pad = spread < 0.001 ? 0.1 : spread * 0.1;
    return {minimum - pad, maximum + pad};
}

std::optional<ValueRange> visibleRange(const QList<ChartSeriesData*>& records, qint64 startMsecs)
{
    bool found = false;
    double minimum = 0.0;
    double maximum = 0.0;
    for (const ChartSeriesData* record : records) {
        for (const ChartSample& sample : record->points()) {
            if (sample.msecs < startMsecs)
                continue;
            minimum = found ? std::min(minimum, sample.value) : sample.value;
            maximum = found ? std::max(maximum, sample.value) : sample.value;
            found = true;
        }
    }
    if (!found)
        return std::nullopt;
    return paddedRange(minimum, maximum);
}

qint64 tickStepMsecs(double spanSecs)
{
    if (spanSecs <= 30.0)
        return 5000;
    if (spanSecs <= 120.0)
        return 10000;
    return 30000;
}

QList<qint64> timeTicks(qint64 startMsecs, qint64 nowMsecs)
{
    const qint64 step = tickStepMsecs(double(nowMsecs - startMsecs) / 1000.0);
    QList<qint64> ticks;
    for (qint64 tick = (floorDiv(startMsecs, step) + 1) * step; tick < nowMsecs; tick += step)
        ticks.append(tick);
    return ticks;
}

QList<double> valueLabelValues(const ValueRange& range)
{
    QList<double> values;
    for (int i = 0; i <= 4; ++i)
        values.append(range.hi - i * (range.hi - range.lo) * 0.25);
    return values;
}

QString valueLabel(double value)
{
    const double magnitude = std::abs(value);
    const int decimals = magnitude < 1.0 ? 3 : magnitude < 10000.0 ? 1 : 0;
    return QString::number(value, 'f', decimals);
}

QColor curveColor(qsizetype position)
{
    static const QColor palette[] = {QColor(0x00, 0xD4, 0xFF), QColor(0x10, 0xB9, 0x81), QColor(0xF5, 0x9E, 0x0B),
                                     QColor(0xEF, 0x44, 0x44), QColor(0x8B, 0x5C, 0xF6), QColor(0xEC, 0x48, 0x99)};
    constexpr qsizetype last = sizeof(palette) / sizeof(palette[0]) - 1;
    return palette[std::clamp<qsizetype>(position, 0, last)];
}

void paint(QPainter& painter, const QSize& size, const QList<ChartSeriesData*>* records, int windowSecs,
           qint64 nowMsecs)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(QRect(QPoint(0, 0), size), BackgroundColor);

    if (!hasData(records)) {
        paintNoData(painter, size);
        return;
    }

    const int plotWidth = size.width() - LeftMargin - RightMargin;
    const int plotHeight = size.height() - TopMargin - BottomMargin;
    if (plotWidth < 1 || plotHeight < 1)
        return;

    const qint64 startMsecs = nowMsecs - qint64(windowSecs) * 1000;
    const std::optional<ValueRange> range = visibleRange(*records, startMsecs);
    if (!range) {
        paintNoData(painter, size);
        return;
    }

    const double spanSecs = double(nowMsecs - startMsecs) / 1000.0;
    const auto xOf = [&](qint64 msecs) { return double(msecs - startMsecs) / 1000.0 / spanSecs * plotWidth; };
    const auto yOf = [&](double value) { return plotHeight - (value - range->lo) / (range->hi - range->lo) * plotHeight; };
    const QList<qint64> ticks = timeTicks(startMsecs, nowMsecs);

    painter.setPen(QPen(FrameColor, 1, Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(LeftMargin, TopMargin, plotWidth, plotHeight));

    painter.save();
    painter.setClipRect(QRect(LeftMargin, TopMargin, plotWidth, plotHeight));
    painter.translate(LeftMargin, TopMargin);

    painter.setPen(QPen(GridColor, 1, Qt::SolidLine));
    for (int i = 0; i <= 4; ++i) {
        const int y = i * plotHeight / 4;
        painter.drawLine(QLineF(0, y, plotWidth, y));
    }
    for (qint64 tick : ticks)
        painter.drawLine(QLineF(xOf(tick), 0, xOf(tick), plotHeight));

    for (qsizetype k = 0; k < records->size(); ++k) {
        QPainterPath path;
        for (const ChartSample& sample : records->at(k)->points()) {
            if (sample.msecs < startMsecs)
                continue;
            const QPointF point(xOf(sample.msecs), yOf(sample.value));
            if (path.elementCount() == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        if (path.elementCount() == 0)
            continue;
        painter.strokePath(path, QPen(curveColor(k), 1.5, Qt::SolidLine));
    }
    painter.restore();

    painter.setFont(labelFont());
    const QFontMetrics metrics(painter.font());
    const int labelHeight = metrics.height();
    painter.setPen(TextColor);
    const QList<double> labels = valueLabelValues(*range);
    for (int i = 0; i < labels.size(); ++i) {
        const QRectF box(0, i * plotHeight * 0.25 + TopMargin - labelHeight / 2.0, LeftMargin - 4, labelHeight);
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, valueLabel(labels.at(i)));
    }
    // Time labels are as wide as their text and kept inside the widget, so the first and
    // last are never cut off at the edges.
    for (qint64 tick : ticks) {
        const QString text = QDateTime::fromMSecsSinceEpoch(tick).toString(QStringLiteral("HH:mm:ss"));
        const int width = metrics.horizontalAdvance(text) + 4;
        const double left = std::clamp(LeftMargin + xOf(tick) - width / 2.0, 0.0, double(size.width() - width));
        painter.drawText(QRectF(left, size.height() - BottomMargin + 2, width, labelHeight), Qt::AlignCenter, text);
    }

    // Legend: one swatch and name per series, top right inside the plot.
    double legendRight = LeftMargin + plotWidth - 6;
    for (qsizetype k = records->size() - 1; k >= 0; --k) {
        const QString name = records->at(k)->name();
        if (name.isEmpty())
            continue;
        const int width = metrics.horizontalAdvance(name);
        const double left = legendRight - width;
        painter.setPen(TextColor);
        painter.drawText(QRectF(left, TopMargin + 4, width, labelHeight), Qt::AlignLeft | Qt::AlignVCenter, name);
        painter.fillRect(QRectF(left - 14, TopMargin + 4 + labelHeight / 2.0 - 4, 10, 8), curveColor(k));
        legendRight = left - 24;
    }
}

} // namespace PaintedChart

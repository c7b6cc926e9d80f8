#pragma once

#include <QList>
#include <QPointF>

#include <optional>
#include <utility>

class ChartSeriesData;

// What the chart panel shows of its stored series over a time window: the samples whose
// time is not earlier than the window start. The stored samples are scanned in full
// rather than searched, so a clock that steps back cannot hide samples.
namespace SeriesWindow {

inline bool contains(qint64 sampleMsecs, qint64 fromMsecs)
{
    return sampleMsecs >= fromMsecs;
}

// The value-axis range that fits every windowed sample with a margin of a tenth of the
// spread plus one, or nothing when no sample is in the window. The scan starts from
// (1e9, -1e9), so a lone value beyond that bound stretches the range to the bound.
std::optional<std::pair<double, double>> fittedRange(const QList<ChartSeriesData*>& series, qint64 fromMsecs);

// Sum of the windowed values of one series (0 when it has none).
double sum(const ChartSeriesData& series, qint64 fromMsecs);

// The windowed samples as chart points: x in milliseconds since the epoch.
QList<QPointF> points(const ChartSeriesData& series, qint64 fromMsecs);

} // namespace SeriesWindow

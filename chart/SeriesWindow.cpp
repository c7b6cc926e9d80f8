#include "SeriesWindow.h"

#include <algorithm>

#include "ChartSeriesData.h"

namespace SeriesWindow {

std::optional<std::pair<double, double>> fittedRange(const QList<ChartSeriesData*>& series, qint64 fromMsecs)
{
    double minimum = 1e9;
    double maximum = -1e9;
    for (const ChartSeriesData* data : series) {
        for (const ChartSample& sample : data->points()) {
            if (!contains(sample.msecs, fromMsecs))
                continue;
            minimum = std::min(minimum, sample.value);
            maximum = std::max(maximum, sample.value);
        }
    }
    if (!(maximum >= minimum))
        return std::nullopt;
    const double margin = (maximum - minimum) * 0.1 + 1.0;
    return std::make_pair(minimum - margin, maximum + margin);
}

double sum(const ChartSeriesData& series, qint64 fromMsecs)
{
    double total = 0.0;
    for (const ChartSample& sample : series.points()) {
        if (contains(sample.msecs, fromMsecs))
            total += sample.value;
    }
    return total;
}

QList<QPointF> points(const ChartSeriesData& series, qint64 fromMsecs)
{
    QList<QPointF> result;
    result.reserve(series.points().size());
    for (const ChartSample& sample : series.points()) {
        if (contains(sample.msecs, fromMsecs))
            result.append(QPointF(double(sample.msecs), sample.value));
    }
    return result;
}

} // namespace SeriesWindow

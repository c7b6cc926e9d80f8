#include "ChartSeriesData.h"

ChartSeriesData::ChartSeriesData(QObject* parent)
    : QObject(parent)
{
}

ChartSeriesData::ChartSeriesData(const QString& name, const QColor& color, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_color(color)
{
}

void ChartSeriesData::append(qint64 msecs, double value)
{
    m_points.append({msecs, value});
    // Dropping from the front of a QList only moves its start, so a full series costs
    // no shifting per sample.
    if (m_points.size() > MaxSamples)
        m_points.remove(0, m_points.size() - MaxSamples);
}

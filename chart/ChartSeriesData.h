#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

// One stored sample. The instant is kept as milliseconds since the epoch: that is what
// the chart axes and the window test need, and it spares a local-time conversion per
// sample on every refresh.
struct ChartSample
{
    qint64 msecs = 0;
    double value = 0.0;

    QDateTime time() const { return QDateTime::fromMSecsSinceEpoch(msecs); }
};

// A named, coloured time series filled by the rule of the same name. Holds at most
// MaxSamples samples, oldest first; older ones are dropped as new ones arrive.
class ChartSeriesData : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxSamples = 5000;

    explicit ChartSeriesData(QObject* parent = nullptr);
    ChartSeriesData(const QString& name, const QColor& color, QObject* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    QColor color() const { return m_color; }
    void setColor(const QColor& color) { m_color = color; }

    const QList<ChartSample>& points() const { return m_points; }
    void append(qint64 msecs, double value);
    void clear() { m_points.clear(); }

private:
    QString m_name;
    QColor m_color;
    QList<ChartSample> m_points;
};

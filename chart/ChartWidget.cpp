#include "ChartWidget.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QPainter>
#include <QTimer>

#include <algorithm>

#include "PaintedChart.h"

namespace {

constexpr int RepaintIntervalMsecs = 200;
constexpr int MinimumHeight = 100;

} // namespace

ChartWidget::ChartWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(MinimumHeight);
    setAutoFillBackground(false);
    m_repaintTimer = new QTimer(this);
    m_repaintTimer->setInterval(RepaintIntervalMsecs);
    connect(m_repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_repaintTimer->start();
}

void ChartWidget::setDataSource(const QList<ChartSeriesData*>* source)
{
    QMutexLocker locker(&m_mutex);
    m_dataSource = source;
}

void ChartWidget::setTimeWindow(int seconds)
{
    QMutexLocker locker(&m_mutex);
    m_timeWindowSecs = std::max(seconds, MinWindowSecs);
}

int ChartWidget::timeWindow() const
{
    QMutexLocker locker(&m_mutex);
    return m_timeWindowSecs;
}

void ChartWidget::refresh()
{
    update();
}

void ChartWidget::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QMutexLocker locker(&m_mutex);
    QPainter painter(this);
    PaintedChart::paint(painter, size(), m_dataSource, m_timeWindowSecs, QDateTime::currentMSecsSinceEpoch());
}

void ChartWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update();
}

#pragma once

#include <QList>
#include <QMutex>
#include <QWidget>

class ChartSeriesData;
class QTimer;

// A self-contained line chart of time-stamped values over a sliding window, painted
// without Qt Charts. It draws whatever the caller's list holds at each repaint (five
// times a second) and never owns or changes that list.
class ChartWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MinWindowSecs = 5;

    explicit ChartWidget(QWidget* parent = nullptr);

    void setDataSource(const QList<ChartSeriesData*>* source);
    // Windows shorter than MinWindowSecs are raised to it.
    void setTimeWindow(int seconds);
    int timeWindow() const;

public slots:
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QTimer* m_repaintTimer = nullptr;
    const QList<ChartSeriesData*>* m_dataSource = nullptr;
    int m_timeWindowSecs = 60;
    // Guards the source pointer and the window, so setters from another thread wait for a
    // paint in progress. The caller's list itself is not covered.
    mutable QMutex m_mutex;
};

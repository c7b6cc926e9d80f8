#pragma once

#include <QList>
#include <QWidget>

#include "ChartRule.h"

QT_BEGIN_NAMESPACE
class QChartView;
QT_END_NAMESPACE

// Placeholder of the chart panel: the main window takes `panel` into its control column
// and `chartView` as the page of the chart tab.
class ChartEngine : public QWidget
{
    Q_OBJECT

public:
    explicit ChartEngine(QWidget* parent = nullptr);

    QList<ChartRule> rules() const { return m_rules; }
    void appendValue(const ChartRule& rule, double value);

    QChartView* chartView = nullptr;
    QWidget* panel = nullptr;

private:
    QList<ChartRule> m_rules;
};

#include "ChartEngine.h"

#include <QChartView>
#include <QCheckBox>
#include <QVBoxLayout>

ChartEngine::ChartEngine(QWidget* parent)
    : QWidget(parent)
{
    panel = new QWidget(this);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(new QCheckBox(QStringLiteral("启用图表"), panel));
    chartView = new QChartView(this);
    chartView->hide();
}

void ChartEngine::appendValue(const ChartRule& rule, double value)
{
    Q_UNUSED(rule);
    Q_UNUSED(value);
}

#include "ValueExtractor.h"

#include "ChartEngine.h"

ExtractResult extractValue(const QString& line, const ChartRule& rule)
{
    Q_UNUSED(line);
    Q_UNUSED(rule);
    return {};
}

void feedChartText(ChartEngine& engine, const QString& text)
{
    Q_UNUSED(engine);
    Q_UNUSED(text);
}

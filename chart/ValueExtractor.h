#pragma once

#include <QString>

#include "ChartRule.h"

class ChartEngine;

struct ExtractResult
{
    double value = 0.0;
    bool hasValue = false;
};

ExtractResult extractValue(const QString& line, const ChartRule& rule);

// Cuts the text into lines and hands every number the engine's rules find to the engine.
void feedChartText(ChartEngine& engine, const QString& text);

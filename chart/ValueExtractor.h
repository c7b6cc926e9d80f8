#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "ChartRule.h"

class ChartEngine;

struct ExtractResult
{
    double value = 0.0;
    bool hasValue = false;
};

// The number one rule finds in one line, if any. Depends on nothing but its arguments:
// compiled expressions are cached, which changes no result.
ExtractResult extractValue(const QString& line, const ChartRule& rule);

// The lines a received text is cut into: any run of CR and LF separates, each part is
// trimmed, and parts that end up empty are dropped.
QStringList chartLines(const QString& text);

// The feeding procedure with both ends open. `currentRules` is asked afresh for every
// line, so a rule list changed by `append` takes effect from the next line on; within a
// line each rule contributes at most one value, handed over before the next rule runs.
void feedText(const QString& text,
              const std::function<QList<ChartRule>()>& currentRules,
              const std::function<void(const ChartRule&, double)>& append);

// Feeds one received text to the engine's rules and series (defined with ChartEngine).
void feedChartText(ChartEngine& engine, const QString& text);

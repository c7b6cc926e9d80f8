#pragma once

#include <QMetaType>
#include <QString>

// How a rule takes a number from one line of received text.
enum ExtractMethod : qint32 {
    JsonPath = 0,
    RegexCapture = 1,
    IndexedAssignment = 2,
    RegexPresence = 3
};

// A chart rule: its name links it to the series of the same name.
struct ChartRule
{
    QString name;
    ExtractMethod method = JsonPath;
    QString pattern;
};

// The method a hand-typed expression gets: anything that looks like regular-expression
// syntax is a regex with capture, everything else a dotted JSON path. "." alone is not
// regex syntax here, so "data.value" stays a path.
ExtractMethod methodForExpression(const QString& expression);

Q_DECLARE_METATYPE(ChartRule)

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

Q_DECLARE_METATYPE(ChartRule)

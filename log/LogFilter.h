#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QStringMatcher>

#include "LogEntry.h"

// Which log entries a user wants to see or find: a text (plain and case-insensitive, or a
// regular expression), the directions, and a hub method. Pure, so that the log view can
// run it over 100,000 rows in slices. An invalid regular expression is ignored rather than
// matching nothing, so a half-typed pattern never empties the view; isValid() says so.
class LogFilter
{
public:
    struct Criteria
    {
        QString text;
        bool regex = false;
        bool tx = true;
        bool rx = true;
        bool sys = true;
        QString method;
    };

    LogFilter() = default;
    explicit LogFilter(const Criteria& criteria);

    const Criteria& criteria() const { return m_criteria; }
    bool isValid() const { return m_valid; }
    QString regexError() const;
    // False when every entry matches.
    bool isActive() const;
    // hex: search the hex form, as the rows show it in hex display.
    bool matches(const LogEntry& entry, bool hex) const;

    // The hub methods a logged text invokes, record by record: the "target" of JSON
    // records and the rendered forms "[Target](arguments)" and "[Target] -> payload".
    static QStringList targets(const QString& text);

private:
    bool hasTarget(const QString& text) const;

    Criteria m_criteria;
    QStringMatcher m_matcher;
    QRegularExpression m_regex;
    bool m_valid = true;
    bool m_useText = false;
};

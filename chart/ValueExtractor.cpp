#include "ValueExtractor.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>

namespace {

ExtractResult noValue()
{
    return {};
}

ExtractResult valueOf(double value)
{
    return {value, true};
}

ExtractResult numberFromText(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? valueOf(value) : noValue();
}

// Rule expressions arrive once per line but are few and rarely change, so each thread
// keeps the compiled (and JIT-optimised) form per pattern text. The bound only guards
// against a caller that cycles through endless distinct patterns.
const QRegularExpression& compiled(const QString& pattern)
{
    constexpr qsizetype MaxCached = 256;
    thread_local QHash<QString, QRegularExpression> cache;
    auto it = cache.constFind(pattern);
    if (it != cache.constEnd())
        return *it;
    if (cache.size() >= MaxCached)
        cache.clear();
    return *cache.insert(pattern, QRegularExpression(pattern));
}

ExtractResult extractJsonPath(const QString& line, const QString& path)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || (trimmed.front() != QLatin1Char('{') && trimmed.front() != QLatin1Char('[')))
        return noValue();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return noValue();

    QJsonValue current = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    const QStringList segments = path.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    for (const QString& segment : segments) {
        if (current.isObject()) {
            const QJsonObject object = current.toObject();
            const auto member = object.constFind(segment);
            if (member == object.constEnd())
                return noValue();
            current = *member;
        } else if (current.isArray()) {
            const QJsonArray array = current.toArray();
            bool ok = false;
            const int index = segment.toInt(&ok, 10);
            if (!ok || index < 0 || index >= array.size())
                return noValue();
            current = array.at(index);
        } else {
            return noValue();
        }
    }

    switch (current.type()) {
    case QJsonValue::Double:
        return valueOf(current.toDouble());
    case QJsonValue::Bool:
        return valueOf(current.toBool() ? 1.0 : 0.0);
    case QJsonValue::String:
        return numberFromText(current.toString());
    default:
        return noValue();
    }
}

ExtractResult extractRegexCapture(const QString& line, const QString& pattern)
{
    const QRegularExpression& expression = compiled(pattern);
    if (!expression.isValid())
        return noValue();
    const QRegularExpressionMatch match = expression.match(line);
    if (!match.hasMatch())
        return noValue();
    // A group 1 that did not take part while a later group did yields the empty text,
    // which does not convert: the rule is meant to read group 1 or nothing.
    return numberFromText(match.lastCapturedIndex() >= 1 ? match.captured(1) : match.captured(0));
}

ExtractResult extractIndexedAssignment(const QString& line, const QString& pattern)
{
    bool ok = false;
    const int wanted = pattern.toInt(&ok, 10);
    if (!ok)
        return noValue();

    static const QRegularExpression assignment(QStringLiteral("\\[(\\d+)\\]\\s*=\\s*([\\d.\\-]+)"));
    const QRegularExpressionMatch match = assignment.match(line);
    if (!match.hasMatch())
        return noValue();
    // Only the first assignment of a line counts; an index too large for 32 bits reads as 0.
    if (match.captured(1).toInt(nullptr, 10) != wanted)
        return noValue();
    return numberFromText(match.captured(2));
}

ExtractResult extractRegexPresence(const QString& line, const QString& pattern)
{
    const QRegularExpression& expression = compiled(pattern);
    if (!expression.isValid())
        return noValue();
    return expression.match(line).hasMatch() ? valueOf(1.0) : noValue();
}

} // namespace

ExtractResult extractValue(const QString& line, const ChartRule& rule)
{
    if (line.isEmpty())
        return noValue();
    switch (rule.method) {
    case JsonPath:
        return extractJsonPath(line, rule.pattern);
    case RegexCapture:
        return extractRegexCapture(line, rule.pattern);
    case IndexedAssignment:
        return extractIndexedAssignment(line, rule.pattern);
    case RegexPresence:
        return extractRegexPresence(line, rule.pattern);
    }
    return noValue();
}

QStringList chartLines(const QString& text)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n]+"));
    QStringList lines;
    for (const QString& part : text.split(lineBreaks, Qt::SkipEmptyParts)) {
        const QString line = part.trimmed();
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

void feedText(const QString& text,
              const std::function<QList<ChartRule>()>& currentRules,
              const std::function<void(const ChartRule&, double)>& append)
{
    for (const QString& line : chartLines(text)) {
        const QList<ChartRule> rules = currentRules();
        for (const ChartRule& rule : rules) {
            const ExtractResult result = extractValue(line, rule);
            if (result.hasValue)
                append(rule, result.value);
        }
    }
}

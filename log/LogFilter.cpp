#include "LogFilter.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The hub protocol's record separator; the log model sits below hub/ and cannot take it
// from there.
constexpr QChar RecordSeparator(0x1E);

const QString RenderedCall = QStringLiteral("](");
const QString RenderedSend = QStringLiteral("] -> ");

} // namespace

LogFilter::LogFilter(const Criteria& criteria)
    : m_criteria(criteria)
{
    if (criteria.text.isEmpty())
        return;
    if (criteria.regex) {
        m_regex = QRegularExpression(criteria.text, QRegularExpression::CaseInsensitiveOption);
        m_valid = m_regex.isValid();
        if (m_valid)
            m_regex.optimize();
        m_useText = m_valid;
    } else {
        m_matcher = QStringMatcher(criteria.text, Qt::CaseInsensitive);
        m_useText = true;
    }
}

QString LogFilter::regexError() const
{
    return m_valid ? QString() : m_regex.errorString();
}

bool LogFilter::isActive() const
{
    return m_useText || !m_criteria.method.isEmpty() || !m_criteria.tx || !m_criteria.rx
           || !m_criteria.sys;
}

bool LogFilter::matches(const LogEntry& entry, bool hex) const
{
    switch (entry.direction) {
    case LogEntry::TX:
        if (!m_criteria.tx)
            return false;
        break;
    case LogEntry::RX:
        if (!m_criteria.rx)
            return false;
        break;
    case LogEntry::SYS:
        if (!m_criteria.sys)
            return false;
        break;
    }
    if (m_criteria.method.isEmpty() && !m_useText)
        return true;
    // Made once per match: an entry keeps only its bytes.
    const QString text = entry.text();
    if (!m_criteria.method.isEmpty() && !hasTarget(text))
        return false;
    if (!m_useText)
        return true;
    const QString haystack = hex ? entry.hexText() : text;
    return m_criteria.regex ? m_regex.match(haystack).hasMatch() : m_matcher.indexIn(haystack) >= 0;
}

bool LogFilter::hasTarget(const QString& text) const
{
    // Cheap rejection first: most rows do not mention the method at all, and only the
    // rest are worth parsing.
    if (!text.contains(m_criteria.method, Qt::CaseInsensitive))
        return false;
    const QStringList names = targets(text);
    for (const QString& name : names) {
        // Hubs match method names without regard to case, and so does the filter.
        if (name.compare(m_criteria.method, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QStringList LogFilter::targets(const QString& text)
{
    QStringList names;
    const QList<QStringView> records = QStringView(text).split(RecordSeparator, Qt::SkipEmptyParts);
    for (QStringView record : records) {
        record = record.trimmed();
        if (record.startsWith(QLatin1Char('{'))) {
            const QJsonObject object = QJsonDocument::fromJson(record.toUtf8()).object();
            const QString target = object.value(QLatin1String("target")).toString();
            if (!target.isEmpty())
                names.append(target);
        } else if (record.startsWith(QLatin1Char('['))) {
            const qsizetype close = record.indexOf(QLatin1Char(']'));
            if (close > 1 && (record.mid(close).startsWith(RenderedCall)
                              || record.mid(close).startsWith(RenderedSend)))
                names.append(record.mid(1, close - 1).toString());
        }
    }
    return names;
}

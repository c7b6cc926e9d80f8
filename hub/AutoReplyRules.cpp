#include "AutoReplyRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <utility>

#include "HubProtocol.h"

namespace {

// Qt's parser takes only objects and arrays at the top level; a result is often a bare
// number or string, so the text is read as the one element of an array.
AutoReplyRules::Check parseValue(const QString& text, QJsonValue& value)
{
    AutoReplyRules::Check check;
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError) {
        check.problem = AutoReplyRules::Problem::InvalidJson;
        check.detail = error.errorString();
        check.offset = qBound(0, error.offset - 1, int(text.size()));
    } else if (document.array().size() != 1) {
        check.problem = AutoReplyRules::Problem::InvalidJson;
        check.detail = QStringLiteral("expected exactly one JSON value");
    } else {
        value = document.array().first();
    }
    return check;
}

} // namespace

AutoReplyRules::Check AutoReplyRules::add(const AutoReplyRule& rule)
{
    if (rule.method.trimmed().isEmpty())
        return {Problem::EmptyMethod, QString(), 0};
    if (rule.action != AutoReplyRule::Action::Return && rule.target.trimmed().isEmpty())
        return {Problem::EmptyTarget, QString(), 0};
    QJsonValue value;
    const Check check = parseValue(rule.json, value);
    if (check.problem != Problem::None)
        return check;
    AutoReplyRule kept = rule;
    kept.method = rule.method.trimmed();
    kept.target = rule.target.trimmed();
    m_rules.append(kept);
    m_values.append(value);
    return check;
}

void AutoReplyRules::removeAt(qsizetype index)
{
    if (index < 0 || index >= m_rules.size())
        return;
    m_rules.removeAt(index);
    m_values.removeAt(index);
}

bool AutoReplyRules::apply(const QJsonObject& invocation, SimulatedHubMethods::Reply& reply) const
{
    const QString method = invocation.value(QLatin1String("target")).toString();
    bool matched = false;
    bool returned = false;
    QJsonValue result; // null unless a Return rule sets it
    for (qsizetype i = 0; i < m_rules.size(); ++i) {
        const AutoReplyRule& rule = m_rules.at(i);
        if (rule.method.compare(method, Qt::CaseInsensitive) != 0)
            continue;
        matched = true;
        const QJsonValue& value = m_values.at(i);
        if (rule.action == AutoReplyRule::Action::Return) {
            if (!std::exchange(returned, true))
                result = value;
            continue;
        }
        const QJsonArray arguments = value.isArray() ? value.toArray() : QJsonArray{value};
        reply.pushes.append({rule.target, arguments, rule.action == AutoReplyRule::Action::PushToAll});
    }
    if (matched && invocation.contains(QLatin1String("invocationId")))
        reply.completion = HubProtocol::completionResult(invocation.value(QLatin1String("invocationId")), result);
    return matched;
}

#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include "SimulatedHubMethods.h"

// One scripted reply of the simulated hub: when a client invokes `method`, either return
// a fixed result in the completion, or push target(arguments) to the caller or to all.
struct AutoReplyRule
{
    enum class Action { Return, PushToCaller, PushToAll };

    QString method;
    Action action = Action::Return;
    QString target; // pushes only
    // The result, or the pushed arguments, as the user wrote them: a JSON array is the
    // argument list, any other JSON value the one argument.
    QString json;
};

// The user's scripted replies, in table order. Pure: rules are checked when added, so a
// rule in the list always has valid JSON, and applying them is a lookup.
//
// Method names match case-insensitively, as hub methods do on the official servers.
// Every rule for the invoked method applies, in order: pushes go out in that order, and
// the first Return rule's value is the completion's result (null when none has one).
class AutoReplyRules
{
public:
    enum class Problem { None, EmptyMethod, EmptyTarget, InvalidJson };
    struct Check
    {
        Problem problem = Problem::None;
        QString detail; // for InvalidJson: the parser's reason
        int offset = 0; // and where in the text it stopped
    };

    // Adds the rule at the end unless it has a problem, which is returned.
    Check add(const AutoReplyRule& rule);
    void removeAt(qsizetype index);
    const QList<AutoReplyRule>& rules() const { return m_rules; }

    // The reply the rules give to an invocation; false when no rule names its method, so
    // that the built-in methods answer it.
    bool apply(const QJsonObject& invocation, SimulatedHubMethods::Reply& reply) const;

private:
    QList<AutoReplyRule> m_rules;
    QList<QJsonValue> m_values; // each rule's parsed JSON
};

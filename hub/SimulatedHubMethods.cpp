#include "SimulatedHubMethods.h"

#include <QRegularExpression>

#include "HubProtocol.h"

namespace SimulatedHubMethods {

namespace {

struct Method
{
    const char* name;
    int arity;
};

const Method Methods[] = {
    {"Send", 1}, {"SendMessage", 1}, {"Echo", 1}, {"Broadcast", 2}, {"Subscribe", 1},
};

const char* const CounterMethod = "Counter";

const Method* findMethod(const QString& target)
{
    for (const Method& m : Methods)
        if (target == QLatin1String(m.name))
            return &m;
    return nullptr;
}

} // namespace

Reply dispatch(const QJsonObject& invocation)
{
    Reply reply;
    const QString target = invocation.value(QLatin1String("target")).toString();
    const QJsonArray arguments = invocation.value(QLatin1String("arguments")).toArray();
    const bool wantsCompletion = invocation.contains(QLatin1String("invocationId"));
    const QJsonValue id = invocation.value(QLatin1String("invocationId"));

    const Method* method = findMethod(target);

    QString error;
    if (target == QLatin1String(CounterMethod)) {
        error = QStringLiteral("The client attempted to invoke the streaming '%1' method with a "
                               "non-streaming invocation.").arg(target);
    } else if (!method) {
        error = QStringLiteral("Unknown hub method '%1'").arg(target);
    } else if (arguments.size() != method->arity) {
        error = QStringLiteral("Invocation provides %1 argument(s) but target expects %2.")
                    .arg(arguments.size())
                    .arg(method->arity);
    } else if (target == QLatin1String("Broadcast") && !arguments.at(0).isString()) {
        error = QStringLiteral("Broadcast expects a method name as its first argument.");
    }
    if (!error.isEmpty()) {
        if (wantsCompletion)
            reply.completion = HubProtocol::completionError(id, error);
        return reply;
    }

    QJsonValue result; // null for the methods that return nothing
    if (target == QLatin1String("Send") || target == QLatin1String("SendMessage")) {
        reply.pushes.append({QStringLiteral("ReceiveMessage"), arguments, true});
    } else if (target == QLatin1String("Echo")) {
        reply.pushes.append({QStringLiteral("Echo"), arguments, false});
        result = arguments.at(0);
    } else if (target == QLatin1String("Broadcast")) {
        reply.pushes.append({arguments.at(0).toString(), QJsonArray{arguments.at(1)}, true});
    }
    if (wantsCompletion)
        reply.completion = HubProtocol::completionResult(id, result);
    return reply;
}

StreamPlan planStream(const QJsonObject& streamInvocation)
{
    StreamPlan plan;
    const QString target = streamInvocation.value(QLatin1String("target")).toString();
    if (target != QLatin1String(CounterMethod)) {
        plan.error = findMethod(target)
                         ? QStringLiteral("The client attempted to invoke the non-streaming '%1' method "
                                          "with a streaming invocation.").arg(target)
                         : QStringLiteral("Unknown hub method '%1'").arg(target);
        return plan;
    }
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    QStringList parts;
    const QJsonArray arguments = streamInvocation.value(QLatin1String("arguments")).toArray();
    for (const QJsonValue& argument : arguments)
        parts += HubProtocol::valueText(argument).split(separators, Qt::SkipEmptyParts);
    bool countOk = false;
    bool delayOk = false;
    if (parts.size() == 2) {
        plan.count = parts.at(0).toInt(&countOk);
        plan.delayMs = parts.at(1).toInt(&delayOk);
    }
    if (!countOk || !delayOk || plan.count < 0 || plan.delayMs < 0)
        plan.error = QStringLiteral("Counter expects a count and a delay in ms: 5, 200 or \"5,200\".");
    return plan;
}

} // namespace SimulatedHubMethods

#include "SimulatedHubMethods.h"

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

} // namespace

Reply dispatch(const QJsonObject& invocation)
{
    Reply reply;
    const QString target = invocation.value(QLatin1String("target")).toString();
    const QJsonArray arguments = invocation.value(QLatin1String("arguments")).toArray();
    const bool wantsCompletion = invocation.contains(QLatin1String("invocationId"));
    const QJsonValue id = invocation.value(QLatin1String("invocationId"));

    const Method* method = nullptr;
    for (const Method& m : Methods)
        if (target == QLatin1String(m.name))
            method = &m;

    QString error;
    if (!method) {
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

} // namespace SimulatedHubMethods

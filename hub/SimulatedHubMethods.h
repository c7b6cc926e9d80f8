#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// What the simulated hub does for one invocation a client sends: the hub methods it
// advertises, with their usual meanings. Pure: the window carries the reply out.
namespace SimulatedHubMethods {

struct Push
{
    QString target;
    QJsonArray arguments;
    bool toAll = false; // else to the caller only
};

struct Reply
{
    QList<Push> pushes;
    // Set when the invocation carried an "invocationId": the completion record to
    // send back to the caller.
    QString completion;
};

// Send(msg), SendMessage(msg) -> ReceiveMessage(msg) to all; Echo(msg) -> Echo(msg) to
// the caller; Broadcast(method, msg) -> method(msg) to all; Subscribe(name) accepted.
// Anything else is an unknown method.
Reply dispatch(const QJsonObject& invocation);

} // namespace SimulatedHubMethods

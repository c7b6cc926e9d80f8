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
// Counter is a stream and refused here, as ASP.NET Core refuses it. Anything else is an
// unknown method.
Reply dispatch(const QJsonObject& invocation);

// What the hub streams for one StreamInvocation: Counter(count, delayMs) sends the
// numbers 0 to count-1, the first at once and then one every delayMs, and completes after
// the last. The send area sends one string, so "5,200" or "5 200" does as well as 5, 200.
struct StreamPlan
{
    int count = 0;
    int delayMs = 0;
    QString error; // set when the stream cannot start: its completion carries it
};
StreamPlan planStream(const QJsonObject& streamInvocation);

} // namespace SimulatedHubMethods

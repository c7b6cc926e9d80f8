// Guards MessagePack against the official implementations: the hub client's calls (a map,
// a number, a stream) refused or misread by an ASP.NET Core hub that speaks only
// MessagePack (tests/interop/MsgPackHub), its pushes, results, timestamps, bytes, stream
// items and close not read back as rows and chart texts; and the simulated hub failing the
// official JavaScript client with its MessagePack protocol (Echo with a map, a push, the
// Counter stream).

#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "ChildProcess.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogLines.h"
#include "SimulatedHub.h"

constexpr int Timeout = ChildProcess::Timeout;

namespace {

// Whether a row reads `row` exactly, with a round trip after it when asked, waiting for it.
bool waitForRow(const CommunicationBase& log, const QString& row, bool roundTrip = false)
{
    const QRegularExpression pattern(QStringLiteral("^%1%2$").arg(QRegularExpression::escape(row),
                                                                   roundTrip ? QStringLiteral(" \\(\\d+ ms\\)") : QString()));
    return QTest::qWaitFor([&] { return !logLines(&log).filter(pattern).isEmpty(); }, Timeout);
}

} // namespace

class TestInteropMsgPack : public QObject
{
    Q_OBJECT

private slots:
    void clientAgainstAspNetCore()
    {
        const QString dotnet = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (dotnet.isEmpty())
            QSKIP("needs the .NET SDK (dotnet) to build the ASP.NET Core hub");
        const QString dll = builtDotnetApp(dotnet, QFINDTESTDATA("interop/MsgPackHub/MsgPackHub.csproj"));
        QVERIFY(!dll.isEmpty());
        ChildProcess hub(dotnet, {dll});
        QTRY_VERIFY2_WITH_TIMEOUT(!hub.after("LISTENING ").isEmpty(), qPrintable(hub.transcript()), Timeout);
        const QString base = hub.after("LISTENING ").first().replace(QLatin1String("http"), QLatin1String("ws"));

        CommunicationBase log;
        HubClient client(&log);
        client.setMessagePack(true);
        QSignalSpy charted(&client, &HubClient::argumentReceived);
        client.open(base + "/msgpack");
        QVERIFY(waitForRow(log, "SYS SignalR协议握手成功 (MessagePack)"));
        client.invoke(QStringLiteral("Sum"), R"({"a":1,"b":2.5})");
        client.invoke(QStringLiteral("Sample"), "2");
        client.invoke(QStringLiteral("Odd"), "x");
        client.stream(QStringLiteral("Counter"), "3");
        const QList<QPair<QString, bool>> rows = {
            {"RX [结果 #0] 3.5", true}, {R"(RX [Reading]({"n":1,"temp":21.5}, 10))", false}, {"RX [结果 #1] null", true},
            {R"j(RX [结果 #2] ["2024-05-01T12:00:00Z","base64(AQID)"])j", true}, {"RX [流 #3] 2", false},
            {"RX [结果 #3]", true}};
        for (const auto& [row, roundTrip] : rows)
            QVERIFY2(waitForRow(log, row, roundTrip), qPrintable(row + "\n---\n" + logLines(&log).join('\n')));
        QVERIFY(hub.lines.contains("SUM 3.5"));
        QCOMPARE(charted.size(), 2 * 2 + 3); // two readings of two arguments, three stream items
        QCOMPARE(charted.at(2).at(0).toString(), QStringLiteral(R"({"n":1,"temp":21.5})"));
        QCOMPARE(charted.at(3).at(0).toString(), QStringLiteral("10"));
        client.close();

        QSignalSpy disconnected(&client, &HubClient::disconnected);
        client.open(base + "/refusing");
        QVERIFY(disconnected.wait(Timeout));
        QVERIFY2(logContains(&log, "RX 服务端关闭连接: Connection closed with an error. HubException: not today (不允许重连)"),
                 qPrintable(logLines(&log).join('\n')));
    }

    void javaScriptClientAgainstSimulatedHub()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        const QString script = QFINDTESTDATA("interop/node/msgpack-client.mjs");
        const QString library = QFileInfo(script).path() + QStringLiteral("/node_modules/@microsoft/signalr-protocol-msgpack");
        if (node.isEmpty() || !QFileInfo::exists(library))
            QSKIP("needs node and tests/interop/node/node_modules (scripts/setup-interop.sh)");
        CommunicationBase log;
        SimulatedHub hub(&log);
        QVERIFY(hub.listen(0, QStringLiteral("/debughub")));
        ChildProcess client(node, {script, QStringLiteral("http://127.0.0.1:%1/debughub").arg(hub.port())});
        QSignalSpy finished(&client.process, &QProcess::finished);
        QTRY_VERIFY2_WITH_TIMEOUT(client.lines.contains("ready"), qPrintable(client.transcript()), Timeout);
        hub.broadcast(QStringLiteral("ReceiveMessage"), "pushed");
        QVERIFY2(finished.wait(Timeout), qPrintable(client.transcript()));
        const QString map = QStringLiteral(R"({"name":"korva","values":[1,2.5,true]})");
        QCOMPARE(client.lines, QStringList({"push Echo " + map, "echo " + map, "stream 0,1,2", "ready", "push pushed", "stopped"}));
        // What the hub read: the call itself, not only its echo.
        QVERIFY2(!logLines(&log).filter(QStringLiteral(R"(RX {"arguments":[%1],"invocationId":"0","target":"Echo","type":1})").arg(map)).isEmpty(),
                 qPrintable(logLines(&log).join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestInteropMsgPack)
#include "tst_interop_msgpack.moc"

// Guards the hub ends against disagreeing with the official SignalR implementations: the
// simulated hub against the @microsoft/signalr client (handshake, Echo answered and pushed,
// a push, pings too rare for the client's server time-out, a stop) and the hub client
// against an ASP.NET Core hub (subscription, push, completion, pings too rare for the
// hub's client time-out). Intervals are short so that a keep-alive shows in seconds; each
// half skips when its runtime is missing.

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include "ChildProcess.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogLines.h"
#include "SimulatedHub.h"

namespace {

constexpr int Timeout = ChildProcess::Timeout;
constexpr int KeepAliveMs = 500;       // quiet time after which Korvahub's ends ping
constexpr int PeerTimeoutMs = 2000;    // the real peer's time-out for a silent other end
constexpr int SilenceMs = 5000;

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT

private slots:
    void simulatedHubWithJavaScriptClient()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        const QString script = QFINDTESTDATA("interop/node/client.mjs");
        const QString library = QFileInfo(script).path() + QStringLiteral("/node_modules/@microsoft/signalr");
        if (node.isEmpty() || !QFileInfo::exists(library))
            QSKIP("needs node and tests/interop/node/node_modules (scripts/setup-interop.sh)");
        CommunicationBase log;
        SimulatedHub hub(&log);
        hub.setKeepAliveInterval(KeepAliveMs);
        QVERIFY(hub.listen(0, QStringLiteral("/debughub")));
        QSignalSpy joined(&hub, &SimulatedHub::peerJoined);

        ChildProcess client(node, {script, QStringLiteral("http://127.0.0.1:%1/debughub").arg(hub.port()),
                            QString::number(PeerTimeoutMs), QString::number(SilenceMs)});
        QSignalSpy finished(&client.process, &QProcess::finished);
        QTRY_VERIFY2_WITH_TIMEOUT(client.lines.contains("ready"), qPrintable(client.transcript()), Timeout);
        hub.broadcast(QStringLiteral("ReceiveMessage"), "from-korvahub");
        QVERIFY2(finished.wait(SilenceMs + Timeout), qPrintable(client.transcript()));

        // The client stayed connected through the silence, and the hub's pings reached it.
        const QStringList silent = client.after("silent Connected pings ");
        QVERIFY2(silent.size() == 1 && silent.first().toInt() >= SilenceMs / KeepAliveMs / 2,
                 qPrintable(client.transcript()));
        client.lines.removeOne("silent Connected pings " + silent.first());
        QCOMPARE(client.lines, QStringList({"push Echo from-node", "echo from-node", "ready",
                                            "push ReceiveMessage from-korvahub", "stopped Disconnected"}));
        QCOMPARE(client.process.exitCode(), 0);

        // The hub logged the official client's call and its leaving.
        QCOMPARE(joined.size(), 1);
        QVERIFY(logContains(&log, R"(RX {"target":"Echo","arguments":["from-node"],"invocationId":"0","type":1})" "\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(&log, "SYS 客户端断开: " + joined.first().first().toString()), Timeout);
    }

    void hubClientWithAspNetCoreHub()
    {
        const QString dotnet = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (dotnet.isEmpty())
            QSKIP("needs the .NET SDK (dotnet) to build the ASP.NET Core hub");
        const QString hubDll = builtDotnetApp(dotnet, QFINDTESTDATA("interop/DebugHub/DebugHub.csproj"));
        QVERIFY(!hubDll.isEmpty());
        ChildProcess hub(dotnet, {hubDll, "--urls", "http://127.0.0.1:0", "--Hub:ClientTimeoutInterval",
                           QStringLiteral("0:0:%1").arg(PeerTimeoutMs / 1000.0)});
        QTRY_VERIFY2_WITH_TIMEOUT(!hub.after("LISTENING ").isEmpty(), qPrintable(hub.transcript()), Timeout);
        const QString url =
            QStringLiteral("ws://127.0.0.1:%1/debughub").arg(QUrl(hub.after("LISTENING ").first()).port());

        CommunicationBase log;
        HubClient client(&log);
        client.setKeepAliveInterval(KeepAliveMs);
        client.addSubscription(QStringLiteral("ReceiveMessage"));
        client.open(url);
        // Completions show their call's id and round trip: one for Subscribe, one for SendMessage.
        const QRegularExpression completion(QStringLiteral("^RX \\[结果 #\\d+\\] .+ \\(\\d+ ms\\)$"));
        const auto completions = [&] { return logLines(&log).filter(completion).size(); };
        QTRY_VERIFY2_WITH_TIMEOUT(completions() == 1, qPrintable(logLines(&log).join('\n')), Timeout);
        QVERIFY(client.invoke(QStringLiteral("SendMessage"), "from-korvahub"));
        QTRY_VERIFY2_WITH_TIMEOUT(completions() == 2, qPrintable(logLines(&log).join('\n')), Timeout);

        const qsizetype pingsBefore = hub.after("PING ").size();
        QTest::qWait(SilenceMs);
        // The hub heard a ping well within its time-out all through the silence.
        const QStringList pings = hub.after("PING ").mid(pingsBefore);
        QVERIFY2(pings.size() >= SilenceMs / KeepAliveMs / 2, qPrintable(hub.transcript()));
        for (qsizetype i = 1; i < pings.size(); ++i)
            QVERIFY2(pings.at(i).toLongLong() - pings.at(i - 1).toLongLong() < PeerTimeoutMs,
                     qPrintable(hub.transcript()));
        // Rendered rows of these answers against the same kind of hub: tst_interop_messages.
        QVERIFY(logContains(&log, "RX [ReceiveMessage](hub, got from-korvahub)"));
        hub.lines.removeIf([](const QString& line) { return line.startsWith(QLatin1String("PING ")); });
        QCOMPARE(hub.lines.mid(1),
                 QStringList({"CONNECTED", "SUBSCRIBE ReceiveMessage", "INVOKE SendMessage from-korvahub"}));

        // The control: without pings the same hub drops the client within its time-out.
        QSignalSpy dropped(&client, &HubClient::disconnected);
        client.setKeepAliveInterval(SilenceMs * 10);
        QVERIFY(dropped.wait(3 * PeerTimeoutMs));
        QTRY_VERIFY2_WITH_TIMEOUT(hub.lines.last().startsWith("DISCONNECTED Client hasn't sent a message/ping"),
                                  qPrintable(hub.transcript()), Timeout);
    }
};

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"

// Guards the hub client against what a real ASP.NET Core hub sends (tests/interop/
// MessagesHub): results and hub errors losing their text, id or round trip, stream items
// or their completion lost, a cancellation the hub never sees, a client-result request
// left hanging, hub pings that do not hold off a short server time-out, a close with an
// error that allows reconnecting (then the subscriptions must be replayed) or forbids
// it, and a hub gone silent that is never given up.

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

#include "CommunicationBase.h"
#include "HubClient.h"
#include "ChildProcess.h"
#include "LogLines.h"

constexpr int Timeout = ChildProcess::Timeout;

namespace {

const QString RoundTrip = QStringLiteral(" \\(\\d+ ms\\)");

// Whether some row of the log matches `pattern` as a whole, waiting for it.
bool waitForRow(const CommunicationBase& log, const QString& pattern)
{
    const QRegularExpression row(QStringLiteral("^%1$").arg(pattern));
    return QTest::qWaitFor([&] { return !logLines(&log).filter(row).isEmpty(); }, Timeout);
}

struct Client
{
    CommunicationBase log;
    HubClient hub{&log};
    QString transcript() const { return logLines(&log).join(QLatin1Char('\n')); }
};

} // namespace

class TestInteropMessages : public QObject
{
    Q_OBJECT

    std::unique_ptr<ChildProcess> m_hub; // one hub for every case: it starts in a second
    QString m_base;                           // ws://127.0.0.1:port

    bool open(Client& client, const QString& path)
    {
        client.hub.open(m_base + path);
        return waitForRow(client.log, QStringLiteral("SYS SignalR协议握手成功"));
    }

    bool hubSaid(const QString& line)
    {
        return QTest::qWaitFor([&] { return m_hub->lines.contains(line); }, Timeout);
    }

    // The id the hub gave its n-th connection (0-based), once it has said so.
    QString connectionId(int n)
    {
        (void)QTest::qWaitFor([&] { return m_hub->after("CONNECTED ").size() > n; }, Timeout);
        return m_hub->after("CONNECTED ").value(n);
    }

private slots:
    void initTestCase()
    {
        const QString dotnet = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (dotnet.isEmpty())
            QSKIP("needs the .NET SDK (dotnet) to build the ASP.NET Core hub");
        const QString dll = builtDotnetApp(dotnet, QFINDTESTDATA("interop/MessagesHub/MessagesHub.csproj"));
        QVERIFY(!dll.isEmpty());
        m_hub = std::make_unique<ChildProcess>(dotnet, QStringList{dll});
        QTRY_VERIFY2_WITH_TIMEOUT(!m_hub->after("LISTENING ").isEmpty(), qPrintable(m_hub->transcript()), Timeout);
        m_base = m_hub->after("LISTENING ").first().replace(QLatin1String("http"), QLatin1String("ws"));
    }

    void cleanupTestCase() { m_hub.reset(); }

    void conversation()
    {
        Client c;
        c.hub.setAutoReconnect(true);
        c.hub.setReconnectDelays({0});
        // The hub is asked to ping every 200 ms; ASP.NET Core checks that once a second.
        c.hub.setServerTimeout(2500);
        c.hub.setShowPings(true);
        c.hub.addSubscription(QStringLiteral("S"));
        QVERIFY2(open(c, QStringLiteral("/messages")), qPrintable(c.transcript()));
        QVERIFY(hubSaid("SUBSCRIBE " + connectionId(0) + " S"));

        c.hub.invoke(QStringLiteral("Shout"), "hi");
        c.hub.invoke(QStringLiteral("Fail"), "x");
        c.hub.stream(QStringLiteral("Counter"), "3,10");
        c.hub.invoke(QStringLiteral("AskClient"), "GetName");
        const QStringList rows = {
            "RX \\[结果 #0\\] HI" + RoundTrip,
            "RX \\[错误 #1\\] An unexpected error occurred invoking 'Fail' on the server\\. HubException: refused: x" + RoundTrip,
            "RX \\[流 #2\\] 2", "RX \\[结果 #2\\]" + RoundTrip,
            "RX \\[GetName\\]\\(\\)",
            "SYS 服务端请求客户端结果 \\(#\\w+\\)，已回复: Client didn't provide a result\\.",
            "RX \\[结果 #3\\] Client didn't provide a result\\." + RoundTrip};
        for (const QString& row : rows)
            QVERIFY2(waitForRow(c.log, row), qPrintable(row + "\n---\n" + c.transcript()));
        QVERIFY(hubSaid("CLIENTRESULT Client didn't provide a result."));

        c.hub.stream(QStringLiteral("Counter"), "100000,20");
        QVERIFY(waitForRow(c.log, "RX \\[流 #4\\] 1"));
        c.hub.cancelStreams();
        QVERIFY(hubSaid("STREAM CANCELLED"));
        QVERIFY2(waitForRow(c.log, "RX \\[结果 #4\\]" + RoundTrip), qPrintable(c.transcript()));

        // Pings for longer than the time-out keep the connection.
        QTRY_VERIFY2_WITH_TIMEOUT(logLines(&c.log).count("RX [心跳]") >= 4, qPrintable(c.transcript()), Timeout);
        QVERIFY2(logLines(&c.log).filter(QStringLiteral("服务端超时")).isEmpty(), qPrintable(c.transcript()));

        // A result the hub cannot write: it closes with the error and allows reconnecting.
        c.hub.invoke(QStringLiteral("Explode"), "now");
        QVERIFY2(waitForRow(c.log, "RX 服务端关闭连接: Connection closed with an error\\. InvalidOperationException: "
                                   "cannot be written \\(允许重连\\)"), qPrintable(c.transcript()));
        QVERIFY2(hubSaid("SUBSCRIBE " + connectionId(1) + " S"), qPrintable(m_hub->transcript()));
        QVERIFY(hubSaid("DISCONNECTED " + connectionId(0)));
        c.hub.close();
    }

    void closeForbidsReconnecting()
    {
        Client c;
        c.hub.setAutoReconnect(true);
        c.hub.setReconnectDelays({0});
        QSignalSpy disconnected(&c.hub, &HubClient::disconnected);
        c.hub.open(m_base + "/refusing");
        QVERIFY2(disconnected.wait(Timeout), qPrintable(c.transcript()));
        QVERIFY(!c.hub.isReconnecting());
        QVERIFY2(logContains(&c.log, "RX 服务端关闭连接: Connection closed with an error. HubException: not today (不允许重连)"),
                 qPrintable(c.transcript()));
    }

    void silentHubIsGivenUp()
    {
        Client c;
        c.hub.setServerTimeout(800);
        QSignalSpy disconnected(&c.hub, &HubClient::disconnected);
        const int connectionsBefore = int(m_hub->after("CONNECTED ").size());
        QVERIFY(open(c, QStringLiteral("/quiet")));
        QVERIFY(disconnected.wait(Timeout));
        QVERIFY2(logContains(&c.log, "SYS 服务端超时: 0.8 秒内没有收到任何消息，断开连接"), qPrintable(c.transcript()));
        QVERIFY(hubSaid("DISCONNECTED " + connectionId(connectionsBefore)));
    }
};

QTEST_GUILESS_MAIN(TestInteropMessages)
#include "tst_interop_messages.moc"

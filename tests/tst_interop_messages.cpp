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

#include "ChildProcess.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogLines.h"

namespace {

constexpr int Timeout = ChildProcess::Timeout;
const QString RoundTrip = QStringLiteral(" \\(\\d+ ms\\)");

// A hub client with its log, reconnecting at once when asked to.
struct Client
{
    CommunicationBase log;
    HubClient hub{&log};
    QSignalSpy disconnected{&hub, &HubClient::disconnected};

    QString transcript() const { return logLines(&log).join('\n'); }
    // Waits for a row of the log that matches `pattern` as a whole.
    bool row(const QString& pattern)
    {
        const QRegularExpression whole('^' + pattern + '$');
        return QTest::qWaitFor([&] { return !logLines(&log).filter(whole).isEmpty(); }, Timeout);
    }
};

} // namespace

class TestInteropMessages : public QObject
{
    Q_OBJECT

    std::unique_ptr<ChildProcess> m_hub; // one hub for every case: it starts in a second
    QString m_base;                      // ws://127.0.0.1:port

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
        c.hub.open(m_base + "/messages");
        QVERIFY(hubSaid("SUBSCRIBE " + connectionId(0) + " S"));

        c.hub.invoke(QStringLiteral("Shout"), "hi");
        c.hub.invoke(QStringLiteral("Fail"), "x");
        c.hub.stream(QStringLiteral("Counter"), "3,10");
        c.hub.invoke(QStringLiteral("AskClient"), "GetName");
        for (const QString& row : QStringList{"RX \\[结果 #0\\] HI" + RoundTrip,
                                   "RX \\[错误 #1\\] An unexpected error occurred invoking 'Fail' on the server\\. "
                                   "HubException: refused: x" + RoundTrip,
                                   "RX \\[流 #2\\] 2", "RX \\[结果 #2\\]" + RoundTrip, "RX \\[GetName\\]\\(\\)",
                                   "SYS 服务端请求客户端结果 \\(#\\w+\\)，已回复: Client didn't provide a result\\.",
                                   "RX \\[结果 #3\\] Client didn't provide a result\\." + RoundTrip})
            QVERIFY2(c.row(row), qPrintable(row + "\n---\n" + c.transcript()));
        QVERIFY(hubSaid("CLIENTRESULT Client didn't provide a result."));

        c.hub.stream(QStringLiteral("Counter"), "100000,20");
        QVERIFY(c.row("RX \\[流 #4\\] 1"));
        c.hub.cancelStreams();
        QVERIFY(hubSaid("STREAM CANCELLED"));
        QVERIFY2(c.row("RX \\[结果 #4\\]" + RoundTrip), qPrintable(c.transcript()));

        // Pings for longer than the time-out keep the connection.
        QTRY_VERIFY2_WITH_TIMEOUT(logLines(&c.log).count("RX [心跳]") >= 4, qPrintable(c.transcript()), Timeout);
        QVERIFY2(c.disconnected.isEmpty(), qPrintable(c.transcript()));

        // A result the hub cannot write: it closes with the error and allows reconnecting.
        c.hub.invoke(QStringLiteral("Explode"), "now");
        QVERIFY2(c.row("RX 服务端关闭连接: Connection closed with an error\\. InvalidOperationException: "
                       "cannot be written \\(允许重连\\)"), qPrintable(c.transcript()));
        QVERIFY2(hubSaid("SUBSCRIBE " + connectionId(1) + " S"), qPrintable(m_hub->transcript()));
        QVERIFY(hubSaid("DISCONNECTED " + connectionId(0)));
        c.hub.close();
    }

    void closeForbidsReconnectingAndSilenceEnds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("logged");
        QTest::newRow("close forbids reconnecting")
            << "/refusing" << "RX 服务端关闭连接: Connection closed with an error. HubException: not today (不允许重连)";
        QTest::newRow("silent hub given up") << "/quiet" << "SYS 服务端超时: 0.8 秒内没有收到任何消息，断开连接";
    }

    void closeForbidsReconnectingAndSilenceEnds()
    {
        QFETCH(QString, path);
        QFETCH(QString, logged);
        Client c;
        c.hub.setAutoReconnect(path == "/refusing"); // a close that forbids it is final even so
        c.hub.setReconnectDelays({0});
        c.hub.setServerTimeout(800);
        const int connectionsBefore = int(m_hub->after("CONNECTED ").size());
        c.hub.open(m_base + path);
        QVERIFY2(c.disconnected.wait(Timeout), qPrintable(c.transcript()));
        QVERIFY2(logContains(&c.log, logged), qPrintable(c.transcript()));
        if (path == "/quiet") // the hub saw the client go
            QVERIFY(hubSaid("DISCONNECTED " + connectionId(connectionsBefore)));
        else
            QVERIFY(!c.hub.isReconnecting());
    }
};

QTEST_GUILESS_MAIN(TestInteropMessages)
#include "tst_interop_messages.moc"

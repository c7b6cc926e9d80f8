// Guards the hub client end against: a wrong handshake or subscription sequence, the
// hub's first answer misread (error taken as success, typed or raw records swallowed),
// records lost or mis-rendered when several arrive in one message, a refused address
// reported twice, as a disconnection or before the attempt, a hub that never answers the
// handshake leaving the client "connected", a stale socket acting on a newer connection,
// oversize messages accepted, a client that never pings a quiet hub, calls sent without
// (or, fire-and-forget, with) an id or left out of the TX counter, completions not paired
// with their calls, a hub's client-result request left hanging, streams not cancelled,
// and a dropped connection that comes back when reconnecting is off, or without its
// subscriptions. The hub's close records and a silent hub: tst_interop, on a real hub.

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "CommunicationBase.h"
#include "HubClient.h"
#include "HubTestKit.h"
#include "LogLines.h"

using HubTestKit::Timeout;

namespace {

const QString Handshake = HubProtocol::handshakeRequest();
const QString Ack = QStringLiteral("{}\x1e");

struct Fixture
{
    RecordingHub hub;
    CommunicationBase log;
    HubClient client{&log};

    // Connects and waits for the handshake request, which is then forgotten.
    bool connect()
    {
        if (!hub.listen())
            return false;
        client.open(hub.url().toString());
        const bool ok = QTest::qWaitFor([this] { return hub.received.contains(Handshake); }, Timeout);
        hub.received.clear();
        return ok && client.isConnected();
    }

    QStringList logSince(qsizetype from) const { return logLines(&log).mid(from); }
};

} // namespace

class TestHubClient : public QObject
{
    Q_OBJECT

private slots:
    void connectHandshakeSubscribeAndClose()
    {
        Fixture f;
        QVERIFY(f.hub.listen());
        QVERIFY(f.client.addSubscription(QStringLiteral("ReceiveMessage")));
        QVERIFY(f.client.addSubscription(QStringLiteral("Other")));
        QVERIFY(!f.client.addSubscription(QStringLiteral("Other")));
        QSignalSpy connected(&f.client, &HubClient::connected);
        QSignalSpy disconnected(&f.client, &HubClient::disconnected);

        // No scheme: ws:// is put in front.
        f.client.open(QStringLiteral("127.0.0.1:%1/hub").arg(f.hub.port()));
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.received, QStringList{Handshake}, Timeout);
        QCOMPARE(connected.size(), 1);
        f.hub.sendToAll(Ack);
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.received.size(), 3, Timeout);
        const QRegularExpression subscribe(QStringLiteral(
            "^\\{\"arguments\":\\[\"(\\w+)\"\\],\"invocationId\":\"\\d{13}\",\"target\":\"Subscribe\",\"type\":1\\}\x1e$"));
        QCOMPARE(subscribe.match(f.hub.received.at(1)).captured(1), QStringLiteral("ReceiveMessage"));
        QCOMPARE(subscribe.match(f.hub.received.at(2)).captured(1), QStringLiteral("Other"));

        QVERIFY(f.client.invoke(QStringLiteral("SendMessage"), "hi"));
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.received.size(), 4, Timeout);
        QCOMPARE(f.hub.received.at(3),
                 QStringLiteral("{\"arguments\":[\"hi\"],\"invocationId\":\"0\",\"target\":\"SendMessage\",\"type\":1}\x1e"));

        f.client.close();
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.clientCount(), 0, Timeout);
        QVERIFY(!f.client.invoke(QStringLiteral("SendMessage"), "late"));
        const QString url = QStringLiteral("ws://127.0.0.1:%1/hub").arg(f.hub.port());
        QCOMPARE(logLines(&f.log),
                 QStringList({"SYS 已订阅方法 ReceiveMessage", "SYS 已订阅方法 Other",
                              "SYS 正在连接 " + url + "...", "SYS SignalR已连接",
                              "SYS SignalR协议握手成功", "SYS 已订阅方法 ReceiveMessage",
                              "SYS 已订阅方法 Other", "SYS [SendMessage] -> hi"}));
        QCOMPARE(disconnected.size(), 0); // the user's own close is not news
    }

    void receivedMessages_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("error refuses")
            << QStringLiteral("{\"error\":\"Requested protocol 'json' is not available.\"}\x1e")
            << QStringList({"SYS 握手失败: Requested protocol 'json' is not available."});
        QTest::newRow("typed first record is a message, a later {} an empty row")
            << QStringLiteral("{\"type\":1,\"target\":\"T\",\"arguments\":[\"a\"]}\x1e{}\x1e")
            << QStringList({"RX [T](a)", "RX "});
        QTest::newRow("raw first record is raw text") << QStringLiteral("hello\x1e") << QStringList({"RX hello"});
        QTest::newRow("untyped completions: error logged, result silent, then raw")
            << Ack + QStringLiteral("{\"invocationId\":\"4\",\"error\":\"boom\"}\x1e"
                                    "{\"invocationId\":\"4\",\"result\":1}\x1e[1,2]\x1e")
            << QStringList({"SYS SignalR协议握手成功", "SYS 调用错误: boom", "RX [1,2]"});
        QTest::newRow("no separator") << Ack + QStringLiteral("plain")
                                      << QStringList({"SYS SignalR协议握手成功", "RX plain"});
    }

    void receivedMessages()
    {
        QFETCH(QString, message);
        QFETCH(QStringList, expected);
        Fixture f;
        QVERIFY(f.connect());
        const qsizetype before = logLines(&f.log).size();
        f.hub.sendToAll(message);
        QTRY_COMPARE_WITH_TIMEOUT(f.logSince(before).size(), expected.size(), Timeout);
        QCOMPARE(f.logSince(before), expected);
    }

    // Results, errors, items and round trips against a real hub: tst_interop.
    void callKindsAndAnswers()
    {
        Fixture f;
        QVERIFY(f.connect());
        QVERIFY(f.client.invoke(QStringLiteral("Echo"), "hi"));
        QVERIFY(f.client.send(QStringLiteral("M"), "x"));
        QVERIFY(f.client.stream(QStringLiteral("Counter"), "2,5"));
        f.client.cancelStreams();
        f.hub.sendToAll(HubProtocol::completionResult("99", 1) // a call this client never sent
                        + QStringLiteral("{\"type\":1,\"invocationId\":\"h1\",\"target\":\"GetName\",\"arguments\":[]}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.received.size(), 5, Timeout);
        QCOMPARE(f.hub.received, QStringList({HubProtocol::clientInvocation("Echo", "hi", 0),
                                              HubProtocol::serverInvocation("M", "x"),
                                              HubProtocol::streamInvocation("Counter", "2,5", 1),
                                              HubProtocol::cancelInvocation("1"),
                                              HubProtocol::completionError("h1", "Client didn't provide a result.")}));
        QCOMPARE(f.log.txBytes(), qint64(2 + 1 + 3));
        QVERIFY(logContains(&f.log, QStringLiteral("RX [结果 #99] 1")));
    }

    // A dropped connection comes back, its subscriptions replayed, only when asked for.
    void reconnectsOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }

    void reconnectsOnlyWhenAsked()
    {
        QFETCH(bool, on);
        Fixture f;
        f.client.setAutoReconnect(on);
        f.client.setReconnectDelays({0});
        QVERIFY(f.client.addSubscription(QStringLiteral("S")) && f.connect());
        f.hub.sendToAll(Ack);
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.received.size(), 1, Timeout); // the subscription
        QSignalSpy disconnected(&f.client, &HubClient::disconnected);
        f.hub.closeAll();
        QTRY_VERIFY_WITH_TIMEOUT(f.hub.received.size() == (on ? 2 : 1) && disconnected.size() == (on ? 0 : 1), Timeout);
        if (on) {
            f.hub.sendToAll(Ack); // the old connection is gone: only the new one hears it
            QTRY_COMPARE_WITH_TIMEOUT(f.hub.received.size(), 3, Timeout);
            QCOMPARE(f.hub.received.mid(1, 1), QStringList{Handshake});
            QVERIFY(f.hub.received.last().contains(QStringLiteral("[\"S\"]")));
        }
        QCOMPARE(f.client.isReconnecting() || f.client.isConnected(), on);
    }

    void failedAttemptsAreReportedInOrder_data()
    {
        QTest::addColumn<QString>("address"); // %1: the test hub's port
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("expected"); // after the attempt's own entry
        const QString hub = QStringLiteral("ws://127.0.0.1:%1/hub");
        QTest::newRow("refused") << hub << false << QStringList{"SYS 连接错误: Connection refused"};
        // Qt refuses this one inside open() already.
        QTest::newRow("invalid port") << "ws://127.0.0.1:99999/hub" << false << QStringList{"SYS 连接错误: Invalid URL."};
        QTest::newRow("handshake never answered")
            << hub << true
            << QStringList{"SYS SignalR已连接", "SYS 握手超时: 0.3 秒内没有收到 Hub 的握手应答，放弃连接",
                           "SYS SignalR连接已断开"};
    }

    void failedAttemptsAreReportedInOrder()
    {
        QFETCH(QString, address);
        QFETCH(bool, listening);
        QFETCH(QStringList, expected);
        auto hub = std::make_unique<RecordingHub>();
        QVERIFY(hub->listen());
        const QString url = address.contains("%1") ? address.arg(hub->port()) : address;
        if (!listening)
            hub.reset(); // a port that was just free
        CommunicationBase log;
        HubClient client(&log);
        client.setHandshakeTimeout(300);
        QSignalSpy disconnected(&client, &HubClient::disconnected);
        client.open(url);
        expected.prepend("SYS 正在连接 " + url + "...");
        QTRY_COMPARE_WITH_TIMEOUT(logLines(&log), expected, Timeout);
        QCoreApplication::processEvents(); // where a late duplicate report would land
        QCOMPARE(logLines(&log).size(), expected.size());
        QCOMPARE(disconnected.size(), 1);
        if (hub) { // the hub heard the request and saw the client go
            QCOMPARE(hub->received, QStringList{Handshake});
            QTRY_COMPARE_WITH_TIMEOUT(hub->clientCount(), 0, Timeout);
        }
    }

    void newAttemptSilencesTheEarlierSocket()
    {
        RecordingHub first;
        Fixture f;
        QVERIFY(first.listen());
        f.client.open(first.url().toString());
        QVERIFY(f.connect());
        QTRY_COMPARE_WITH_TIMEOUT(first.clientCount(), 0, Timeout);
        QVERIFY(first.received.isEmpty());
        QCOMPARE(logLines(&f.log).count("SYS SignalR已连接"), 1);
    }

    void oversizedMessageIsRefused()
    {
        Fixture f;
        f.client.setMaxMessageBytes(1024 * 1024); // the same rule at a size a test can afford
        QVERIFY(f.connect());
        QSignalSpy disconnected(&f.client, &HubClient::disconnected);
        f.hub.sendToAll(QString(1024 * 1024 + 16, QLatin1Char('x')));
        QVERIFY(disconnected.wait(Timeout));
        QVERIFY(logContains(&f.log, QStringLiteral("SYS 消息超过大小上限 (1 MiB)，连接已关闭")));
        QVERIFY(logLines(&f.log).filter(QStringLiteral("RX ")).isEmpty());
    }

    void pingsAfterEveryQuietSpell()
    {
        Fixture f;
        f.client.setKeepAliveInterval(150);
        QVERIFY(f.connect());
        f.hub.sendToAll(Ack);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.received.count(HubProtocol::pingRecord()), 3, Timeout);
        // Three quiet spells, each ended by a ping: no sooner than the interval allows.
        QVERIFY(clock.elapsed() >= 3 * 150 - 50);
        QVERIFY(logLines(&f.log).filter(QStringLiteral("心跳")).isEmpty()); // pings are not logged
        // Unless asked for: then both sides' pings are rows, counted by neither counter.
        f.client.setShowPings(true);
        f.hub.sendToAll(HubProtocol::pingRecord());
        QTRY_VERIFY_WITH_TIMEOUT(logContains(&f.log, QStringLiteral("RX [心跳]")), Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(logContains(&f.log, QStringLiteral("TX [心跳]")), Timeout);
        QCOMPARE(f.log.txBytes() + f.log.rxBytes(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestHubClient)
#include "tst_hubclient.moc"

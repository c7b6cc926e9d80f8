#include <QJsonDocument>
#include <QTest>
#include <QWebSocket>

#include <memory>

#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "LogLines.h"
#include "RecordingHub.h"
#include "SignalRWidget.h"
#include "HubTestKit.h"
#include "SignalRWidgetProbe.h"
#include "SimulatedHubMethods.h"

namespace {

const QString Handshake = HubProtocol::handshakeRequest();

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

} // namespace

using namespace HubTestKit;

// The simulated hub as the official clients need it (handshake answer, pings, hub
// methods, completions, close) and the client's keep-alive.
class TestSimulatedHub : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SignalRWidget> window;
    std::unique_ptr<SignalRWidgetProbe> probe;

    void startServer(int keepAliveMs = 15000)
    {
        window = std::make_unique<SignalRWidget>();
        probe = std::make_unique<SignalRWidgetProbe>(*window);
        probe->keepAliveMs() = keepAliveMs;
        QVERIFY(startWindowServer(*probe));
    }

    std::unique_ptr<Peer> handshakenPeer()
    {
        auto peer = std::make_unique<Peer>(probe->portSpin()->value());
        return peer->handshake() ? std::move(peer) : nullptr;
    }

private slots:
    void cleanup()
    {
        probe.reset();
        window.reset();
    }

    void dispatch_data()
    {
        QTest::addColumn<QString>("invocation");
        QTest::addColumn<QStringList>("pushes"); // "all:" or "caller:" + record
        QTest::addColumn<QString>("completion");
        QTest::newRow("SendMessage")
            << "{\"type\":1,\"invocationId\":\"1\",\"target\":\"SendMessage\",\"arguments\":[\"hi\"]}"
            << QStringList({"all:{\"arguments\":[\"hi\"],\"target\":\"ReceiveMessage\",\"type\":1}\x1e"})
            << "{\"invocationId\":\"1\",\"result\":null,\"type\":3}\x1e";
        QTest::newRow("Send without id: no completion")
            << "{\"type\":1,\"target\":\"Send\",\"arguments\":[{\"b\":1,\"a\":2}]}"
            << QStringList({"all:{\"arguments\":[{\"a\":2,\"b\":1}],\"target\":\"ReceiveMessage\",\"type\":1}\x1e"})
            << "";
        QTest::newRow("Echo")
            << "{\"type\":1,\"invocationId\":\"7\",\"target\":\"Echo\",\"arguments\":[\"中文\"]}"
            << QStringList({"caller:{\"arguments\":[\"中文\"],\"target\":\"Echo\",\"type\":1}\x1e"})
            << "{\"invocationId\":\"7\",\"result\":\"中文\",\"type\":3}\x1e";
        QTest::newRow("Broadcast")
            << "{\"type\":1,\"invocationId\":\"2\",\"target\":\"Broadcast\",\"arguments\":[\"Custom\",42]}"
            << QStringList({"all:{\"arguments\":[42],\"target\":\"Custom\",\"type\":1}\x1e"})
            << "{\"invocationId\":\"2\",\"result\":null,\"type\":3}\x1e";
        QTest::newRow("Subscribe")
            << "{\"type\":1,\"invocationId\":\"3\",\"target\":\"Subscribe\",\"arguments\":[\"X\"]}"
            << QStringList() << "{\"invocationId\":\"3\",\"result\":null,\"type\":3}\x1e";
        QTest::newRow("unknown method")
            << "{\"type\":1,\"invocationId\":\"4\",\"target\":\"Nope\",\"arguments\":[]}" << QStringList()
            << "{\"error\":\"Unknown hub method 'Nope'\",\"invocationId\":\"4\",\"type\":3}\x1e";
        QTest::newRow("wrong argument count")
            << "{\"type\":1,\"invocationId\":\"5\",\"target\":\"Echo\",\"arguments\":[\"a\",\"b\"]}"
            << QStringList()
            << "{\"error\":\"Invocation provides 2 argument(s) but target expects 1.\",\"invocationId\":\"5\",\"type\":3}\x1e";
        QTest::newRow("broadcast to a non-string method")
            << "{\"type\":1,\"invocationId\":\"6\",\"target\":\"Broadcast\",\"arguments\":[1,\"m\"]}"
            << QStringList()
            << "{\"error\":\"Broadcast expects a method name as its first argument.\",\"invocationId\":\"6\",\"type\":3}\x1e";
    }

    void dispatch()
    {
        QFETCH(QString, invocation);
        QFETCH(QStringList, pushes);
        QFETCH(QString, completion);
        const SimulatedHubMethods::Reply reply =
            SimulatedHubMethods::dispatch(QJsonDocument::fromJson(invocation.toUtf8()).object());
        QStringList actual;
        for (const auto& push : reply.pushes)
            actual.append((push.toAll ? QStringLiteral("all:") : QStringLiteral("caller:"))
                          + HubProtocol::invocationRecord(push.target, push.arguments));
        QCOMPARE(actual, pushes);
        QCOMPARE(reply.completion, completion);
    }

    void handshakeIsAnsweredSilently_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("json v1") << Handshake << "{}\x1e" << false;
        QTest::newRow("json v2") << "{\"protocol\":\"json\",\"version\":2}\x1e" << "{}\x1e" << false;
        QTest::newRow("messagepack")
            << "{\"protocol\":\"messagepack\",\"version\":1}\x1e"
            << "{\"error\":\"Requested protocol 'messagepack' is not available.\"}\x1e" << true;
        QTest::newRow("version 0") << "{\"protocol\":\"json\",\"version\":0}\x1e"
                                   << "{\"error\":\"Requested protocol 'json' is not available.\"}\x1e" << true;
    }

    void handshakeIsAnsweredSilently()
    {
        QFETCH(QString, request);
        QFETCH(QString, answer);
        QFETCH(bool, closes);
        startServer();
        Peer peer(probe->portSpin()->value());
        QTRY_COMPARE_WITH_TIMEOUT(peer.socket->state(), QAbstractSocket::ConnectedState, Timeout);
        const qsizetype before = logLines(probe->comm()).size();
        peer.socket->sendTextMessage(request);
        QTRY_COMPARE_WITH_TIMEOUT(peer.received, QStringList({answer}), Timeout);
        if (closes)
            QTRY_COMPARE_WITH_TIMEOUT(peer.socket->state(), QAbstractSocket::UnconnectedState, Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(logLines(probe->comm()).size() > before, Timeout);
        QCOMPARE(logLines(probe->comm()).at(before), "RX " + request);
        QCOMPARE(probe->comm()->txBytes(), qint64(0));
        QCOMPARE(logLines(probe->comm()).filter(QStringLiteral("TX ")).size(), 0);
    }

    void methodsReachTheRightClients()
    {
        startServer();
        auto caller = handshakenPeer();
        auto other = handshakenPeer();
        QVERIFY(caller && other);
        caller->socket->sendTextMessage(QStringLiteral(
            "{\"type\":1,\"invocationId\":\"1\",\"target\":\"Echo\",\"arguments\":[\"e\"]}\x1e"
            "{\"type\":1,\"invocationId\":\"2\",\"target\":\"SendMessage\",\"arguments\":[\"s\"]}\x1e"));
        const QString echo = QStringLiteral("{\"arguments\":[\"e\"],\"target\":\"Echo\",\"type\":1}\x1e");
        const QString message = QStringLiteral("{\"arguments\":[\"s\"],\"target\":\"ReceiveMessage\",\"type\":1}\x1e");
        QTRY_COMPARE_WITH_TIMEOUT(caller->received.size(), 4, Timeout);
        QCOMPARE(caller->received,
                 QStringList({echo, QStringLiteral("{\"invocationId\":\"1\",\"result\":\"e\",\"type\":3}\x1e"),
                              message, QStringLiteral("{\"invocationId\":\"2\",\"result\":null,\"type\":3}\x1e")}));
        QTRY_COMPARE_WITH_TIMEOUT(other->received, QStringList({message}), Timeout);
        // One received entry for the whole message, nothing sent is logged.
        QCOMPARE(logLines(probe->comm()).filter(QStringLiteral("RX {\"type\":1")).size(), 1);
    }

    void closeRecordIsHonoured()
    {
        startServer();
        auto peer = handshakenPeer();
        QVERIFY(peer);
        peer->socket->sendTextMessage(QStringLiteral("{\"type\":7}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(probe->clientList()->count(), 0, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(peer->socket->state(), QAbstractSocket::UnconnectedState, Timeout);
    }

    void serverPingsOnlyHandshakenQuietClients()
    {
        startServer(100);
        auto handshaken = handshakenPeer();
        QVERIFY(handshaken);
        Peer silent(probe->portSpin()->value());
        QTRY_VERIFY_WITH_TIMEOUT(handshaken->received.size() >= 2, Timeout);
        QCOMPARE(handshaken->received.first(), QStringLiteral("{\"type\":6}\x1e"));
        QVERIFY(silent.received.isEmpty());
        QCOMPARE(probe->comm()->txBytes(), qint64(0));
    }

    void clientPingsWhenQuiet()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.keepAliveMs() = 100;
        p.hubUrlEdit()->setText(hub.url().toString());
        w.toggleConnection();
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.contains(Handshake), Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.count(QStringLiteral("{\"type\":6}\x1e")) >= 2, Timeout);
        for (const QString& line : logLines(p.comm()))
            QVERIFY2(!line.contains(QStringLiteral("\"type\":6")), qPrintable(line));
        QCOMPARE(p.comm()->txBytes(), qint64(0));
        QCOMPARE(p.comm()->rxBytes(), qint64(0));
        w.disconnectAll();
        const qsizetype pings = hub.received.count(QStringLiteral("{\"type\":6}\x1e"));
        QTest::qWait(300);
        QCOMPARE(hub.received.count(QStringLiteral("{\"type\":6}\x1e")), pings);
    }
};

QTEST_MAIN(TestSimulatedHub)
#include "tst_simulatedhub.moc"

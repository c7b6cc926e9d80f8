// Guards the simulated hub against: built-in methods answering the wrong clients or with
// wrong completions, scripted replies that match the wrong methods, apply out of order,
// spread their arguments wrongly or are taken with invalid JSON, unsupported handshakes
// accepted, its own answers leaking into the log or the counters, pings sent before the
// handshake, a close record ignored, peers left in the list after leaving or a stop,
// departures logged out of order or not at all, a busy port reported as success, streams
// that run on after their cancellation, do not complete or accept bad arguments, a close
// record that does not reach the chosen client, and a client that stops reading making
// the hub hold everything for it (or one that reads being cut off with it).
// Its HTTP side against: requests read too leniently (bare line feeds, folded headers,
// chunked or contradictory bodies, heads beyond the limit), preflights a browser would
// reject, negotiation answering the wrong version, connection tokens that work twice or
// that clients skipping negotiation cannot do without, malformed and oversized requests
// left open, and a client that never ends its headers holding its connection past the
// time-out or holding up other clients.

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <utility>
#include <vector>

#include "CommunicationBase.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "AutoReplyRules.h"
#include "SimulatedHub.h"
#include "SimulatedHubMethods.h"

using HubTestKit::Peer;
using HubTestKit::Timeout;

namespace {

const QString Handshake = HubProtocol::handshakeRequest();

constexpr int HeaderTimeoutMs = 500;

// A WebSocket upgrade request, with the connection's id when negotiation gave one.
QByteArray upgrade(const QString& id = {})
{
    return "GET /debughub" + (id.isEmpty() ? QByteArray() : "?id=" + id.toLatin1()) + " HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

// A raw HTTP client: sends the bytes, then answer() waits for one whole answer or the end.
struct Raw
{
    QTcpSocket socket;
    QByteArray received;

    Raw(quint16 port, const QByteArray& request)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
    }
    QByteArray answer()
    {
        const bool whole = QTest::qWaitFor([this] {
            received += socket.readAll();
            const qsizetype end = received.indexOf("\r\n\r\n");
            const auto length = QRegularExpression("Content-Length: (\\d+)").match(QString::fromLatin1(received.left(end)));
            return (end >= 0 && received.size() - end - 4 >= length.captured(1).toInt())
                   || socket.state() == QAbstractSocket::UnconnectedState;
        }, Timeout);
        return whole ? std::exchange(received, {}) : "(no whole answer) " + received;
    }
    QJsonObject json() { return QJsonDocument::fromJson(QString::fromUtf8(answer()).section("\r\n\r\n", 1).toUtf8()).object(); }
};

QJsonObject parsed(const QString& json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// "all:" or "caller:" + record, per push.
QStringList pushLines(const SimulatedHubMethods::Reply& reply)
{
    QStringList lines;
    for (const auto& push : reply.pushes)
        lines.append((push.toAll ? QStringLiteral("all:") : QStringLiteral("caller:"))
                     + HubProtocol::invocationRecord(push.target, push.arguments));
    return lines;
}

// "method|r|json" returns, "method|c|target|json" pushes to the caller, "|a|" to all.
AutoReplyRule rule(const QString& text)
{
    const QStringList p = text.split(QLatin1Char('|'));
    const auto action = p.value(1) == QLatin1String("r")   ? AutoReplyRule::Action::Return
                        : p.value(1) == QLatin1String("c") ? AutoReplyRule::Action::PushToCaller
                                                           : AutoReplyRule::Action::PushToAll;
    return {p.value(0), action, p.size() > 3 ? p.value(2) : QString(), p.last()};
}

struct Fixture
{
    CommunicationBase log;
    SimulatedHub hub{&log};

    explicit Fixture(int keepAliveMs = HubProtocol::KeepAliveIntervalMs)
    {
        hub.setKeepAliveInterval(keepAliveMs);
        hub.setHeaderTimeout(HeaderTimeoutMs);
        hub.listen(0, QStringLiteral("/debughub"));
    }

    std::unique_ptr<Peer> handshakenPeer()
    {
        auto peer = std::make_unique<Peer>(hub.port());
        return peer->handshake() ? std::move(peer) : nullptr;
    }
};

} // namespace

class TestSimulatedHub : public QObject
{
    Q_OBJECT

private slots:
    // The built-in methods (no rules), then scripted replies.
    void replies_data()
    {
        using namespace HubProtocol;
        QTest::addColumn<QStringList>("rules"); // "!" before a rule that must be refused
        QTest::addColumn<QString>("invocation");
        QTest::addColumn<QStringList>("pushes");
        QTest::addColumn<QString>("completion"); // empty: no rule matched
        const auto call = [](const char* target, const char* arguments, const char* id = nullptr) {
            return QStringLiteral(R"({"type":1,"target":"%1","arguments":%2%3})")
                .arg(target, arguments, id ? QStringLiteral(R"(,"invocationId":"%1")").arg(id) : QString());
        };
        const QString push = QStringLiteral(R"({"arguments":%2,"target":"%1","type":1})" "\x1e");
        QTest::newRow("SendMessage") << QStringList() << call("SendMessage", R"(["hi"])", "1")
                                     << QStringList{"all:" + serverInvocation("ReceiveMessage", "hi")}
                                     << completionResult("1", QJsonValue::Null);
        QTest::newRow("Send without id: no completion") << QStringList() << call("Send", R"([{"b":1,"a":2}])")
                                                        << QStringList{"all:" + push.arg("ReceiveMessage", R"([{"a":2,"b":1}])")} << "";
        QTest::newRow("Echo") << QStringList() << call("Echo", R"(["中文"])", "7")
                              << QStringList{"caller:" + serverInvocation("Echo", "中文")} << completionResult("7", "中文");
        QTest::newRow("Broadcast") << QStringList() << call("Broadcast", R"(["Custom",42])", "2")
                                   << QStringList{"all:" + push.arg("Custom", "[42]")} << completionResult("2", QJsonValue::Null);
        QTest::newRow("unknown method") << QStringList() << call("Nope", "[]", "4") << QStringList()
                                        << completionError("4", "Unknown hub method 'Nope'");
        QTest::newRow("wrong argument count") << QStringList() << call("Echo", R"(["a","b"])", "5") << QStringList()
                                              << completionError("5", "Invocation provides 2 argument(s) but target expects 1.");
        QTest::newRow("stream invoked as a call")
            << QStringList() << call("Counter", "[2,10]", "8") << QStringList()
            << completionError("8", "The client attempted to invoke the streaming 'Counter' method with a non-streaming invocation.");
        QTest::newRow("all rules of the method, in order")
            << QStringList({"Go|c|T|[1,\"x\"]", "go|r|{\"b\":1}", "Other|r|5", " GO |a|U|\"one\"", "go|r|2"})
            << call("Go", "[]", "2") << QStringList{"caller:" + push.arg("T", R"([1,"x"])"), "all:" + push.arg("U", R"(["one"])")}
            << completionResult("2", QJsonObject{{"b", 1}});
        QTest::newRow("refused rules are left out") // "!": invalid JSON, two values, no target
            << QStringList({"!M|r|{\"a\":", "!M|r|1,2", "!M|a| |1", "M|r|7"}) << call("M", "[]", "3") << QStringList()
            << completionResult("3", 7);
        QTest::newRow("no rule for the method") << QStringList({"Echo2|r|1"}) << call("Echo", R"(["x"])") << QStringList() << QString();
    }

    void replies()
    {
        QFETCH(QStringList, rules);
        QFETCH(QString, invocation);
        QFETCH(QStringList, pushes);
        QFETCH(QString, completion);
        AutoReplyRules table;
        for (QString text : rules) {
            const bool refused = text.startsWith(QLatin1Char('!'));
            QCOMPARE(table.add(rule(text.remove(0, refused ? 1 : 0))).problem != AutoReplyRules::Problem::None, refused);
        }
        SimulatedHubMethods::Reply reply;
        if (rules.isEmpty())
            reply = SimulatedHubMethods::dispatch(parsed(invocation));
        else
            QCOMPARE(table.apply(parsed(invocation), reply), !completion.isEmpty());
        QCOMPARE(pushLines(reply), pushes);
        QCOMPARE(reply.completion, completion);
    }

    void handshakeIsAnsweredSilently_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("json v2") << "{\"protocol\":\"json\",\"version\":2}\x1e" << "{}\x1e" << false;
        QTest::newRow("unknown protocol")
            << "{\"protocol\":\"protobuf\",\"version\":1}\x1e"
            << "{\"error\":\"Requested protocol 'protobuf' is not available.\"}\x1e" << true;
        QTest::newRow("version 0") << "{\"protocol\":\"json\",\"version\":0}\x1e"
                                   << "{\"error\":\"Requested protocol 'json' is not available.\"}\x1e" << true;
    }

    void handshakeIsAnsweredSilently()
    {
        QFETCH(QString, request);
        QFETCH(QString, answer);
        QFETCH(bool, closes);
        Fixture f;
        Peer peer(f.hub.port());
        QVERIFY(peer.waitConnected());
        peer.socket->sendTextMessage(request);
        QTRY_COMPARE_WITH_TIMEOUT(peer.received, QStringList({answer}), Timeout);
        if (closes)
            QTRY_COMPARE_WITH_TIMEOUT(peer.socket->state(), QAbstractSocket::UnconnectedState, Timeout);
        QCOMPARE(logLines(&f.log).filter(QStringLiteral("RX ")), QStringList({"RX " + request}));
        QCOMPARE(f.log.txBytes(), qint64(0));
    }

    void methodsReachTheRightClients()
    {
        using namespace HubProtocol;
        Fixture f;
        auto caller = f.handshakenPeer();
        auto other = f.handshakenPeer();
        QVERIFY(caller && other);
        caller->socket->sendTextMessage(clientInvocation("Echo", "e", 1) + clientInvocation("SendMessage", "s", 2));
        const QString message = serverInvocation("ReceiveMessage", "s");
        QTRY_COMPARE_WITH_TIMEOUT(caller->received.size(), 4, Timeout);
        QCOMPARE(caller->received, QStringList({serverInvocation("Echo", "e"), completionResult("1", "e"), message,
                                                completionResult("2", QJsonValue::Null)}));
        QTRY_COMPARE_WITH_TIMEOUT(other->received, QStringList({message}), Timeout);
        // One received entry for the whole message; the hub's answers are not logged.
        QCOMPARE(logLines(&f.log).filter(QStringLiteral("RX {\"arguments\"")).size(), 1);
        QCOMPARE(f.log.txBytes(), qint64(0));

        f.hub.broadcast(QStringLiteral("Push"), "p");
        QTRY_VERIFY_WITH_TIMEOUT(other->received.contains(serverInvocation("Push", "p")), Timeout);
        QCOMPARE(logLines(&f.log).last(), QStringLiteral("TX p"));
        QCOMPARE(f.log.txBytes(), qint64(1));
    }

    void streamsCancelAndClose()
    {
        using namespace HubProtocol;
        Fixture f;
        auto peer = f.handshakenPeer();
        QVERIFY(peer);
        // Stream 2 is cancelled before its first tick; a timer left running would flood.
        peer->socket->sendTextMessage(streamInvocation("Counter", "2 0", 1) + streamInvocation("Counter", "1000000,0", 2)
                                      + cancelInvocation("2") + streamInvocation("Echo", "x", 3)
                                      + streamInvocation("Counter", "5", 4));
        QTRY_VERIFY_WITH_TIMEOUT(peer->received.contains(completionEmpty("1")), Timeout);
        peer->socket->sendTextMessage(clientInvocation("Echo", "e", 5));
        QTRY_VERIFY_WITH_TIMEOUT(peer->received.contains(completionResult("5", "e")), Timeout);
        const auto recordsOf = [&](const char* id) {
            return peer->received.filter(QStringLiteral("\"invocationId\":\"%1\"").arg(QLatin1String(id)));
        };
        QCOMPARE(recordsOf("1"), QStringList({streamItem("1", 0), streamItem("1", 1), completionEmpty("1")}));
        QCOMPARE(recordsOf("2"), QStringList({completionEmpty("2")}));
        QCOMPARE(recordsOf("3"), QStringList({completionError("3", "The client attempted to invoke the "
                                                                   "non-streaming 'Echo' method with a streaming invocation.")}));
        QCOMPARE(recordsOf("4"), QStringList({completionError("4", "Counter expects a count and a delay in ms: 5, 200 or \"5,200\".")}));

        peer->received.clear();
        const QString identifier = peer->identifier();
        f.hub.closePeer(identifier, QStringLiteral("bye"), true);
        QTRY_COMPARE_WITH_TIMEOUT(peer->socket->state(), QAbstractSocket::UnconnectedState, Timeout);
        QCOMPARE(peer->received, QStringList({closeRecord("bye", true)}));
        QVERIFY(logContains(&f.log, "SYS 向 " + identifier + " 发送关闭消息: bye"));
    }

    void pingsOnlyHandshakenQuietClients()
    {
        Fixture f(100);
        auto handshaken = f.handshakenPeer();
        QVERIFY(handshaken);
        Peer silent(f.hub.port());
        QTRY_VERIFY_WITH_TIMEOUT(handshaken->received.size() >= 2, Timeout);
        QCOMPARE(handshaken->received.first(), HubProtocol::pingRecord());
        QVERIFY(silent.received.isEmpty());
    }

    void peersComeAndGo()
    {
        Fixture f;
        QSignalSpy left(&f.hub, &SimulatedHub::peerLeft);
        std::vector<std::unique_ptr<Peer>> peers;
        for (int i = 0; i < 4; ++i) {
            peers.push_back(f.handshakenPeer());
            QVERIFY(peers.back());
        }
        QCOMPARE(f.hub.peerIdentifiers().size(), 4);
        QCOMPARE(f.hub.peerIdentifiers().first(), peers[0]->identifier());

        peers[0]->socket->sendTextMessage(QStringLiteral("{\"type\":7}\x1e")); // close record
        f.hub.disconnectPeer(peers[1]->identifier());
        QTRY_COMPARE_WITH_TIMEOUT(left.size(), 2, Timeout);
        peers[2]->socket->abort(); // leaves during the stop
        f.hub.stop();
        QTRY_COMPARE_WITH_TIMEOUT(left.size(), 4, Timeout);
        QVERIFY(f.hub.peerIdentifiers().isEmpty());
        QVERIFY(!f.hub.isListening());
        QCOMPARE(logLines(&f.log).filter(QStringLiteral("SYS 客户端断开: ")).size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(peers[3]->socket->state(), QAbstractSocket::UnconnectedState, Timeout);
    }

    void slowReaderIsCutOff()
    {
        Fixture f;
        f.hub.setMaxUnsentBytes(256 * 1024);
        auto reader = f.handshakenPeer();
        QVERIFY(reader);
        // A client that upgrades and then reads nothing more.
        Raw slow(f.hub.port(), upgrade());
        QVERIFY(slow.answer().startsWith("HTTP/1.1 101"));
        slow.socket.setReadBufferSize(1);
        const QString slowId = QStringLiteral("127.0.0.1:%1").arg(slow.socket.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.peerIdentifiers().size(), 2, Timeout);

        QSignalSpy left(&f.hub, &SimulatedHub::peerLeft);
        int sent = 0;
        for (; left.isEmpty() && sent < 2000; ++sent) { // the kernel's buffers take some MiB first
            f.hub.broadcast(QStringLiteral("M"), QByteArray(64 * 1024, 'x'));
            QCoreApplication::processEvents();
        }
        QCOMPARE(left.size(), 1);
        QCOMPARE(left.first().first().toString(), slowId);
        QCOMPARE(logLines(&f.log).filter(QStringLiteral("未读取")),
                 QStringList{"SYS 客户端 " + slowId + " 未读取的数据超过 0.25 MiB，已断开"});
        // The client that reads got everything and stays.
        QTRY_COMPARE_WITH_TIMEOUT(reader->received.size(), sent, Timeout);
        QCOMPARE(f.hub.peerIdentifiers(), QStringList{reader->identifier()});
    }

    void busyPortIsReported()
    {
        Fixture first;
        CommunicationBase log;
        SimulatedHub second(&log);
        QVERIFY(!second.listen(first.hub.port(), QStringLiteral("/hub")) && !second.isListening());
        QVERIFY(logLines(&log).first().startsWith(QStringLiteral("SYS 监听失败: ")));
        QCOMPARE(logLines(&first.log).first(), "SYS SignalR服务器已启动: http://localhost:" + QString::number(first.hub.port()) + "/debughub");
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArrayList>("expected"); // the status line, then lines of the answer
        QTest::addColumn<bool>("closes");
        const QByteArrayList badRequest{"HTTP/1.1 400 Bad Request"};
        QTest::newRow("browser preflight")
            << QByteArray("OPTIONS /debughub/negotiate?negotiateVersion=1 HTTP/1.1\r\nOrigin: http://localhost:3000\r\n"
                          "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: x-requested-with\r\n\r\n")
            << QByteArrayList{"HTTP/1.1 204 No Content", "Access-Control-Allow-Origin: http://localhost:3000",
                              "Access-Control-Allow-Credentials: true", "Access-Control-Allow-Methods: GET, POST, OPTIONS",
                              "Access-Control-Allow-Headers: x-requested-with"} << false;
        QTest::newRow("other page") << QByteArray("GET / HTTP/1.0\r\nHost: example:5000\r\n\r\n")
            << QByteArrayList{"HTTP/1.1 200 OK", "Connection: close",
                              "    new HubConnectionBuilder().withUrl(\"http://example:5000/debughub\").build()"} << true;
        QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << badRequest << true;
        QTest::newRow("bare line feed") << QByteArray("GET / HTTP/1.1\nHost: a\r\n\r\n") << badRequest << true;
        QTest::newRow("folded line") << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n") << badRequest << true;
        QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << badRequest << true;
        QTest::newRow("two lengths") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\ncontent-length: 2\r\n\r\n") << badRequest << true;
        QTest::newRow("oversized") << QByteArray("GET / HTTP/1.1\r\n").append(40000, 'x')
                                   << QByteArrayList{"HTTP/1.1 431 Request Header Fields Too Large"} << true;
    }

    void answers()
    {
        Fixture f;
        QFETCH(QByteArray, request);
        QFETCH(QByteArrayList, expected);
        QFETCH(bool, closes);
        Raw raw(f.hub.port(), request);
        const QByteArrayList lines = raw.answer().replace('\r', "").split('\n');
        QCOMPARE(lines.first(), expected.first());
        for (const QByteArray& line : expected)
            QVERIFY2(lines.contains(line), line);
        QTRY_COMPARE_WITH_TIMEOUT(raw.socket.state() == QAbstractSocket::UnconnectedState, closes, Timeout);
    }

    void connectionTokensAreSingleUse()
    {
        Fixture f;
        const QByteArray negotiate = "POST /debughub/negotiate%1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
        const QJsonObject v1 = Raw(f.hub.port(), QString(negotiate).arg("?negotiateVersion=1").toLatin1()).json();
        QCOMPARE(v1.value("negotiateVersion").toInt(), 1);
        QVERIFY(Raw(f.hub.port(), upgrade(v1.value("connectionToken").toString())).answer().startsWith("HTTP/1.1 101"));
        QVERIFY(Raw(f.hub.port(), upgrade(v1.value("connectionToken").toString())).answer().startsWith("HTTP/1.1 404"));
        // Version 0 has no token: the client connects with the connection id.
        const QJsonObject v0 = Raw(f.hub.port(), QString(negotiate).arg("").toLatin1()).json();
        QVERIFY(v0.value("negotiateVersion") == 0 && !v0.contains("connectionToken"));
        Raw old(f.hub.port(), upgrade(v0.value("connectionId").toString()));
        QVERIFY(old.answer().startsWith("HTTP/1.1 101")); // (clients that skip negotiation: every other case)
    }

    void unfinishedHeadersAreDroppedAfterTheTimeOut()
    {
        Fixture f;
        QElapsedTimer clock;
        clock.start();
        Raw stalled(f.hub.port(), "GET / HTTP/1.1\r\nHost: a\r\n");
        QVERIFY(stalled.socket.waitForConnected(Timeout));
        // Another client is served meanwhile, request after request on one connection.
        Raw served(f.hub.port(), QByteArray());
        for (int i = 0; i < 3; ++i) {
            served.socket.write("GET / HTTP/1.1\r\n\r\n");
            QVERIFY(served.answer().startsWith("HTTP/1.1 200 OK"));
        }
        QCOMPARE(stalled.socket.state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(stalled.socket.state(), QAbstractSocket::UnconnectedState, Timeout);
        QVERIFY(clock.elapsed() >= HeaderTimeoutMs * 9 / 10); // coarse timers fire up to 5% early
        QVERIFY(stalled.received.isEmpty() && stalled.socket.readAll().isEmpty());
        QCOMPARE(logLines(&f.log).filter(QStringLiteral("未在 500 ms 内发完请求")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedHub)
#include "tst_simulatedhub.moc"

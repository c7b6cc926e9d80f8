// Guards the simulated hub's HTTP side against: requests read too leniently (bare line
// feeds, folded headers, chunked or contradictory bodies, heads beyond the limit),
// preflights a browser would reject, negotiation answering the wrong version, connection
// tokens that work twice or that clients skipping negotiation cannot do without,
// malformed and oversized requests left open, and a client that never ends its headers
// holding its connection past the time-out or holding up other clients.

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <utility>

#include "CommunicationBase.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "SimulatedHub.h"

using HubTestKit::Timeout;

namespace {

constexpr int HeaderTimeoutMs = 500;

QByteArray upgrade(const QString& id)
{
    return "GET /debughub?id=" + id.toLatin1() + " HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
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

} // namespace

class TestHttpFront : public QObject
{
    Q_OBJECT

    CommunicationBase m_log;
    std::unique_ptr<SimulatedHub> m_hub;

private slots:
    void init()
    {
        m_log.clearLog();
        m_hub = std::make_unique<SimulatedHub>(&m_log);
        m_hub->setHeaderTimeout(HeaderTimeoutMs);
        QVERIFY(m_hub->listen(0, QStringLiteral("/debughub")));
    }
    void cleanup() { m_hub.reset(); }

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
        QFETCH(QByteArray, request);
        QFETCH(QByteArrayList, expected);
        QFETCH(bool, closes);
        Raw raw(m_hub->port(), request);
        const QByteArrayList lines = raw.answer().replace('\r', "").split('\n');
        QCOMPARE(lines.first(), expected.first());
        for (const QByteArray& line : expected)
            QVERIFY2(lines.contains(line), line);
        QTRY_COMPARE_WITH_TIMEOUT(raw.socket.state() == QAbstractSocket::UnconnectedState, closes, Timeout);
    }

    void connectionTokensAreSingleUse()
    {
        const QByteArray negotiate = "POST /debughub/negotiate%1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
        const QJsonObject v1 = Raw(m_hub->port(), QString(negotiate).arg("?negotiateVersion=1").toLatin1()).json();
        QCOMPARE(v1.value("negotiateVersion").toInt(), 1);
        QVERIFY(Raw(m_hub->port(), upgrade(v1.value("connectionToken").toString())).answer().startsWith("HTTP/1.1 101"));
        QVERIFY(Raw(m_hub->port(), upgrade(v1.value("connectionToken").toString())).answer().startsWith("HTTP/1.1 404"));
        // Version 0 has no token: the client connects with the connection id.
        const QJsonObject v0 = Raw(m_hub->port(), QString(negotiate).arg("").toLatin1()).json();
        QVERIFY(v0.value("negotiateVersion") == 0 && !v0.contains("connectionToken"));
        Raw old(m_hub->port(), upgrade(v0.value("connectionId").toString()));
        QVERIFY(old.answer().startsWith("HTTP/1.1 101"));
        // A client that skipped negotiation brings no id and is let in.
        HubTestKit::Peer plain(m_hub->port());
        QTRY_VERIFY_WITH_TIMEOUT(m_hub->peerIdentifiers().contains(plain.identifier()), Timeout);
    }

    void unfinishedHeadersAreDroppedAfterTheTimeOut()
    {
        QElapsedTimer clock;
        clock.start();
        Raw stalled(m_hub->port(), "GET / HTTP/1.1\r\nHost: a\r\n");
        QVERIFY(stalled.socket.waitForConnected(Timeout));
        // Another client is served meanwhile, request after request on one connection.
        Raw served(m_hub->port(), QByteArray());
        for (int i = 0; i < 3; ++i) {
            served.socket.write("GET / HTTP/1.1\r\n\r\n");
            QVERIFY(served.answer().startsWith("HTTP/1.1 200 OK"));
        }
        QCOMPARE(stalled.socket.state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(stalled.socket.state(), QAbstractSocket::UnconnectedState, Timeout);
        QVERIFY(clock.elapsed() >= HeaderTimeoutMs * 9 / 10); // coarse timers fire up to 5% early
        QVERIFY(stalled.received.isEmpty() && stalled.socket.readAll().isEmpty());
        QCOMPARE(logLines(&m_log).filter(QStringLiteral("未在 500 ms 内发完请求")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHttpFront)
#include "tst_httpfront.moc"

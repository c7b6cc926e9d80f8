// Guards the simulated hub's HTTP side against: request heads read wrongly or too
// leniently (bare line feeds, folded or nameless headers, chunked or contradictory
// bodies, heads beyond the limit), preflights a browser would reject, negotiation
// answering the wrong version, connection tokens that can be used twice or that a plain
// WebSocket client cannot do without, malformed and oversized requests left open, and a
// client that never ends its headers holding its connection past the time-out or
// holding up other clients.

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include "CommunicationBase.h"
#include "HttpRequest.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "SimulatedHub.h"

using HubTestKit::Timeout;

namespace {

constexpr qsizetype MaxHead = 64;

QByteArray upgrade(const QByteArray& target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

// A raw HTTP client: sends the bytes and waits for one whole answer, or for the end.
struct Raw
{
    QTcpSocket socket;
    QByteArray answer;

    explicit Raw(quint16 port, const QByteArray& request = {})
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
    }
    QByteArray wait()
    {
        const bool ended = QTest::qWaitFor([this] {
            answer += socket.readAll();
            const qsizetype end = answer.indexOf("\r\n\r\n");
            const auto length = QRegularExpression(QStringLiteral("Content-Length: (\\d+)"))
                                    .match(QString::fromLatin1(answer.left(end)));
            return (end >= 0 && answer.size() - end - 4 >= length.captured(1).toInt())
                   || socket.state() == QAbstractSocket::UnconnectedState;
        }, Timeout);
        return ended ? answer : answer + "(no whole answer)";
    }
    QJsonObject json() { return QJsonDocument::fromJson(wait().mid(answer.indexOf("\r\n\r\n") + 4)).object(); }
};

struct Fixture
{
    CommunicationBase log;
    SimulatedHub hub{&log};

    explicit Fixture(int headerTimeoutMs = HttpFront::DefaultHeaderTimeoutMs)
    {
        hub.setHeaderTimeout(headerTimeoutMs);
        hub.listen(0, QStringLiteral("/debughub"));
    }
};

} // namespace

class TestHttpFront : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<int>("parse");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<qint64>("length");
        using P = HttpRequest::Parse;
        QTest::newRow("post with query") << QByteArray("POST /h/negotiate?v=1 HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}")
                                         << int(P::Complete) << QByteArray("/h/negotiate") << qint64(2);
        QTest::newRow("no blank line yet") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n") << int(P::Incomplete) << QByteArray() << qint64(0);
        QTest::newRow("bare line feed") << QByteArray("GET / HTTP/1.1\nHost: a\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("other version") << QByteArray("GET / HTTP/2\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("absolute target") << QByteArray("GET http://a/ HTTP/1.1\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nHost\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("folded line") << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("two lengths") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("signed length") << QByteArray("POST / HTTP/1.1\r\nContent-Length: +1\r\n\r\n") << int(P::Malformed) << QByteArray() << qint64(0);
        QTest::newRow("endless head") << QByteArray("GET / HTTP/1.1\r\nA: ").append(MaxHead, 'x') << int(P::TooLarge) << QByteArray() << qint64(0);
        QTest::newRow("head ends past the limit") << QByteArray("GET / HTTP/1.1\r\nA: ").append(MaxHead - 20, 'x').append("\r\n\r\n")
                                                  << int(P::TooLarge) << QByteArray() << qint64(0);
    }

    void parse()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(int, parse);
        QFETCH(QByteArray, path);
        QFETCH(qint64, length);
        HttpRequest request;
        QCOMPARE(int(HttpRequest::parse(buffer, MaxHead, request)), parse);
        if (parse != int(HttpRequest::Parse::Complete))
            return;
        QCOMPARE(request.path, path);
        QCOMPARE(request.contentLength, length);
        QCOMPARE(request.headBytes, buffer.size() - length);
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArrayList>("expected"); // status line first, then lines of the answer
        QTest::addColumn<bool>("closes");
        QTest::newRow("browser preflight")
            << QByteArray("OPTIONS /debughub/negotiate?negotiateVersion=1 HTTP/1.1\r\nOrigin: http://localhost:3000\r\n"
                          "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: x-requested-with,x-signalr-user-agent\r\n\r\n")
            << QByteArrayList{"HTTP/1.1 204 No Content", "Access-Control-Allow-Origin: http://localhost:3000",
                              "Access-Control-Allow-Credentials: true", "Access-Control-Allow-Methods: GET, POST, OPTIONS",
                              "Access-Control-Allow-Headers: x-requested-with,x-signalr-user-agent"}
            << false;
        QTest::newRow("negotiate without a version")
            << QByteArray("POST /any/negotiate HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
            << QByteArrayList{"HTTP/1.1 200 OK", "Content-Type: application/json"} << false;
        QTest::newRow("other page") << QByteArray("GET / HTTP/1.0\r\nHost: example:5000\r\n\r\n")
                                    << QByteArrayList{"HTTP/1.1 200 OK", "Connection: close",
                                                      "    new HubConnectionBuilder().withUrl(\"http://example:5000/debughub\").build()"}
                                    << true;
        QTest::newRow("malformed") << QByteArray("GET /\r\n\r\n") << QByteArrayList{"HTTP/1.1 400 Bad Request"} << true;
        QTest::newRow("oversized") << QByteArray("GET / HTTP/1.1\r\n").append(40000, 'x')
                                   << QByteArrayList{"HTTP/1.1 431 Request Header Fields Too Large"} << true;
        QTest::newRow("unknown id") << upgrade("/debughub?id=unknown") << QByteArrayList{"HTTP/1.1 404 Not Found"} << true;
    }

    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArrayList, expected);
        QFETCH(bool, closes);
        Fixture f;
        Raw raw(f.hub.port(), request);
        const QByteArrayList lines = raw.wait().split('\n');
        QCOMPARE(lines.first(), expected.first() + '\r');
        for (const QByteArray& line : expected)
            QVERIFY2(lines.contains(line + '\r') || lines.contains(line), line);
        if (closes)
            QTRY_COMPARE_WITH_TIMEOUT(raw.socket.state(), QAbstractSocket::UnconnectedState, Timeout);
        else
            QCOMPARE(raw.socket.state(), QAbstractSocket::ConnectedState);
    }

    void connectionTokensAreSingleUse_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("idField"); // what the client connects with
        QTest::newRow("version 1") << 1 << "connectionToken";
        QTest::newRow("version 0") << 0 << "connectionId";
    }

    void connectionTokensAreSingleUse()
    {
        QFETCH(int, version);
        QFETCH(QString, idField);
        Fixture f;
        const QByteArray query = version ? "?negotiateVersion=" + QByteArray::number(version) : "";
        Raw negotiate(f.hub.port(), "POST /debughub/negotiate" + query + " HTTP/1.1\r\n\r\n");
        const QJsonObject answer = negotiate.json();
        QCOMPARE(answer.value("negotiateVersion").toInt(-1), version);
        QCOMPARE(answer.contains("connectionToken"), version == 1);
        const QByteArray id = answer.value(idField).toString().toLatin1();
        QVERIFY(!id.isEmpty());
        Raw first(f.hub.port(), upgrade("/debughub?id=" + id));
        QVERIFY(first.wait().startsWith("HTTP/1.1 101"));
        QTRY_COMPARE_WITH_TIMEOUT(f.hub.peerIdentifiers().size(), 1, Timeout);
        Raw again(f.hub.port(), upgrade("/debughub?id=" + id));
        QVERIFY(again.wait().startsWith("HTTP/1.1 404"));
        // A client that skipped negotiation brings no id and is let in.
        HubTestKit::Peer plain(f.hub.port());
        QVERIFY(plain.waitConnected());
    }

    void unfinishedHeadersAreDroppedAfterTheTimeOut()
    {
        constexpr int HeaderTimeoutMs = 500;
        Fixture f(HeaderTimeoutMs);
        QElapsedTimer clock;
        clock.start();
        Raw stalled(f.hub.port(), "GET / HTTP/1.1\r\nHost: a\r\n");
        QVERIFY(stalled.socket.waitForConnected(Timeout));
        // Another client is served in the meantime, over and over on one connection.
        Raw served(f.hub.port());
        for (int i = 0; i < 3; ++i) {
            served.answer.clear();
            served.socket.write("GET / HTTP/1.1\r\n\r\n");
            QVERIFY(served.wait().startsWith("HTTP/1.1 200 OK"));
        }
        QCOMPARE(stalled.socket.state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(stalled.socket.state(), QAbstractSocket::UnconnectedState, Timeout);
        QVERIFY(clock.elapsed() >= HeaderTimeoutMs);
        QVERIFY(stalled.answer.isEmpty() && stalled.socket.readAll().isEmpty());
        QCOMPARE(logLines(&f.log).filter(QStringLiteral("未在 500 ms 内发完请求")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHttpFront)
#include "tst_httpfront.moc"

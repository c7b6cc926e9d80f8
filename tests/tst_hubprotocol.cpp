// Guards the wire format against: bytes that differ from what hubs and the official
// clients expect (key order, escapes, raw UTF-8, the separator), records put in the wrong
// kind (so that errors vanish or handshakes are missed), typed records whose row loses
// what the hub said (error texts, results, ids, close reasons) or feeds the charts the
// wrong texts. And the negotiate step's pure parts against: /negotiate put after the
// query or doubled at a trailing slash, the version dropped or doubled, http/https and
// ws/wss mixed up (whatever the scheme's case, or none), the wrong id taken from a
// version 0 or 1 answer, ids and tokens not percent-encoded, redirects, errors and old
// servers read as connections, and a hub without WebSockets accepted.

#include <QTest>

#include "HubProtocol.h"
#include "Negotiation.h"

using namespace HubProtocol;
using Kind = Negotiation::Answer::Kind;

static const QString RS = QString(QChar(RecordSeparator));

class TestHubProtocol : public QObject
{
    Q_OBJECT

private slots:
    void written_data()
    {
        QTest::addColumn<QString>("built");
        QTest::addColumn<QString>("expected"); // without the trailing separator
        const auto row = [](const char* name, const QString& built, const char* expected) {
            QTest::newRow(name) << built << QString::fromUtf8(expected);
        };
        row("handshake", handshakeRequest(), R"({"protocol":"json","version":1})");
        row("client", clientInvocation("SendMessage", "hi", 2147483647),
            R"({"arguments":["hi"],"invocationId":"2147483647","target":"SendMessage","type":1})");
        row("raw utf8, not escaped", serverInvocation("消息", QString("中文😀").toUtf8()),
            R"({"arguments":["中文😀"],"target":"消息","type":1})");
        row("escapes", serverInvocation("a\"b", "c\\d\n\t\x01\x1e"),
            "{\"arguments\":[\"c\\\\d\\n\\t\\u0001\\u001e\"],\"target\":\"a\\\"b\",\"type\":1}");
        row("invalid utf8 payload", serverInvocation("M", "\xFF"), "{\"arguments\":[\"\xEF\xBF\xBD\"],\"target\":\"M\",\"type\":1}");
        row("stream", streamInvocation("Counter", "3,10", 4),
            R"({"arguments":["3,10"],"invocationId":"4","target":"Counter","type":4})");
        row("cancel", cancelInvocation("4"), R"({"invocationId":"4","type":5})");
        row("empty completion", completionEmpty("4"), R"({"invocationId":"4","type":3})");
        row("close", closeRecord("bye", true), R"({"allowReconnect":true,"error":"bye","type":7})");
        row("plain close", closeRecord(QString(), false), R"({"type":7})");
    }

    void written()
    {
        QFETCH(QString, built);
        QFETCH(QString, expected);
        QCOMPARE(built, expected + RS);
    }

    void classify_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<RecordKind>("kind");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, const char* record, RecordKind kind, const char* text) {
            QTest::newRow(name) << QString::fromUtf8(record) << kind << QString::fromUtf8(text);
        };
        row("not json", "hello 中", RecordKind::Raw, "hello 中");
        row("trailing garbage", "{} x", RecordKind::Raw, "{} x");
        row("echoed handshake", R"({"protocol":"json","version":1})", RecordKind::HandshakeAck, "");
        row("protocol without version is a message", R"({"protocol":"x","type":6})", RecordKind::Typed, "[]()");
        row("ack wins over type", R"({"protocol":1,"version":1,"type":1})", RecordKind::HandshakeAck, "");
        row("placeholders literal", R"({"type":1,"target":"%2","arguments":["%1"]})", RecordKind::Typed, "[%2](%1)");
        row("error completion", R"({"invocationId":"1","error":"boom"})", RecordKind::ErrorCompletion, "boom");
        row("result completion", R"({"invocationId":"1","result":5})", RecordKind::SilentCompletion, "");
        row("untyped first argument", R"({"arguments":["first","second"]})", RecordKind::Untyped, "first");
    }

    void classify()
    {
        QFETCH(QString, record);
        QFETCH(RecordKind, kind);
        QFETCH(QString, text);
        const Record result = HubProtocol::classify(record);
        QCOMPARE(result.kind, kind);
        QCOMPARE(result.text, text);
    }

    // Every message type's row, in both languages where the wording is the product's own.
    void typedRows_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<qint64>("roundTripMs"); // -1: not a call of this client
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("chartTexts");
        const auto row = [](const char* name, const char* record, qint64 ms, bool english, const char* text,
                            QStringList chart = {}) {
            QTest::newRow(name) << QString::fromUtf8(record) << ms << english << QString::fromUtf8(text) << chart;
        };
        row("invocation, objects sorted and compact", R"({"type":1,"target":"T","arguments":["a",{"v":1,"b":[1, 2]},2]})",
            -1, false, R"([T](a, {"b":[1,2],"v":1}, ))", {"a", R"({"b":[1,2],"v":1})", ""});
        row("number item, english", R"({"type":2,"invocationId":"3","item":21.5})", -1, true, "[stream #3] 21.5", {"21.5"});
        row("string result with time", R"({"type":3,"invocationId":"7","result":"ok"})", 12, false, "[结果 #7] ok (12 ms)");
        row("null result", R"({"type":3,"invocationId":"7","result":null})", 0, false, "[结果 #7] null (0 ms)");
        row("object result", R"({"type":3,"invocationId":"7","result":{"z":1,"a":[]}})", -1, false, R"([结果 #7] {"a":[],"z":1})");
        row("no result", R"({"type":3,"invocationId":"7"})", 5, true, "[result #7] (5 ms)");
        row("error with time", R"({"type":3,"invocationId":"8","error":"boom"})", 3, false, "[错误 #8] boom (3 ms)");
        row("non-string error", R"({"type":3,"invocationId":"8","error":{"code":5}})", -1, true, R"([error #8] {"code":5})");
        row("missing id", R"({"type":3,"error":"boom"})", -1, false, "[错误 #?] boom");
        row("number id", R"({"type":3,"invocationId":9,"result":1})", -1, false, "[结果 #9] 1");
        row("stream invocation from hub", R"({"type":4,"invocationId":"1","target":"X"})", -1, false,
            R"(服务端发来了只应由客户端发送的消息 (类型 4): {"invocationId":"1","target":"X","type":4})");
        row("ping", R"({"type":6})", -1, false, "[心跳]");
        row("close with error", R"({"type":7,"error":"gone","allowReconnect":true})", -1, false, "服务端关闭连接: gone (允许重连)");
        row("plain close, english", R"({"type":7})", -1, true, "Hub closed the connection (reconnect not allowed)");
        row("unknown type", R"({"type":99,"x":1})", -1, false, R"(未知消息类型 99: {"type":99,"x":1})");
        row("type not a number", R"({"type":"1"})", -1, true, R"(Unknown message type 1: {"type":"1"})");
    }

    void typedRows()
    {
        QFETCH(QString, record);
        QFETCH(qint64, roundTripMs);
        QFETCH(bool, english);
        QFETCH(QString, row);
        QFETCH(QStringList, chartTexts);
        const Record typed = HubProtocol::classify(record);
        QCOMPARE(typed.kind, RecordKind::Typed);
        QCOMPARE(describeTyped(typed, english, roundTripMs), row);
        QCOMPARE(typed.arguments, chartTexts);
    }

    void negotiateStep_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("queryToken");
        QTest::addColumn<QString>("negotiateUrl");
        QTest::addColumn<QString>("next"); // what the client does with the answer
        const QString plain = QStringLiteral("http://h/hub/negotiate?negotiateVersion=1");
        QTest::newRow("ws, v1 takes connectionToken")
            << "ws://h:5000/hub" << QByteArray(R"({"connectionId":"c","connectionToken":"t+1","negotiateVersion":1)"
                                               R"(,"availableTransports":[{"transport":"WebSockets"}]})")
            << "" << "http://h:5000/hub/negotiate?negotiateVersion=1" << "ws://h:5000/hub?id=t%2B1";
        QTest::newRow("https, query and trailing slash, v0 takes connectionId, token in query")
            << "https://h/client/?hub=chat" << QByteArray(R"({"connectionId":"c0","availableTransports":[{"transport":"WebSockets"}]})")
            << "a b&c" << "https://h/client/negotiate?hub=chat&negotiateVersion=1"
            << "wss://h/client/?hub=chat&id=c0&access_token=a%20b%26c";
        QTest::newRow("no scheme, version already asked, redirect")
            << "h/hub?negotiateVersion=1" << QByteArray("{\"url\":\"https://x/client/?hub=h\",\"accessToken\":\"tk\"}") << ""
            << plain << "redirect https://x/client/?hub=h tk";
        QTest::newRow("wss root, error") << "wss://h/" << QByteArray(R"({"error":"Negotiate refused"})") << ""
                                         << "https://h/negotiate?negotiateVersion=1" << "error Negotiate refused";
        QTest::newRow("old ASP.NET SignalR") << "http://h/hub" << QByteArray(R"({"Url":"/x","ProtocolVersion":"1.5"})")
                                             << "" << plain << "old server";
        QTest::newRow("upper-case scheme, no WebSockets")
            << "HTTP://h/hub" << QByteArray(R"({"negotiateVersion":1,"connectionToken":"t","availableTransports":[{"transport":"LongPolling"}]})")
            << "" << plain << "without WebSockets ws://h/hub?id=t";
        QTest::newRow("v1 without its token") << "ws://h/hub" << QByteArray(R"({"negotiateVersion":1,"connectionId":"c"})")
                                              << "" << plain << "not negotiate";
        QTest::newRow("a web page") << "ws://h/hub" << QByteArray("<html></html>") << "" << plain << "not negotiate";
    }

    void negotiateStep()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, answer);
        QFETCH(QString, queryToken);
        QFETCH(QString, negotiateUrl);
        QFETCH(QString, next);
        QCOMPARE(Negotiation::negotiateUrl(address), negotiateUrl);
        const Negotiation::Answer a = Negotiation::parseAnswer(answer);
        const QString webSocket = (a.webSockets ? "" : "without WebSockets ")
                                  + Negotiation::webSocketUrl(address, a.connectionToken, queryToken);
        const QMap<Kind, QString> outcomes{{Kind::Connect, webSocket}, {Kind::Redirect, "redirect " + a.url + ' ' + a.accessToken},
                                           {Kind::HubError, "error " + a.error}, {Kind::OldServer, "old server"},
                                           {Kind::NotNegotiate, "not negotiate"}};
        QCOMPARE(outcomes.value(a.kind), next);
    }
};

QTEST_GUILESS_MAIN(TestHubProtocol)
#include "tst_hubprotocol.moc"

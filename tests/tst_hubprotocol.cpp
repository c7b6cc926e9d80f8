// Guards the wire format against: bytes that differ from what hubs and the official
// clients expect (key order, escapes, raw UTF-8, the separator), records split wrongly,
// records put in the wrong kind (so that errors vanish or handshakes are missed), typed
// records whose row loses what the hub said (error texts, results, ids, close reasons) or
// feeds the charts the wrong texts, and addresses opened with the wrong scheme.

#include <QTest>

#include "HubProtocol.h"

using namespace HubProtocol;

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

const QString RS = QString(QChar(RecordSeparator));

} // namespace

class TestHubProtocol : public QObject
{
    Q_OBJECT

private slots:
    void written_data()
    {
        QTest::addColumn<QString>("built");
        QTest::addColumn<QString>("expected"); // without the trailing separator
        QTest::newRow("handshake") << handshakeRequest() << u8("{\"protocol\":\"json\",\"version\":1}");
        QTest::newRow("ping") << pingRecord() << u8("{\"type\":6}");
        QTest::newRow("client") << clientInvocation(u8("SendMessage"), "hi", 2147483647)
                                << u8("{\"arguments\":[\"hi\"],\"invocationId\":\"2147483647\",\"target\":\"SendMessage\",\"type\":1}");
        QTest::newRow("subscribe") << subscribeInvocation(u8("ReceiveMessage"), Q_INT64_C(1714554902347))
                                   << u8("{\"arguments\":[\"ReceiveMessage\"],\"invocationId\":\"1714554902347\","
                                         "\"target\":\"Subscribe\",\"type\":1}");
        QTest::newRow("raw utf8, not escaped") << serverInvocation(u8("消息"), QString(u8("中文😀")).toUtf8())
                                               << u8("{\"arguments\":[\"中文😀\"],\"target\":\"消息\",\"type\":1}");
        QTest::newRow("escapes") << serverInvocation(u8("a\"b"), QByteArray("c\\d\n\t\x01\x1e"))
                                 << u8("{\"arguments\":[\"c\\\\d\\n\\t\\u0001\\u001e\"],\"target\":\"a\\\"b\",\"type\":1}");
        QTest::newRow("invalid utf8 payload") << serverInvocation(u8("M"), QByteArray::fromHex("FF"))
                                              << u8("{\"arguments\":[\"\xEF\xBF\xBD\"],\"target\":\"M\",\"type\":1}");
        QTest::newRow("stream") << streamInvocation(u8("Counter"), "3,10", 4)
                                << u8("{\"arguments\":[\"3,10\"],\"invocationId\":\"4\",\"target\":\"Counter\",\"type\":4}");
        QTest::newRow("cancel") << cancelInvocation(u8("4")) << u8("{\"invocationId\":\"4\",\"type\":5}");
        QTest::newRow("item") << streamItem(u8("4"), 2) << u8("{\"invocationId\":\"4\",\"item\":2,\"type\":2}");
        QTest::newRow("empty completion") << completionEmpty(u8("4")) << u8("{\"invocationId\":\"4\",\"type\":3}");
        QTest::newRow("close") << closeRecord(u8("bye"), true) << u8("{\"allowReconnect\":true,\"error\":\"bye\",\"type\":7}");
        QTest::newRow("plain close") << closeRecord(QString(), false) << u8("{\"type\":7}");
    }

    void written()
    {
        QFETCH(QString, built);
        QFETCH(QString, expected);
        QCOMPARE(built, expected + RS);
    }

    void splitRecords_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("records");
        QTest::newRow("two ended records") << u8("A") + RS + u8("B") + RS << QStringList({u8("A"), u8("B")});
        QTest::newRow("separators only") << RS + RS << QStringList();
        QTest::newRow("unterminated last, empty between") << u8("A") + RS + RS + u8("B") << QStringList({u8("A"), u8("B")});
        QTest::newRow("not trimmed") << u8(" A \n") + RS << QStringList({u8(" A \n")});
    }

    void splitRecords()
    {
        QFETCH(QString, message);
        QFETCH(QStringList, records);
        QCOMPARE(HubProtocol::splitRecords(message), records);
    }

    void classify_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        const int raw = int(RecordKind::Raw);
        const int typed = int(RecordKind::Typed);
        const int untyped = int(RecordKind::Untyped);
        QTest::newRow("not json") << u8("hello 中") << raw << u8("hello 中");
        QTest::newRow("array") << u8("[1,2]") << raw << u8("[1,2]");
        QTest::newRow("trailing garbage") << u8("{} x") << raw << u8("{} x");
        QTest::newRow("echoed handshake") << handshakeRequest().chopped(1) << int(RecordKind::HandshakeAck) << QString();
        QTest::newRow("ack wins over type") << u8("{\"protocol\":1,\"version\":1,\"type\":1}")
                                            << int(RecordKind::HandshakeAck) << QString();
        QTest::newRow("invocation") << u8("{\"type\":1,\"target\":\"R\",\"arguments\":[\"u\",\"h\"]}") << typed << u8("[R](u, h)");
        QTest::newRow("scalars give empty texts") << u8("{\"type\":1,\"target\":\"T\",\"arguments\":[42,true,null]}")
                                                  << typed << u8("[T](, , )");
        QTest::newRow("objects sorted and compact")
            << u8("{\"type\":1,\"target\":\"T\",\"arguments\":[{\"v\":21.5,\"id\":3},[1, {\"b\":2, \"a\":1}]]}") << typed
            << u8("[T]({\"id\":3,\"v\":21.5}, [1,{\"a\":1,\"b\":2}])");
        QTest::newRow("placeholders literal") << u8("{\"type\":1,\"target\":\"%2\",\"arguments\":[\"%1\"]}") << typed
                                              << u8("[%2](%1)");
        QTest::newRow("error completion") << u8("{\"invocationId\":\"1\",\"error\":\"boom\"}")
                                          << int(RecordKind::ErrorCompletion) << u8("boom");
        QTest::newRow("result completion") << u8("{\"invocationId\":\"1\",\"result\":5}")
                                           << int(RecordKind::SilentCompletion) << QString();
        QTest::newRow("untyped first argument") << u8("{\"arguments\":[\"first\",\"second\"]}") << untyped << u8("first");
        QTest::newRow("untyped first not a string") << u8("{\"arguments\":[1,\"x\"]}") << untyped << QString();
    }

    void classify()
    {
        QFETCH(QString, record);
        QFETCH(int, kind);
        QFETCH(QString, text);
        const Record result = HubProtocol::classify(record);
        QCOMPARE(int(result.kind), kind);
        QCOMPARE(result.text, text);
    }

    void typedRows_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<qint64>("roundTripMs"); // -1: not a call of this client
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("chartTexts");
        const auto row = [](const char* name, const char* record, qint64 ms, bool english, const char* text,
                            QStringList chart = {}) {
            QTest::newRow(name) << u8(record) << ms << english << u8(text) << chart;
        };
        row("invocation as today", R"({"type":1,"target":"T","arguments":["a",{"b":1},2]})", -1, false,
            R"([T](a, {"b":1}, ))", {u8("a"), u8(R"({"b":1})"), QString()});
        row("string item", R"({"type":2,"invocationId":"3","item":"x=1"})", -1, false, "[流 #3] x=1", {u8("x=1")});
        row("number item, english", R"({"type":2,"invocationId":"3","item":21.5})", -1, true, "[stream #3] 21.5", {u8("21.5")});
        row("string result with time", R"({"type":3,"invocationId":"7","result":"ok"})", 12, false, "[结果 #7] ok (12 ms)");
        row("number result", R"({"type":3,"invocationId":"7","result":42})", -1, false, "[结果 #7] 42");
        row("bool result", R"({"type":3,"invocationId":"7","result":false})", -1, false, "[结果 #7] false");
        row("null result", R"({"type":3,"invocationId":"7","result":null})", 0, false, "[结果 #7] null (0 ms)");
        row("object result", R"({"type":3,"invocationId":"7","result":{"z":1,"a":[]}})", -1, false, R"([结果 #7] {"a":[],"z":1})");
        row("array result", R"({"type":3,"invocationId":"7","result":[1,"b"]})", -1, false, R"([结果 #7] [1,"b"])");
        row("no result", R"({"type":3,"invocationId":"7"})", 5, true, "[result #7] (5 ms)");
        row("error with time", R"({"type":3,"invocationId":"8","error":"boom"})", 3, false, "[错误 #8] boom (3 ms)");
        row("non-string error", R"({"type":3,"invocationId":"8","error":{"code":5}})", -1, true, R"([error #8] {"code":5})");
        row("missing id", R"({"type":3,"error":"boom"})", -1, false, "[错误 #?] boom");
        row("number id", R"({"type":3,"invocationId":9,"result":1})", -1, false, "[结果 #9] 1");
        row("stream invocation from hub", R"({"type":4,"invocationId":"1","target":"X"})", -1, false,
            R"(服务端发来了只应由客户端发送的消息 (类型 4): {"invocationId":"1","target":"X","type":4})");
        row("cancel from hub, english", R"({"type":5,"invocationId":"1"})", -1, true,
            R"(The hub sent a message that only clients send (type 5): {"invocationId":"1","type":5})");
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
        QCOMPARE(int(typed.kind), int(RecordKind::Typed));
        QCOMPARE(describeTyped(typed, english, roundTripMs), row);
        QCOMPARE(typed.arguments, chartTexts);
    }

    void normalizeHubUrl_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("url");
        QTest::newRow("wss kept") << u8("wss://example.org/hub") << u8("wss://example.org/hub");
        QTest::newRow("no scheme") << u8("localhost:5000/debughub") << u8("ws://localhost:5000/debughub");
        QTest::newRow("upper-case WS") << u8("WS://host/hub") << u8("ws://host/hub");
        QTest::newRow("Http") << u8("Http://host/hub") << u8("ws://host/hub");
        QTest::newRow("https") << u8("https://host/hub") << u8("wss://host/hub");
        QTest::newRow("unknown scheme") << u8("ftp://host") << u8("ws://ftp://host");
    }

    void normalizeHubUrl()
    {
        QFETCH(QString, address);
        QFETCH(QString, url);
        QCOMPARE(HubProtocol::normalizeHubUrl(address), url);
    }
};

QTEST_GUILESS_MAIN(TestHubProtocol)
#include "tst_hubprotocol.moc"

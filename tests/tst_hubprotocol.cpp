// Guards the wire format against: bytes that differ from what hubs and the official
// clients expect (key order, escapes, raw UTF-8, the separator), records split wrongly,
// records put in the wrong kind (so that errors vanish or handshakes are missed), and
// addresses opened with the wrong scheme.

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

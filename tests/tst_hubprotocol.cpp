#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <QTest>

#include "HubProtocol.h"

using namespace HubProtocol;

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

const QString RS = QString(QChar(0x1E));

// Tricky texts used both as method names and as payloads.
QStringList trickyTexts()
{
    return {QString(),
            u8("hi"),
            u8("quote \" and backslash \\ and slash /"),
            u8("line\nbreak\ttab\rreturn\bback\fform"),
            QString(QChar(0x01)) + RS + QChar(0x1F) + QChar(0x7F),
            u8("中文 😀 é"),
            QString(QChar(0x2028)) + QChar(0x2029),
            u8("}{][,:\"\":{}"),
            u8("%1 %2 \\u0041")};
}

} // namespace

class TestHubProtocol : public QObject
{
    Q_OBJECT

private slots:
    void handshakeRequest();
    void invocationText_data();
    void invocationText();
    void invocationParsesBack_data();
    void invocationParsesBack();
    void splitRecords_data();
    void splitRecords();
    void classify_data();
    void classify();
    void echoedHandshakeIsAcknowledgement();
    void normalizeHubUrl_data();
    void normalizeHubUrl();
};

void TestHubProtocol::handshakeRequest()
{
    const QByteArray bytes = HubProtocol::handshakeRequest().toUtf8();
    QCOMPARE(bytes.size(), 32);
    QCOMPARE(bytes, QByteArray("{\"protocol\":\"json\",\"version\":1}\x1e"));
}

void TestHubProtocol::invocationText_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected"); // without the trailing separator

    QTest::newRow("client") << clientInvocation(u8("SendMessage"), "hi", 0)
                            << u8("{\"arguments\":[\"hi\"],\"invocationId\":\"0\",\"target\":\"SendMessage\",\"type\":1}");
    QTest::newRow("client max id") << clientInvocation(u8("M"), "x", 2147483647)
                                   << u8("{\"arguments\":[\"x\"],\"invocationId\":\"2147483647\",\"target\":\"M\",\"type\":1}");
    QTest::newRow("server") << serverInvocation(u8("SendMessage"), "hi")
                            << u8("{\"arguments\":[\"hi\"],\"target\":\"SendMessage\",\"type\":1}");
    QTest::newRow("subscribe") << subscribeInvocation(u8("ReceiveMessage"), Q_INT64_C(1714554902347))
                               << u8("{\"arguments\":[\"ReceiveMessage\"],\"invocationId\":\"1714554902347\","
                                     "\"target\":\"Subscribe\",\"type\":1}");
    QTest::newRow("empty payload") << serverInvocation(u8("M"), QByteArray())
                                   << u8("{\"arguments\":[\"\"],\"target\":\"M\",\"type\":1}");
    QTest::newRow("raw utf8, not escaped") << serverInvocation(u8("消息"), QString(u8("中文😀")).toUtf8())
                                           << u8("{\"arguments\":[\"中文😀\"],\"target\":\"消息\",\"type\":1}");
    QTest::newRow("quotes and backslashes") << serverInvocation(u8("a\"b"), "c\\d\"")
                                            << u8("{\"arguments\":[\"c\\\\d\\\"\"],\"target\":\"a\\\"b\",\"type\":1}");
    QTest::newRow("invalid utf8 payload") << serverInvocation(u8("M"), QByteArray::fromHex("FFFE"))
                                          << u8("{\"arguments\":[\"\xEF\xBF\xBD\xEF\xBF\xBD\"],\"target\":\"M\",\"type\":1}");
    QTest::newRow("method not trimmed") << serverInvocation(u8(" Send "), "x")
                                        << u8("{\"arguments\":[\"x\"],\"target\":\" Send \",\"type\":1}");
    QTest::newRow("subscribe name escaped") << subscribeInvocation(u8("a\"b"), 0)
                                            << u8("{\"arguments\":[\"a\\\"b\"],\"invocationId\":\"0\",\"target\":\"Subscribe\",\"type\":1}");
}

void TestHubProtocol::invocationText()
{
    QFETCH(QString, built);
    QFETCH(QString, expected);
    QCOMPARE(built, expected + RS);
}

void TestHubProtocol::invocationParsesBack_data()
{
    QTest::addColumn<QString>("text");
    const QStringList texts = trickyTexts();
    for (int i = 0; i < texts.size(); ++i)
        QTest::addRow("text %d", i) << texts[i];
}

void TestHubProtocol::invocationParsesBack()
{
    QFETCH(QString, text);

    struct Built
    {
        QString message;
        QString target;
        QString argument;
        QString invocationId; // null: no such key
    };
    const QList<Built> built = {
        {clientInvocation(text, text.toUtf8(), 41), text, text, u8("41")},
        {serverInvocation(text, text.toUtf8()), text, text, QString()},
        {subscribeInvocation(text, Q_INT64_C(1700000000123)), u8("Subscribe"), text, u8("1700000000123")},
    };
    for (const Built& b : built) {
        // Exactly one separator, at the end: an escaped separator in a string must not split it.
        QCOMPARE(b.message.count(RS), 1);
        QVERIFY(b.message.endsWith(RS));
        const QString json = b.message.chopped(1);
        for (const QChar c : json)
            QVERIFY2(c.unicode() >= 0x20, "raw control character in the JSON text");

        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + u8(": ") + json));
        QVERIFY(doc.isObject());
        const QJsonObject object = doc.object();
        QCOMPARE(object.size(), b.invocationId.isNull() ? 3 : 4);
        QCOMPARE(object.value(u8("type")), QJsonValue(1));
        QCOMPARE(object.value(u8("target")), QJsonValue(b.target));
        QCOMPARE(object.value(u8("arguments")), QJsonValue(QJsonArray({b.argument})));
        if (!b.invocationId.isNull())
            QCOMPARE(object.value(u8("invocationId")), QJsonValue(b.invocationId));
    }
}

void TestHubProtocol::splitRecords_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("two ended records") << u8("A") + RS + u8("B") + RS << QStringList({u8("A"), u8("B")});
    QTest::newRow("separators only") << RS + RS << QStringList();
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("no separator") << u8("{\"a\":1}") << QStringList({u8("{\"a\":1}")});
    QTest::newRow("unterminated last") << u8("A") + RS + RS + u8("B") << QStringList({u8("A"), u8("B")});
    QTest::newRow("leading separator") << RS + u8("A") << QStringList({u8("A")});
    QTest::newRow("not trimmed") << u8(" A \n") + RS << QStringList({u8(" A \n")});
}

void TestHubProtocol::splitRecords()
{
    QFETCH(QString, message);
    QFETCH(QStringList, records);
    QCOMPARE(HubProtocol::splitRecords(message), records);
}

void TestHubProtocol::classify_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("arguments");

    const int raw = int(RecordKind::Raw);
    const int ack = int(RecordKind::HandshakeAck);
    const int typed = int(RecordKind::Typed);
    const int error = int(RecordKind::ErrorCompletion);
    const int silent = int(RecordKind::SilentCompletion);
    const int untyped = int(RecordKind::Untyped);
    const QStringList none;

    QTest::newRow("not json") << u8("hello 中") << raw << u8("hello 中") << none;
    QTest::newRow("array") << u8("[1,2]") << raw << u8("[1,2]") << none;
    QTest::newRow("number") << u8("42") << raw << u8("42") << none;
    QTest::newRow("string") << u8("\"s\"") << raw << u8("\"s\"") << none;
    QTest::newRow("truncated object") << u8("{\"type\":1") << raw << u8("{\"type\":1") << none;
    QTest::newRow("trailing garbage") << u8("{} x") << raw << u8("{} x") << none;

    QTest::newRow("handshake ack") << u8("{\"protocol\":\"json\",\"version\":1}") << ack << QString() << none;
    QTest::newRow("ack with any values") << u8("{\"version\":null,\"protocol\":[]}") << ack << QString() << none;
    QTest::newRow("ack wins over type") << u8("{\"protocol\":1,\"version\":1,\"type\":1,\"target\":\"T\"}") << ack
                                        << QString() << none;
    QTest::newRow("protocol without version") << u8("{\"protocol\":\"json\"}") << untyped << QString() << none;

    QTest::newRow("invocation") << u8("{\"type\":1,\"target\":\"ReceiveMessage\",\"arguments\":[\"user1\",\"hello\"]}")
                                << typed << u8("[ReceiveMessage](user1, hello)")
                                << QStringList({u8("user1"), u8("hello")});
    QTest::newRow("close message alone") << u8("{\"type\":7}") << typed << u8("[]()") << none;
    QTest::newRow("completion with error is typed")
        << u8("{\"type\":3,\"invocationId\":\"1\",\"error\":\"boom\"}") << typed << u8("[]()") << none;
    QTest::newRow("type value not examined") << u8("{\"type\":\"x\",\"target\":\"T\"}") << typed << u8("[T]()") << none;
    QTest::newRow("scalar arguments") << u8("{\"type\":1,\"target\":\"T\",\"arguments\":[42,true,null]}") << typed
                                      << u8("[T](, , )") << QStringList({QString(), QString(), QString()});
    QTest::newRow("object argument sorted compact")
        << u8("{\"type\":1,\"target\":\"T\",\"arguments\":[{\"v\":21.5,\"id\":3}]}") << typed
        << u8("[T]({\"id\":3,\"v\":21.5})") << QStringList({u8("{\"id\":3,\"v\":21.5}")});
    QTest::newRow("array argument compact")
        << u8("{\"type\":1,\"target\":\"T\",\"arguments\":[[1, \"中\", {\"b\":2, \"a\":1}]]}") << typed
        << u8("[T]([1,\"中\",{\"a\":1,\"b\":2}])") << QStringList({u8("[1,\"中\",{\"a\":1,\"b\":2}]")});
    QTest::newRow("target not a string") << u8("{\"type\":1,\"target\":5,\"arguments\":[\"x\"]}") << typed << u8("[](x)")
                                         << QStringList({u8("x")});
    QTest::newRow("arguments not an array") << u8("{\"type\":1,\"target\":\"T\",\"arguments\":\"x\"}") << typed
                                            << u8("[T]()") << none;
    // Placeholders inside the target or an argument must come through literally.
    QTest::newRow("placeholders") << u8("{\"type\":1,\"target\":\"%2\",\"arguments\":[\"%1\",\"a\\nb\"]}") << typed
                                  << u8("[%2](%1, a\nb)") << QStringList({u8("%1"), u8("a\nb")});

    QTest::newRow("error completion") << u8("{\"invocationId\":\"1\",\"error\":\"boom\"}") << error << u8("boom") << none;
    QTest::newRow("error not a string") << u8("{\"invocationId\":\"1\",\"error\":{\"a\":1}}") << error << QString()
                                        << none;
    QTest::newRow("result completion") << u8("{\"invocationId\":\"1\",\"result\":5}") << silent << QString() << none;

    QTest::newRow("empty object") << u8("{}") << untyped << QString() << none;
    QTest::newRow("untyped first argument") << u8("{\"arguments\":[\"first\",\"second\"]}") << untyped << u8("first")
                                            << none;
    QTest::newRow("untyped empty arguments") << u8("{\"arguments\":[]}") << untyped << QString() << none;
    QTest::newRow("untyped first not a string") << u8("{\"arguments\":[1,\"x\"]}") << untyped << QString() << none;
    QTest::newRow("untyped arguments not an array") << u8("{\"arguments\":\"x\"}") << untyped << QString() << none;
    QTest::newRow("untyped with whitespace") << u8(" {\"target\":\"T\"}\n") << untyped << QString() << none;
}

void TestHubProtocol::classify()
{
    QFETCH(QString, record);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QStringList, arguments);

    const Record result = HubProtocol::classify(record);
    QCOMPARE(int(result.kind), kind);
    QCOMPARE(result.text, text);
    QCOMPARE(result.arguments, arguments);
}

void TestHubProtocol::echoedHandshakeIsAcknowledgement()
{
    const QStringList records = HubProtocol::splitRecords(HubProtocol::handshakeRequest());
    QCOMPARE(records.size(), 1);
    QCOMPARE(int(HubProtocol::classify(records.first()).kind), int(RecordKind::HandshakeAck));
}

void TestHubProtocol::normalizeHubUrl_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("url");

    QTest::newRow("ws kept") << u8("ws://localhost:5000/debughub") << u8("ws://localhost:5000/debughub");
    QTest::newRow("wss kept") << u8("wss://example.org/hub") << u8("wss://example.org/hub");
    QTest::newRow("no scheme") << u8("localhost:5000/debughub") << u8("ws://localhost:5000/debughub");
    QTest::newRow("empty") << QString() << u8("ws://");
    QTest::newRow("leading space not trimmed") << u8(" ws://h") << u8("ws:// ws://h");
    // Schemes are recognised in any case; the http addresses hub users copy from their
    // server open as the matching WebSocket scheme.
    QTest::newRow("upper-case WS") << u8("WS://host/hub") << u8("ws://host/hub");
    QTest::newRow("mixed-case wss") << u8("WsS://host/hub") << u8("wss://host/hub");
    QTest::newRow("Http") << u8("Http://host/hub") << u8("ws://host/hub");
    QTest::newRow("https") << u8("https://host/hub") << u8("wss://host/hub");
    QTest::newRow("ftp is not a scheme we know") << u8("ftp://host") << u8("ws://ftp://host");
}

void TestHubProtocol::normalizeHubUrl()
{
    QFETCH(QString, address);
    QFETCH(QString, url);
    QCOMPARE(HubProtocol::normalizeHubUrl(address), url);
}

QTEST_GUILESS_MAIN(TestHubProtocol)
#include "tst_hubprotocol.moc"

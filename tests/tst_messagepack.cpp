// Guards the MessagePack hub protocol against: bytes that differ from what the official
// implementation writes and reads (the examples it documents), messages read into other
// records than JSON gives (rows, charts and filters would then differ), values with no
// JSON counterpart shown wrongly, frames cut wrongly, malformed input that crashes, reads
// past its bytes or is reported other than once, a client that does not switch to binary
// after the handshake or sends a typed argument as a string, and a simulated hub that
// answers a MessagePack client in JSON, or its JSON clients in MessagePack.

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include "CommunicationBase.h"
#include "HubClient.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "MessagePackCodec.h"
#include "SimulatedHub.h"

using namespace MessagePackCodec;
using HubTestKit::Timeout;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text); // spaces are skipped
}

// An invocation of T whose one argument is nested `depth` - 1 levels deep in all.
QByteArray nested(int depth)
{
    return hex("96 01 80 c0 a1 54") + QByteArray(depth - 1, '\x91') + hex("c0 90");
}

QString nestedJson(int depth)
{
    return QStringLiteral(R"({"arguments":%1null%2,"target":"T","type":1})")
        .arg(QString(depth - 1, QLatin1Char('[')), QString(depth - 1, QLatin1Char(']')));
}

const QByteArray Ack("{}\x1e");
// [1, {}, nil, "T", [{"v": 2}, 3]] and its row
const QByteArray Invocation = hex("96 01 80 c0 a1 54 92 81 a1 76 02 03 90");
const QString InvocationRow = QStringLiteral(R"(RX [T]({"v":2}, 3))");

} // namespace

class TestMessagePack : public QObject
{
    Q_OBJECT

private slots:
    void codec_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("read");       // each message's record, then "!" and the error
        QTest::addColumn<QByteArray>("written"); // what the records are written as; empty: frame
        // One message, framed; its record written back as `written` when that is given.
        const auto row = [](const char* name, const QByteArray& body, const QString& read, const QByteArray& written = {}) {
            QTest::newRow(name) << framed(body) << read << (written.isNull() ? written : framed(written));
        };
        // The documented examples of the official implementation.
        const char* xyzMethod = "a3 78 79 7a a6 6d 65 74 68 6f 64 91 2a 90";
        row("invocation", hex("96 01 80") + hex(xyzMethod),
            R"({"arguments":[42],"invocationId":"xyz","target":"method","type":1})");
        row("non-blocking", hex("96 01 80 c0 a6 6d 65 74 68 6f 64 91 2a 90"), R"({"arguments":[42],"target":"method","type":1})");
        row("headers", hex("96 01 82 a1 78 a1 79 a1 7a a1 7a") + hex(xyzMethod),
            R"({"arguments":[42],"headers":{"x":"y","z":"z"},"invocationId":"xyz","target":"method","type":1})");
        row("stream invocation", hex("96 04 80") + hex(xyzMethod),
            R"({"arguments":[42],"invocationId":"xyz","target":"method","type":4})");
        row("stream item", hex("94 02 80 a3 78 79 7a 2a"), R"({"invocationId":"xyz","item":42,"type":2})");
        row("error", hex("95 03 80 a3 78 79 7a 01 a5 45 72 72 6f 72"), R"({"error":"Error","invocationId":"xyz","type":3})");
        row("void", hex("94 03 80 a3 78 79 7a 02"), R"({"invocationId":"xyz","type":3})");
        row("result", hex("95 03 80 a3 78 79 7a 03 2a"), R"({"invocationId":"xyz","result":42,"type":3})");
        row("cancel", hex("93 05 80 a3 78 79 7a"), R"({"invocationId":"xyz","type":5})");
        row("ping", hex("91 06"), R"({"type":6})");
        row("close", hex("92 07 a3 78 79 7a"), R"({"error":"xyz","type":7})", hex("93 07 a3 78 79 7a c2"));
        row("close, reconnect", hex("93 07 a3 78 79 7a c3"), R"({"allowReconnect":true,"error":"xyz","type":7})");
        // The VarInt example, 0x80 0x29 for 5248, and two messages in one frame.
        QTest::newRow("two-byte prefix") << framed(QByteArray(5248, 'x')).left(2) + framed(hex("91 06"))
                                         << "!message of 5248 bytes at byte 0 runs past the end of the frame (3 left)"
                                         << QByteArray();
        QTest::newRow("two, then a prefix cut short") << hex("02 91 06 02 91 06 80")
                                                       << "{\"type\":6}\n{\"type\":6}\n!length prefix at byte 6 is cut short"
                                                       << hex("02 91 06 02 91 06");
        QTest::newRow("prefix of 2 GB") << hex("ff ff ff ff 08 91") << "!length prefix at byte 0 says 2 GB or more" << QByteArray();
        // Values: floats as their shortest decimals, numbers past int64 as doubles; what
        // JSON lacks as marked strings, sent back as strings.
        row("numbers", hex("96 01 80 c0 a1 54 95 cb 3f f8 00 00 00 00 00 00 ca 3d cc cc cd d0 80 cf ff ff ff ff ff ff ff ff c2 90"),
            R"({"arguments":[1.5,0.1,-128,18446744073709552000,false],"target":"T","type":1})",
            hex("96 01 80 c0 a1 54 95 cb 3f f8 00 00 00 00 00 00 cb 3f b9 99 99 99 99 99 9a d0 80 cb 43 f0 00 00 00 00 00 00 c2 90"));
        row("binary, timestamps, extension",
            hex("96 01 80 c0 a1 54 95 c4 03 01 02 03 d6 ff 00 00 00 00 d7 ff 77 35 94 00 65 53 f1 00"
                "c7 0c ff 00 00 00 01 ff ff ff ff ff ff ff ff d5 05 0a 0b 90"),
            R"j({"arguments":["base64(AQID)","1970-01-01T00:00:00Z","2023-11-14T22:13:20.500Z",)j"
            R"j("1969-12-31T23:59:59.000000001Z","ext(5, 0A0B)"],"target":"T","type":1})j",
            hex("96 01 80 c0 a1 54 95 ac") + "base64(AQID)" + hex("b4") + "1970-01-01T00:00:00Z" + hex("b8")
                + "2023-11-14T22:13:20.500Z" + hex("be") + "1969-12-31T23:59:59.000000001Z" + hex("ac")
                + "ext(5, 0A0B)" + hex("90"));
        QTest::newRow("map keys, unknown type") << framed(hex("93 63 81 01 a1 61 c0"))
                                                << R"({"items":[{"1":"a"},null],"type":99})" << hex("00"); // nothing to write
        row("100 levels", nested(100), nestedJson(100));
        // Malformed: one error, nothing read past the bytes, nothing allocated for counts.
        row("101 levels", nested(101), "!nested deeper than 100 levels");
        row("not an array", hex("2a"), "!message is not an array");
        row("target not a string", hex("95 01 80 c0 2a 90"), "!target (item 4) is not a string");
        row("id missing", hex("92 05 80"), "!invocation id is missing (item 3)");
        row("result kind", hex("95 03 80 a1 31 07 c0"), "!result kind 7 is not 1, 2 or 3");
        row("cut short", hex("96 01 80"), "!message cut short after 3 bytes");
        row("array count past the bytes", hex("dd ff ff ff ff"), "!message cut short after 5 bytes");
        row("extension length wraps", hex("c9 ff ff ff ff 00"), "!extension longer than 4 GB");
        row("bytes after", hex("91 06 c0"), "!1 bytes after the message");
        row("empty", QByteArray(), "!empty message");
    }

    void codec()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, read);
        QFETCH(QByteArray, written);
        const Frame result = MessagePackCodec::read(frame);
        QStringList texts;
        QByteArray rewritten;
        for (const Message& message : result.messages) {
            texts.append(HubProtocol::compactJson(message.message));
            rewritten += framed(encode(message.message));
        }
        if (!result.error.isEmpty())
            texts.append(QLatin1Char('!') + result.error);
        QCOMPARE(texts.join(QLatin1Char('\n')), read);
        if (result.error.isEmpty() || !written.isNull())
            QCOMPARE(rewritten.toHex(' '), (written.isNull() ? frame : written).toHex(' '));
    }

    void clientSpeaksMessagePack()
    {
        RecordingHub hub;
        CommunicationBase log;
        HubClient client(&log);
        client.setMessagePack(true);
        QVERIFY(hub.listen());
        client.open(hub.url().toString());
        QTRY_COMPARE_WITH_TIMEOUT(hub.received, QStringList{HubProtocol::handshakeRequest("messagepack")}, Timeout);
        QSignalSpy arguments(&client, &HubClient::argumentReceived);
        // The answer and a first message in one binary frame, as ASP.NET Core may send them.
        hub.sendFrameToAll(Ack + framed(Invocation));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(&log, InvocationRow), Timeout);
        QCOMPARE(log.entries().last().data, framed(Invocation)); // the hex view's bytes
        QCOMPARE(log.rxBytes(), qint64(framed(Invocation).size()));
        QCOMPARE(arguments.size(), 2);
        QCOMPARE(arguments.at(1).at(0).toString(), QStringLiteral("3"));
        // A bad frame is reported once; the connection and the next frame survive it.
        hub.sendFrameToAll(framed(hex("96 01 80 c0 a1 54 dd ff ff ff ff")));
        hub.sendFrameToAll(framed(Invocation));
        QTRY_COMPARE_WITH_TIMEOUT(logLines(&log).count(InvocationRow), 2, Timeout);
        QCOMPARE(logLines(&log).filter(QStringLiteral("MessagePack 解码失败")).size(), 1);
        QVERIFY(client.isConnected());

        QVERIFY(client.invoke(QStringLiteral("Echo"), R"({"a":[1,2.5]})"));
        QVERIFY(client.send(QStringLiteral("M"), "not json"));
        QTRY_COMPARE_WITH_TIMEOUT(hub.receivedFrames.size(), 2, Timeout);
        QCOMPARE(hub.receivedFrames.at(0).toHex(' '),
                 framed(hex("96 01 80 a1 30 a4 45 63 68 6f 91 81 a1 61 92 01 cb 40 04 00 00 00 00 00 00 90")).toHex(' '));
        QCOMPARE(hub.receivedFrames.at(1), framed(hex("96 01 80 c0 a1 4d 91 a8") + "not json" + hex("90")));
    }

    // Truncations and bit flips of valid messages, from a fixed seed, read and rendered as
    // JSON; run under the sanitizers too, which see any read past the bytes.
    void malformedFrames()
    {
        const QList<QByteArray> valid = {framed(Invocation), framed(hex("95 03 80 a3 78 79 7a 01 a5 45 72 72 6f 72")),
                                         framed(hex("94 02 80 a3 78 79 7a cb 3f f8 00 00 00 00 00 00"))};
        QRandomGenerator random(18);
        for (int i = 0; i < 300; ++i) {
            QByteArray frame = valid.at(i % valid.size());
            if (i % 2)
                frame.truncate(random.bounded(1, int(frame.size())));
            else
                frame[random.bounded(int(frame.size()))] ^= char(1 << random.bounded(8));
            const Frame result = MessagePackCodec::read(frame);
            for (const Message& message : result.messages)
                QVERIFY(!HubProtocol::compactJson(message.message).isEmpty());
            QVERIFY2(!result.messages.isEmpty() || !result.error.isEmpty(), frame.toHex(' ').constData());
        }
    }

    // Each client is answered in its own protocol; the handshake may share its frame with
    // the first call. (The official client's MessagePack against the hub: tst_interop.)
    void hubServesBothProtocols()
    {
        CommunicationBase log;
        SimulatedHub hub(&log);
        QVERIFY(hub.listen(0, QStringLiteral("/debughub")));
        HubTestKit::Peer json(hub.port());
        HubTestKit::Peer binary(hub.port());
        QVERIFY(json.handshake() && binary.waitConnected());
        binary.socket->sendBinaryMessage(HubProtocol::handshakeRequest("messagepack").toUtf8()
                                         + framed(hex("96 01 80 c0 a4 53 65 6e 64 91 a2 68 69 90"))); // Send("hi")
        const QByteArray pushed = framed(hex("96 01 80 c0 ae") + "ReceiveMessage" + hex("91 a2 68 69 90"));
        QTRY_COMPARE_WITH_TIMEOUT(binary.frames.join().toHex(' '), (Ack + pushed).toHex(' '), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(json.received, QStringList{HubProtocol::serverInvocation("ReceiveMessage", "hi")}, Timeout);
        QVERIFY(binary.received.isEmpty() && json.frames.isEmpty());
        QVERIFY(logContains(&log, QStringLiteral("SYS 客户端 %1 使用 MessagePack 协议").arg(binary.identifier())));
        QVERIFY(logContains(&log, R"(RX {"arguments":["hi"],"target":"Send","type":1})" "\x1e"));
    }
};

QTEST_GUILESS_MAIN(TestMessagePack)
#include "tst_messagepack.moc"

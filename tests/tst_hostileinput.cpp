// Hostile input to the hub client over a real socket: malformed, deeply nested, huge,
// fragmented and invalid records, and messages over the size limit. A hub written for
// this test speaks WebSocket over a bare QTcpSocket, so it can put on the wire what a
// well-behaved library refuses to send (invalid UTF-8, absurd frame lengths, odd
// fragmentation). Each input must end as the expected entries, or as a closed
// connection after which the window connects again.

#include <QHostAddress>
#include <QListWidget>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QVersionNumber>

#include "CommunicationBase.h"
#include "LogLines.h"
#include "LogViewWidget.h"
#include "RawWebSocket.h"
#include "SignalRWidget.h"
#include "SignalRWidgetProbe.h"

namespace {

constexpr int Timeout = 20000;
const QByteArray Handshake = QByteArrayLiteral("{\"protocol\":\"json\",\"version\":1}\x1e");
const QString Sentinel = QStringLiteral("RX sentinel");

enum Opcode : quint8 { Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9 };

// One unmasked frame as a server writes it; the length may claim more than follows.
QByteArray frame(quint8 opcode, const QByteArray& payload, bool fin = true,
                 quint64 claimedLength = ~quint64(0))
{
    const quint64 length = claimedLength == ~quint64(0) ? quint64(payload.size()) : claimedLength;
    return RawWebSocket::frameHeader(opcode, length, fin) + payload;
}

QByteArray textFrame(const QByteArray& utf8)
{
    return frame(Text, utf8);
}

// A message cut into continuation frames of the given size.
QByteArray fragmented(quint8 opcode, const QByteArray& payload, int pieceSize)
{
    QByteArray out;
    for (qsizetype pos = 0; pos < payload.size(); pos += pieceSize) {
        const bool first = pos == 0;
        const bool last = pos + pieceSize >= payload.size();
        out += frame(first ? opcode : quint8(Continuation), payload.mid(pos, pieceSize), last);
    }
    return out;
}

// A WebSocket hub on 127.0.0.1 built on QTcpSocket: it answers the upgrade, records the
// text messages the client sends, answers a close and writes whatever bytes it is given.
class RawHub
{
public:
    RawHub()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                current = socket;
                buffer.clear();
                upgraded = false;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (socket == current)
                        onReadyRead();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                ++connections;
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    QString url() const { return QStringLiteral("ws://127.0.0.1:%1/hub").arg(server.serverPort()); }
    bool connected() const
    {
        return current && upgraded && current->state() == QAbstractSocket::ConnectedState;
    }
    void send(const QByteArray& bytes)
    {
        if (current)
            current->write(bytes);
    }

    QList<QByteArray> texts; // text messages from the client, in order
    QList<int> closeCodes;   // of the close frames the client sent
    int connections = 0;

private:
    void onReadyRead()
    {
        buffer += current->readAll();
        if (!upgraded) {
            const QByteArray answer = RawWebSocket::takeUpgrade(buffer);
            if (answer.isEmpty())
                return;
            current->write(answer);
            upgraded = true;
        }
        while (buffer.size() >= 6) { // client frames are masked and small here
            const auto* b = reinterpret_cast<const uchar*>(buffer.constData());
            qsizetype length = b[1] & 0x7F;
            qsizetype pos = 2;
            if (length == 126) {
                length = (qsizetype(b[2]) << 8) | b[3];
                pos = 4;
            }
            if (buffer.size() < pos + 4 + length)
                return;
            QByteArray payload = buffer.mid(pos + 4, length);
            for (qsizetype i = 0; i < payload.size(); ++i)
                payload[i] = char(payload[i] ^ b[pos + (i % 4)]);
            const quint8 opcode = b[0] & 0x0F;
            buffer.remove(0, pos + 4 + length);
            if (opcode == Text) {
                texts.append(payload);
            } else if (opcode == Close) {
                if (payload.size() >= 2)
                    closeCodes.append((int(uchar(payload[0])) << 8) | uchar(payload[1]));
                current->write(frame(Close, payload.left(2)));
                current->disconnectFromHost();
                return;
            }
        }
    }

    QTcpServer server;
    QPointer<QTcpSocket> current;
    QByteArray buffer;
    bool upgraded = false;
};

QByteArray repeated(char c, qsizetype count)
{
    return QByteArray(count, c);
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private:
    // Connects (or reconnects) the window to the hub and completes the handshake.
    void connectTo(SignalRWidgetProbe& p, RawHub& hub)
    {
        const int before = hub.connections;
        const qsizetype textsBefore = hub.texts.size();
        p.hubUrlEdit()->setText(hub.url());
        p.w.toggleConnection();
        QTRY_VERIFY_WITH_TIMEOUT(hub.connections > before && hub.texts.size() > textsBefore, Timeout);
        QCOMPARE(hub.texts.last(), Handshake);
        QVERIFY(p.running());
        const qsizetype acks = logLines(p.comm()).count(QStringLiteral("SYS SignalR协议握手成功"));
        hub.send(textFrame("{}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(logLines(p.comm()).count(QStringLiteral("SYS SignalR协议握手成功")),
                                  acks + 1, Timeout);
    }

    // Waits until every entry is a row too.
    void waitUntilShown(SignalRWidgetProbe& p)
    {
        QTRY_VERIFY_WITH_TIMEOUT(p.logView()->pendingCount() == 0
                                     && p.logView()->list()->count() == p.comm()->entryCount(),
                                 Timeout);
    }

    // After a refused message: the connection is gone, and the window connects again and
    // logs what the hub sends on the new connection.
    void verifyUsableAgain(SignalRWidgetProbe& p, RawHub& hub)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!p.running(), Timeout);
        QCOMPARE(p.connectButton()->text(), QStringLiteral("连接"));
        connectTo(p, hub);
        hub.send(textFrame("{\"type\":1,\"target\":\"ReceiveMessage\",\"arguments\":[\"again\"]}\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(logLines(p.comm()).endsWith(QStringLiteral("RX [ReceiveMessage](again)")),
                                 Timeout);
        waitUntilShown(p);
    }

private slots:
    void malformedRecordsAreClassified_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("expected");

        const QByteArray invocationHead = "{\"type\":1,\"target\":\"T\",\"arguments\":[";
        QTest::newRow("truncated invocation")
            << textFrame(invocationHead + "\"a\"\x1e")
            << QStringList{QStringLiteral("RX ") + QString::fromLatin1(invocationHead + "\"a\"")};
        QTest::newRow("truncated inside a string")
            << textFrame("{\"type\":1,\"target\":\"Rec\x1e")
            << QStringList{QStringLiteral("RX {\"type\":1,\"target\":\"Rec")};
        QTest::newRow("only an opening brace") << textFrame("{\x1e") << QStringList{QStringLiteral("RX {")};
        QTest::newRow("100000 opening brackets")
            << textFrame(repeated('[', 100000) + "\x1e")
            << QStringList{QStringLiteral("RX ") + QString(100000, QLatin1Char('['))};
        QTest::newRow("100000 balanced brackets")
            << textFrame(repeated('[', 100000) + repeated(']', 100000) + "\x1e")
            << QStringList{QStringLiteral("RX ") + QString(100000, QLatin1Char('['))
                           + QString(100000, QLatin1Char(']'))};
        QByteArray deepObject;
        for (int i = 0; i < 50000; ++i)
            deepObject += "{\"a\":";
        deepObject += "1" + repeated('}', 50000);
        QTest::newRow("object nested 50000 deep")
            << textFrame(deepObject + "\x1e") << QStringList{QStringLiteral("RX ") + QString::fromLatin1(deepObject)};
        QTest::newRow("argument nested 1000 deep")
            << textFrame(invocationHead + repeated('[', 1000) + repeated(']', 1000) + "]}\x1e")
            << QStringList{QStringLiteral("RX [T](") + QString(1000, QLatin1Char('['))
                           + QString(1000, QLatin1Char(']')) + QLatin1Char(')')};
        QByteArray manyArguments = invocationHead;
        QString manyTexts;
        for (int i = 0; i < 100000; ++i) {
            manyArguments += i == 0 ? "\"a\"" : ",\"a\"";
            manyTexts += i == 0 ? QStringLiteral("a") : QStringLiteral(", a");
        }
        QTest::newRow("100000 arguments")
            << textFrame(manyArguments + "]}\x1e") << QStringList{QStringLiteral("RX [T](") + manyTexts + QLatin1Char(')')};
        // Qt's parser refuses numbers beyond the range of a double: not JSON, so raw text.
        QTest::newRow("1e999 argument")
            << textFrame(invocationHead + "1e999]}\x1e")
            << QStringList{QStringLiteral("RX ") + QString::fromLatin1(invocationHead + "1e999]}")};
        QTest::newRow("-1e999 type")
            << textFrame("{\"type\":-1e999}\x1e") << QStringList{QStringLiteral("RX {\"type\":-1e999}")};
        QTest::newRow("30-digit number argument")
            << textFrame(invocationHead + "123456789012345678901234567890,\"x\"]}\x1e")
            << QStringList{QStringLiteral("RX [T](, x)")};
        QTest::newRow("lone surrogate escape")
            << textFrame(invocationHead + "\"\\ud800\"]}\x1e") << QStringList{QStringLiteral("RX [T](?)")};
        QTest::newRow("NUL characters")
            << textFrame(QByteArray("a\0b\x1e", 4)) << QStringList{QStringLiteral("RX a") + QChar(0) + QLatin1Char('b')};
        QTest::newRow("one separator") << textFrame("\x1e") << QStringList{};
        QTest::newRow("separators only") << textFrame(repeated('\x1e', 1000)) << QStringList{};
        QTest::newRow("empty message") << textFrame(QByteArray()) << QStringList{};
        QTest::newRow("white space record") << textFrame(" \t\x1e") << QStringList{QStringLiteral("RX  \t")};
        QTest::newRow("separators around records")
            << textFrame("\x1e\x1e" "a\x1e\x1e\x1e" "b")
            << QStringList{QStringLiteral("RX a"), QStringLiteral("RX b")};
        QTest::newRow("arguments not an array")
            << textFrame("{\"type\":1,\"target\":7,\"arguments\":{\"a\":1}}\x1e")
            << QStringList{QStringLiteral("RX []()")};
        QTest::newRow("error that is not a string")
            << textFrame("{\"invocationId\":\"1\",\"error\":{\"code\":5}}\x1e")
            << QStringList{QStringLiteral("SYS 调用错误: ")};

        // Control frames may come between the frames of a message.
        QByteArray withPing = fragmented(Text, invocationHead + "\"abcdefghijkl\"]}\x1e", 7);
        withPing.insert(frame(Text, invocationHead.left(7), false).size(), frame(Ping, "are you there"));
        QTest::newRow("fragmented with a ping between")
            << withPing << QStringList{QStringLiteral("RX [T](abcdefghijkl)")};

        // Binary messages carry no hub records in the JSON protocol; invalid UTF-8 in one
        // must be dropped without harm.
        QTest::newRow("binary message with invalid UTF-8")
            << frame(Binary, QByteArray::fromHex("c328fffe")) << QStringList{};

        const QByteArray tenMiB = repeated('x', 10 * 1024 * 1024);
        QTest::newRow("10 MiB raw record")
            << textFrame(tenMiB + "\x1e") << QStringList{QStringLiteral("RX ") + QString::fromLatin1(tenMiB)};
        QTest::newRow("10 MiB argument")
            << textFrame(invocationHead + "\"" + tenMiB + "\"]}\x1e")
            << QStringList{QStringLiteral("RX [T](") + QString::fromLatin1(tenMiB) + QLatin1Char(')')};
        QTest::newRow("10 MiB raw record in 4 KiB frames")
            << fragmented(Text, tenMiB + "\x1e", 4096)
            << QStringList{QStringLiteral("RX ") + QString::fromLatin1(tenMiB)};
    }

    void malformedRecordsAreClassified()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, expected);
        RawHub hub;
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        connectTo(p, hub);
        const qsizetype before = logLines(p.comm()).size();

        // A sentinel after the input marks the end of what it produced.
        hub.send(wire);
        hub.send(textFrame("sentinel\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(logLines(p.comm()).endsWith(Sentinel), Timeout);
        QStringList lines = logLines(p.comm()).mid(before);
        lines.removeLast();
        QCOMPARE(lines.size(), expected.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(lines.at(i) == expected.at(i),
                     qPrintable(QStringLiteral("entry %1: %2 ...").arg(i).arg(lines.at(i).left(80))));
        QVERIFY(p.running());

        // Every entry becomes a row; no row is drawn longer than the cap.
        waitUntilShown(p);
        const QListWidget* list = p.logView()->list();
        for (int row = 0; row < list->count(); ++row)
            QVERIFY(list->item(row)->text().size() <= LogViewWidget::MaxRowChars + 1);
        QVERIFY(list->item(list->count() - 1)->text().endsWith(QStringLiteral("[RX]  sentinel")));
    }

    void characterSplitAcrossFrames_data()
    {
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<bool>("pingBetween");
        QTest::newRow("1-byte frames") << 1 << false;
        QTest::newRow("2-byte frames") << 2 << false;
        QTest::newRow("5-byte frames, ping between") << 5 << true;
    }

    // A frame may end inside a character as long as the whole message is valid UTF-8.
    void characterSplitAcrossFrames()
    {
        QFETCH(int, pieceSize);
        QFETCH(bool, pingBetween);
        const QByteArray message = QStringLiteral("\"中文消息\"\x1e").toUtf8();
        QByteArray wire = fragmented(Text, message, pieceSize);
        if (pingBetween)
            wire.insert(frame(Text, message.left(pieceSize), false).size(), frame(Ping, "ping"));
        RawHub hub;
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        connectTo(p, hub);
        const qsizetype before = logLines(p.comm()).size();
        hub.send(wire);
        hub.send(textFrame("sentinel\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(logLines(p.comm()).endsWith(Sentinel) || !p.running(), Timeout);
        if (!p.running()) {
            // Qt WebSockets 6.4 decodes every frame on its own and closes the connection
            // with 1007 (invalid UTF-8); the window cannot see the message at all.
            if (QLibraryInfo::version() < QVersionNumber(6, 5))
                QEXPECT_FAIL("", "Qt 6.4 refuses a character split across frames", Continue);
            QVERIFY(p.running());
            QTRY_COMPARE_WITH_TIMEOUT(hub.closeCodes, QList<int>{1007}, Timeout);
            verifyUsableAgain(p, hub);
            return;
        }
        QCOMPARE(logLines(p.comm()).mid(before), (QStringList{QStringLiteral("RX \"中文消息\""), Sentinel}));
    }

    void invalidUtf8ClosesTheConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("bad continuation") << QByteArray::fromHex("c328");
        QTest::newRow("encoded surrogate") << QByteArray::fromHex("eda080");
        QTest::newRow("overlong slash") << QByteArray::fromHex("c0af");
        QTest::newRow("five-byte form") << QByteArray::fromHex("f888808080");
        QTest::newRow("0xff byte") << QByteArray::fromHex("ff");
        QTest::newRow("cut at the end") << QByteArray::fromHex("e4b8");
    }

    void invalidUtf8ClosesTheConnection()
    {
        QFETCH(QByteArray, bytes);
        RawHub hub;
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        connectTo(p, hub);
        const qsizetype before = logLines(p.comm()).size();
        // The protocol requires UTF-8 text; the socket library refuses the message and
        // closes the connection, which the window reports like any disconnection.
        hub.send(textFrame("{\"type\":1,\"target\":\"T\",\"arguments\":[\"" + bytes + "\"]}\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(!p.running(), Timeout);
        const QStringList after = logLines(p.comm()).mid(before);
        QVERIFY(after.filter(QRegularExpression(QStringLiteral("^RX "))).isEmpty());
        QVERIFY(after.contains(QStringLiteral("SYS SignalR连接已断开")));
        QVERIFY2(!after.filter(QRegularExpression(QStringLiteral("^SYS 关闭代码 1007"))).isEmpty(),
                 qPrintable(after.join(QLatin1Char('|'))));
        QTRY_COMPARE_WITH_TIMEOUT(hub.closeCodes, QList<int>{1007}, Timeout);
        verifyUsableAgain(p, hub);
    }

    void oversizedMessageIsRefused_data()
    {
        QTest::addColumn<QByteArray>("wire");
        constexpr int Limit = 1024 * 1024;
        QTest::newRow("one frame over the limit") << textFrame(repeated('x', Limit + 16));
        QTest::newRow("frames that add up over the limit")
            << fragmented(Text, repeated('x', Limit + Limit / 4), 64 * 1024);
        QTest::newRow("binary message over the limit") << frame(Binary, repeated('\xff', Limit + 16));
        // A header that claims 2^62 bytes: refused at once, not awaited.
        QTest::newRow("frame claiming 2^62 bytes") << frame(Text, "x", true, quint64(1) << 62);
    }

    void oversizedMessageIsRefused()
    {
        QFETCH(QByteArray, wire);
        RawHub hub;
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.maxMessageBytes() = 1024 * 1024; // the 64 MiB rule at a size a test can afford
        connectTo(p, hub);
        const qsizetype before = logLines(p.comm()).size();
        hub.send(wire);
        QTRY_VERIFY_WITH_TIMEOUT(logLines(p.comm()).mid(before).contains(
                                     QStringLiteral("SYS 消息超过大小上限 (1 MiB)，连接已关闭")),
                                 Timeout);
        QVERIFY(logLines(p.comm()).mid(before).filter(QRegularExpression(QStringLiteral("^RX "))).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(hub.closeCodes, QList<int>{1009}, Timeout);
        verifyUsableAgain(p, hub);
    }
};

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"

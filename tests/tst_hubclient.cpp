#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "LogLines.h"
#include "RecordingHub.h"
#include "SignalRWidget.h"
#include "HubTestKit.h"
#include "SignalRWidgetProbe.h"

using namespace HubTestKit;

namespace {

const QString Handshake = HubProtocol::handshakeRequest();

} // namespace

// The hub client against a loopback hub that records what it receives.
class TestHubClient : public QObject
{
    Q_OBJECT

private:
    QStringList logSince(const CommunicationBase* comm, qsizetype from)
    {
        return logLines(comm).mid(from);
    }

private slots:
    void connectHandshakeAndSubscribe()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        for (const QString& name : {QStringLiteral(" ReceiveMessage "), QStringLiteral("Other")}) {
            p.subscribeEdit()->setText(name);
            w.addSubscription();
        }
        QCOMPARE(p.subscriptions(), QStringList({"ReceiveMessage", "Other"}));

        // No scheme: ws:// is put in front.
        p.hubUrlEdit()->setText(QStringLiteral("127.0.0.1:%1/hub").arg(hub.port()));
        w.toggleConnection();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received.size(), 1, Timeout);
        QCOMPARE(hub.received.first(), Handshake);
        QCOMPARE(p.connectButton()->text(), QStringLiteral("断开"));

        hub.sendToAll(QStringLiteral("{}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(hub.received.size(), 3, Timeout);
        const QRegularExpression subscribe(QStringLiteral(
            "^\\{\"arguments\":\\[\"(\\w+)\"\\],\"invocationId\":\"\\d{13}\",\"target\":\"Subscribe\",\"type\":1\\}\x1e$"));
        QCOMPARE(subscribe.match(hub.received.at(1)).captured(1), QStringLiteral("ReceiveMessage"));
        QCOMPARE(subscribe.match(hub.received.at(2)).captured(1), QStringLiteral("Other"));

        hub.sendToAll(QStringLiteral(
            "{\"type\":1,\"target\":\"ReceiveMessage\",\"arguments\":[\"user1\",\"hello\"]}\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(p.comm(), "RX [ReceiveMessage](user1, hello)"), Timeout);

        w.toggleConnection();
        const QString url = QStringLiteral("ws://127.0.0.1:%1/hub").arg(hub.port());
        QCOMPARE(logLines(p.comm()),
                 QStringList({"SYS 已订阅方法 ReceiveMessage", "SYS 已订阅方法 Other",
                              "SYS 正在连接 " + url + "...", "SYS SignalR已连接",
                              "SYS SignalR协议握手成功", "SYS 已订阅方法 ReceiveMessage",
                              "SYS 已订阅方法 Other", "RX [ReceiveMessage](user1, hello)",
                              "SYS 已断开"}));
        QCOMPARE(p.connectButton()->text(), QStringLiteral("连接"));
        QVERIFY(!p.running());
        QCOMPARE(p.clientSocket(), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(hub.clientCount(), 0, Timeout);
    }

    void handshakeAnswer_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty object acknowledges")
            << QStringLiteral("{}\x1e") << QStringList({"SYS SignalR协议握手成功"});
        QTest::newRow("empty object later is an empty row")
            << QStringLiteral("{}\x1e{}\x1e") << QStringList({"SYS SignalR协议握手成功", "RX "});
        QTest::newRow("error refuses")
            << QStringLiteral("{\"error\":\"Requested protocol 'json' is not available.\"}\x1e")
            << QStringList({"SYS 握手失败: Requested protocol 'json' is not available."});
        QTest::newRow("echoed request acknowledges") << Handshake << QStringList({"SYS SignalR协议握手成功"});
        QTest::newRow("typed first record is a message")
            << QStringLiteral("{\"type\":1,\"target\":\"T\",\"arguments\":[\"a\"]}\x1e{}\x1e")
            << QStringList({"RX [T](a)", "RX "});
        QTest::newRow("raw first record is raw text")
            << QStringLiteral("hello\x1e") << QStringList({"RX hello"});
    }

    void handshakeAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, expected);
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(connectWindow(p, hub));
        const qsizetype before = logLines(p.comm()).size();
        hub.sendToAll(answer);
        QTRY_COMPARE_WITH_TIMEOUT(logSince(p.comm(), before).size(), expected.size(), Timeout);
        QCOMPARE(logSince(p.comm(), before), expected);
    }

    void receivedRecords_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two invocations in one message")
            << QStringLiteral("{\"type\":1,\"target\":\"A\",\"arguments\":[\"1\"]}\x1e"
                              "{\"type\":1,\"target\":\"B\",\"arguments\":[{\"v\":2,\"id\":3}]}\x1e")
            << QStringList({"RX [A](1)", "RX [B]({\"id\":3,\"v\":2})"});
        QTest::newRow("error completion")
            << QStringLiteral("{\"invocationId\":\"4\",\"error\":\"boom\"}\x1e")
            << QStringList({"SYS 调用错误: boom"});
        QTest::newRow("silent completion then raw")
            << QStringLiteral("{\"invocationId\":\"4\",\"result\":1}\x1e[1,2]\x1e")
            << QStringList({"RX [1,2]"});
        QTest::newRow("ping is a typed record") << QStringLiteral("{\"type\":6}\x1e")
                                                << QStringList({"RX []()"});
        QTest::newRow("no separator") << QStringLiteral("plain text") << QStringList({"RX plain text"});
    }

    void receivedRecords()
    {
        QFETCH(QString, message);
        QFETCH(QStringList, expected);
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(connectWindow(p, hub));
        hub.sendToAll(QStringLiteral("{}\x1e"));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(p.comm(), "SYS SignalR协议握手成功"), Timeout);
        const qsizetype before = logLines(p.comm()).size();
        hub.sendToAll(message);
        QTRY_COMPARE_WITH_TIMEOUT(logSince(p.comm(), before).size(), expected.size(), Timeout);
        QCOMPARE(logSince(p.comm(), before), expected);
    }

    void receivedBytesCountInSelectedEncoding()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(connectWindow(p, hub));
        hub.sendToAll(QStringLiteral("{}\x1e"));
        hub.sendToAll(QStringLiteral("中文\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(p.comm()->rxBytes(), qint64(6), Timeout); // UTF-8
        p.comm()->setEncoding(QStringLiteral("Unicode"));
        hub.sendToAll(QStringLiteral("中文\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(p.comm()->rxBytes(), qint64(10), Timeout);
    }

    void subscriptionWhileConnectedIsSentAtOnce()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(connectWindow(p, hub));
        p.subscribeEdit()->setText(QStringLiteral("Live"));
        w.addSubscription();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received.size(), 1, Timeout);
        QVERIFY(hub.received.at(0).startsWith(QStringLiteral("{\"arguments\":[\"Live\"]")));
        QCOMPARE(logLines(p.comm()).count("SYS 已订阅方法 Live"), 2);
        QVERIFY(p.subscribeEdit()->text().isEmpty());

        // A duplicate changes nothing and keeps the text; removal sends nothing.
        p.subscribeEdit()->setText(QStringLiteral("Live"));
        w.addSubscription();
        QCOMPARE(p.subscribeEdit()->text(), QStringLiteral("Live"));
        QCOMPARE(p.subscriptionList()->count(), 1);
        w.removeSubscription(); // nothing selected
        QCOMPARE(p.subscriptionList()->count(), 1);
        p.subscriptionList()->setCurrentRow(0);
        w.removeSubscription();
        QVERIFY(p.subscriptions().isEmpty());
        QVERIFY(logContains(p.comm(), "SYS 已取消订阅 Live"));
        QTest::qWait(0);
        QCOMPARE(hub.received.size(), 1);
    }

    void hubClosesConnection()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(connectWindow(p, hub));
        hub.closeAll();
        QTRY_VERIFY_WITH_TIMEOUT(!p.running(), Timeout);
        QCOMPARE(logLines(p.comm()).last(), QStringLiteral("SYS SignalR连接已断开"));
        QCOMPARE(p.connectButton()->text(), QStringLiteral("连接"));
        QCOMPARE(p.connectButton()->objectName(), QStringLiteral("accentButton"));
        QCOMPARE(p.clientSocket(), nullptr);
    }

    void refusedConnectionIsReported()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.hubUrlEdit()->setText(QStringLiteral("ws://127.0.0.1:%1/hub").arg(unusedPort()));
        w.toggleConnection();
        QTRY_VERIFY_WITH_TIMEOUT(
            logLines(p.comm()).filter(QStringLiteral("SYS 连接错误: ")).size() == 1, Timeout);
        QTest::qWait(50); // a late duplicate report would land here
        const QStringList lines = logLines(p.comm());
        QCOMPARE(lines.size(), 2); // "正在连接 ..." and the error, no disconnection line
        QCOMPARE(lines.last(), QStringLiteral("SYS 连接错误: Connection refused"));
        QVERIFY(!p.running());
        QCOMPARE(p.connectButton()->text(), QStringLiteral("连接"));
    }

    void httpAddressOpensWebSocket()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.hubUrlEdit()->setText(QStringLiteral("HTTP://127.0.0.1:%1/hub").arg(hub.port()));
        w.toggleConnection();
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.contains(Handshake), Timeout);
        QVERIFY(logContains(p.comm(),
                            QStringLiteral("SYS 正在连接 ws://127.0.0.1:%1/hub...").arg(hub.port())));
    }

    void newAttemptSilencesTheEarlierSocket()
    {
        RecordingHub first;
        RecordingHub second;
        QVERIFY(first.listen());
        QVERIFY(second.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.hubUrlEdit()->setText(first.url().toString());
        w.connectClient();
        p.hubUrlEdit()->setText(second.url().toString());
        w.connectClient();
        QTRY_VERIFY_WITH_TIMEOUT(second.received.contains(Handshake), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(first.clientCount(), 0, Timeout);
        QVERIFY(first.received.isEmpty());
        QCOMPARE(logLines(p.comm()).count("SYS SignalR已连接"), 1);
        QVERIFY(p.running());
        QCOMPARE(p.clientSocket()->peerPort(), second.port());
    }

    void oversizedMessageIsRefused()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QCOMPARE(p.maxMessageBytes(), quint64(64 * 1024 * 1024));
        p.maxMessageBytes() = 1024 * 1024; // the same rule at a size a test can afford
        QVERIFY(connectWindow(p, hub));
        hub.sendToAll(QStringLiteral("{}\x1e"));
        hub.sendToAll(QString(1024 * 1024 + 16, QLatin1Char('x')));
        QTRY_VERIFY_WITH_TIMEOUT(!p.running(), Timeout);
        QVERIFY(logContains(p.comm(), QStringLiteral("SYS 消息超过大小上限 (1 MiB)，连接已关闭")));
        QVERIFY(logLines(p.comm()).filter(QStringLiteral("RX ")).isEmpty());
    }

    void disconnectAllWhenIdle()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        w.disconnectAll();
        QCOMPARE(logLines(p.comm()), QStringList({"SYS 已断开"}));
        QVERIFY(!p.running());
    }
};

QTEST_MAIN(TestHubClient)
#include "tst_hubclient.moc"

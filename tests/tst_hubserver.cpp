#include <QHostAddress>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QLineEdit>
#include <QTcpServer>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>
#include <vector>

#include "CommunicationBase.h"
#include "LogLines.h"
#include "SignalRWidget.h"
#include "HubTestKit.h"
#include "SignalRWidgetProbe.h"

using namespace HubTestKit;

// The simulated hub: listening, the client list, what clients send, pushing and stopping.
class TestHubServer : public QObject
{
    Q_OBJECT

private:
    void waitForClients(SignalRWidgetProbe& p, std::vector<std::unique_ptr<Peer>>& peers)
    {
        for (auto& peer : peers)
            QTRY_COMPARE_WITH_TIMEOUT(peer->socket->state(), QAbstractSocket::ConnectedState, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), int(peers.size()), Timeout);
    }

private slots:
    void startLogsAddressAndMethods()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.hubPathEdit()->setText(QStringLiteral("/debughub"));
        QVERIFY(startWindowServer(p));
        const int port = p.portSpin()->value();
        QCOMPARE(logLines(p.comm()),
                 QStringList({QStringLiteral("SYS SignalR服务器已启动: http://localhost:%1/debughub").arg(port),
                              "SYS 可用方法: Send(msg), SendMessage(msg), Echo(msg), Broadcast(method, msg)"}));
        QCOMPARE(p.connectButton()->text(), QStringLiteral("断开"));
    }

    void portInUse()
    {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, 0));
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.serverRadio()->setChecked(true);
        p.portSpin()->setValue(blocker.serverPort());
        w.toggleConnection();
        QVERIFY(!p.running());
        QCOMPARE(p.server(), nullptr);
        const QStringList lines = logLines(p.comm());
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(QStringLiteral("SYS 监听失败: ")) && lines.first().size() > 11,
                 qPrintable(lines.first()));
        QCOMPARE(p.connectButton()->text(), QStringLiteral("启动"));
    }

    void clientsListedAndTextsLogged()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        std::vector<std::unique_ptr<Peer>> peers;
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value(), QStringLiteral("/any/other")));
        waitForClients(p, peers);
        QCOMPARE(p.clientList()->item(0)->text(), peers[0]->identifier());
        QCOMPARE(p.clientList()->item(1)->text(), peers[1]->identifier());
        QVERIFY(logContains(p.comm(), "SYS 客户端连接 " + peers[0]->identifier()));

        // A handshake request arrives whole, separator included, as one received entry.
        const QString request = QStringLiteral("{\"protocol\":\"json\",\"version\":1}\x1e");
        peers[0]->socket->sendTextMessage(request);
        QTRY_VERIFY_WITH_TIMEOUT(logContains(p.comm(), "RX " + request), Timeout);
        QCOMPARE(p.comm()->rxBytes(), qint64(request.toUtf8().size()));
    }

    void sendReachesEveryClientWithOneEntry()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        std::vector<std::unique_ptr<Peer>> peers;
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        waitForClients(p, peers);

        p.sendEdit()->setPlainText(QStringLiteral("hi"));
        w.sendData();
        const QString expected = QStringLiteral("{\"arguments\":[\"hi\"],\"target\":\"SendMessage\",\"type\":1}\x1e");
        for (auto& peer : peers)
            QTRY_COMPARE_WITH_TIMEOUT(peer->received, QStringList({expected}), Timeout);
        QCOMPARE(logLines(p.comm()).filter(QStringLiteral("TX ")), QStringList({"TX hi"}));
        QCOMPARE(p.comm()->txBytes(), qint64(2));
        QCOMPARE(p.invocationCounter(), 1);
    }

    void sendWithoutClientsStillLogs()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        p.sendEdit()->setPlainText(QStringLiteral("abc"));
        w.sendData();
        QCOMPARE(logLines(p.comm()).last(), QStringLiteral("TX abc"));
        QCOMPARE(p.comm()->txBytes(), qint64(3));
    }

    void stopLogsEveryDeparture_data()
    {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("leaving"); // clients that drop by themselves while stopping
        QTest::newRow("three stay") << 3 << 0;
        QTest::newRow("two of four leave during the stop") << 4 << 2;
    }

    void stopLogsEveryDeparture()
    {
        QFETCH(int, clients);
        QFETCH(int, leaving);
        auto w = std::make_unique<SignalRWidget>();
        SignalRWidgetProbe p(*w);
        QVERIFY(startWindowServer(p));
        std::vector<std::unique_ptr<Peer>> peers;
        for (int i = 0; i < clients; ++i)
            peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        waitForClients(p, peers);

        QStringList departures;
        for (auto& peer : peers)
            departures.append("SYS 客户端断开: " + peer->identifier());
        for (int i = 0; i < leaving; ++i)
            peers[i]->socket->abort();
        const qsizetype before = logLines(p.comm()).size();
        w->toggleConnection();
        QVERIFY(!p.running());
        QCOMPARE(p.server(), nullptr);
        QCOMPARE(p.connectButton()->text(), QStringLiteral("启动"));
        QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), 0, Timeout);
        const QStringList after = logLines(p.comm()).mid(before);
        QCOMPARE(after.first(), QStringLiteral("SYS 已断开"));
        QStringList logged = after.mid(1);
        logged.sort();
        departures.sort();
        QCOMPARE(logged, departures);
        for (int i = leaving; i < clients; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(peers[i]->socket->state(), QAbstractSocket::UnconnectedState,
                                      Timeout);
        // The window goes while deferred deletions may still be queued.
        w.reset();
        QTest::qWait(0);
    }

    void destroyWhileClientsConnected()
    {
        auto w = std::make_unique<SignalRWidget>();
        SignalRWidgetProbe p(*w);
        QVERIFY(startWindowServer(p));
        std::vector<std::unique_ptr<Peer>> peers;
        for (int i = 0; i < 3; ++i)
            peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        waitForClients(p, peers);
        w.reset();
        for (auto& peer : peers)
            QTRY_COMPARE_WITH_TIMEOUT(peer->socket->state(), QAbstractSocket::UnconnectedState, Timeout);
    }

    void duplicateIdentifierRemovesFirstItem()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        std::vector<std::unique_ptr<Peer>> peers;
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        waitForClients(p, peers);
        const QString id = peers[0]->identifier();
        p.clientList()->addItem(QStringLiteral("other"));
        p.clientList()->addItem(id); // a stale twin below the real item
        peers[0]->socket->close();
        QTRY_VERIFY_WITH_TIMEOUT(logContains(p.comm(), "SYS 客户端断开: " + id), Timeout);
        QCOMPARE(p.clientList()->count(), 2);
        QCOMPARE(p.clientList()->item(0)->text(), QStringLiteral("other"));
        QCOMPARE(p.clientList()->item(1)->text(), id);
        QVERIFY(p.serverClients().isEmpty());
    }

    void disconnectSelectedClient()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        std::vector<std::unique_ptr<Peer>> peers;
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
        waitForClients(p, peers);
        p.disconnectClientButton()->click(); // nothing selected: nothing happens
        p.clientList()->setCurrentRow(1);
        const QString id = p.clientList()->item(1)->text();
        p.disconnectClientButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(logContains(p.comm(), "SYS 客户端断开: " + id), Timeout);
        QCOMPARE(p.clientList()->count(), 1);
        QCOMPARE(p.serverClients().size(), 1);
        QVERIFY(p.running());
    }

    void abruptClientsLeaveListExact()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        for (int round = 0; round < 3; ++round) {
            std::vector<std::unique_ptr<Peer>> peers;
            for (int i = 0; i < 20; ++i)
                peers.push_back(std::make_unique<Peer>(p.portSpin()->value()));
            waitForClients(p, peers);
            for (auto& peer : peers)
                peer->socket->sendTextMessage(QStringLiteral("x"));
            for (auto& peer : peers)
                peer->socket->abort();
            QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), 0, Timeout);
            QVERIFY(p.serverClients().isEmpty());
        }
        QCOMPARE(logLines(p.comm()).filter(QStringLiteral("SYS 客户端断开: ")).size(), 60);
        QCOMPARE(logLines(p.comm()).filter(QStringLiteral("SYS 客户端连接 ")).size(), 60);
    }
};

QTEST_MAIN(TestHubServer)
#include "tst_hubserver.moc"

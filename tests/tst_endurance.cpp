// Endurance: a flood far beyond the log's cap through a real socket, and hundreds of
// simulated-hub clients that connect, talk and vanish without a closing handshake,
// round after round. What must hold at the end: the log and the view keep exactly the
// newest entries, memory stays bounded, and the client list and log account for every
// client that came and went.

#include <QFile>
#include <QHostAddress>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRadioButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "CommunicationBase.h"
#include "LogLines.h"
#include "LogViewWidget.h"
#include "RawWebSocket.h"
#include "SignalRWidget.h"
#include "SignalRWidgetProbe.h"

namespace {

// Sanitized builds run 3-10 times slower: the flood is cut down but still passes the
// cap, so the trimming of the log and of the view is exercised all the same.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 FloodRecords = 160000;
constexpr bool CheckMemory = false; // the sanitizer's own bookkeeping dominates
#else
constexpr qint64 FloodRecords = 1000000;
constexpr bool CheckMemory = true;
#endif
constexpr int RecordsPerMessage = 4;
constexpr int LogCap = 100000;
constexpr int FloodTimeout = 240000;
constexpr int Timeout = 30000;
constexpr int Clients = 200;
constexpr int Rounds = 3;
constexpr int ConnectBatch = 25;

QString record(qint64 n)
{
    return QStringLiteral("[ReceiveMessage](user1, hello %1)").arg(n);
}

double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines)
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// A hub on 127.0.0.1 that answers the handshake and then floods numbered invocations,
// several records per WebSocket message. It speaks WebSocket over QTcpSocket itself so
// it can keep only a small window of unsent data: the flood follows the reader's pace
// instead of piling up in memory.
class FloodHub
{
public:
    explicit FloodHub(qint64 records)
        : remaining(records)
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* incoming = server.nextPendingConnection()) {
                socket = incoming;
                QObject::connect(incoming, &QTcpSocket::readyRead, incoming, [this] { onReadyRead(); });
                QObject::connect(incoming, &QTcpSocket::bytesWritten, incoming, [this] { pump(); });
                QObject::connect(incoming, &QTcpSocket::disconnected, incoming, &QObject::deleteLater);
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    QString url() const { return QStringLiteral("ws://127.0.0.1:%1/hub").arg(server.serverPort()); }
    qint64 sent() const { return next; }

private:
    static constexpr qint64 WriteWindow = 256 * 1024;

    void onReadyRead()
    {
        buffer += socket->readAll();
        if (!upgraded) {
            const QByteArray answer = RawWebSocket::takeUpgrade(buffer);
            if (answer.isEmpty())
                return;
            socket->write(answer);
            upgraded = true;
        }
        // The client's first frame is its handshake request; the flood answers it.
        if (!flooding && buffer.size() >= 6) {
            flooding = true;
            buffer.clear();
            socket->write(RawWebSocket::frameHeader(0x1, 3) + "{}\x1e");
            pump();
        }
    }

    void pump()
    {
        if (!flooding || !socket)
            return;
        QByteArray chunk;
        char text[96];
        while (remaining > 0 && socket->bytesToWrite() + chunk.size() < WriteWindow) {
            QByteArray message;
            for (int i = 0; i < RecordsPerMessage && remaining > 0; ++i, ++next, --remaining) {
                const int length = std::snprintf(
                    text, sizeof text,
                    "{\"type\":1,\"target\":\"ReceiveMessage\",\"arguments\":[\"user1\",\"hello %lld\"]}\x1e",
                    static_cast<long long>(next));
                message.append(text, length);
            }
            chunk += RawWebSocket::frameHeader(0x1, quint64(message.size())) + message;
        }
        if (!chunk.isEmpty())
            socket->write(chunk);
    }

    QTcpServer server;
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool upgraded = false;
    bool flooding = false;
    qint64 remaining = 0;
    qint64 next = 0;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

// One client of the simulated hub, counting what the hub sends it.
struct HubClient
{
    std::unique_ptr<QWebSocket> socket = std::make_unique<QWebSocket>();
    int handshakeAnswers = 0;
    int pushes = 0;

    explicit HubClient(quint16 port)
    {
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(),
                         [this](const QString& text) {
                             if (text == QStringLiteral("{}\x1e"))
                                 ++handshakeAnswers;
                             else if (text.contains(QStringLiteral("\"target\":\"ReceiveMessage\"")))
                                 pushes += int(text.count(QChar(0x1e)));
                         });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/hub").arg(port)));
    }
    QString identifier() const
    {
        return QStringLiteral("::ffff:127.0.0.1:%1").arg(socket->localPort());
    }
};

QStringList withPrefix(const QStringList& lines, const QString& prefix)
{
    QStringList out;
    for (const QString& line : lines)
        if (line.startsWith(prefix))
            out.append(line.mid(prefix.size()));
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

class TestEndurance : public QObject
{
    Q_OBJECT

private slots:
    void floodKeepsExactlyTheNewestEntries()
    {
        FloodHub hub(FloodRecords);
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        w.resize(1280, 800);
        w.show();
        p.hubUrlEdit()->setText(hub.url());
        w.toggleConnection();

        const QString last = record(FloodRecords - 1);
        const QListWidget* list = p.logView()->list();
        double highestRss = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (highestRss = std::max(highestRss, residentMiB()),
             p.logView()->pendingCount() == 0 && list->count() > 0
                 && list->item(list->count() - 1)->text().endsWith(last)),
            FloodTimeout);
        QCOMPARE(hub.sent(), FloodRecords);
        QVERIFY(p.running());

        // Exactly the newest entries, in order, in the log and in the view alike.
        const QList<LogEntry> entries = p.comm()->entries();
        QCOMPARE(entries.size(), qsizetype(LogCap));
        QCOMPARE(list->count(), LogCap);
        const qint64 first = FloodRecords - LogCap;
        QCOMPARE(entries.first().text, record(first));
        QCOMPARE(entries.last().text, last);
        QVERIFY(list->item(0)->text().endsWith(QStringLiteral("[RX]  ") + record(first)));
        for (int i = 0; i < LogCap; ++i) {
            const QString expected = record(first + i);
            if (entries.at(i).text != expected || !list->item(i)->text().endsWith(expected))
                QFAIL(qPrintable(QStringLiteral("entry or row %1 is not %2").arg(i).arg(expected)));
        }

        qInfo("%lld records; highest resident size %.0f MiB", static_cast<long long>(FloodRecords),
              highestRss);
        if (CheckMemory)
            QVERIFY2(highestRss < 600, qPrintable(QStringLiteral("%1 MiB").arg(highestRss)));
    }

    void clientsThatVanishAreAccountedFor()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        // Pings go out after 50 ms of quiet, so the hub is writing to clients while
        // they vanish.
        p.keepAliveMs() = 50;
        p.serverRadio()->setChecked(true);
        p.portSpin()->setValue(freePort());
        w.toggleConnection();
        QVERIFY(p.running());
        const quint16 port = quint16(p.portSpin()->value());

        QStringList identifiers;
        for (int round = 1; round <= Rounds; ++round) {
            std::vector<std::unique_ptr<HubClient>> clients;
            // Connect in batches so the listen queue never overflows into retries.
            while (int(clients.size()) < Clients) {
                const size_t from = clients.size();
                for (int i = 0; i < ConnectBatch && int(clients.size()) < Clients; ++i)
                    clients.push_back(std::make_unique<HubClient>(port));
                for (size_t i = from; i < clients.size(); ++i)
                    QTRY_COMPARE_WITH_TIMEOUT(clients[i]->socket->state(),
                                              QAbstractSocket::ConnectedState, Timeout);
            }
            QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), Clients, Timeout);
            QCOMPARE(p.serverClients().size(), qsizetype(Clients));

            for (auto& client : clients)
                client->socket->sendTextMessage(QStringLiteral("{\"protocol\":\"json\",\"version\":1}\x1e"));
            for (auto& client : clients)
                QTRY_COMPARE_WITH_TIMEOUT(client->handshakeAnswers, 1, Timeout);
            // Every client says something; the hub relays each message to all of them.
            for (size_t i = 0; i < clients.size(); ++i)
                clients[i]->socket->sendTextMessage(
                    QStringLiteral("{\"arguments\":[\"r%1 c%2\"],\"target\":\"Send\",\"type\":1}\x1e")
                        .arg(round)
                        .arg(i));
            for (auto& client : clients)
                QTRY_COMPARE_WITH_TIMEOUT(client->pushes, Clients, Timeout);

            // Gone without a closing handshake.
            for (auto& client : clients) {
                identifiers.append(client->identifier());
                client->socket->abort();
            }
            QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), 0, Timeout);
            QTRY_VERIFY_WITH_TIMEOUT(p.serverClients().isEmpty(), Timeout);
            QTRY_COMPARE_WITH_TIMEOUT(
                logLines(p.comm()).filter(QStringLiteral("SYS 客户端断开: ")).size(),
                qsizetype(round * Clients), Timeout);
        }

        // Every client that came was logged once coming and once going, by its own name;
        // everything the clients said was logged once.
        QTest::qWait(200); // a late duplicate departure would show here
        const QStringList lines = logLines(p.comm());
        std::sort(identifiers.begin(), identifiers.end());
        QCOMPARE(withPrefix(lines, QStringLiteral("SYS 客户端连接 ")), identifiers);
        QCOMPARE(withPrefix(lines, QStringLiteral("SYS 客户端断开: ")), identifiers);
        QCOMPARE(lines.filter(QStringLiteral("RX {\"protocol\":\"json\",\"version\":1}")).size(),
                 qsizetype(Rounds * Clients));
        QCOMPARE(lines.filter(QStringLiteral("\"target\":\"Send\"")).size(), qsizetype(Rounds * Clients));
        QCOMPARE(p.clientList()->count(), 0);
        QVERIFY(p.serverClients().isEmpty());
        QVERIFY(p.running());

        // The hub still serves a newcomer.
        HubClient newcomer(port);
        QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), 1, Timeout);
        newcomer.socket->sendTextMessage(QStringLiteral("{\"protocol\":\"json\",\"version\":1}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(newcomer.handshakeAnswers, 1, Timeout);
        w.toggleConnection();
        QVERIFY(!p.running());
        QTRY_COMPARE_WITH_TIMEOUT(p.clientList()->count(), 0, Timeout);
    }
};

QTEST_MAIN(TestEndurance)
#include "tst_endurance.moc"

// Hostile peers against the real program, each case in a process of its own so that its
// peak resident memory (VmHWM) is its own:
//   chart-args        one invocation with 100,000 numeric arguments, one chart rule
//   chart-backtrack   one argument of 500 lines and the rule (a+)+$ (16 ms a line)
//   chart-disconnect  "断开" while the 100,000 arguments wait for the charts
//   chart-rate        2,000 invocations a second for 15 s; how far the log falls behind
//   banner-bombs      eight 5700 x 5700 pictures of 10 KiB each (the largest Qt decodes
//                     by default: 124 MiB each as a pixmap)
//   banner-feed       a feed of 1 GiB without a length
//   hub-slow-reader   a client of the simulated hub that runs 50 streams and reads nothing
//   one-message       1,000,000 records in one message (47 MB) to the client
//   big-message       one invocation of 63 MiB to the client
// and two same-run references of the ways these were handled before, outside the targets:
//   ref-per-value     10,000 values charted one text at a time, a refresh each
//   ref-bombs         the eight pictures decoded whole (QPixmap::loadFromData)
// For each: the longest stall of the event loop, the peak resident memory beside the
// resident memory before the case began, and the lag where it applies.
// Targets: no stall over 250 ms (over 100 ms for the two messages: they are taken apart
// in slices and the long record parsed on a worker), under 600 MiB, the log at most 1 s
// behind.
//
//   bench_hostile_peers                  every case
//   bench_hostile_peers CASE             one case; prints "RESULT ..." for the parent
//   bench_hostile_peers --peer KIND ...  the peers the cases start (hub, http, slow)

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>

#include <cstdio>
#include <functional>

#include "AdBanner.h"
#include "BenchSupport.h"
#include "ChartEngine.h"
#include "ChartSeriesData.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogViewWidget.h"
#include "SignalRWidget.h"
#include "SimulatedHub.h"
#include "ValueExtractor.h"
#include "WindowParts.h"

namespace {

using namespace BenchSupport;

constexpr double StallTargetMs = 250;
constexpr double MessageStallTargetMs = 100;
constexpr double MemoryTargetMiB = 600;
constexpr double LagTargetMs = 1000;

constexpr int ManyArguments = 100000;
constexpr int BacktrackLines = 500;
constexpr int RatePerSecond = 2000;
constexpr int RateSeconds = 15;
constexpr int BombCount = 8;
constexpr int BombSide = 5700;
constexpr int ReferenceValues = 10000;
constexpr qint64 HugeFeedBytes = qint64(1) << 30;
constexpr int SlowReaderStreams = 50;
constexpr int RecordsInOneMessage = 1000000;
constexpr qsizetype BigMessageBytes = 63 * 1024 * 1024;
constexpr int CaseTimeoutMs = 120000;

const QString RecordSeparator = QStringLiteral("\x1e");

double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Runs the event loop until done() holds (checked every 10 ms) or the time runs out.
bool runUntil(const std::function<bool()>& done, int timeoutMs = CaseTimeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    poll.start(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool logHas(const CommunicationBase* comm, const QString& part)
{
    const QList<LogEntry> entries = comm->entries();
    return std::any_of(entries.cbegin(), entries.cend(), [&](const LogEntry& e) { return e.text().contains(part); });
}

// ---- peers ---------------------------------------------------------------------------

QString invocation(const QJsonArray& arguments)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"type", 1}, {"target", "ReceiveMessage"}, {"arguments", arguments}})
                                 .toJson(QJsonDocument::Compact))
           + RecordSeparator;
}

// A hub that acknowledges the handshake and then sends what the mode says.
int runHubPeer(const QString& mode)
{
    QWebSocketServer server(QStringLiteral("peer"), QWebSocketServer::NonSecureMode);
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&server, &QWebSocketServer::newConnection, &server, [&server, mode] {
        QWebSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [socket, mode, done = false]() mutable {
            if (done)
                return;
            done = true;
            socket->sendTextMessage(QStringLiteral("{}") + RecordSeparator);
            if (mode == QLatin1String("args")) {
                QJsonArray arguments;
                for (int i = 0; i < ManyArguments; ++i)
                    arguments.append(QString::number(i));
                socket->sendTextMessage(invocation(arguments));
            } else if (mode == QLatin1String("records")) {
                QString message;
                for (int i = 0; i < RecordsInOneMessage; ++i)
                    message += QStringLiteral("{\"type\":1,\"target\":\"Tick\",\"arguments\":[\"%1\"]}").arg(i) + RecordSeparator;
                socket->sendTextMessage(message);
            } else if (mode == QLatin1String("big")) {
                socket->sendTextMessage(invocation({QStringLiteral("user1"), QString(BigMessageBytes, QLatin1Char('x'))}));
            } else if (mode == QLatin1String("backtrack")) {
                QStringList lines;
                for (int i = 0; i < BacktrackLines; ++i)
                    lines.append(QString(28, QLatin1Char('a')) + QStringLiteral("! %1").arg(i));
                socket->sendTextMessage(invocation({lines.join(QLatin1Char('\n'))}));
            } else { // rate: each message carries its send time
                auto* timer = new QTimer(socket);
                timer->setTimerType(Qt::PreciseTimer);
                auto* clock = new QElapsedTimer;
                clock->start();
                QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, clock, sent = 0]() mutable {
                    const qint64 due = std::min<qint64>(clock->elapsed() * RatePerSecond / 1000,
                                                        qint64(RatePerSecond) * RateSeconds);
                    for (; sent < due; ++sent) {
                        const QString text = QStringLiteral("v=%1 t=%2").arg(sent % 100).arg(QDateTime::currentMSecsSinceEpoch());
                        socket->sendTextMessage(invocation({text, QStringLiteral("n=%1").arg(sent)}));
                    }
                    if (sent == RatePerSecond * RateSeconds)
                        timer->stop();
                });
                timer->start(5);
            }
        });
    });
    std::printf("PORT %d\n", server.serverPort());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& body)
{
    QByteArray length(4, '\0'), crc(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), length.data());
    qToBigEndian<quint32>(crc32(type + body), crc.data());
    return length + type + body + crc;
}

// A black-and-white PNG of side x side pixels, all white: a few KiB that decode to a
// picture of side² pixels, four bytes each.
QByteArray pictureBomb(int side)
{
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(side), header.data());
    qToBigEndian<quint32>(quint32(side), header.data() + 4);
    header[8] = 1; // bit depth; colour type 0 (grey), no interlace
    const qsizetype rowBytes = 1 + (side + 7) / 8; // filter byte + pixels
    QByteArray raw(rowBytes * side, char(0xFF));
    for (qsizetype row = 0; row < side; ++row)
        raw[row * rowBytes] = 0;
    const QByteArray zlib = qCompress(raw, 9).mid(4); // without Qt's length prefix
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", zlib)
           + pngChunk("IEND", {});
}

// The promotion service, hostile: picture bombs, or a feed that is 1 GiB long.
int runHttpPeer(const QString& mode)
{
    auto* server = new QTcpServer;
    if (!server->listen(QHostAddress::LocalHost, 0))
        return 1;
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
    QJsonArray ads;
    for (int i = 0; i < BombCount; ++i)
        ads.append(QJsonObject{{"status", 1}, {"ad_type", "image"}, {"title", "bomb"},
                               {"image_url", base + QStringLiteral("/bomb%1.png").arg(i)}});
    const QByteArray feed = QJsonDocument(QJsonObject{{"success", true}, {"ads", ads}}).toJson();
    const QByteArray bomb = mode == QLatin1String("bombs") ? pictureBomb(BombSide) : QByteArray();
    QObject::connect(server, &QTcpServer::newConnection, server, [=] {
        QTcpSocket* socket = server->nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
            if (!socket->peek(1 << 16).contains("\r\n\r\n"))
                return;
            const QByteArray path = socket->readAll().split(' ').value(1).split('?').value(0);
            if (mode == QLatin1String("feed") && path == "/api/ads") {
                // No length: the body ends when the connection does, after 1 GiB.
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n");
                const QByteArray chunk(1 << 20, ' ');
                auto pump = [socket, chunk, sent = qint64(0)]() mutable {
                    while (socket->bytesToWrite() < 4 * chunk.size() && sent < HugeFeedBytes) {
                        socket->write(chunk);
                        sent += chunk.size();
                    }
                    if (sent >= HugeFeedBytes && socket->bytesToWrite() == 0)
                        socket->disconnectFromHost();
                };
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
                pump();
                return;
            }
            const QByteArray body = path == "/api/ads" ? feed : bomb;
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size())
                          + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    });
    std::printf("PORT %d\n", server->serverPort());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// A masked client frame (the mask is zero, so the payload goes as it is).
QByteArray clientTextFrame(const QByteArray& payload)
{
    QByteArray frame;
    frame.append(char(0x81));
    if (payload.size() <= 125) {
        frame.append(char(0x80 | payload.size()));
    } else {
        frame.append(char(0x80 | 126));
        frame.append(char(payload.size() >> 8));
        frame.append(char(payload.size() & 0xFF));
    }
    return frame + QByteArray(4, '\0') + payload;
}

// A client of the simulated hub that starts many endless streams and then reads nothing.
int runSlowClient(quint16 port)
{
    std::printf("PORT %d\n", port); // nothing to announce; the case goes on meanwhile
    std::fflush(stdout);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return 1;
    socket.write("GET /hub HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    while (!socket.peek(4096).contains("\r\n\r\n") && socket.waitForReadyRead(10000)) {
    }
    socket.readAll();
    socket.setReadBufferSize(1);
    QByteArray out = clientTextFrame("{\"protocol\":\"json\",\"version\":1}\x1e");
    for (int i = 0; i < SlowReaderStreams; ++i)
        out += clientTextFrame(QStringLiteral("{\"type\":4,\"invocationId\":\"%1\",\"target\":\"Counter\","
                                              "\"arguments\":[100000000,0]}\x1e")
                                   .arg(i)
                                   .toUtf8());
    socket.write(out);
    socket.waitForBytesWritten(10000);
    return QCoreApplication::exec();
}

// A peer process started for one case; killed with it.
class PeerProcess
{
public:
    explicit PeerProcess(const QStringList& arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--peer")} + arguments);
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine() && clock.elapsed() < 30000)
            m_process.waitForReadyRead(100);
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("PORT "))
            port = quint16(line.mid(5).toUInt());
    }
    ~PeerProcess()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    quint16 port = 0;

private:
    QProcess m_process;
};

// ---- cases ---------------------------------------------------------------------------

struct Outcome
{
    bool ok = false;
    double stallTargetMs = StallTargetMs;
    double stallMs = 0;
    double lagMs = -1;
    QString note;
};

// The window in client mode with the charts on and shown, one rule, connected to a hub
// peer of that mode.
struct ChartWindow
{
    explicit ChartWindow(const QString& mode, const QString& rule)
        : peer({QStringLiteral("hub"), mode})
    {
        w.show();
        auto* enable = w.findChild<QCheckBox*>(QStringLiteral("enableCheck"));
        enable->setChecked(true);
        w.chartEngine()->addRule(QStringLiteral("v"), rule);
        w.findChild<QTabWidget*>()->setCurrentIndex(1);
        parts.hubUrlEdit()->setText(QStringLiteral("ws://127.0.0.1:%1/hub").arg(peer.port));
    }
    bool connect()
    {
        w.connectClient();
        return runUntil([this] { return logHas(parts.comm(), QStringLiteral("握手成功")); }, 10000);
    }
    const QList<ChartSample>& samples() const { return w.chartEngine()->series().first()->points(); }

    PeerProcess peer;
    SignalRWidget w;
    WindowParts parts{w};
};

Outcome chartArgs()
{
    ChartWindow window(QStringLiteral("args"), QStringLiteral("\\d+"));
    TickGapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    Outcome outcome;
    outcome.ok = window.connect() && runUntil([&] {
        return !window.samples().isEmpty() && window.samples().last().value == ManyArguments - 1
               && window.parts.logView()->pendingCount() == 0;
    });
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("connected and all charted in %1 ms").arg(clock.elapsed());
    return outcome;
}

Outcome chartBacktrack()
{
    ChartWindow window(QStringLiteral("backtrack"), QStringLiteral("(a+)+$"));
    TickGapMeter meter;
    meter.start();
    Outcome outcome;
    outcome.ok = window.connect() && runUntil([&] { return logHas(window.parts.comm(), QStringLiteral("提取太慢")); });
    runFor(1000); // the rest of the lines, the rule paused
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("rule paused");
    return outcome;
}

Outcome chartDisconnect()
{
    ChartWindow window(QStringLiteral("args"), QStringLiteral("\\d+"));
    Outcome outcome;
    if (!window.connect()
        || !runUntil([&] { return logHas(window.parts.comm(), QStringLiteral("[ReceiveMessage]")); }))
        return outcome;
    TickGapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    window.w.disconnectAll();
    const double disconnectMs = clock.nsecsElapsed() / 1e6;
    runFor(500);
    meter.stop();
    outcome.ok = logHas(window.parts.comm(), QStringLiteral("尚未绘入图表"));
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("断开 took %1 ms").arg(disconnectMs, 0, 'f', 1);
    return outcome;
}

Outcome chartRate()
{
    ChartWindow window(QStringLiteral("rate"), QStringLiteral("v=(\\d+)"));
    LogViewWidget* view = window.parts.logView();
    static const QRegularExpression sentAt(QStringLiteral("t=(\\d{13})"));
    qint64 maxLag = 0;
    QObject::connect(view->list()->model(), &QAbstractItemModel::rowsInserted, view, [&](const QModelIndex&, int, int last) {
        const QRegularExpressionMatch match = sentAt.match(view->rowText(last));
        if (match.hasMatch())
            maxLag = std::max(maxLag, QDateTime::currentMSecsSinceEpoch() - match.captured(1).toLongLong());
    });
    TickGapMeter meter;
    meter.start();
    Outcome outcome;
    const QString lastRow = QStringLiteral("n=%1)").arg(RatePerSecond * RateSeconds - 1);
    outcome.ok = window.connect() && runUntil([&] {
        return view->shownCount() > 0 && view->rowText(view->shownCount() - 1).endsWith(lastRow);
    });
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.lagMs = double(maxLag);
    outcome.note = QStringLiteral("%1 values a second for %2 s").arg(RatePerSecond).arg(RateSeconds);
    return outcome;
}

Outcome banner(const QString& mode)
{
    PeerProcess peer({QStringLiteral("http"), mode});
    TickGapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    AdBanner shown(QStringLiteral("korvahub"), nullptr, QStringLiteral("http://127.0.0.1:%1").arg(peer.port));
    shown.show();
    int finished = 0;
    QObject::connect(shown.findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished, &shown,
                     [&finished] { ++finished; });
    const int expected = mode == QLatin1String("bombs") ? 1 + BombCount : 1;
    Outcome outcome;
    outcome.ok = runUntil([&] { return finished == expected; });
    const double doneMs = clock.elapsed();
    runFor(300); // a rotation's worth of showing what was kept
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.note = mode == QLatin1String("bombs") ? QStringLiteral("all answered after %1 ms").arg(doneMs)
                                                  : QStringLiteral("built-in items after %1 ms").arg(doneMs);
    return outcome;
}

Outcome hubSlowReader()
{
    SignalRWidget w;
    w.show();
    SimulatedHub* hub = w.simulatedHub();
    if (!hub->listen(0, QStringLiteral("/hub")))
        return {};
    TickGapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    PeerProcess slow({QStringLiteral("slow"), QString::number(hub->port())});
    Outcome outcome;
    outcome.ok = runUntil([&] { return logHas(w.communication(), QStringLiteral("未读取的数据超过")); });
    const double cutMs = clock.elapsed();
    runFor(300);
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("cut off after %1 ms").arg(cutMs);
    return outcome;
}

// The window in client mode, connected to a hub peer that sends one heavy message; done
// when its last row is shown and nothing waits.
Outcome oneHeavyMessage(const QString& mode, const QString& lastRowPart)
{
    PeerProcess peer({QStringLiteral("hub"), mode});
    SignalRWidget w;
    WindowParts parts{w};
    w.show();
    parts.hubUrlEdit()->setText(QStringLiteral("ws://127.0.0.1:%1/hub").arg(peer.port));
    LogViewWidget* view = parts.logView();
    TickGapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    w.connectClient();
    Outcome outcome;
    outcome.stallTargetMs = MessageStallTargetMs;
    outcome.ok = runUntil([&] {
        return view->pendingCount() == 0 && view->shownCount() > 0
               && view->rowText(view->shownCount() - 1).contains(lastRowPart);
    });
    runFor(300); // what a last slice and the paint of the rows cost
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("shown after %1 ms; the log keeps %2 entries, %3 MiB")
                       .arg(clock.elapsed())
                       .arg(parts.comm()->entryCount())
                       .arg(parts.comm()->byteCount() / 1048576.0, 0, 'f', 1);
    return outcome;
}

Outcome referencePerValue()
{
    ChartWindow window(QStringLiteral("args"), QStringLiteral("\\d+"));
    TickGapMeter meter;
    meter.start();
    for (int i = 0; i < ReferenceValues; ++i)
        feedChartText(*window.w.chartEngine(), QString::number(i));
    meter.stop();
    Outcome outcome;
    outcome.ok = window.samples().size() == ReferenceValues / 2;
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("%1 us a value").arg(meter.maxGapMs() * 1000 / ReferenceValues, 0, 'f', 0);
    return outcome;
}

Outcome referenceBombs()
{
    PeerProcess peer({QStringLiteral("http"), QStringLiteral("bombs")});
    QNetworkAccessManager network;
    QList<QPixmap> kept;
    TickGapMeter meter;
    meter.start();
    for (int i = 0; i < BombCount; ++i) {
        QNetworkReply* reply = network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/bomb%2.png").arg(peer.port).arg(i))));
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, &kept] {
            QPixmap picture;
            picture.loadFromData(reply->readAll());
            kept.append(picture);
            reply->deleteLater();
        });
    }
    Outcome outcome;
    outcome.ok = runUntil([&] { return kept.size() == BombCount; });
    meter.stop();
    outcome.stallMs = meter.maxGapMs();
    outcome.note = QStringLiteral("%1 x %2 kept").arg(kept.value(0).width()).arg(kept.value(0).height());
    return outcome;
}

const QStringList References{QStringLiteral("ref-per-value"), QStringLiteral("ref-bombs")};

const QStringList Cases{QStringLiteral("chart-args"),  QStringLiteral("chart-backtrack"),
                        QStringLiteral("chart-disconnect"), QStringLiteral("chart-rate"),
                        QStringLiteral("banner-bombs"), QStringLiteral("banner-feed"),
                        QStringLiteral("hub-slow-reader"), QStringLiteral("one-message"),
                        QStringLiteral("big-message")};

int runCase(const QString& name)
{
    // Reaches the in-process banner of the window only through its default: offline.
    AdBanner::setDefaultSource(PromoSource{false, {}, {}});
    const double before = residentMiB();
    Outcome outcome;
    if (name == QLatin1String("chart-args"))
        outcome = chartArgs();
    else if (name == QLatin1String("chart-backtrack"))
        outcome = chartBacktrack();
    else if (name == QLatin1String("chart-disconnect"))
        outcome = chartDisconnect();
    else if (name == QLatin1String("chart-rate"))
        outcome = chartRate();
    else if (name == QLatin1String("banner-bombs"))
        outcome = banner(QStringLiteral("bombs"));
    else if (name == QLatin1String("banner-feed"))
        outcome = banner(QStringLiteral("feed"));
    else if (name == QLatin1String("hub-slow-reader"))
        outcome = hubSlowReader();
    else if (name == QLatin1String("one-message"))
        outcome = oneHeavyMessage(QStringLiteral("records"), QStringLiteral("[Tick](%1)").arg(RecordsInOneMessage - 1));
    else if (name == QLatin1String("big-message"))
        outcome = oneHeavyMessage(QStringLiteral("big"), QStringLiteral("已截断"));
    else if (name == QLatin1String("ref-per-value"))
        outcome = referencePerValue();
    else if (name == QLatin1String("ref-bombs"))
        outcome = referenceBombs();
    std::printf("RESULT %d %.1f %.1f %.1f %.1f %.1f %s\n", outcome.ok ? 1 : 0, outcome.stallMs, peakMiB(), before,
                outcome.lagMs, outcome.stallTargetMs, qPrintable(outcome.note));
    return outcome.ok ? 0 : 1;
}

int runAll()
{
    std::printf("targets: stall <= %.0f ms (the two messages: <= %.0f ms), peak RSS < %.0f MiB, log lag <= %.0f ms\n",
                StallTargetMs, MessageStallTargetMs, MemoryTargetMiB, LagTargetMs);
    std::printf("%-17s %9s %11s %11s %9s  %s\n", "case", "stall ms", "peak MiB", "before MiB", "lag ms", "note");
    bool allMet = true;
    for (const QString& name : Cases + References) {
        const bool reference = References.contains(name);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {name});
        child.waitForFinished(CaseTimeoutMs + 60000);
        const QByteArray output = child.readAllStandardOutput();
        const qsizetype at = output.lastIndexOf("RESULT ");
        const QList<QByteArray> fields = at < 0 ? QList<QByteArray>() : output.mid(at).trimmed().split(' ');
        if (fields.size() < 7 || fields.at(1) != "1") {
            std::printf("%-17s did not complete\n", qPrintable(name));
            allMet = false;
            continue;
        }
        const double stall = fields.at(2).toDouble();
        const double peak = fields.at(3).toDouble();
        const double lag = fields.at(5).toDouble();
        const double stallTarget = fields.at(6).toDouble();
        const bool met = reference || (stall <= stallTarget && peak < MemoryTargetMiB && lag <= LagTargetMs);
        allMet = allMet && met;
        std::printf("%-17s %9.1f %11.1f %11.1f %9s  %s%s\n", qPrintable(name), stall, peak, fields.at(4).toDouble(),
                    lag < 0 ? "-" : qPrintable(QString::number(lag, 'f', 0)),
                    fields.mid(7).join(' ').constData(), reference ? "  (reference)" : met ? "" : "  (target missed)");
    }
    std::printf("%s\n", allMet ? "every target met" : "TARGET MISSED");
    return allMet ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == QLatin1String("--peer")) {
        const QString kind = arguments.value(2);
        if (kind == QLatin1String("hub"))
            return runHubPeer(arguments.value(3));
        if (kind == QLatin1String("http"))
            return runHttpPeer(arguments.value(3));
        return runSlowClient(quint16(arguments.value(3).toUInt()));
    }
    if (arguments.size() > 1)
        return runCase(arguments.value(1));
    return runAll();
}

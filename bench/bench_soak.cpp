// Soak, in two halves.
//
// The flood: 1,000,000 invocations from korvahub_floodpeer (another process on
// 127.0.0.1) through a QWebSocket into the log and its view, ten times their cap. The
// records are split and classified as the hub client does and logged through
// CommunicationBase, so this half measures the log and its view, not the window. What
// must hold at the end: the log and the view keep exactly the newest 100,000 entries in
// order (checked entry by entry), and memory stays flat once the caps are reached.
//
// The churn: a simulated hub on a free port, and round after round 200 clients that
// connect, send their handshake and vanish without a closing handshake. What must hold
// after every round: each client logged once coming and once going, and the hub's list
// of clients empty; and memory flat from the first round to the last.
//
// The program exits with 1 when an exact check fails.

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QSet>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>


#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "LogViewWidget.h"
#include "SimulatedHub.h"
#include "WindowParts.h"

namespace {

using namespace BenchSupport;

// The flood comes in three parts, each awaited until logged and shown: up to both caps,
// then to half the total, then to the total. Memory is read at each settled point.
constexpr qint64 Steps[] = {100000, 500000, 1000000};
constexpr qint64 FloodRecords = Steps[2];
constexpr int StepTimeoutMs = 300000;
constexpr int ChurnRounds = 10;
constexpr int ChurnClients = 200;
constexpr int RoundTimeoutMs = 60000;
constexpr double FlatTarget = 0.05;

bool flood(CommunicationBase& comm, LogViewWidget& view)
{
    FloodPeer peer(Steps[0]);
    if (!peer.ok()) {
        std::fprintf(stderr, "bench_soak: korvahub_floodpeer did not start\n");
        return false;
    }
    const int cap = comm.maxEntries();
    std::printf("flood: %lld invocations into the log (cap %d) and its view\n", static_cast<long long>(FloodRecords),
                cap);
    std::printf("  reference, before the flood: resident %6.1f MiB, heap in use %6.1f MiB\n", residentMiB(),
                heapInUseMiB());

    QWebSocket socket;
    QElapsedTimer clock;
    qint64 received = 0;
    QObject::connect(&socket, &QWebSocket::connected, &comm, [&socket, &clock] {
        clock.start();
        socket.sendTextMessage(HubProtocol::handshakeRequest());
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &comm, [&](const QString& message) {
        for (const QString& text : HubProtocol::splitRecords(message)) {
            const HubProtocol::Record parsed = HubProtocol::classify(text);
            if (parsed.kind == HubProtocol::RecordKind::Typed) {
                comm.logReceivedData(comm.encodeText(parsed.text));
                ++received;
            }
        }
    });
    socket.open(peer.url());

    double heapAtHalf = 0;
    double highest = 0;
    for (const qint64 total : Steps) {
        if (total > Steps[0]) // the peer sends more when asked by an invocation of "Flood"
            socket.sendTextMessage(QStringLiteral("{\"type\":1,\"target\":\"Flood\",\"arguments\":[\"%1\"]}\x1e")
                                       .arg(total - received));
        if (!waitUntilShown(&view, floodRow(total - 1), StepTimeoutMs) || received != total) {
            std::printf("  record %lld never shown (received %lld)\n", static_cast<long long>(total - 1),
                        static_cast<long long>(received));
            return false;
        }
        highest = std::max(highest, residentMiB());
        if (total == Steps[1])
            heapAtHalf = heapInUseMiB();
        std::printf("  %7lld records logged and shown: resident %6.1f MiB, heap in use %6.1f MiB (%.1f s)\n",
                    static_cast<long long>(total), residentMiB(), heapInUseMiB(), clock.nsecsElapsed() / 1e9);
        std::fflush(stdout);
    }
    socket.abort();

    // Exactly the newest entries, in order, in the log and in the view alike.
    const QList<LogEntry> entries = comm.entries();
    const qint64 first = FloodRecords - cap;
    qint64 wrong = entries.size() == cap && view.shownCount() == cap ? 0 : -1;
    for (qsizetype i = 0; wrong == 0 && i < cap; ++i) {
        const QString expected = floodRow(first + i);
        if (entries.at(i).text() != expected || !view.rowText(int(i)).endsWith(expected))
            wrong = i + 1;
    }
    std::printf("  entries %lld, rows %d: exactly the newest %d in order in log and view (target: yes): %s\n",
                static_cast<long long>(entries.size()), view.shownCount(), cap,
                wrong == 0 ? "yes, met" : wrong < 0 ? "NO, wrong counts" : "NO");
    if (wrong > 0)
        std::printf("    entry %lld is \"%s\", expected \"%s\"\n", static_cast<long long>(wrong - 1),
                    qPrintable(entries.at(wrong - 1).text()), qPrintable(floodRow(first + wrong - 1)));
    // The heap the program holds is the steadier sign of growth than the resident size.
    const double heapGrowth = heapInUseMiB() - heapAtHalf;
    std::printf("  from 500k to 1M records: heap in use %+.1f MiB of %.1f (target flat, under %.0f%%: %s); highest "
                "resident %.1f MiB\n",
                heapGrowth, heapAtHalf, FlatTarget * 100, verdict(heapGrowth < FlatTarget * heapAtHalf), highest);
    return wrong == 0;
}

// One round of the churn; false when the log or the list is not exact.
bool churnRound(CommunicationBase& comm, SimulatedHub& hub, int round)
{
    const qint64 firstSerial = comm.endSerial();
    std::vector<std::unique_ptr<QWebSocket>> clients;
    QSet<QString> expected;
    int open = 0;
    QEventLoop loop;
    QTimer::singleShot(RoundTimeoutMs, &loop, &QEventLoop::quit);
    for (int i = 0; i < ChurnClients; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        QWebSocket* raw = socket.get();
        QObject::connect(raw, &QWebSocket::connected, &loop, [&, raw] {
            expected.insert(QStringLiteral("127.0.0.1:%1").arg(raw->localPort()));
            raw->sendTextMessage(HubProtocol::handshakeRequest());
        });
        // The hub's answer to the handshake: then the client vanishes, no close frame.
        QObject::connect(raw, &QWebSocket::textMessageReceived, &loop, [&, raw] {
            raw->abort();
            if (++open == ChurnClients)
                loop.quit();
        });
        raw->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/hub").arg(hub.port())));
        clients.push_back(std::move(socket));
    }
    loop.exec();
    // Every departure noticed: the list is empty again.
    QElapsedTimer clock;
    clock.start();
    while (!hub.peerIdentifiers().isEmpty() && clock.elapsed() < RoundTimeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);

    qint64 first = 0;
    const QList<LogEntry> entries = comm.entriesFrom(firstSerial, comm.endSerial() - firstSerial, &first);
    QMultiHash<QString, QString> seen;
    for (const LogEntry& entry : entries) {
        const QString text = entry.text();
        if (text.startsWith(QStringLiteral("客户端连接 ")))
            seen.insert(text.mid(6), QStringLiteral("in"));
        else if (text.startsWith(QStringLiteral("客户端断开: ")))
            seen.insert(text.mid(7), QStringLiteral("out"));
    }
    bool exact = open == ChurnClients && expected.size() == ChurnClients && hub.peerIdentifiers().isEmpty()
                 && first == firstSerial && seen.size() == 2 * ChurnClients;
    for (const QString& identifier : std::as_const(expected)) {
        QStringList ways = seen.values(identifier);
        std::sort(ways.begin(), ways.end());
        exact = exact && ways == QStringList({QStringLiteral("in"), QStringLiteral("out")});
    }
    if (!exact)
        std::printf("  round %d: %d clients answered, %lld distinct, %lld still listed, %lld arrivals and "
                    "departures logged: NOT exact\n",
                    round, open, static_cast<long long>(expected.size()),
                    static_cast<long long>(hub.peerIdentifiers().size()), static_cast<long long>(seen.size()));
    return exact;
}

bool churn(CommunicationBase& comm)
{
    SimulatedHub hub(&comm);
    if (!hub.listen(0, QStringLiteral("/hub"))) {
        std::fprintf(stderr, "bench_soak: the simulated hub cannot listen\n");
        return false;
    }
    std::printf("churn: %d rounds of %d simulated-hub clients that connect, shake hands and vanish\n", ChurnRounds,
                ChurnClients);
    bool exact = true;
    double heapAfterFirst = 0;
    QElapsedTimer clock;
    clock.start();
    for (int round = 1; round <= ChurnRounds && exact; ++round) {
        exact = churnRound(comm, hub, round);
        if (round == 1)
            heapAfterFirst = heapInUseMiB();
    }
    const double growth = heapInUseMiB() - heapAfterFirst;
    std::printf("  every client logged once coming and once going, the list empty after each round (target: "
                "yes): %s (%.1f s)\n",
                exact ? "yes, met" : "NO", clock.nsecsElapsed() / 1e9);
    std::printf("  from the first round to the last: heap in use %+.1f MiB of %.1f (target flat, under %.0f%%: %s)\n",
                growth, heapAfterFirst, FlatTarget * 100, verdict(growth < FlatTarget * heapAfterFirst));
    hub.stop();
    return exact;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    CommunicationBase comm;
    LogViewWidget view(&comm);
    view.resize(1280, 800);
    view.show();
    QCoreApplication::processEvents();
    const bool flooded = flood(comm, view);
    const bool churned = churn(comm);
    return flooded && churned ? 0 : 1;
}

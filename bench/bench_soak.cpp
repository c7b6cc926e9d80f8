// Soak: a flood of 1,000,000 invocations from korvahub_floodpeer (another process on
// 127.0.0.1) through a QWebSocket into the log and its view, ten times their cap. What
// must hold at the end: the log and the view keep exactly the newest 100,000 entries in
// order (checked entry by entry; the program exits with 1 when they do not), and memory
// stays flat once the caps are reached (printed beside its target).
//
// The records are split and classified as the hub client does and logged through
// CommunicationBase, so the soak measures the log and its view, not the window.
// TODO(hub rewrite): the second half of the old endurance test, hundreds of simulated-hub
// clients that connect, talk and vanish without a closing handshake round after round
// (every one logged once coming and once going, the client list empty at the end), waits
// for the SimulatedHub object; add it here against that object.

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>

#include <malloc.h>

#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "LogViewWidget.h"

namespace {

using namespace BenchSupport;

// The flood comes in three parts, each awaited until logged and shown: up to both caps,
// then to half the total, then to the total. Memory is read at each settled point.
constexpr qint64 Steps[] = {100000, 500000, 1000000};
constexpr qint64 FloodRecords = Steps[2];
constexpr int StepTimeoutMs = 300000;

QString record(qint64 n)
{
    return QStringLiteral("[ReceiveMessage](user1, hello %1)").arg(n);
}

double heapInUseMiB()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    FloodPeer peer(Steps[0]);
    if (!peer.ok()) {
        std::fprintf(stderr, "bench_soak: korvahub_floodpeer did not start\n");
        return 1;
    }
    CommunicationBase comm;
    LogViewWidget view(&comm);
    view.resize(1280, 800);
    view.show();
    QCoreApplication::processEvents();
    const int cap = comm.maxEntries();
    std::printf("soak: %lld invocations into the log (cap %d) and its view\n", static_cast<long long>(FloodRecords),
                cap);
    std::printf("  before the flood (reference): resident %6.1f MiB, heap in use %6.1f MiB\n", residentMiB(),
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

    QListWidget* list = view.list();
    double heapAtHalf = 0;
    double residentAtHalf = 0;
    double highest = 0;
    for (const qint64 total : Steps) {
        if (total > Steps[0]) // the peer sends more when asked by an invocation of "Flood"
            socket.sendTextMessage(QStringLiteral("{\"type\":1,\"target\":\"Flood\",\"arguments\":[\"%1\"]}\x1e")
                                       .arg(total - received));
        // Settled when the last record is logged and shown, with nothing left pending.
        const QString last = record(total - 1);
        QEventLoop loop;
        QTimer::singleShot(StepTimeoutMs, &loop, &QEventLoop::quit);
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &loop, [&] {
            if (received == total && view.pendingCount() == 0 && list->item(list->count() - 1)->text().endsWith(last))
                loop.quit();
        });
        loop.exec();
        for (int i = 0; i < 20; ++i) // layout and paint of what the view holds
            QCoreApplication::processEvents();
        if (received != total || view.pendingCount() != 0) {
            std::printf("  record %lld never shown (received %lld)\n", static_cast<long long>(total - 1),
                        static_cast<long long>(received));
            return 1;
        }
        highest = std::max(highest, residentMiB());
        if (total == Steps[1]) {
            heapAtHalf = heapInUseMiB();
            residentAtHalf = residentMiB();
        }
        std::printf("  %7lld records logged and shown: resident %6.1f MiB, heap in use %6.1f MiB (%.1f s)\n",
                    static_cast<long long>(total), residentMiB(), heapInUseMiB(), clock.nsecsElapsed() / 1e9);
        std::fflush(stdout);
    }
    socket.abort();

    // Exactly the newest entries, in order, in the log and in the view alike.
    const QList<LogEntry> entries = comm.entries();
    const qint64 first = FloodRecords - cap;
    qint64 wrong = entries.size() == cap && list->count() == cap ? 0 : -1;
    for (qsizetype i = 0; wrong == 0 && i < cap; ++i) {
        const QString expected = record(first + i);
        if (entries.at(i).text != expected || !list->item(int(i))->text().endsWith(expected))
            wrong = i + 1;
    }
    std::printf("  entries %lld, rows %d: exactly the newest %d in order in log and view (target: yes): %s\n",
                static_cast<long long>(entries.size()), list->count(), cap,
                wrong == 0 ? "yes, met" : wrong < 0 ? "NO, wrong counts" : "NO");
    if (wrong > 0)
        std::printf("    entry %lld is \"%s\", expected \"%s\"\n", static_cast<long long>(wrong - 1),
                    qPrintable(entries.at(wrong - 1).text), qPrintable(record(first + wrong - 1)));
    // The resident size wobbles as the allocator keeps and returns pages; the heap the
    // program holds is the steadier sign of growth.
    const double heapGrowth = heapInUseMiB() - heapAtHalf;
    std::printf("  from 500k to 1M records: resident %+.1f MiB, heap in use %+.1f MiB of %.1f (target flat, "
                "taken as heap growth under 5%%: %s); highest resident %.1f MiB\n",
                residentMiB() - residentAtHalf, heapGrowth, heapAtHalf,
                heapGrowth < 0.05 * heapAtHalf ? "met" : "NOT met", highest);
    return wrong == 0 ? 0 : 1;
}

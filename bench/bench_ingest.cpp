// Ingest rate and responsiveness of the real window in client mode under a flood of
// small invocations from korvahub_floodpeer (another process on 127.0.0.1), beside a
// bare QWebSocket client that only counts the same messages: the ceiling of this
// stack. Records per second are counted from the handshake acknowledgement until the
// last record is logged and shown (its row exists, nothing is left pending). The gaps
// between ticks of a 10 ms timer on the GUI thread are measured over the same span.
//
// Targets: logged and shown >= 250,000 records/s (best of 3) and >= 0.15 of the bare
// client; logged only >= 500,000/s; longest gap < 50 ms, 99th percentile < 20 ms.

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QListView>
#include <QWebSocket>

#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "LogViewWidget.h"
#include "SignalRWidget.h"
#include "WindowParts.h"

namespace {

using namespace BenchSupport;

constexpr qint64 FloodCount = 100000;
constexpr int Rounds = 3;
constexpr int RunTimeoutMs = 180000;
constexpr double ShownTarget = 250000;
constexpr double RatioTarget = 0.15;
constexpr double LoggedTarget = 500000;
constexpr double MaxGapTargetMs = 50;
constexpr double P99GapTargetMs = 20;

struct RunResult
{
    bool complete = false;
    double seconds = 0;       // until every record is shown
    double loggedSeconds = 0; // until every record is logged
    double maxGapMs = 0;
    double maxGapLoggingMs = 0; // while records arrive and are logged
    double maxGapCatchUpMs = 0; // after the last is logged, while the view catches up
    double p99GapMs = 0;
    double rate() const { return seconds > 0 ? FloodCount / seconds : 0; }
};

RunResult runBareClient(const QUrl& url)
{
    RunResult result;
    QWebSocket socket;
    QEventLoop loop;
    QElapsedTimer clock;
    TickGapMeter gaps;
    bool acknowledged = false;
    qint64 received = 0;
    QObject::connect(&socket, &QWebSocket::connected, &loop, [&socket] {
        socket.sendTextMessage(QStringLiteral("{\"protocol\":\"json\",\"version\":1}\x1e"));
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop, [&](const QString&) {
        if (!acknowledged) {
            acknowledged = true;
            clock.start();
            gaps.start();
            return;
        }
        if (++received == FloodCount) {
            result.seconds = result.loggedSeconds = clock.nsecsElapsed() / 1e9;
            gaps.stop();
            result.complete = true;
            loop.quit();
        }
    });
    QTimer::singleShot(RunTimeoutMs, &loop, &QEventLoop::quit);
    socket.open(url);
    loop.exec();
    result.maxGapMs = gaps.maxGapMs();
    result.p99GapMs = gaps.percentileMs(0.99);
    socket.abort();
    return result;
}

RunResult runWindow(const QUrl& url)
{
    RunResult result;
    SignalRWidget window;
    WindowParts probe(window);
    window.resize(1280, 800);
    window.show();
    QCoreApplication::processEvents();

    QEventLoop loop;
    QElapsedTimer clock;
    TickGapMeter gaps;
    qint64 logged = 0;
    const QString lastText = floodRow(FloodCount - 1);
    QObject::connect(probe.comm(), &CommunicationBase::logEntryAdded, &loop,
                     [&](const LogEntry& entry) {
                         if (entry.direction == LogEntry::SYS
                             && entry.text() == QStringLiteral("SignalR协议握手成功")) {
                             clock.start();
                             gaps.start();
                         } else if (entry.direction == LogEntry::RX && ++logged == FloodCount) {
                             result.loggedSeconds = clock.nsecsElapsed() / 1e9;
                             gaps.mark();
                         }
                     });
    LogViewWidget* view = probe.logView();
    QObject::connect(view->list()->model(), &QAbstractItemModel::rowsInserted, &loop, [&] {
        if (result.complete || logged < FloodCount || view->pendingCount() != 0)
            return;
        if (!view->rowText(view->shownCount() - 1).endsWith(lastText))
            return;
        result.seconds = clock.nsecsElapsed() / 1e9;
        gaps.stop();
        result.complete = true;
        loop.quit();
    });
    QTimer::singleShot(RunTimeoutMs, &loop, &QEventLoop::quit);
    probe.hubUrlEdit()->setText(url.toString());
    window.toggleConnection();
    loop.exec();
    result.maxGapMs = gaps.maxGapMs();
    result.p99GapMs = gaps.percentileMs(0.99);
    result.maxGapLoggingMs = gaps.maxGapBeforeMarkMs();
    result.maxGapCatchUpMs = gaps.maxGapAfterMarkMs();
    window.disconnectAll();
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    FloodPeer peer(FloodCount);
    if (!peer.ok()) {
        std::fprintf(stderr, "bench_ingest: korvahub_floodpeer did not start\n");
        return 1;
    }

    std::vector<double> bareRates, windowRates, windowLogged, bareGaps, windowGaps, windowP99;
    for (int round = 0; round < Rounds; ++round) {
        const RunResult bare = runBareClient(peer.url());
        const RunResult win = runWindow(peer.url());
        if (!bare.complete || !win.complete) {
            std::fprintf(stderr, "bench_ingest: round %d did not complete (bare %d, window %d)\n",
                         round, int(bare.complete), int(win.complete));
            return 1;
        }
        std::printf("  round %d: bare %8.0f msg/s, max gap %5.1f ms | window %7.0f rec/s; all logged "
                    "after %.2f s, shown after %.2f s; max gap %5.1f ms while logging, %5.1f ms "
                    "while the view catches up, p99 %5.1f ms\n",
                    round + 1, bare.rate(), bare.maxGapMs, win.rate(), win.loggedSeconds,
                    win.seconds, win.maxGapLoggingMs, win.maxGapCatchUpMs, win.p99GapMs);
        std::fflush(stdout);
        bareRates.push_back(bare.rate());
        windowRates.push_back(win.rate());
        windowLogged.push_back(FloodCount / win.loggedSeconds);
        bareGaps.push_back(bare.maxGapMs);
        windowGaps.push_back(win.maxGapMs);
        windowP99.push_back(win.p99GapMs);
    }

    const double shownBest = best(windowRates, true);
    const double ratio = shownBest / best(bareRates, true);
    const double loggedBest = best(windowLogged, true);
    std::printf("ingest of %lld invocations, one per WebSocket message (best / median of %d)\n",
                static_cast<long long>(FloodCount), Rounds);
    std::printf("  reference, bare QWebSocket client:  %9.0f / %9.0f msg/s\n", best(bareRates, true),
                median(bareRates));
    std::printf("  window, logged and shown:           %9.0f / %9.0f rec/s  (target >= %.0f: %s)\n", shownBest,
                median(windowRates), ShownTarget, verdict(shownBest >= ShownTarget));
    std::printf("  ratio to the bare client:           %9.2f / %9.2f        (target >= %.2f: %s)\n", ratio,
                median(windowRates) / median(bareRates), RatioTarget, verdict(ratio >= RatioTarget));
    std::printf("  window, logged only:                %9.0f / %9.0f rec/s  (target >= %.0f: %s)\n", loggedBest,
                median(windowLogged), LoggedTarget, verdict(loggedBest >= LoggedTarget));
    std::printf("responsiveness: gaps between ticks of a 10 ms timer during the flood (median of %d)\n", Rounds);
    std::printf("  reference, bare client: longest %6.1f ms\n", median(bareGaps));
    std::printf("  window: longest %6.1f ms (target < %.0f ms: %s), 99th percentile %6.1f ms (target < %.0f ms: %s)\n",
                median(windowGaps), MaxGapTargetMs, verdict(median(windowGaps) < MaxGapTargetMs), median(windowP99),
                P99GapTargetMs, verdict(median(windowP99) < P99GapTargetMs));
    return 0;
}

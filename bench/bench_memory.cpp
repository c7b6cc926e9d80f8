// Resident memory of the real window in client mode while korvahub_floodpeer floods it:
// before the flood (the reference), with 100,000 records logged and shown (both caps
// just reached), and after 1, 2 and 3 million records. Past the caps it should stay
// flat. Each figure is read once the input has been quiet for a while (the program gives
// back what a burst freed after a quiet second); the figure at the moment the last row
// was shown is printed beside it.
//
// Targets: at most 120 MiB with 100,000 entries and rows; from 1 to 3 million records
// within 10% of itself (highest against lowest).

#include <QApplication>

#include <algorithm>
#include <cstdio>


#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "LogViewWidget.h"
#include "SignalRWidget.h"
#include "WindowParts.h"

namespace {

using namespace BenchSupport;

constexpr qint64 Steps[] = {100000, 1000000, 2000000, 3000000};
constexpr int StepTimeoutMs = 600000;
constexpr double CapsTargetMiB = 120;
constexpr double FlatTarget = 0.10;
constexpr int QuietMs = 1500;

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    FloodPeer peer(Steps[0]);
    if (!peer.ok()) {
        std::fprintf(stderr, "bench_memory: korvahub_floodpeer did not start\n");
        return 1;
    }

    SignalRWidget window;
    WindowParts probe(window);
    window.resize(1280, 800);
    window.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const double before = residentMiB();

    QElapsedTimer clock;
    clock.start();
    probe.hubUrlEdit()->setText(peer.url().toString());
    window.toggleConnection();
    std::printf("resident memory of the window under a flood (VmRSS)\n");
    std::printf("  reference, window shown before the flood: %6.1f MiB  (heap in use %6.1f MiB)\n", before,
                heapInUseMiB());

    qint64 sent = 0;
    double atCaps = 0;
    double lowest = 0;
    double highest = 0;
    for (const qint64 total : Steps) {
        if (sent > 0) {
            // Ask the peer for the next part of the flood through the send composer.
            probe.methodEdit()->setText(QStringLiteral("Flood"));
            probe.sendEdit()->setPlainText(QString::number(total - sent));
            window.sendData();
        }
        if (!waitUntilShown(probe.logView(), floodRow(total - 1), StepTimeoutMs)) {
            std::fprintf(stderr, "bench_memory: record %lld never shown\n", static_cast<long long>(total - 1));
            return 1;
        }
        sent = total;
        const double atOnce = residentMiB();
        QEventLoop quiet;
        QTimer::singleShot(QuietMs, &quiet, &QEventLoop::quit);
        quiet.exec();
        const double now = residentMiB();
        if (total == Steps[0])
            atCaps = now;
        if (total >= Steps[1]) {
            lowest = lowest == 0 ? now : std::min(lowest, now);
            highest = std::max(highest, now);
        }
        std::printf("  %7lld records logged and shown: %6.1f MiB  (when shown %6.1f MiB; heap in use %6.1f MiB; entries "
                    "%lld holding %.1f MiB, rows %d; %.1f s)\n",
                    static_cast<long long>(total), now, atOnce, heapInUseMiB(),
                    static_cast<long long>(probe.comm()->entryCount()), probe.comm()->byteCount() / 1048576.0,
                    probe.logView()->shownCount(), clock.nsecsElapsed() / 1e9);
        std::fflush(stdout);
    }
    std::printf("  with 100,000 entries and rows: %.1f MiB (target <= %.0f MiB: %s)\n", atCaps, CapsTargetMiB,
                verdict(atCaps <= CapsTargetMiB));
    const double spread = lowest > 0 ? highest / lowest - 1 : 0;
    std::printf("  from 1 to 3 million records: %.1f to %.1f MiB, %.1f%% apart (target within %.0f%%: %s)\n", lowest,
                highest, spread * 100, FlatTarget * 100, verdict(spread <= FlatTarget));
    window.disconnectAll();
    return 0;
}

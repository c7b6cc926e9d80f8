// Resident memory of the real window in client mode while korvahub_floodpeer floods it:
// before the flood (the reference), with 100,000 records logged and shown (both caps
// just reached), and after 500,000 and 1,000,000 records. Past the caps the figure
// should stay flat.

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdio>

#include <malloc.h>

#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "LogViewWidget.h"
#include "SignalRWidget.h"
#include "WindowParts.h"

namespace {

using namespace BenchSupport;

constexpr qint64 FirstStep = 100000;
constexpr int StepTimeoutMs = 600000;

// Runs the event loop until the record numbered last is logged and shown.
bool waitUntilShown(WindowParts& probe, qint64 last)
{
    const QString lastText = QStringLiteral("[ReceiveMessage](user1, hello %1)").arg(last);
    QListWidget* list = probe.logView()->list();
    QEventLoop loop;
    bool shown = false;
    auto check = [&] {
        if (shown || list->count() == 0 || probe.logView()->pendingCount() != 0)
            return;
        if (list->item(list->count() - 1)->text().endsWith(lastText)) {
            shown = true;
            loop.quit();
        }
    };
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &loop, check);
    QTimer::singleShot(StepTimeoutMs, &loop, &QEventLoop::quit);
    check();
    if (!shown)
        loop.exec();
    // Let the view lay out and paint what it holds before the figure is read.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    return shown;
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

    FloodPeer peer(FirstStep);
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
    std::printf("  window shown, before the flood (reference): %6.1f MiB  (heap in use %6.1f MiB)\n",
                before, heapInUseMiB());

    const qint64 steps[] = {FirstStep, 500000, 1000000, 2000000};
    qint64 sent = 0;
    double atCaps = 0;
    double at500k = 0;
    double heapAt500k = 0;
    double highest = 0;
    double last = 0;
    for (const qint64 total : steps) {
        if (sent > 0) {
            // Ask the peer for the next part of the flood through the send composer.
            probe.methodEdit()->setText(QStringLiteral("Flood"));
            probe.sendEdit()->setPlainText(QString::number(total - sent));
            window.sendData();
        }
        if (!waitUntilShown(probe, total - 1)) {
            std::fprintf(stderr, "bench_memory: record %lld never shown\n",
                         static_cast<long long>(total - 1));
            return 1;
        }
        sent = total;
        last = residentMiB();
        highest = std::max(highest, last);
        if (atCaps == 0)
            atCaps = last;
        if (total == 500000) {
            at500k = last;
            heapAt500k = heapInUseMiB();
        }
        std::printf("  %7lld records logged and shown: %6.1f MiB  (heap in use %6.1f MiB; entries "
                    "%lld, rows %d, %.1f s)\n",
                    static_cast<long long>(total), last, heapInUseMiB(),
                    static_cast<long long>(probe.comm()->entryCount()),
                    probe.logView()->list()->count(), clock.nsecsElapsed() / 1e9);
        std::fflush(stdout);
    }
    // The resident size wobbles by tens of MiB as the allocator keeps and returns pages;
    // the heap the program holds is the steadier sign of growth.
    const double heapGrowth = heapInUseMiB() - heapAt500k;
    std::printf("  highest %.1f MiB (target < 300 MiB: %s)\n", highest, highest < 300 ? "met" : "NOT met");
    std::printf("  growth from 100k to 2M records %+.1f MiB; from 500k to 2M %+.1f MiB, heap in use "
                "%+.1f MiB (target flat, taken as heap growth under 5%%: %s)\n",
                last - atCaps, last - at500k, heapGrowth,
                heapGrowth < 0.05 * heapAt500k ? "met" : "NOT met");
    window.disconnectAll();
    return 0;
}

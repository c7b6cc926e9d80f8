// The log view with many rows: the time of one 200-row flush with 0, 50,000 and 100,000
// rows present, for short rows and for long multi-line frames (2,000 characters with
// line breaks and record separators, wider than the view): the flush alone and with the
// event processing it causes (layout and paint), median of several runs. Then the
// longest stall of the event loop when the font size or the line spacing changes with
// 100,000 rows, beside the same change with none.
//
// Targets: a 200-row flush with layout and paint under 20 ms at 100,000 rows; a font
// size change never stalls the window for 100 ms or more.

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "LogViewWidget.h"

namespace {

using namespace BenchSupport;

constexpr int LongRowChars = 2000;
constexpr int FlushRows = 200;
constexpr int Runs = 9;
constexpr double FlushTargetMs = 20;
constexpr double StallTargetMs = 100;

QByteArray payload(int serial, bool longRows)
{
    QByteArray text = QStringLiteral("[ReceiveMessage](user%1, hello world %2)")
                          .arg(serial % 17)
                          .arg(serial)
                          .toUtf8();
    if (!longRows)
        return text;
    while (text.size() < LongRowChars)
        text += "\n{\"type\":1,\"target\":\"Tick\",\"arguments\":[42]}\x1e";
    return text;
}

void logBatch(CommunicationBase& comm, int count, int& serial, bool longRows)
{
    for (int i = 0; i < count; ++i, ++serial)
        comm.logReceivedData(payload(serial, longRows));
}

void settle(LogViewWidget& view)
{
    while (view.pendingCount() > 0)
        view.flushPendingItems();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

void fillTo(CommunicationBase& comm, LogViewWidget& view, int rows, int& serial, bool longRows)
{
    logBatch(comm, rows - view.shownCount(), serial, longRows);
    settle(view);
}

// Longest stall from the change until the view has laid out and painted again.
template <typename Change>
double stallOf(LogViewWidget& view, Change change)
{
    TickGapMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    change();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    meter.stop();
    (void)view;
    return meter.maxGapMs();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("log view: one flush of %d rows (median of %d)\n", FlushRows, Runs);
    double worstAtCap = 0;
    for (bool longRows : {false, true}) {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(900, 600);
        view.show();
        QCoreApplication::processEvents();
        int serial = 0;
        std::printf(" %s rows\n", longRows ? "long (2,000-character, multi-line)" : "short");
        for (int present : {0, 50000, 100000}) {
            std::vector<double> flushOnly;
            std::vector<double> withEvents;
            for (int run = 0; run < Runs; ++run) {
                if (present == 0) {
                    view.clear();
                    QCoreApplication::processEvents();
                } else {
                    fillTo(comm, view, present, serial, longRows);
                }
                logBatch(comm, FlushRows, serial, longRows);
                QElapsedTimer timer;
                timer.start();
                view.flushPendingItems();
                flushOnly.push_back(timer.nsecsElapsed() / 1e6);
                QCoreApplication::processEvents();
                withEvents.push_back(timer.nsecsElapsed() / 1e6);
            }
            const double total = median(withEvents);
            if (present == 100000)
                worstAtCap = std::max(worstAtCap, total);
            std::printf("  %6d rows present%s: flush %7.2f ms, flush + layout/paint %7.2f ms\n", present,
                        present == 0 ? " (reference)" : "", median(flushOnly), total);
        }
    }
    std::printf("  at 100,000 rows: %.2f ms at most (target < %.0f ms: %s)\n", worstAtCap, FlushTargetMs,
                verdict(worstAtCap < FlushTargetMs));

    std::printf("log view: font size and line spacing changed (longest stall of a 10 ms timer)\n");
    double worstStall = 0;
    for (int rows : {0, 100000}) {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(900, 600);
        view.show();
        int serial = 0;
        fillTo(comm, view, rows, serial, false);
        const double font = stallOf(view, [&] { view.setFontSize(14); });
        const double spacing = stallOf(view, [&] { view.setLineSpacing(4); });
        if (rows > 0)
            worstStall = std::max({worstStall, font, spacing});
        std::printf("  %6d rows%s: font size %6.1f ms, line spacing %6.1f ms\n", rows,
                    rows == 0 ? " (reference)" : "", font, spacing);
    }
    std::printf("  at 100,000 rows: %.1f ms at most (target < %.0f ms: %s)\n", worstStall, StallTargetMs,
                verdict(worstStall < StallTargetMs));
    return 0;
}

// Filtering, finding and re-rendering a log view of 100,000 rows: time from the change to
// the last row done, and the longest stall of a 10 ms GUI timer meanwhile (the window is
// responsive while that stays small). The reference is the same matching without a view.
// Also the flush of 200 rows at the row cap while the filter hides nearly everything.

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include <cstdio>

#include "BenchSupport.h"
#include "CommunicationBase.h"
#include "LogFilter.h"
#include "LogFilterBar.h"
#include "LogViewWidget.h"

namespace {

constexpr int Rows = 100000;
constexpr int FlushRows = 200;
constexpr double StallTargetMs = 50;

void logOne(CommunicationBase& comm, int serial)
{
    switch (serial % 4) {
    case 0:
        comm.logSystemMessage(QStringLiteral("[SendMessage] -> ping %1").arg(serial));
        break;
    case 1:
        comm.logSentData(QStringLiteral("{\"value\":%1}").arg(serial).toUtf8());
        break;
    default:
        comm.logReceivedData(QStringLiteral("[%1](user%2, hello world %3)")
                                 .arg(serial % 3 ? QStringLiteral("ReceiveMessage") : QStringLiteral("Tick"))
                                 .arg(serial % 97)
                                 .arg(serial)
                                 .toUtf8());
    }
}

// viaBar: the change goes through the filter bar, which waits for a pause in typing.
template <typename Change>
void measure(const char* name, QApplication& app, LogViewWidget& view, Change change, bool viaBar = true)
{
    // Timed from the moment the bar announces the change (it waits for a pause in typing)
    // or the display setting changes.
    QElapsedTimer clock;
    bool announced = false;
    const auto begin = [&] {
        clock.start();
        announced = true;
    };
    auto* bar = view.findChild<LogFilterBar*>();
    const QMetaObject::Connection a = QObject::connect(bar, &LogFilterBar::criteriaChanged, bar, begin);
    BenchSupport::TickGapMeter meter;
    change();
    if ((view.isPassRunning() || !viaBar) && !announced)
        begin();
    while (!announced)
        app.processEvents(QEventLoop::WaitForMoreEvents, 5);
    meter.start();
    while (view.isPassRunning())
        app.processEvents();
    app.processEvents(); // the layout that follows is part of the change
    const double total = clock.nsecsElapsed() / 1e6;
    meter.stop();
    QObject::disconnect(a);
    std::printf("  %-38s %6.1f ms, longest stall %5.1f ms (target < %.0f), %6d shown\n", name, total,
                meter.maxGapMs(), StallTargetMs, view.shownCount());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CommunicationBase comm;
    LogViewWidget view(&comm);
    view.resize(900, 600);
    view.show();
    for (int serial = 0; serial < Rows; ++serial) {
        logOne(comm, serial);
        if (serial % FlushRows == 0)
            view.flushPendingItems();
    }
    while (view.pendingCount() > 0)
        view.flushPendingItems();
    app.processEvents();

    auto* text = view.findChild<QLineEdit*>(QStringLiteral("filterText"));
    auto* method = view.findChild<QLineEdit*>(QStringLiteral("filterMethod"));
    auto* regex = view.findChild<QPushButton*>(QStringLiteral("regexToggle"));
    auto* sys = view.findChild<QPushButton*>(QStringLiteral("sysToggle"));
    auto* filtering = view.findChild<QPushButton*>(QStringLiteral("filterToggle"));

    std::printf("log filter over %d rows\n", view.shownCount());
    {
        const QList<LogEntry> entries = comm.entries();
        const LogFilter filter(LogFilter::Criteria{QStringLiteral("user42,"), false, true, true, true, QString()});
        QElapsedTimer clock;
        clock.start();
        int hits = 0;
        for (const LogEntry& entry : entries)
            hits += filter.matches(entry, false);
        std::printf("  reference: plain matching alone, no view %6.1f ms, %6d matches\n", clock.nsecsElapsed() / 1e6, hits);
    }
    measure("one typed word (\"user42,\")", app, view, [&] { text->setText(QStringLiteral("user42,")); });
    measure("word cleared", app, view, [&] { text->clear(); });
    regex->setChecked(true);
    measure("regular expression", app, view, [&] { text->setText(QStringLiteral("hello world 9\\d{3}\\)$")); });
    measure("regular expression cleared", app, view, [&] { text->clear(); });
    regex->setChecked(false);
    measure("hub method \"Tick\"", app, view, [&] { method->setText(QStringLiteral("Tick")); });
    measure("method cleared, SYS hidden", app, view, [&] {
        method->clear();
        sys->setChecked(false);
    });
    measure("SYS shown again", app, view, [&] { sys->setChecked(true); });
    measure("hex display on (re-render)", app, view, [&] { comm.setHexDisplay(true); }, false);
    measure("hex display off (re-render)", app, view, [&] { comm.setHexDisplay(false); }, false);

    filtering->setChecked(false);
    text->setText(QStringLiteral("user42, hello world 4"));
    while (view.isPassRunning())
        app.processEvents();
    view.list()->setCurrentIndex(view.list()->model()->index(0, 0));
    QElapsedTimer clock;
    clock.start();
    const bool found = view.findNext(false);
    std::printf("  F3 (filter off), match near the far end: %.1f ms (%s)\n", clock.nsecsElapsed() / 1e6,
                found ? "found" : "not found");

    // A flood at the row cap while nearly every row is hidden.
    filtering->setChecked(true);
    text->setText(QStringLiteral("no row has this"));
    clock.start();
    while ((view.isPassRunning() || view.shownCount() > 0) && clock.elapsed() < 5000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 20);
    std::vector<double> flushes;
    for (int run = 0; run < 9; ++run) {
        for (int i = 0; i < FlushRows; ++i)
            logOne(comm, Rows + run * FlushRows + i);
        clock.start();
        view.flushPendingItems();
        flushes.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("  200-row flush at the cap, %lld entries hidden: %.2f ms (median of 9, target < 20 ms)\n",
                qint64(view.entryCount() - view.shownCount()), BenchSupport::median(flushes));
    return 0;
}

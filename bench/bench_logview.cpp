// Time of one 200-row flush of the log view with 0, 50,000 and 100,000 rows present, for
// short rows and for long multi-line frames (2,000 characters with line breaks and record
// separators, wider than the view). Prints the flush alone and the flush plus the event
// processing it causes (layout and paint), median of several runs.

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "CommunicationBase.h"
#include "LogViewWidget.h"

namespace {

constexpr int LongRowChars = 2000;

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

void fillTo(CommunicationBase& comm, LogViewWidget& view, int rows, int& serial, bool longRows)
{
    while (view.list()->count() < rows) {
        logBatch(comm, std::min(LogViewWidget::MaxRowsPerFlush, rows - view.list()->count()), serial,
                 longRows);
        view.flushPendingItems();
    }
    QCoreApplication::processEvents();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("log view: one flush of %d rows (median of 9)\n", LogViewWidget::MaxRowsPerFlush);
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
            for (int run = 0; run < 9; ++run) {
                if (present == 0) {
                    view.clear();
                    QCoreApplication::processEvents();
                } else {
                    fillTo(comm, view, present, serial, longRows);
                }
                logBatch(comm, LogViewWidget::MaxRowsPerFlush, serial, longRows);
                QElapsedTimer timer;
                timer.start();
                view.flushPendingItems();
                flushOnly.push_back(timer.nsecsElapsed() / 1e6);
                QCoreApplication::processEvents();
                withEvents.push_back(timer.nsecsElapsed() / 1e6);
            }
            std::printf("  %6d rows present: flush %7.2f ms, flush + layout/paint %7.2f ms (target < 20 ms)\n",
                        present, median(flushOnly), median(withEvents));
        }
    }
    return 0;
}

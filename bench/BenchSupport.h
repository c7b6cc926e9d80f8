#pragma once

#include <malloc.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <vector>

// Helpers shared by the benchmarks: the flood peer process, resident memory, the
// longest pause of the event loop, summary statistics and the verdict beside each
// target.
namespace BenchSupport {

// A helper program built beside the benchmarks (see bench/CMakeLists.txt).
inline QString helperPath(const QString& name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

// korvahub_floodpeer in its own process; see bench/floodpeer.cpp for what it sends.
class FloodPeer
{
public:
    explicit FloodPeer(qint64 countPerConnection)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(helperPath(QStringLiteral("korvahub_floodpeer")),
                      {QString::number(countPerConnection)});
        if (!process.waitForStarted(10000))
            return;
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && clock.elapsed() < 10000)
            process.waitForReadyRead(100);
        const QByteArray line = process.readLine().trimmed();
        if (line.startsWith("PORT "))
            port = quint16(line.mid(5).toUInt());
    }
    ~FloodPeer()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    FloodPeer(const FloodPeer&) = delete;
    FloodPeer& operator=(const FloodPeer&) = delete;

    bool ok() const { return port != 0; }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/hub").arg(port)); }

private:
    QProcess process;
    quint16 port = 0;
};

// The row the hub client shows for the flood peer's record number n.
inline QString floodRow(qint64 n)
{
    return QStringLiteral("[ReceiveMessage](user1, hello %1)").arg(n);
}

// Heap the allocator has handed out and not had back (small and mapped blocks).
inline double heapInUseMiB()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// VmRSS of this process in MiB, 0 if unknown.
inline double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    // A /proc file has no size, so it is read whole rather than line by line to its end.
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

inline const char* verdict(bool met)
{
    return met ? "met" : "NOT met";
}

// Ticks a 10 ms timer on the calling (GUI) thread and keeps the longest gap between
// two ticks: how long the event loop was unable to serve anything else.
class TickGapMeter
{
public:
    TickGapMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            const qint64 now = clock.nsecsElapsed();
            maxGapNs = std::max(maxGapNs, now - lastNs);
            if (markNs < 0)
                maxGapBeforeMarkNs = std::max(maxGapBeforeMarkNs, now - lastNs);
            else
                maxGapAfterMarkNs = std::max(maxGapAfterMarkNs, now - std::max(lastNs, markNs));
            gapsNs.push_back(now - lastNs);
            lastNs = now;
        });
    }
    void start()
    {
        clock.start();
        lastNs = 0;
        maxGapNs = 0;
        maxGapBeforeMarkNs = 0;
        maxGapAfterMarkNs = 0;
        markNs = -1;
        gapsNs.clear();
        timer.start();
    }
    // Counts the time since the last tick too: a stall at the very end is a stall.
    void stop()
    {
        timer.stop();
        const qint64 now = clock.nsecsElapsed();
        maxGapNs = std::max(maxGapNs, now - lastNs);
        if (markNs < 0)
            maxGapBeforeMarkNs = std::max(maxGapBeforeMarkNs, now - lastNs);
        else
            maxGapAfterMarkNs = std::max(maxGapAfterMarkNs, now - std::max(lastNs, markNs));
    }
    // Splits the run in two phases, e.g. while records arrive and while the view catches
    // up; a gap across the mark counts in each phase with its own part.
    void mark()
    {
        markNs = clock.nsecsElapsed();
        maxGapBeforeMarkNs = std::max(maxGapBeforeMarkNs, markNs - lastNs);
    }
    double maxGapMs() const { return maxGapNs / 1e6; }
    double maxGapBeforeMarkMs() const { return maxGapBeforeMarkNs / 1e6; }
    double maxGapAfterMarkMs() const { return maxGapAfterMarkNs / 1e6; }
    double percentileMs(double p) const
    {
        if (gapsNs.empty())
            return 0;
        std::vector<qint64> sorted = gapsNs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))] / 1e6;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 lastNs = 0;
    qint64 maxGapNs = 0;
    qint64 maxGapBeforeMarkNs = 0;
    qint64 maxGapAfterMarkNs = 0;
    qint64 markNs = -1;
    std::vector<qint64> gapsNs;
};

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double best(const std::vector<double>& v, bool higherIsBetter)
{
    if (v.empty())
        return 0;
    return higherIsBetter ? *std::max_element(v.begin(), v.end())
                          : *std::min_element(v.begin(), v.end());
}

} // namespace BenchSupport

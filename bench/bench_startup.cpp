// Start-up time: from process start to "Window shown" in the run log of the real
// program (build/korvahub, offscreen, HOME and the XDG folders pointed at a temporary
// folder so the log lands there), beside a bare Qt window program that writes the same
// line right after show(). Both are polled the same way, every half millisecond.
//
// Target: at most 2 times the bare window of the same run (medians).

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <vector>

#include "BenchSupport.h"

namespace {

using namespace BenchSupport;

constexpr int Runs = 7;
constexpr int StartTimeoutMs = 30000;
constexpr double RatioTarget = 2.0;

bool fileShowsWindow(const QString& folder)
{
    QDirIterator it(folder, {QStringLiteral("*.log")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains("Window shown"))
            return true;
    }
    return false;
}

// Milliseconds until the program's log shows the window, or a negative value.
double timeToWindow(const QString& program, const QStringList& arguments, const QString& home)
{
    QDir(home).removeRecursively();
    QDir().mkpath(home);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QDir().mkpath(home + QStringLiteral("/runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    double ms = -1;
    while (clock.elapsed() < StartTimeoutMs) {
        if (fileShowsWindow(home)) {
            ms = clock.nsecsElapsed() / 1e6;
            break;
        }
        if (process.state() == QProcess::NotRunning)
            break;
        QThread::usleep(500);
    }
    process.kill();
    process.waitForFinished(5000);
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString korvahub = QDir(QCoreApplication::applicationDirPath())
                                 .absoluteFilePath(QStringLiteral("../korvahub"));
    const QString bare = helperPath(QStringLiteral("korvahub_barewindow"));
    QTemporaryDir temp;
    if (!temp.isValid() || !QFile::exists(korvahub)) {
        std::fprintf(stderr, "bench_startup: %s missing or no temporary folder\n", qPrintable(korvahub));
        return 1;
    }
    const QString home = temp.path() + QStringLiteral("/home");
    const QString bareLog = home + QStringLiteral("/bare.log");

    // One unmeasured start of each, so both run from the page cache.
    timeToWindow(korvahub, {}, home);
    timeToWindow(bare, {bareLog}, home);

    std::vector<double> realTimes, bareTimes;
    for (int run = 0; run < Runs; ++run) {
        const double b = timeToWindow(bare, {bareLog}, home);
        const double k = timeToWindow(korvahub, {}, home);
        if (b < 0 || k < 0) {
            std::fprintf(stderr, "bench_startup: run %d: no \"Window shown\" (bare %.0f, korvahub %.0f)\n",
                         run + 1, b, k);
            return 1;
        }
        bareTimes.push_back(b);
        realTimes.push_back(k);
    }
    std::printf("start-up to \"Window shown\" (best / median of %d, offscreen)\n", Runs);
    const double ratio = median(realTimes) / median(bareTimes);
    std::printf("  reference, bare Qt window: %7.1f / %7.1f ms\n", best(bareTimes, false), median(bareTimes));
    std::printf("  korvahub:                  %7.1f / %7.1f ms  (%.1fx the bare window; target <= %.1fx: %s)\n",
                best(realTimes, false), median(realTimes), ratio, RatioTarget, verdict(ratio <= RatioTarget));
    return 0;
}

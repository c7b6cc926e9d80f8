// The program's own files around the window: the run log, the embedded resources and
// where the documentation button leads. Faults guarded:
// - run-log lines lost until exit (not flushed), a run's header missing, older runs
//   overwritten, a log written outside the data folder;
// - the icon missing from the resources (a missing theme fails the window test);
// - a program built from the source tree not finding that tree's guide (the installed
//   guide: tests/package/check-package.sh).
#include <QtGui>
#include <QtTest>

#include "Documentation.h"
#include "RunLog.h"

class TestApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        // Test mode puts the data folder under $HOME/.qttest; a fresh HOME keeps the
        // user's files out of reach.
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", QFile::encodeName(m_home.path()));
    }

    void runLogAppendsRuns()
    {
        const QString header = QStringLiteral("\\n=== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Korvahub ===\\n");
        QFile file(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/logs/Korvahub.log");
        QVERIFY(file.fileName().startsWith(m_home.path()));
        const auto logMatches = [&file](const QString& pattern) {
            file.close();
            return file.open(QIODevice::ReadOnly)
                   && QRegularExpression("\\A" + pattern + "\\z").match(QString::fromUtf8(file.readAll())).hasMatch();
        };
        const QString firstRun = header + "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Window shown 中\\n";
        {
            RunLog log;
            log.init("Korvahub");
            log.write("Window shown 中");
            // Every write reaches the file at once, while the log is still open.
            QVERIFY(logMatches(firstRun));
        }
        // A run that writes nothing still leaves its header, flushed at destruction.
        RunLog().init("Korvahub");
        QVERIFY(logMatches(firstRun + header));
    }

    void resourcesAndGuideAreFound()
    {
        QCOMPARE(QImageReader(":/icon/SignalR.ico").read().size(), QSize(64, 64));
        // The program built here finds the source tree's guide.
        QVERIFY(documentationUrl().toLocalFile().endsWith("/docs/guide.html"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"

// The program's own files around the window: the run log, the embedded resources and
// where the documentation button leads. Faults guarded:
// - run-log lines lost until exit (not flushed), a run's header missing, older runs
//   overwritten, a log written outside the data folder;
// - the icon missing from the resources (a missing theme fails the window test);
// - a program built from the source tree not finding that tree's guide;
// - the documentation button landing on a missing page, a folder, a path relative to the
//   working directory or a non-canonical path, or on the web while a guide is at hand.
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

    void firstExistingGuideWins_data()
    {
        QTest::addColumn<QString>("installed"); // what share/doc/korvahub/guide.html is
        QTest::addColumn<QString>("source");    // "guide": src/ holds one; "not given": so it does, but none is passed
        QTest::addColumn<QString>("expected");
        QTest::newRow("installed guide") << "file" << "guide" << "usr/share/doc/korvahub/guide.html";
        QTest::newRow("source guide") << "" << "guide" << "src/docs/guide.html";
        QTest::newRow("directory is not a guide") << "dir" << "" << "web";
        // An empty source folder must not resolve against the working directory.
        QTest::newRow("empty source folder") << "" << "not given" << "web";
    }

    void firstExistingGuideWins()
    {
        QFETCH(QString, installed);
        QFETCH(QString, source);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const QDir tree(root.path());
        const QString guide = tree.filePath("usr/share/doc/korvahub/guide.html");
        QVERIFY(tree.mkpath("usr/bin") && tree.mkpath("src/docs") && tree.mkpath(installed == "dir" ? guide : QFileInfo(guide).path()));
        for (const QString& path : {installed == "file" ? guide : "", source.isEmpty() ? "" : tree.filePath("src/docs/guide.html")}) {
            QFile file(path);
            QVERIFY(path.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0));
        }
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tree.filePath("src")));
        const QUrl url = documentationUrlFor(tree.filePath("usr/bin"), source == "not given" ? QString() : tree.filePath("src"));
        QDir::setCurrent(previous);
        // Guides as canonical file paths: no "bin/.." in what the browser shows.
        QCOMPARE(url, expected == "web" ? QUrl(DocumentationWebAddress)
                                        : QUrl::fromLocalFile(QFileInfo(tree.filePath(expected)).canonicalFilePath()));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"

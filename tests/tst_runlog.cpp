#include <QtGui>
#include <QtTest>

#include "RunLog.h"

namespace {

const QString Header = QStringLiteral("\\n=== (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) Korvahub ===\\n");
const QString Entry = QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} %1\\n");

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString logPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/logs/Korvahub.log";
}

// The whole log file against a pattern.
QRegularExpressionMatch matchLog(const QString& pattern)
{
    return QRegularExpression("\\A" + pattern + "\\z").match(readAll(logPath()));
}

} // namespace

class TestRunLog : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

private slots:
    void initTestCase()
    {
        // Test mode puts the data location under $HOME/.qttest; a fresh HOME keeps the
        // user's files out of reach.
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", QFile::encodeName(home.path()));
        QVERIFY(logPath().startsWith(home.path()));
    }

    void runsAppendHeaderAndTimedLines()
    {
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const QString firstRun = Header + Entry.arg("DarkTheme QSS loaded") + Entry.arg("Window shown 中");
        {
            RunLog log;
            log.init("Korvahub");
            QCOMPARE(log.fileName(), logPath());
            log.write("DarkTheme QSS loaded");
            log.write("Window shown 中");
            // Every write reaches the file before it returns, while the log is still open.
            const QRegularExpressionMatch match = matchLog(firstRun);
            QVERIFY2(match.hasMatch(), qPrintable(readAll(logPath())));
            const QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyy-MM-dd hh:mm:ss");
            QVERIFY(stamp >= before && stamp <= QDateTime::currentDateTime());
        }
        // A run that writes nothing still leaves its header, flushed at destruction.
        RunLog().init("Korvahub");
        {
            RunLog log;
            log.init("Korvahub");
            log.write("third run");
        }
        QVERIFY2(matchLog(firstRun + Header + Header + Entry.arg("third run")).hasMatch(), qPrintable(readAll(logPath())));
    }

    void unwritableFolderWritesNothing()
    {
        // A plain file where the home folder should be: no folder can be made below it,
        // even for a user whom permissions would not stop.
        const QString file = home.filePath("not-a-folder");
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        qputenv("HOME", QFile::encodeName(file));
        RunLog().write("before init"); // nothing to write to yet
        RunLog log;
        log.init("Korvahub");
        QVERIFY(!log.isOpen());
        log.write("Window shown");
        QCOMPARE(QFile(file).size(), 0);
        qputenv("HOME", QFile::encodeName(home.path()));
    }

    void themeResource()
    {
        QCOMPARE(QResource(":/styles/DarkTheme.qss").compressionAlgorithm(), QResource::ZlibCompression);
        QFile file(":/styles/DarkTheme.qss");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringDecoder utf8(QStringConverter::Utf8);
        const QString sheet = utf8.decode(file.readAll());
        QVERIFY(!utf8.hasError());
        // The widgets find their look through these object names.
        for (const char* name : {"#headerBar", "#headerIcon", "#headerTitle", "#headerVersion", "#connStatus",
                                 "#accentButton", "#dangerButton", "#smallButton", "#statusBar", "#txLabel",
                                 "#rxLabel", "#logOutput"})
            QVERIFY2(sheet.contains(name), name);
    }

    void iconResource()
    {
        QImageReader reader(":/icon/SignalR.ico");
        QCOMPARE(reader.format(), QByteArray("ico"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(64, 64));
        QVERIFY(image.hasAlphaChannel());
    }
};

QTEST_MAIN(TestRunLog)
#include "tst_runlog.moc"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QResource>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "RunLog.h"

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

const QString HeaderPattern = u8("\\n=== (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) %1 ===\\n");
const QString EntryPattern = u8("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} %1\\n");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRunLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void headerAndEntryLines();
    void destructionFlushesHeader();
    void secondRunAppends();
    void unwritableFolderWritesNothing_data();
    void unwritableFolderWritesNothing();
    void themeResource();
    void iconResource();

private:
    QString logPath(const QString& name) const;

    std::unique_ptr<QTemporaryDir> m_home;
};

void TestRunLog::initTestCase()
{
    // Test mode puts the data location under $HOME/.qttest; a fresh HOME per test
    // keeps the user's files out of reach and every test's folder empty.
    QStandardPaths::setTestModeEnabled(true);
}

void TestRunLog::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    QVERIFY(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).startsWith(m_home->path()));
}

QString TestRunLog::logPath(const QString& name) const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u8("/logs/") + name + u8(".log");
}

void TestRunLog::headerAndEntryLines()
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    RunLog log;
    log.init(u8("Korvahub"));
    QVERIFY(log.isOpen());
    QCOMPARE(log.fileName(), logPath(u8("Korvahub")));
    log.write(u8("DarkTheme QSS loaded"));
    log.write(u8("Window shown 中"));
    const QDateTime after = QDateTime::currentDateTime();

    // Every write reaches the file before it returns, while the log is still open.
    const QString content = QString::fromUtf8(readAll(logPath(u8("Korvahub"))));
    const QRegularExpression pattern(u8("\\A") + HeaderPattern.arg(u8("Korvahub"))
                                     + EntryPattern.arg(u8("DarkTheme QSS loaded"))
                                     + EntryPattern.arg(u8("Window shown 中")) + u8("\\z"));
    const QRegularExpressionMatch match = pattern.match(content);
    QVERIFY2(match.hasMatch(), qPrintable(content));
    const QDateTime stamp = QDateTime::fromString(match.captured(1), u8("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);
}

void TestRunLog::destructionFlushesHeader()
{
    {
        RunLog log;
        log.init(u8("Quiet"));
        QVERIFY(log.isOpen());
    }
    const QString content = QString::fromUtf8(readAll(logPath(u8("Quiet"))));
    QVERIFY2(QRegularExpression(u8("\\A") + HeaderPattern.arg(u8("Quiet")) + u8("\\z")).match(content).hasMatch(),
             qPrintable(content));
}

void TestRunLog::secondRunAppends()
{
    for (const char* message : {"first run", "second run"}) {
        RunLog log;
        log.init(u8("Korvahub"));
        log.write(u8(message));
    }
    const QString content = QString::fromUtf8(readAll(logPath(u8("Korvahub"))));
    const QString run = HeaderPattern.arg(u8("Korvahub"));
    const QRegularExpression pattern(u8("\\A") + run + EntryPattern.arg(u8("first run")) + run
                                     + EntryPattern.arg(u8("second run")) + u8("\\z"));
    QVERIFY2(pattern.match(content).hasMatch(), qPrintable(content));
}

void TestRunLog::unwritableFolderWritesNothing_data()
{
    QTest::addColumn<bool>("homeIsFile");
    QTest::newRow("folder cannot be created") << true;
    QTest::newRow("log file name is a folder") << false;
}

void TestRunLog::unwritableFolderWritesNothing()
{
    QFETCH(bool, homeIsFile);

    if (homeIsFile) {
        // A plain file where the home folder should be: no folder can be made below it,
        // even for a user whom permissions would not stop.
        const QString file = m_home->filePath(u8("not-a-folder"));
        QFile blocker(file);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("HOME", QFile::encodeName(file));
    } else {
        QVERIFY(QDir().mkpath(logPath(u8("Korvahub"))));
    }

    RunLog unused;
    unused.write(u8("before init")); // nothing to write to yet

    RunLog log;
    log.init(u8("Korvahub"));
    QVERIFY(!log.isOpen());
    log.write(u8("Window shown"));

    if (homeIsFile)
        QCOMPARE(QFileInfo(m_home->filePath(u8("not-a-folder"))).size(), 0);
    else
        QVERIFY(QFileInfo(logPath(u8("Korvahub"))).isDir());
}

void TestRunLog::themeResource()
{
    const QString path = u8(":/styles/DarkTheme.qss");
    QVERIFY(QFile::exists(path));
    QCOMPARE(QResource(path).compressionAlgorithm(), QResource::ZlibCompression);

    const QByteArray bytes = readAll(path);
    QVERIFY(!bytes.isEmpty());
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString sheet = utf8.decode(bytes);
    QVERIFY(!utf8.hasError());
    // The widgets find their look through these object names.
    for (const char* name : {"#headerBar", "#headerIcon", "#headerTitle", "#headerVersion", "#connStatus",
                             "#accentButton", "#dangerButton", "#smallButton", "#statusBar", "#txLabel",
                             "#rxLabel", "#logOutput"})
        QVERIFY2(sheet.contains(u8(name)), name);
}

void TestRunLog::iconResource()
{
    const QString path = u8(":/icon/SignalR.ico");
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("ico"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(64, 64));
    QVERIFY(image.hasAlphaChannel());

    const QIcon icon(path);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(64, 64)));
}

QTEST_MAIN(TestRunLog)
#include "tst_runlog.moc"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "CommunicationBase.h"
#include "LogEntry.h"

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

class CappedLog : public CommunicationBase
{
public:
    explicit CappedLog(int cap)
        : m_cap(cap)
    {
    }
    int maxEntries() const override { return m_cap; }

private:
    int m_cap;
};

// Records every signal of the log in one list, so that the relative order of
// different signals is visible, together with the counters as they stood at emission.
class SignalRecorder
{
public:
    explicit SignalRecorder(CommunicationBase* log)
    {
        QObject::connect(log, &CommunicationBase::logEntryAdded, log, [this](const LogEntry& entry) {
            events << QStringLiteral("added %1 %2").arg(entry.directionTag(), entry.text);
        });
        QObject::connect(log, &CommunicationBase::logCleared, log, [this] {
            events << QStringLiteral("cleared");
        });
        QObject::connect(log, &CommunicationBase::countersUpdated, log, [this, log] {
            events << QStringLiteral("counters %1/%2").arg(log->txBytes()).arg(log->rxBytes());
        });
    }
    QStringList events;
};

enum Action { Sent, Received, System };

} // namespace

class TestCommunicationBase : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void logging_data();
    void logging();
    void receiverMayCallBackIn();
    void trimming_data();
    void trimming();
    void defaultCapDropsOldest();
    void clearAndResetAreIndependent();
    void entryKeepsTextAfterEncodingChange();
    void encodeTextUsesCurrentEncoding();
    void timeString_data();
    void timeString();
    void writeLogFile_data();
    void writeLogFile();
    void writeEmptyLog_data();
    void writeEmptyLog();
    void writeToUnopenablePath();
};

void TestCommunicationBase::defaults()
{
    CommunicationBase log;
    QCOMPARE(log.maxEntries(), 100000);
    QVERIFY(log.showTimestamp());
    QVERIFY(log.autoScroll());
    QVERIFY(!log.hexDisplay());
    QCOMPARE(log.encoding(), u8("UTF-8"));
    QCOMPARE(log.txBytes(), 0);
    QCOMPARE(log.rxBytes(), 0);
    QCOMPARE(log.entryCount(), 0);
    QCOMPARE(CommunicationBase::supportedEncodings(),
             QStringList({u8("UTF-8"), u8("ASCII"), u8("GBK"), u8("GB2312"), u8("Unicode")}));

    const LogEntry empty;
    QVERIFY(empty.timestamp.isNull());
    QCOMPARE(empty.direction, LogEntry::TX);
    QVERIFY(empty.data.isEmpty() && empty.text.isEmpty() && empty.hexText.isEmpty());
    LogEntry other;
    other.direction = static_cast<LogEntry::Direction>(7);
    QCOMPARE(other.directionTag(), QString());
}

void TestCommunicationBase::logging_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hexText");
    QTest::addColumn<QStringList>("events");

    const QByteArray zhong = QByteArray::fromHex("E4B8AD");
    QTest::newRow("sent") << int(Sent) << QByteArray("Hello") << int(LogEntry::TX) << u8("Hello")
                          << u8("48 65 6C 6C 6F") << QStringList({u8("added [TX] Hello"), u8("counters 5/0")});
    QTest::newRow("received") << int(Received) << zhong << int(LogEntry::RX) << u8("中") << u8("E4 B8 AD")
                              << QStringList({u8("added [RX] 中"), u8("counters 0/3")});
    // An empty payload changes no counter but still announces the counters.
    QTest::newRow("sent empty") << int(Sent) << QByteArray() << int(LogEntry::TX) << QString() << QString()
                                << QStringList({u8("added [TX] "), u8("counters 0/0")});
    QTest::newRow("received empty") << int(Received) << QByteArray() << int(LogEntry::RX) << QString()
                                    << QString() << QStringList({u8("added [RX] "), u8("counters 0/0")});
    // A system message is its own hex text and leaves the counters alone.
    QTest::newRow("system") << int(System) << QByteArray("已连接") << int(LogEntry::SYS) << u8("已连接")
                            << u8("已连接") << QStringList({u8("added [SYS] 已连接")});
}

void TestCommunicationBase::logging()
{
    QFETCH(int, action);
    QFETCH(QByteArray, payload);
    QFETCH(int, direction);
    QFETCH(QString, text);
    QFETCH(QString, hexText);
    QFETCH(QStringList, events);

    CommunicationBase log;
    SignalRecorder recorder(&log);
    const QDateTime before = QDateTime::currentDateTime();
    if (action == Sent)
        log.logSentData(payload);
    else if (action == Received)
        log.logReceivedData(payload);
    else
        log.logSystemMessage(QString::fromUtf8(payload));
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(recorder.events, events);
    QCOMPARE(log.entryCount(), 1);
    const LogEntry entry = log.entries().constFirst();
    QCOMPARE(int(entry.direction), direction);
    QCOMPARE(entry.data, action == System ? QByteArray() : payload);
    QCOMPARE(entry.text, text);
    QCOMPARE(entry.hexText, hexText);
    QVERIFY(entry.timestamp >= before && entry.timestamp <= after);
}

void TestCommunicationBase::receiverMayCallBackIn()
{
    // Signals go out after the entry lock is released; otherwise this would deadlock.
    CommunicationBase log;
    qsizetype seen = -1;
    connect(&log, &CommunicationBase::logEntryAdded, this, [&log, &seen] {
        seen = log.entryCount();
        log.clearLog();
    });
    log.logReceivedData("x");
    QCOMPARE(seen, 1);
    QCOMPARE(log.entryCount(), 0);
    QCOMPARE(log.rxBytes(), 1);
}

void TestCommunicationBase::trimming_data()
{
    QTest::addColumn<int>("cap");
    QTest::addColumn<int>("logged");
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("cap 3 of 5") << 3 << 5 << QStringList({u8("m2"), u8("m3"), u8("m4")});
    QTest::newRow("cap 1 of 3") << 1 << 3 << QStringList({u8("m2")});
    QTest::newRow("exactly at cap") << 3 << 3 << QStringList({u8("m0"), u8("m1"), u8("m2")});
    QTest::newRow("cap 0 keeps all") << 0 << 4 << QStringList({u8("m0"), u8("m1"), u8("m2"), u8("m3")});
    QTest::newRow("negative cap keeps all") << -5 << 2 << QStringList({u8("m0"), u8("m1")});
}

void TestCommunicationBase::trimming()
{
    QFETCH(int, cap);
    QFETCH(int, logged);
    QFETCH(QStringList, kept);

    CappedLog log(cap);
    SignalRecorder recorder(&log);
    for (int i = 0; i < logged; ++i)
        log.logSystemMessage(QStringLiteral("m%1").arg(i));

    QStringList texts;
    for (const LogEntry& entry : log.entries())
        texts << entry.text;
    QCOMPARE(texts, kept);
    QCOMPARE(recorder.events.size(), logged);
}

void TestCommunicationBase::defaultCapDropsOldest()
{
    CommunicationBase log;
    int added = 0;
    connect(&log, &CommunicationBase::logEntryAdded, this, [&added] { ++added; });
    for (int i = 0; i <= 100000; ++i)
        log.logSystemMessage(QString::number(i));

    QCOMPARE(added, 100001);
    const QList<LogEntry> entries = log.entries();
    QCOMPARE(entries.size(), 100000);
    QCOMPARE(entries.constFirst().text, u8("1"));
    QCOMPARE(entries.constLast().text, u8("100000"));
}

void TestCommunicationBase::clearAndResetAreIndependent()
{
    CommunicationBase log;
    log.logSentData("abc");
    log.logReceivedData("de");
    SignalRecorder recorder(&log);

    log.clearLog();
    QCOMPARE(log.entryCount(), 0);
    QCOMPARE(log.txBytes(), 3);
    QCOMPARE(log.rxBytes(), 2);
    QCOMPARE(recorder.events, QStringList({u8("cleared")}));

    log.logSentData("f");
    recorder.events.clear();
    log.resetCounters();
    QCOMPARE(log.txBytes(), 0);
    QCOMPARE(log.rxBytes(), 0);
    QCOMPARE(log.entryCount(), 1);
    QCOMPARE(recorder.events, QStringList({u8("counters 0/0")}));
}

void TestCommunicationBase::entryKeepsTextAfterEncodingChange()
{
    CommunicationBase log;
    const QByteArray bytes = QByteArray::fromHex("C4E3");
    log.setEncoding(u8("ASCII"));
    log.logReceivedData(bytes);
    log.setEncoding(u8("UTF-8"));
    log.logReceivedData(bytes);

    const QList<LogEntry> entries = log.entries();
    QCOMPARE(entries[0].text, u8("Äã"));
    QCOMPARE(entries[1].text, QString(2, QChar(0xFFFD)));
    QCOMPARE(entries[0].hexText, u8("C4 E3"));
}

void TestCommunicationBase::encodeTextUsesCurrentEncoding()
{
    CommunicationBase log;
    QCOMPARE(log.encodeText(u8("中")), QByteArray::fromHex("E4B8AD"));
    log.setEncoding(u8("Unicode"));
    QCOMPARE(log.encodeText(u8("中")), QByteArray::fromHex("2D4E"));
    log.setEncoding(u8("ASCII"));
    QCOMPARE(log.encodeText(u8("中")), QByteArray("?"));
}

void TestCommunicationBase::timeString_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");

    QTest::newRow("padded") << QTime(9, 5, 3, 42) << u8("09:05:03.042");
    QTest::newRow("midnight") << QTime(0, 0, 0, 0) << u8("00:00:00.000");
    QTest::newRow("afternoon is 24-hour") << QTime(13, 7, 0, 5) << u8("13:07:00.005");
    QTest::newRow("last millisecond") << QTime(23, 59, 59, 999) << u8("23:59:59.999");
}

void TestCommunicationBase::timeString()
{
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    LogEntry entry(u8("x"));
    entry.timestamp = QDateTime(QDate(2024, 5, 1), time);
    QCOMPARE(entry.timeString(), expected);
}

void TestCommunicationBase::writeLogFile_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("csv");
    QTest::addColumn<QString>("expected"); // %1..%4: the entries' times

    QTest::newRow("text") << false << false
                          << u8("%1 [TX] say \"hi\"\n"
                                "%2 [RX] a,b\nc\n"
                                "%3 [SYS] 已导出\n"
                                "%4 [RX] 中\n");
    QTest::newRow("text hex") << true << false
                              << u8("%1 [TX] 73 61 79 20 22 68 69 22\n"
                                    "%2 [RX] 61 2C 62 0A 63\n"
                                    "%3 [SYS] 已导出\n"
                                    "%4 [RX] E4 B8 AD\n");
    QTest::newRow("csv") << false << true
                         << u8("Timestamp,Direction,Data\n"
                               "\"%1\",\"[TX]\",\"say \"\"hi\"\"\"\n"
                               "\"%2\",\"[RX]\",\"a,b\nc\"\n"
                               "\"%3\",\"[SYS]\",\"已导出\"\n"
                               "\"%4\",\"[RX]\",\"中\"\n");
    QTest::newRow("csv hex") << true << true
                             << u8("Timestamp,Direction,Data\n"
                                   "\"%1\",\"[TX]\",\"73 61 79 20 22 68 69 22\"\n"
                                   "\"%2\",\"[RX]\",\"61 2C 62 0A 63\"\n"
                                   "\"%3\",\"[SYS]\",\"已导出\"\n"
                                   "\"%4\",\"[RX]\",\"E4 B8 AD\"\n");
}

void TestCommunicationBase::writeLogFile()
{
    QFETCH(bool, hex);
    QFETCH(bool, csv);
    QFETCH(QString, expected);

    CommunicationBase log;
    log.logSentData("say \"hi\"");
    log.logReceivedData("a,b\nc");
    log.logSystemMessage(u8("已导出"));
    log.logReceivedData(QByteArray::fromHex("E4B8AD"));
    // The file format takes hex from its argument, not from the display setting.
    log.setHexDisplay(!hex);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u8("log.out"));
    {
        // A longer earlier file must be replaced, not overwritten in place.
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'x'));
    }
    QVERIFY(log.writeLogFile(path, hex, csv));

    QStringList times;
    for (const LogEntry& entry : log.entries())
        times << entry.timeString();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Exact bytes: UTF-8 without a byte-order mark, line feeds as written.
    QCOMPARE(file.readAll(), expected.arg(times[0], times[1], times[2], times[3]).toUtf8());
    QCOMPARE(log.entryCount(), 4);
}

void TestCommunicationBase::writeEmptyLog_data()
{
    QTest::addColumn<bool>("csv");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("text") << false << QByteArray();
    QTest::newRow("csv") << true << QByteArray("Timestamp,Direction,Data\n");
}

void TestCommunicationBase::writeEmptyLog()
{
    QFETCH(bool, csv);
    QFETCH(QByteArray, expected);

    CommunicationBase log;
    QTemporaryDir dir;
    const QString path = dir.filePath(u8("empty.out"));
    QVERIFY(log.writeLogFile(path, false, csv));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestCommunicationBase::writeToUnopenablePath()
{
    CommunicationBase log;
    log.logSystemMessage(u8("kept"));
    QTemporaryDir dir;
    const QString missing = dir.filePath(u8("no/such/dir/log.txt"));
    QVERIFY(!log.writeLogFile(missing, false, false));
    QVERIFY(!QFile::exists(missing));
    QVERIFY(!log.writeLogFile(dir.path(), false, true)); // a directory, not a file
    QCOMPARE(log.entryCount(), 1);
    // The lock must be released after a failed open.
    log.logSystemMessage(u8("after"));
    QCOMPARE(log.entryCount(), 2);
}

QTEST_GUILESS_MAIN(TestCommunicationBase)
#include "tst_communicationbase.moc"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "CommunicationBase.h"
#include "LogEntry.h"

namespace {

struct CappedLog : CommunicationBase
{
    int cap = 0;
    int maxEntries() const override { return cap; }
};

QStringList texts(const CommunicationBase& log)
{
    QStringList result;
    for (const LogEntry& entry : log.entries())
        result << entry.text;
    return result;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
}

} // namespace

class TestCommunicationBase : public QObject
{
    Q_OBJECT

private slots:
    void defaultsAndTimeFormat()
    {
        CommunicationBase log;
        QVERIFY(log.showTimestamp() && log.autoScroll() && !log.hexDisplay());
        QCOMPARE(log.encoding(), "UTF-8");
        QCOMPARE(CommunicationBase::supportedEncodings(), QStringList({"UTF-8", "ASCII", "GBK", "GB2312", "Unicode"}));

        LogEntry entry(QStringLiteral("x"));
        entry.timestamp = QDateTime(QDate(2024, 5, 1), QTime(9, 5, 3, 42));
        QCOMPARE(entry.timeString(), "09:05:03.042");
        entry.timestamp.setTime(QTime(13, 7, 0, 5));
        QCOMPARE(entry.timeString(), "13:07:00.005");
    }

    void loggingAnnouncesEntriesThenCounters()
    {
        CommunicationBase log;
        // Every signal in one list, so that the order across signals shows, with the counters
        // as they stood at emission.
        QStringList events;
        connect(&log, &CommunicationBase::logEntryAdded, this,
                [&events](const LogEntry& e) { events << "added " + e.directionTag() + ' ' + e.text; });
        connect(&log, &CommunicationBase::logCleared, this, [&events] { events << "cleared"; });
        connect(&log, &CommunicationBase::countersUpdated, this, [&events, &log] {
            events << QStringLiteral("counters %1/%2").arg(log.txBytes()).arg(log.rxBytes());
        });
        const QDateTime before = QDateTime::currentDateTime();
        log.logSentData("Hello");
        log.logReceivedData("中");
        log.logSentData(QByteArray()); // changes no counter, yet announces them
        log.logSystemMessage("已连接");  // its own hex text, no data, no counters
        QStringList stored;
        for (const LogEntry& e : log.entries()) {
            stored << QStringLiteral("%1|%2|%3").arg(e.direction).arg(QString::fromLatin1(e.data.toHex()), e.hexText);
            QVERIFY(e.timestamp >= before && e.timestamp <= QDateTime::currentDateTime());
        }
        QCOMPARE(stored, QStringList({"0|48656c6c6f|48 65 6C 6C 6F", "1|e4b8ad|E4 B8 AD", "0||", "2||已连接"}));

        // Clearing keeps the counters, resetting them keeps the entries.
        log.clearLog();
        log.logSentData("f");
        log.resetCounters();
        QCOMPARE(log.entryCount(), 1);
        QCOMPARE(events, QStringList({"added [TX] Hello", "counters 5/0", "added [RX] 中", "counters 5/3",
                                               "added [TX] ", "counters 5/3", "added [SYS] 已连接", "cleared",
                                               "added [TX] f", "counters 6/3", "counters 0/0"}));
    }

    void receiverMayCallBackIn()
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

    void trimming_data()
    {
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("logged");
        QTest::addColumn<QStringList>("kept");

        QTest::newRow("cap 1") << 1 << 3 << QStringList({"m2"});
        QTest::newRow("exactly at cap") << 3 << 3 << QStringList({"m0", "m1", "m2"});
        QTest::newRow("cap 0 keeps all") << 0 << 3 << QStringList({"m0", "m1", "m2"});
        QTest::newRow("negative cap keeps all") << -5 << 2 << QStringList({"m0", "m1"});
    }

    void trimming()
    {
        QFETCH(int, cap);
        QFETCH(int, logged);
        QFETCH(QStringList, kept);

        CappedLog log;
        log.cap = cap;
        for (int i = 0; i < logged; ++i)
            log.logSystemMessage(QStringLiteral("m%1").arg(i));
        QCOMPARE(texts(log), kept);
    }

    void defaultCapDropsOldest()
    {
        CommunicationBase log;
        for (int i = 0; i <= 100000; ++i)
            log.logSystemMessage(QString::number(i));
        const QList<LogEntry> entries = log.entries();
        QCOMPARE(entries.size(), 100000);
        QCOMPARE(entries.constFirst().text, "1");
        QCOMPARE(entries.constLast().text, "100000");
    }

    void encodingAppliesWhenLoggedAndSent()
    {
        CommunicationBase log;
        QCOMPARE(log.encodeText("中"), QByteArray("中"));
        log.setEncoding("Unicode");
        QCOMPARE(log.encodeText("中"), QByteArray::fromHex("2D4E"));

        // An entry keeps the text of the encoding it was logged under.
        log.setEncoding("ASCII");
        log.logReceivedData(QByteArray::fromHex("C4E3"));
        log.setEncoding("UTF-8");
        log.logReceivedData(QByteArray::fromHex("C4E3"));
        QCOMPARE(texts(log), QStringList({"Äã", QString(2, QChar(0xFFFD))}));
    }

    void writeLogFile_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("csv");
        QTest::addColumn<QString>("expected"); // %1..%4: the entries' times

        QTest::newRow("text hex") << true << false
                                  << "%1 [TX] 73 61 79 20 22 68 69 22\n%2 [RX] 61 2C 62 0A 63\n"
                                     "%3 [SYS] 已导出\n%4 [RX] E4 B8 AD\n";
        QTest::newRow("csv") << false << true
                             << "Timestamp,Direction,Data\n\"%1\",\"[TX]\",\"say \"\"hi\"\"\"\n"
                                "\"%2\",\"[RX]\",\"a,b\nc\"\n\"%3\",\"[SYS]\",\"已导出\"\n\"%4\",\"[RX]\",\"中\"\n";
    }

    void writeLogFile()
    {
        QFETCH(bool, hex);
        QFETCH(bool, csv);
        QFETCH(QString, expected);

        CommunicationBase log;
        log.logSentData("say \"hi\"");
        log.logReceivedData("a,b\nc");
        log.logSystemMessage("已导出");
        log.logReceivedData("中");
        // The file format takes hex from its argument, not from the display setting.
        log.setHexDisplay(!hex);

        // A longer earlier file must be replaced, not overwritten in place.
        QTemporaryDir dir;
        QFile old(dir.filePath("log.out"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(4096, 'x')) == 4096);
        old.close();
        QVERIFY(log.writeLogFile(old.fileName(), hex, csv));
        QStringList times;
        for (const LogEntry& entry : log.entries())
            times << entry.timeString();
        // Exact bytes: UTF-8 without a byte-order mark, line feeds as written.
        QCOMPARE(readAll(old.fileName()), expected.arg(times[0], times[1], times[2], times[3]).toUtf8());
    }

    void writeEmptyLogOrToUnopenablePath()
    {
        CommunicationBase log;
        QTemporaryDir dir;
        QVERIFY(log.writeLogFile(dir.filePath("empty.txt"), false, false));
        QCOMPARE(readAll(dir.filePath("empty.txt")), QByteArray());
        QVERIFY(log.writeLogFile(dir.filePath("empty.csv"), false, true));
        QCOMPARE(readAll(dir.filePath("empty.csv")), QByteArray("Timestamp,Direction,Data\n"));

        log.logSystemMessage("kept");
        QVERIFY(!log.writeLogFile(dir.filePath("no/such/dir/log.txt"), false, false));
        QVERIFY(!QFile::exists(dir.filePath("no/such/dir/log.txt")));
        QVERIFY(!log.writeLogFile(dir.path(), false, true)); // a directory, not a file
        // The lock must be released after a failed open.
        log.logSystemMessage("after");
        QCOMPARE(texts(log), QStringList({"kept", "after"}));
    }
};

QTEST_GUILESS_MAIN(TestCommunicationBase)
#include "tst_communicationbase.moc"

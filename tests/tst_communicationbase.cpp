// Guards the log model: entries announced before their counters, clearing that keeps the
// counters; receivers that call back in (signals after the lock); the entry cap is
// checked with the view's; text decoded with the encoding of the moment; the
// exact bytes of text, hex and CSV export (a payload's line breaks indented in the text
// form, so that no payload can forge entries) and the refusal of paths that cannot be
// written, a full disk included; displayChanged firing only on a real change (each one
// re-renders every row of the view); and the byte budget: the oldest entries go past it,
// a payload longer than an entry's share is kept cut at a character boundary with a
// marker giving its full size, and counted in full.

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "CommunicationBase.h"
#include "LogEntry.h"

namespace {

// A budget of 6,400 bytes: a 64th of it, 100 bytes, is what one entry keeps.
struct SmallBudget : CommunicationBase
{
    qint64 maxBytes() const override { return 6400; }
};

} // namespace

class TestCommunicationBase : public QObject
{
    Q_OBJECT

private slots:
    void signalsAndCounters()
    {
        CommunicationBase log;
        QStringList events;
        connect(&log, &CommunicationBase::logEntryAdded, this,
                [&events](const LogEntry& e) { events << e.directionTag() + ' ' + e.text() + '|' + e.hexText(); });
        connect(&log, &CommunicationBase::logCleared, this, [&events] { events << "cleared"; });
        connect(&log, &CommunicationBase::countersUpdated, this,
                [&] { events << QStringLiteral("%1/%2").arg(log.txBytes()).arg(log.rxBytes()); });
        log.logSentData("Hi");
        log.logReceivedData("中");
        log.logSystemMessage("已连接"); // its text is its hex form; no counters
        log.clearLog();
        log.logSentData(QByteArray()); // counts nothing, yet announces the counters
        log.resetCounters();
        QCOMPARE(events, QStringList({"[TX] Hi|48 69", "2/0", "[RX] 中|E4 B8 AD", "2/3", "[SYS] 已连接|已连接",
                                      "cleared", "[TX] |", "2/3", "0/0"}));
        // Signals go out after the entry lock is released; otherwise this would deadlock.
        connect(&log, &CommunicationBase::logEntryAdded, &log, &CommunicationBase::clearLog);
        log.logReceivedData("x");
        QCOMPARE(log.entryCount(), 0);

        QSignalSpy display(&log, &CommunicationBase::displayChanged);
        log.setHexDisplay(true);
        log.setHexDisplay(true);
        log.setShowTimestamp(false);
        log.setAutoScroll(false);
        QCOMPARE(display.size(), 2);
    }

    void encodingOfTheMoment()
    {
        // An entry keeps the text of the encoding it was logged under.
        CommunicationBase log;
        log.setEncoding("ASCII");
        log.logReceivedData(QByteArray::fromHex("C4E3"));
        log.setEncoding("UTF-8");
        log.logReceivedData(QByteArray::fromHex("C4E3"));
        QCOMPARE(log.entries().at(0).text() + '|' + log.entries().at(1).text(), "Äã|\uFFFD\uFFFD");
    }

    void writeLogFile_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("csv");
        QTest::addColumn<QString>("expected"); // %1..%3: the entries' times
        QTest::newRow("text hex") << true << false << "%1 [TX] 73 61 79 20 22 68 69 22\n%2 [RX] 61 2C 62 0A 63\n%3 [SYS] 已导出\n";
        QTest::newRow("text, continuation indented")
            << false << false << "%1 [TX] say \"hi\"\n%2 [RX] a,b\n                  c\n%3 [SYS] 已导出\n";
        QTest::newRow("csv") << false << true
                             << "Timestamp,Direction,Data\n\"%1\",\"[TX]\",\"say \"\"hi\"\"\"\n"
                                "\"%2\",\"[RX]\",\"a,b\nc\"\n\"%3\",\"[SYS]\",\"已导出\"\n";
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
        log.setHexDisplay(!hex); // the format follows its argument, not the display
        QTemporaryDir dir;
        QFile file(dir.filePath("log.out"));
        // A longer earlier file is replaced, not overwritten in place.
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
        file.close();
        QVERIFY(log.writeLogFile(file.fileName(), hex, csv) && file.open(QIODevice::ReadOnly));
        const QList<LogEntry> e = log.entries();
        // Exact bytes: UTF-8 without a byte-order mark, line feeds as written.
        QCOMPARE(file.readAll(), expected.arg(e[0].timeString(), e[1].timeString(), e[2].timeString()).toUtf8());
        QVERIFY(!log.writeLogFile(dir.filePath("no/such/dir/log.txt"), hex, csv));
        QVERIFY(!log.writeLogFile(dir.path(), hex, csv)); // a directory
        QVERIFY(!log.writeLogFile(QStringLiteral("/dev/full"), hex, csv)); // every write fails
        log.logSystemMessage("after"); // the lock is released after a failed open
        QCOMPARE(log.entryCount(), 4);
    }

    void byteBudget_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("english");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QString>("newest");
        const QByteArray chinese = QString(50, QChar(0x4E2D)).toUtf8(); // 150 bytes
        QTest::newRow("oldest go") << 200 << QByteArray(60, 'a') << false << 106 << QString(60, 'a');
        QTest::newRow("cut and marked") << 1 << QByteArray(250, 'b') << false << 1
                                        << QString(100, 'b') + " …[已截断: 共 250 字节, 保留 100 字节]";
        QTest::newRow("whole characters") << 1 << chinese << true << 1
                                          << QString(33, QChar(0x4E2D)) + " …[truncated: 150 bytes in all, 99 kept]";
    }

    void byteBudget()
    {
        QFETCH(int, count);
        QFETCH(QByteArray, payload);
        QFETCH(bool, english);
        QFETCH(int, kept);
        QFETCH(QString, newest);
        SmallBudget log;
        log.setEnglishTexts(english);
        for (int i = 0; i < count; ++i)
            log.logReceivedData(payload);
        const QList<LogEntry> entries = log.entries();
        QCOMPARE(entries.size(), kept);
        QVERIFY(log.byteCount() <= log.maxBytes());
        QCOMPARE(entries.constLast().text(), newest);
        QCOMPARE(log.rxBytes(), qint64(count) * payload.size());
    }
};

QTEST_GUILESS_MAIN(TestCommunicationBase)
#include "tst_communicationbase.moc"

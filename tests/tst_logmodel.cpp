// Guards the log model. The log: entries announced before their counters, clearing that
// keeps the counters; receivers that call back in (signals after the lock); the exact
// bytes of text, hex and CSV export (a payload's line breaks indented in the text form,
// so that no payload can forge entries) and the refusal of paths that cannot be written,
// a full disk included; displayChanged firing only on a real change (each one re-renders
// every row of the view); the byte budget: the oldest entries go past it, a payload
// longer than an entry's share is kept cut at a character boundary with a marker giving
// its full size, and counted in full (the entry cap is checked with the view's).
// Payloads: an encoding rule applied to the wrong name (the names are case-sensitive;
// unknown names fall back to UTF-8), "ASCII" losing high bytes or NUL, "Unicode" with the
// wrong byte order, a byte-order mark or odd last byte mishandled, GBK/GB2312 bytes wrong;
// hex text accepted or parsed wrongly (separators, odd digit counts, non-ASCII digits), or
// written in a form that does not parse back.
// The readable log: which entries a filter lets through (plain text without regard to
// case, regular expressions, an invalid pattern ignored rather than hiding everything,
// directions, the hub method of rendered and raw JSON records, the hex form in hex
// display), JSON indented record by record with text around it and near-JSON left alone,
// the hex dump's layout, and the marks that stand for control characters (fonts draw the
// 0x1E separator as a box).

#include <QFile>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include "CommunicationBase.h"
#include "LogEntry.h"
#include "LogFilter.h"
#include "PayloadCodec.h"
#include "PayloadFormat.h"

Q_DECLARE_METATYPE(LogFilter::Criteria)

using namespace PayloadCodec;

namespace {

// A budget of 6,400 bytes: a 64th of it, 100 bytes, is what one entry keeps.
struct SmallBudget : CommunicationBase
{
    qint64 maxBytes() const override { return 6400; }
};

// Differs: neither way may give the other column (the name must not reach that rule).
enum Way { Both, DecodeOnly, EncodeOnly, Differs };

void row(const char* name, const char* encoding, const QString& text, const char* hex, Way way = Both)
{
    QTest::newRow(name) << QString::fromLatin1(encoding) << text << QByteArray::fromHex(hex) << int(way);
}

} // namespace

class TestLogModel : public QObject
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

    void converts_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("way");
        for (const char* name : {"UTF-8", "ASCII", "GBK", "Unicode", "NoSuchCodec"})
            QTest::addRow("empty, %s", name) << QString::fromLatin1(name) << QString() << QByteArray() << int(Both);
        row("empty name is utf8", "", "中", "E4B8AD");
        row("unknown name is utf8", "NoSuchCodec", "中", "E4B8AD");
        row("utf8 malformed", "UTF-8", QString(2, QChar::ReplacementCharacter), "C4E3", DecodeOnly);
        row("ascii keeps high bytes", "ASCII", "Äã", "C4E3");
        row("ascii keeps nul", "ASCII", QString("a") + QChar(0) + "b", "610062");
        row("ascii cannot hold chinese", "ASCII", "中", "3F", EncodeOnly);
        row("lower-case ascii is the platform's", "ascii", "Äã", "C4E3", Differs);
        // The supported platform is little-endian, which fixes the raw UTF-16 byte order.
        row("unicode", "Unicode", "中A", "2D4E4100");
        row("unicode odd last byte", "Unicode", "A", "410042", DecodeOnly);
        row("unicode le bom", "Unicode", "A", "FFFE4100", DecodeOnly);
        row("unicode be bom", "Unicode", "A", "FEFF0041", DecodeOnly);
        row("lower-case unicode is the platform's", "unicode", "A", "4100", Differs);
        row("gbk", "GBK", "id 中文", "6964 20D6D0CEC4");
        row("gb2312", "GB2312", "中文", "D6D0CEC4");
    }

    void converts()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, way);
        // Where the platform has no such codec the rule falls back to UTF-8 by design.
        if (encoding.startsWith("GB") && !QStringEncoder(encoding.toLatin1().constData()).isValid())
            QSKIP("platform has no codec of this name");
        if (way != EncodeOnly)
            QCOMPARE(decodeBytes(bytes, encoding) == text, way != Differs);
        if (way != DecodeOnly)
            QCOMPARE(encodeString(text, encoding) == bytes, way != Differs);
    }

    void hex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("written"); // the form toHexString writes for these bytes
        QTest::newRow("empty") << "" << false << QByteArray() << true;
        QTest::newRow("written form") << "00 7F AB FF" << true << QByteArray::fromHex("007FABFF") << true;
        QTest::newRow("mixed case, hyphens") << "0a-1B" << true << QByteArray::fromHex("0A1B") << false;
        QTest::newRow("spaced digits") << " 0 A 1 B " << true << QByteArray::fromHex("0A1B") << false;
        QTest::newRow("odd count") << "ABC" << false << QByteArray() << false;
        QTest::newRow("0x prefix") << "0x1F2" << false << QByteArray::fromHex("01F2") << false;
        QTest::newRow("tab and line break") << "AB\tCD\nEF" << false << QByteArray::fromHex("ABCDEF") << false;
        QTest::newRow("letter after F") << "AG" << false << QByteArray() << false;
        QTest::newRow("fullwidth digits") << "１２" << false << QByteArray() << false;
    }

    void hex()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, written);
        QCOMPARE(isValidHexString(text), valid);
        QCOMPARE(parseHexString(text), bytes);
        QCOMPARE(toHexString(bytes) == text, written);
    }

    void matches_data()
    {
        QTest::addColumn<LogFilter::Criteria>("criteria"); // text, regex, TX, RX, SYS, method
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("expected"); // which of the four entries below match
        using C = LogFilter::Criteria;
        QTest::newRow("nothing asked") << C{} << false << "1111";
        QTest::newRow("plain, any case") << C{"HELLO"} << false << "0101";
        QTest::newRow("plain is not a pattern") << C{"v.lue"} << false << "0000";
        QTest::newRow("regex") << C{"^\\[\\w+\\]\\(", true} << false << "0100";
        QTest::newRow("invalid regex ignored") << C{"hel(lo", true} << false << "1111";
        QTest::newRow("directions") << C{"", false, false, true, false} << false << "0110";
        QTest::newRow("rendered call") << C{"", false, true, true, true, "receivemessage"} << false << "0100";
        QTest::newRow("raw json records") << C{"", false, true, true, true, "Tick"} << false << "0010";
        QTest::newRow("rendered send") << C{"", false, true, true, true, "SendMessage"} << false << "0001";
        QTest::newRow("method in text only") << C{"", false, true, true, true, "alice"} << false << "0000";
        QTest::newRow("hex form") << C{"7B 22"} << true << "1010";
    }

    void matches()
    {
        QFETCH(LogFilter::Criteria, criteria);
        QFETCH(bool, hex);
        QFETCH(QString, expected);
        const LogFilter filter(criteria);
        QString matched;
        for (const LogEntry& entry : {LogEntry(LogEntry::TX, "{\"value\":1}", "UTF-8"),
                                      LogEntry(LogEntry::RX, "[ReceiveMessage](alice, hello)", "UTF-8"),
                                      LogEntry(LogEntry::RX, "{\"type\":6}\x1e{\"type\":1,\"target\":\"Tick\",\"arguments\":[]}\x1e", "UTF-8"),
                                      LogEntry(QStringLiteral("[SendMessage] -> Hello"))})
            matched += filter.matches(entry, hex) ? '1' : '0';
        QCOMPARE(matched, expected);
        QCOMPARE(filter.isValid(), QTest::currentDataTag() != QLatin1String("invalid regex ignored"));
        QCOMPARE(filter.isActive(), expected != "1111");
    }

    void formats_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("indented");
        QTest::newRow("records apart") << "{\"a\":1}\x1e[2]\x1e" << "{\n    \"a\": 1\n}\n\n[\n    2\n]";
        QTest::newRow("text around") << "[Tick](now, {\"v\":[1]})" << "[Tick](now,\n{\n    \"v\": [\n        1\n    ]\n}\n)";
        QTest::newRow("not json") << "[Tick](a {b} \"c) [d" << "[Tick](a {b} \"c) [d";
        QTest::newRow("brace in a string") << "{\"s\":\"}\"}" << "{\n    \"s\": \"}\"\n}";
    }

    void formats()
    {
        QFETCH(QString, text);
        QFETCH(QString, indented);
        QCOMPARE(PayloadFormat::indentJson(text), indented);
    }

    void hexDumpAndMarks()
    {
        QCOMPARE(PayloadFormat::hexDump(QByteArray("0123456789abcdef\x1eZ", 18)),
                 "00000000  30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66  0123456789abcdef\n"
                 "00000010  1E 5A" + QString(42, ' ') + "  .Z");
        QString marks;
        for (QChar c : QStringLiteral("a\n\x1e\t\x7f\u0085中"))
            marks += '[' + PayloadFormat::controlMark(c) + ']';
        QCOMPARE(marks, "[][⏎][RS][TAB][DEL][85][]");
    }
};

QTEST_GUILESS_MAIN(TestLogModel)
#include "tst_logmodel.moc"

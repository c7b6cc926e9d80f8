// Guards the pure parts of the readable log: which entries a filter lets through (plain
// text without regard to case, regular expressions, an invalid pattern ignored rather
// than hiding everything, directions, the hub method of rendered and raw JSON records,
// the hex form in hex display), JSON indented record by record with text around it and
// near-JSON left alone, the hex dump's layout, and the marks that stand for control
// characters (fonts draw the 0x1E separator as a box).

#include <QTest>

#include "LogEntry.h"
#include "LogFilter.h"
#include "PayloadFormat.h"

Q_DECLARE_METATYPE(LogFilter::Criteria)

class TestLogFilter : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(TestLogFilter)
#include "tst_logfilter.moc"

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

class TestLogFilter : public QObject
{
    Q_OBJECT

private slots:
    void matches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("regex");
        QTest::addColumn<QString>("directions"); // the ones switched on
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("expected");   // which of the four entries below match
        QTest::newRow("nothing asked") << "" << false << "TRS" << "" << false << "1111";
        QTest::newRow("plain, any case") << "HELLO" << false << "TRS" << "" << false << "0101";
        QTest::newRow("plain is not a pattern") << "v.lue" << false << "TRS" << "" << false << "0000";
        QTest::newRow("regex") << "^\\[\\w+\\]\\(" << true << "TRS" << "" << false << "0100";
        QTest::newRow("invalid regex ignored") << "hel(lo" << true << "TRS" << "" << false << "1111";
        QTest::newRow("directions") << "" << false << "R" << "" << false << "0110";
        QTest::newRow("rendered call") << "" << false << "TRS" << "receivemessage" << false << "0100";
        QTest::newRow("raw json records") << "" << false << "TRS" << "Tick" << false << "0010";
        QTest::newRow("rendered send") << "" << false << "TRS" << "SendMessage" << false << "0001";
        QTest::newRow("method in text only") << "" << false << "TRS" << "alice" << false << "0000";
        QTest::newRow("hex form") << "7B 22" << false << "TRS" << "" << true << "1010";
    }

    void matches()
    {
        QFETCH(QString, text);
        QFETCH(bool, regex);
        QFETCH(QString, directions);
        QFETCH(QString, method);
        QFETCH(bool, hex);
        QFETCH(QString, expected);
        const QList<LogEntry> entries = {
            LogEntry(LogEntry::TX, "{\"value\":1}", "UTF-8"),
            LogEntry(LogEntry::RX, "[ReceiveMessage](alice, hello)", "UTF-8"),
            LogEntry(LogEntry::RX, "{\"type\":6}\x1e{\"type\":1,\"target\":\"Tick\",\"arguments\":[]}\x1e", "UTF-8"),
            LogEntry(QStringLiteral("[SendMessage] -> Hello")),
        };
        const LogFilter filter({text, regex, directions.contains('T'), directions.contains('R'),
                                directions.contains('S'), method});
        QCOMPARE(filter.isValid(), QTest::currentDataTag() != QLatin1String("invalid regex ignored"));
        QString matched;
        for (const LogEntry& entry : entries)
            matched += filter.matches(entry, hex) ? '1' : '0';
        QCOMPARE(matched, expected);
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

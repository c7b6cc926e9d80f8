// The pure parts of the chart panel: numbers taken from received texts, and what a time
// window shows of the stored samples. Faults guarded:
// - a value taken from the wrong place of a line (JSON paths through objects and arrays,
//   regex groups, indexed assignments), text taken for a number, lines split wrongly;
// - a hand-typed expression given the wrong method;
// - rules fed out of order, or more than once per line;
// - a series growing past its cap or dropping the newest samples instead of the oldest;
// - samples outside the window counted in sums or points, samples at its start left out.
#include <QtTest>

#include "ChartRule.h"
#include "ChartSeriesData.h"
#include "SeriesWindow.h"
#include "ValueExtractor.h"

Q_DECLARE_METATYPE(ExtractMethod)

namespace {

constexpr qint64 From = 1'700'000'000'000;

void row(const char* name, const QString& text, ExtractMethod method, const QString& pattern, const QList<double>& values)
{
    QTest::newRow(name) << text << method << pattern << values;
}

} // namespace

class TestChartData : public QObject
{
    Q_OBJECT

private slots:
    void extractsValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ExtractMethod>("method");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QList<double>>("values");

        row("line breaks and blank lines", "25.5\r\n\r\n 7 \r\t\n8\r", RegexCapture, "\\d+\\.?\\d*", {25.5, 7, 8});
        row("first match only", "temp=42 temp=43", RegexCapture, "temp=(\\d+)", {42});
        row("group 1 of two", "3-4", RegexCapture, "(\\d+)-(\\d+)", {3});
        row("group 1 did not take part", "x", RegexCapture, "(\\d+)|(x)", {});
        row("invalid expression", "12", RegexCapture, "(\\d+", {});
        row("json string converted", R"({"d":{"v":"3.5"}})", JsonPath, "d.v", {3.5});
        row("json object is no number", R"({"d":{"v":1}})", JsonPath, "d", {});
        row("json scalar has no members", R"({"x":5})", JsonPath, "x.y", {});
        row("json array index", R"({"a":[10,20,30]})", JsonPath, "a.2", {30});
        row("json root array", R"([{"v":1}])", JsonPath, "0.v", {1});
        row("json numeric key on object", R"({"0":7})", JsonPath, "0", {7});
        row("json true", R"({"on":true})", JsonPath, "on", {1});
        row("json null", R"({"n":null})", JsonPath, "n", {});
        row("json must start the line", R"(x={"x":5})", JsonPath, "x", {});
        row("assignment", "[2] = 7.5", IndexedAssignment, "2", {7.5});
        row("assignment first only", "[1] = 5 [2] = 7", IndexedAssignment, "2", {});
        row("assignment two points", "[2] = 1.2.3", IndexedAssignment, "2", {});
        row("presence", "ERR 17", RegexPresence, "ERR", {1});
    }

    void extractsValues()
    {
        QFETCH(QString, text);
        QFETCH(ExtractMethod, method);
        QFETCH(QString, pattern);
        QFETCH(QList<double>, values);

        QList<double> found;
        feedText(
            text, [&] { return QList<ChartRule>{{QStringLiteral("r"), method, pattern}}; },
            [&found](const ChartRule&, double value) { found.append(value); });
        QCOMPARE(found, values);
    }

    void classifiesExpressions()
    {
        // Dotted paths are JSON paths; anything with regular-expression syntax is a pattern.
        QCOMPARE(methodForExpression("data.value"), JsonPath);
        QCOMPARE(methodForExpression("a-b_c:d=e"), JsonPath);
        for (const QChar c : QStringLiteral("\\[]()|*+?^${}"))
            QVERIFY2(methodForExpression(QStringLiteral("a.b") + c) == RegexCapture, qPrintable(c));
    }

    void everyRuleTakesItsValueInOrder()
    {
        const QList<ChartRule> rules{{"a", RegexCapture, "\\d+"}, {"b", RegexPresence, "x"}, {"c", RegexCapture, "\\d+"}};
        QStringList seen;
        feedText(
            "x 4\ny 5", [&rules] { return rules; },
            [&seen](const ChartRule& rule, double value) { seen.append(rule.name + QString::number(value)); });
        QCOMPARE(seen, (QStringList{"a4", "b1", "c4", "a5", "c5"}));
    }

    void seriesKeepTheNewestAndWindowsStartInclusive()
    {
        constexpr qint64 Count = 3 * ChartSeriesData::MaxSamples;
        ChartSeriesData data;
        for (qint64 i = 0; i < Count; ++i)
            data.append(From + i, double(i));
        QCOMPARE(data.points().size(), ChartSeriesData::MaxSamples);
        QCOMPARE(data.points().first().msecs, From + Count - ChartSeriesData::MaxSamples);
        QCOMPARE(SeriesWindow::sum(data, From + Count - 2), 2.0 * Count - 3);
        QCOMPARE(SeriesWindow::sum(data, From + Count), 0.0);
        QCOMPARE(SeriesWindow::points(data, From + Count - 1), QList<QPointF>({{double(From + Count - 1), double(Count - 1)}}));
    }
};

QTEST_GUILESS_MAIN(TestChartData)
#include "tst_chart_data.moc"

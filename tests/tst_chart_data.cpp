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

        const QString array = QStringLiteral(R"({"a":[10,20,30]})");
        row("line breaks and blank lines", "25.5\r\n\r\n 7 \r\t\n8\r", RegexCapture, "\\d+\\.?\\d*", {25.5, 7, 8});
        row("first match only", "temp=42 temp=43", RegexCapture, "temp=(\\d+)", {42});
        row("group 1 of two", "3-4", RegexCapture, "(\\d+)-(\\d+)", {3});
        row("group 1 did not take part", "x", RegexCapture, "(\\d+)|(x)", {});
        row("invalid expression", "12", RegexCapture, "(\\d+", {});
        row("json string converted", R"({"d":{"v":"3.5"}})", JsonPath, "d.v", {3.5});
        row("json object is no number", R"({"d":{"v":1}})", JsonPath, "d", {});
        row("json scalar has no members", R"({"x":5})", JsonPath, "x.y", {});
        row("json array index", array, JsonPath, "a.2", {30});
        row("json index past end", array, JsonPath, "a.3", {});
        row("json negative index", array, JsonPath, "a.-1", {});
        row("json root array", R"([{"v":1}])", JsonPath, "0.v", {1});
        row("json numeric key on object", R"({"0":7})", JsonPath, "0", {7});
        row("json true", R"({"on":true})", JsonPath, "on", {1});
        row("json null", R"({"n":null})", JsonPath, "n", {});
        row("json must start the line", R"(x={"x":5})", JsonPath, "x", {});
        row("json parse error", R"({"x":5)", JsonPath, "x", {});
        row("assignment", "[2] = 7.5", IndexedAssignment, "2", {7.5});
        row("assignment first only", "[1] = 5 [2] = 7", IndexedAssignment, "2", {});
        row("assignment negative", "[2]=-3", IndexedAssignment, "2", {-3});
        row("assignment index not a number", "[2] = 7.5", IndexedAssignment, "two", {});
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

    void classifiesExpressions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<ExtractMethod>("method");

        QTest::newRow("dotted path") << "data.value" << JsonPath;
        QTest::newRow("other punctuation") << "a-b_c:d=e" << JsonPath;
        QTest::newRow("escaped dot") << "data\\.value" << RegexCapture;
        for (const QChar c : QStringLiteral("\\[]()|*+?^${}"))
            QTest::addRow("contains %c", c.toLatin1()) << QStringLiteral("a") + c << RegexCapture;
    }

    void classifiesExpressions()
    {
        QFETCH(QString, expression);
        QFETCH(ExtractMethod, method);
        QCOMPARE(methodForExpression(expression), method);
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

    void seriesKeepTheNewestSamples()
    {
        ChartSeriesData data;
        for (int i = 0; i < 3 * ChartSeriesData::MaxSamples; ++i)
            data.append(i, i);
        QCOMPARE(data.points().size(), ChartSeriesData::MaxSamples);
        QCOMPARE(data.points().first().msecs, 2 * ChartSeriesData::MaxSamples);
        QCOMPARE(data.points().last().value, 3.0 * ChartSeriesData::MaxSamples - 1);
    }

    void windowSumsAndPoints()
    {
        ChartSeriesData data;
        for (const auto& [msecs, value] : QList<QPair<qint64, double>>{{From - 1, 100}, {From, 2}, {From + 1000, 3.5}})
            data.append(msecs, value);
        QCOMPARE(SeriesWindow::sum(data, From), 5.5);
        QCOMPARE(SeriesWindow::sum(data, From + 1001), 0.0);
        QCOMPARE(SeriesWindow::points(data, From), (QList<QPointF>{{double(From), 2}, {double(From + 1000), 3.5}}));
    }
};

QTEST_GUILESS_MAIN(TestChartData)
#include "tst_chart_data.moc"

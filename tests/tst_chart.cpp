// The chart panel. Its pure parts, numbers taken from received texts and what a time
// window shows of the stored samples, against:
// - a value taken from the wrong place of a line (JSON paths through objects and arrays,
//   regex groups, indexed assignments), text taken for a number, lines split wrongly;
// - a hand-typed expression given the wrong method;
// - rules fed out of order, or more than once per line;
// - a series growing past its cap or dropping the newest samples instead of the oldest;
// - samples outside the window counted in sums or points, samples at its start left out.
// The panel as the user drives it (ChartEngine on Qt Charts), against:
// - blank rules accepted, a rule feeding the wrong series, values lost while the chart is
//   switched off;
// - a template leaving earlier rules behind (values counted twice), or setting the wrong
//   rules or chart type;
// - a chart type change piling up series or axes, series not attached to the axes (an
//   invisible line), points missing from the drawn series;
// - a time axis that stands still while no value arrives; bars and slices, and the axis,
//   not fitting the window's sums; clearing dropping rules;
// - the batched feed (ChartFeed): a rule that backtracks badly stalling the window
//   instead of being paused once, a fast rule paused with it or losing values, and a
//   backlog left running (or dropped without a word) at "断开".
#include <QtCharts>
#include <QtTest>

#include <memory>

#include "ChartEngine.h"
#include "ChartFeed.h"
#include "ChartRule.h"
#include "ChartSeriesData.h"
#include "CommunicationBase.h"
#include "LogLines.h"
#include "SeriesWindow.h"
#include "ValueExtractor.h"

Q_DECLARE_METATYPE(ExtractMethod)

namespace {

constexpr qint64 From = 1'700'000'000'000;

void row(const char* name, const QString& text, ExtractMethod method, const QString& pattern, const QList<double>& values)
{
    QTest::newRow(name) << text << method << pattern << values;
}

template<typename T>
T* child(const ChartEngine& engine, const char* name)
{
    return engine.panel->findChild<T*>(QLatin1String(name));
}

QStringList listItems(const ChartEngine& engine)
{
    QStringList items;
    for (const QListWidgetItem* item : child<QListWidget>(engine, "ruleList")->findItems({}, Qt::MatchContains))
        items.append(item->text());
    return items;
}

QList<double> valueRange(const ChartEngine& engine)
{
    auto* axis = qobject_cast<QValueAxis*>(engine.chart()->axes(Qt::Vertical).value(0));
    return {axis->min(), axis->max()};
}

} // namespace

class TestChart : public QObject
{
    Q_OBJECT

    std::unique_ptr<ChartEngine> m_engine;

private slots:
    void init() { m_engine = std::make_unique<ChartEngine>(); }
    void cleanup() { m_engine.reset(); }

    void rulesFeedSeriesByName()
    {
        m_engine->addRule("  ", "\\d+");
        m_engine->addRule("t", " \t");
        QVERIFY(m_engine->rules().isEmpty() && m_engine->series().isEmpty());
        // A refused rule leaves the fields as typed.
        QCOMPARE(child<QLineEdit>(*m_engine, "ruleExprEdit")->text(), " \t");

        m_engine->addRule(" t ", " temp=(\\d+) ");
        QCOMPARE(listItems(*m_engine), QStringList{"t = temp=(\\d+)"});
        // Rules of the same name both feed the first series of that name, also while the
        // chart is switched off.
        m_engine->addRule("t", "\\d+");
        auto* enable = child<QCheckBox>(*m_engine, "enableCheck");
        enable->setChecked(true);
        enable->setChecked(false);
        QVERIFY(m_engine->chartView->isHidden());
        feedChartText(*m_engine, "temp=4");
        QCOMPARE(m_engine->series().at(0)->points().size(), 2);
        QVERIFY(m_engine->series().at(1)->points().isEmpty());
        enable->setChecked(true);
        child<QPushButton>(*m_engine, "clearButton")->click(); // drops the values, not the rules
        QVERIFY(m_engine->rules().size() == 2 && m_engine->series().at(0)->points().isEmpty());
    }

    void templatesReplaceRules()
    {
        // Rules from before, typed and from other templates, go: none is left to count a
        // value twice.
        m_engine->addRule("A", "\\d+");
        auto* templates = child<QComboBox>(*m_engine, "templateCombo");
        for (int index : {3, 4, 3})
            templates->setCurrentIndex(index);
        QCOMPARE(listItems(*m_engine), (QStringList{"A = \\d+", "B = \\d+"}));
        feedChartText(*m_engine, "12");
        for (const ChartSeriesData* data : m_engine->series())
            QCOMPARE(data->points().size(), 1);
        // The custom template clears the rules and keeps the chart type.
        templates->setCurrentIndex(0);
        QVERIFY(m_engine->rules().isEmpty() && m_engine->series().isEmpty() && listItems(*m_engine).isEmpty());
        QCOMPARE(m_engine->chartType(), ChartEngine::Pie);
    }

    void rebuildsEveryChartType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("series");
        QTest::addColumn<int>("axes");

        QTest::newRow("area") << 3 << "QAreaSeries QAreaSeries" << 2;
        QTest::newRow("bar") << 4 << "QBarSeries" << 2;
        QTest::newRow("pie") << 5 << "QPieSeries" << 0;
        QTest::newRow("unknown is line") << 42 << "QLineSeries QLineSeries" << 2;
    }

    void rebuildsEveryChartType()
    {
        QFETCH(int, type);
        QFETCH(QString, series);
        QFETCH(int, axes);

        m_engine->addRule("a", "a=(\\d+)");
        m_engine->addRule("b", "b=(\\d+)");
        // A second rebuild must not pile up series or axes.
        m_engine->onChartTypeChanged(ChartEngine::Bar);
        m_engine->onChartTypeChanged(type);
        feedChartText(*m_engine, "a=1 b=2\na=3");

        // Drawn series take the stored series in order; an area through its upper line.
        QStringList classes, counts;
        for (QAbstractSeries* shown : m_engine->chart()->series()) {
            classes << shown->metaObject()->className();
            QCOMPARE(shown->attachedAxes().size(), axes);
            auto* area = qobject_cast<QAreaSeries*>(shown);
            if (auto* xy = area ? area->upperSeries() : qobject_cast<QXYSeries*>(shown))
                counts << QString::number(xy->count());
        }
        QCOMPARE(classes.join(' '), series);
        QCOMPARE(m_engine->chart()->axes().size(), axes);
        QCOMPARE(counts, series.contains(' ') ? QStringList({"2", "1"}) : QStringList());
    }

    void timeAxisFollowsTheClock()
    {
        m_engine->addRule("t", "\\d+");
        child<QSpinBox>(*m_engine, "timeWindowSpin")->setValue(5);
        m_engine->series().first()->append(QDateTime::currentMSecsSinceEpoch() - 4700, 1);
        m_engine->show();
        child<QCheckBox>(*m_engine, "enableCheck")->setChecked(true);
        auto* series = qobject_cast<QXYSeries*>(m_engine->chart()->series().value(0));
        auto* axis = qobject_cast<QDateTimeAxis*>(m_engine->chart()->axes(Qt::Horizontal).value(0));
        QCOMPARE(series->count(), 1);
        const QDateTime end = axis->max();
        // No value arrives, yet the time axis moves on and the old value slides out.
        QTRY_VERIFY(axis->max() > end);
        QTRY_COMPARE(series->count(), 0);
    }

    void barsAndSlicesShowWindowSums()
    {
        child<QComboBox>(*m_engine, "templateCombo")->setCurrentIndex(4);
        m_engine->addRule("idle", "idle=(\\d+)");
        feedChartText(*m_engine, "a 3\nb 4");
        auto* bars = qobject_cast<QBarSeries*>(m_engine->chart()->series().value(0));
        QCOMPARE(bars->count(), 2);
        QCOMPARE(bars->barSets().at(0)->at(0), 7.0);
        QCOMPARE(bars->barSets().at(1)->at(0), 0.0);
        // The axis fits the sums that the bars show, so the tallest bar is never cut off.
        QCOMPARE(valueRange(*m_engine), (QList<double>{0.0, 7.0 + 0.7}));

        child<QComboBox>(*m_engine, "chartTypeCombo")->setCurrentIndex(ChartEngine::Pie);
        feedChartText(*m_engine, "5");
        auto* pie = qobject_cast<QPieSeries*>(m_engine->chart()->series().value(0));
        QCOMPARE(pie->count(), 2);
        QCOMPARE(pie->slices().at(0)->value(), 12.0);
        QCOMPARE(pie->slices().at(1)->value(), 0.0);
        QCOMPARE(pie->slices().at(0)->label(), QStringLiteral("频率 100.0%"));
    }

    void slowRulesArePaused()
    {
        constexpr int Lines = 60;
        CommunicationBase log;
        ChartFeed feed(m_engine.get(), &log);
        m_engine->addRule("slow", "(a+)+$");
        m_engine->addRule("n", "(\\d+)");
        for (int i = 0; i < Lines; ++i)
            feed.enqueue(QString(24, 'a') + "! 7");
        // Only the rule that backtracks is paused, once; the fast one keeps every value.
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->series().at(1)->points().size(), Lines, 20000);
        QCOMPARE(logLines(&log).filter(QStringLiteral("提取太慢")).size(), 1);
        QVERIFY(logLines(&log).first().startsWith(QStringLiteral("SYS 图表规则 slow ((a+)+$) 提取太慢")));

        // "断开" forgets what waits, in one entry.
        for (int i = 0; i < 3; ++i)
            feed.enqueue("5");
        feed.dropBacklog();
        feed.dropBacklog();
        QCOMPARE(logLines(&log).filter(QStringLiteral("SYS 已丢弃")), QStringList{"SYS 已丢弃 3 条尚未绘入图表的记录"});
        QCoreApplication::processEvents();
        QCOMPARE(m_engine->series().at(1)->points().size(), Lines);
    }

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

QTEST_MAIN(TestChart)
#include "tst_chart.moc"

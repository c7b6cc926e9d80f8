// The chart panel as the user drives it (ChartEngine on Qt Charts). Faults guarded:
// - blank rules accepted, a rule feeding the wrong series, values lost while the chart is
//   switched off;
// - a template leaving earlier rules behind (values counted twice), or setting the wrong
//   rules or chart type;
// - a chart type change piling up series or axes, series not attached to the axes (an
//   invisible line), points missing from the drawn series;
// - a time axis that stands still while no value arrives (which samples a window holds:
//   tst_chart_data); bars and slices, and the axis, not fitting the window's sums;
//   clearing dropping rules;
// - the batched feed (ChartFeed): a rule that backtracks badly stalling the window
//   instead of being paused once, a fast rule paused with it or losing values, and a
//   backlog left running (or dropped without a word) at "断开".
#include <QtCharts>
#include <QtTest>

#include <memory>

#include "ChartEngine.h"
#include "ChartFeed.h"
#include "ChartSeriesData.h"
#include "CommunicationBase.h"
#include "LogLines.h"
#include "ValueExtractor.h"

namespace {

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

class TestChartView : public QObject
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
};

QTEST_MAIN(TestChartView)
#include "tst_chart_view.moc"

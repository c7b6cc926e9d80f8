#include <QtCharts>
#include <QtTest>

#include <memory>

#include "ChartEngine.h"
#include "ChartSeriesData.h"
#include "ValueExtractor.h"

namespace {

template<typename T>
T* child(const ChartEngine& engine, const char* name)
{
    return engine.panel->findChild<T*>(QLatin1String(name));
}

void addRule(ChartEngine& engine, const QString& name, const QString& expression)
{
    child<QLineEdit>(engine, "ruleNameEdit")->setText(name);
    child<QLineEdit>(engine, "ruleExprEdit")->setText(expression);
    engine.onAddRule();
}

QStringList listItems(const ChartEngine& engine)
{
    QStringList items;
    auto* list = child<QListWidget>(engine, "ruleList");
    for (int i = 0; i < list->count(); ++i)
        items.append(list->item(i)->text());
    return items;
}

QPair<double, double> valueRange(const ChartEngine& engine)
{
    auto* axis = qobject_cast<QValueAxis*>(engine.chart()->axes(Qt::Vertical).value(0));
    return axis ? qMakePair(axis->min(), axis->max()) : qMakePair(qQNaN(), qQNaN());
}

template<typename T>
T* shownSeries(const ChartEngine& engine)
{
    return qobject_cast<T*>(engine.chart()->series().value(0));
}

} // namespace

class TestChartEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<ChartEngine> engine;

private slots:
    void init() { engine = std::make_unique<ChartEngine>(); }
    void cleanup() { engine.reset(); }

    void enableSwitchOnlyShowsAndHides()
    {
        auto* check = child<QCheckBox>(*engine, "enableCheck");
        auto* addButton = child<QPushButton>(*engine, "addRuleButton");
        QVERIFY(!check->isChecked() && engine->chartView->isHidden() && !addButton->isEnabled());
        check->setChecked(true);
        QVERIFY(addButton->isEnabled() && !engine->chartView->isHidden());

        // Values keep being stored while the chart is off.
        check->setChecked(false);
        QVERIFY(engine->chartView->isHidden());
        addRule(*engine, "t", "\\d+");
        feedChartText(*engine, "5");
        QCOMPARE(engine->series().first()->points().size(), 1);
    }

    void timeAxisFollowsTheClock()
    {
        addRule(*engine, "t", "\\d+");
        child<QSpinBox>(*engine, "timeWindowSpin")->setValue(5);
        engine->series().first()->append(QDateTime::currentMSecsSinceEpoch() - 4700, 1);
        engine->show();
        child<QCheckBox>(*engine, "enableCheck")->setChecked(true);
        auto* series = shownSeries<QXYSeries>(*engine);
        auto* axis = qobject_cast<QDateTimeAxis*>(engine->chart()->axes(Qt::Horizontal).value(0));
        QCOMPARE(series->count(), 1);
        const QDateTime end = axis->max();
        // No value arrives, yet the axis moves on and the old value slides out.
        QTRY_VERIFY(axis->max() > end);
        QTRY_COMPARE(series->count(), 0);
        QCOMPARE(engine->chart()->animationOptions(), QChart::NoAnimation);
    }

    void addsTrimmedRulesFeedingSeriesByName()
    {
        addRule(*engine, "  ", "\\d+");
        addRule(*engine, "t", " \t");
        QVERIFY(engine->rules().isEmpty() && engine->series().isEmpty() && listItems(*engine).isEmpty());
        // A refused rule leaves the fields as typed.
        QCOMPARE(child<QLineEdit>(*engine, "ruleExprEdit")->text(), " \t");

        addRule(*engine, " t ", " temp=(\\d+) ");
        QCOMPARE(engine->rules().size(), 1);
        const ChartRule rule = engine->rules().first();
        QCOMPARE(QStringList({rule.name, rule.pattern}), QStringList({"t", "temp=(\\d+)"}));
        QCOMPARE(rule.method, RegexCapture);
        QCOMPARE(listItems(*engine), QStringList{"t = temp=(\\d+)"});
        QCOMPARE(engine->series().first()->name(), "t");
        QVERIFY(child<QLineEdit>(*engine, "ruleNameEdit")->text().isEmpty());
        QVERIFY(child<QLineEdit>(*engine, "ruleExprEdit")->text().isEmpty());

        // Rules of the same name both feed the first series of that name.
        addRule(*engine, "t", "\\d+");
        feedChartText(*engine, "temp=4");
        QCOMPARE(engine->series().at(0)->points().size(), 2);
        QVERIFY(engine->series().at(1)->points().isEmpty());
        QCOMPARE(engine->chart()->series().size(), 2);
    }

    void huesCycleEverySixSeries()
    {
        QList<QColor> colours, expected;
        for (int hue : {0, 60, 120, 180, 240, 300, 0}) {
            addRule(*engine, QStringLiteral("s%1").arg(colours.size()), "x");
            colours.append(engine->series().last()->color());
            expected.append(QColor::fromHsv(hue, 200, 220, 255));
        }
        QCOMPARE(colours, expected);
    }

    void templatesSetRulesAndType_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("type");

        QTest::newRow("custom keeps the type") << 0 << QStringList{} << int(ChartEngine::Bar);
        QTest::newRow("temperature line") << 1 << QStringList{"数值 = \\d+\\.?\\d*"} << int(ChartEngine::Line);
        QTest::newRow("json fields") << 2 << QStringList{"field1 = field1", "field2 = field2"} << int(ChartEngine::Line);
        QTest::newRow("pie") << 3 << QStringList{"A = \\d+", "B = \\d+"} << int(ChartEngine::Pie);
    }

    void templatesSetRulesAndType()
    {
        QFETCH(int, index);
        QFETCH(QStringList, items);
        QFETCH(int, type);

        // Rules from before (typed and from another template) are replaced.
        addRule(*engine, "old", "\\d+");
        child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(4);
        QCOMPARE(engine->chartType(), ChartEngine::Bar);
        child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(index);

        QCOMPARE(listItems(*engine), items);
        QStringList rules;
        for (const ChartRule& rule : engine->rules())
            rules << rule.name + " = " + rule.pattern;
        QCOMPARE(rules, items);
        QCOMPARE(engine->series().size(), items.size());
        QCOMPARE(int(engine->chartType()), type);
        QCOMPARE(child<QComboBox>(*engine, "chartTypeCombo")->currentIndex(), type);
    }

    void templateSwitchesLeaveOnlyVisibleRules()
    {
        for (int index : {3, 4, 3})
            child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(index);
        QCOMPARE(listItems(*engine), (QStringList{"A = \\d+", "B = \\d+"}));
        QCOMPARE(engine->rules().size(), 2);

        // Each rule extracts once: no rule left behind by an earlier template counts twice.
        feedChartText(*engine, "load 12 of 40");
        auto* pie = shownSeries<QPieSeries>(*engine);
        QCOMPARE(pie->count(), 2);
        for (int k = 0; k < 2; ++k) {
            QCOMPARE(engine->series().at(k)->points().size(), 1);
            QCOMPARE(pie->slices().at(k)->value(), 12.0);
        }
    }

    void rebuildsEveryChartType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("series");
        QTest::addColumn<int>("axes");

        QTest::newRow("line") << 0 << "QLineSeries QLineSeries" << 2;
        QTest::newRow("spline") << 1 << "QSplineSeries QSplineSeries" << 2;
        QTest::newRow("scatter") << 2 << "QScatterSeries QScatterSeries" << 2;
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

        addRule(*engine, "a", "a=(\\d+)");
        addRule(*engine, "b", "b=(\\d+)");
        // A second rebuild must not pile up series or axes.
        engine->onChartTypeChanged(ChartEngine::Bar);
        engine->onChartTypeChanged(type);
        feedChartText(*engine, "a=1 b=2\na=3");

        // Drawn series take the stored series in order; an area through its upper line.
        QStringList classes, counts;
        for (QAbstractSeries* shown : engine->chart()->series()) {
            classes.append(QString::fromLatin1(shown->metaObject()->className()));
            auto* xy = qobject_cast<QXYSeries*>(shown);
            if (auto* area = qobject_cast<QAreaSeries*>(shown))
                xy = area->upperSeries();
            if (xy)
                counts.append(QString::number(xy->count()));
        }
        QCOMPARE(classes.join(' '), series);
        QCOMPARE(engine->chart()->axes().size(), axes);
        QCOMPARE(engine->chart()->theme(), QChart::ChartThemeDark);
        QCOMPARE(counts, series.contains(' ') ? QStringList({"2", "1"}) : QStringList());
    }

    void valueAxisFitsWindowedSamples()
    {
        QCOMPARE(valueRange(*engine), qMakePair(-10.0, 110.0));
        addRule(*engine, "t", "\\d+");
        // A value for a name without a series is dropped, yet refreshes.
        engine->appendValue(ChartRule{"nobody", RegexCapture, "\\d+"}, 50);
        QCOMPARE(valueRange(*engine), qMakePair(-10.0, 110.0));

        // A sample two minutes old lies outside the default window but stays stored.
        engine->series().first()->append(QDateTime::currentMSecsSinceEpoch() - 120000, 5);
        engine->refresh();
        QCOMPARE(valueRange(*engine), qMakePair(-10.0, 110.0));
        child<QSpinBox>(*engine, "timeWindowSpin")->setValue(300);
        QCOMPARE(engine->timeWindowSecs(), 300);
        QCOMPARE(valueRange(*engine), qMakePair(4.0, 6.0));
    }

    void barsAndSlicesShowWindowSums()
    {
        child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(4);
        addRule(*engine, "idle", "idle=(\\d+)");
        feedChartText(*engine, "a 3\nb 4");
        auto* bars = shownSeries<QBarSeries>(*engine);
        QCOMPARE(bars->count(), 2);
        QCOMPARE(bars->barSets().at(0)->label(), "频率");
        QCOMPARE(bars->barSets().at(0)->at(0), 7.0);
        QCOMPARE(bars->barSets().at(1)->at(0), 0.0);
        // The axis fits the plain values, not the sums.
        QCOMPARE(valueRange(*engine), qMakePair(3.0 - 1.1, 4.0 + 1.1));

        child<QComboBox>(*engine, "chartTypeCombo")->setCurrentIndex(ChartEngine::Pie);
        feedChartText(*engine, "5");
        auto* pie = shownSeries<QPieSeries>(*engine);
        QCOMPARE(pie->count(), 2);
        QCOMPARE(pie->slices().at(0)->label(), "频率");
        QCOMPARE(pie->slices().at(0)->value(), 12.0);
        QCOMPARE(pie->slices().at(1)->value(), 0.0);
    }

    void clearKeepsRulesAndAnalysisAddsAtMostFive()
    {
        child<QCheckBox>(*engine, "enableCheck")->setChecked(true);
        addRule(*engine, "t", "\\d+");
        feedChartText(*engine, "1\n2");
        child<QPushButton>(*engine, "clearButton")->click();
        QCOMPARE(engine->rules().size(), 1);
        QVERIFY(engine->series().first()->points().isEmpty());
        QCOMPARE(shownSeries<QXYSeries>(*engine)->count(), 0);

        // Without a provider nothing happens; an empty answer is reported in the list.
        engine->onAnalyzeData();
        QCOMPARE(listItems(*engine), QStringList{"t = \\d+"});
        engine->setAnalysisProvider([] { return QList<ChartSeriesData*>{}; });
        engine->onAnalyzeData();
        QCOMPARE(listItems(*engine).last(), "未发现可用数值 — 请检查数据");
        engine->setAnalysisProvider([] {
            QList<ChartSeriesData*> found;
            for (int i = 0; i < 6; ++i)
                found.append(new ChartSeriesData(QStringLiteral("v%1").arg(i), Qt::red));
            return found;
        });
        child<QPushButton>(*engine, "analyzeButton")->click();
        QCOMPARE(listItems(*engine).mid(2), (QStringList{"v0", "v1", "v2", "v3", "v4"}));
        QCOMPARE(engine->chart()->series().size(), 6);
    }

    void drawsChart()
    {
        addRule(*engine, "t", "\\d+");
        engine->chart()->setAnimationOptions(QChart::NoAnimation);
        // As in the window, the view lives on a page of its own.
        QWidget page;
        (new QVBoxLayout(&page))->addWidget(engine->chartView);
        engine->chartView->show();
        page.resize(480, 320);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 3; ++i)
            engine->series().first()->append(now - 40000 + i * 20000, (i * 40) % 100 + 10);
        engine->refresh();

        // The theme picks the line's colour; the plot (not only the legend marker) must show it.
        const QColor line = shownSeries<QXYSeries>(*engine)->pen().color();
        const QImage image = engine->chartView->grab().toImage();
        const QRect plot = engine->chart()->plotArea().toRect().adjusted(3, 3, -3, -3);
        int linePixels = 0;
        for (int y = plot.top(); y <= plot.bottom(); ++y) {
            for (int x = plot.left(); x <= plot.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                linePixels += qAbs(pixel.red() - line.red()) + qAbs(pixel.green() - line.green())
                        + qAbs(pixel.blue() - line.blue()) < 30;
            }
        }
        QVERIFY2(linePixels > 50, qPrintable(QString::number(linePixels)));
    }
};

QTEST_MAIN(TestChartEngine)
#include "tst_chart_engine.moc"

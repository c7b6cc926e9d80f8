#include <QtTest>

#include <QAreaSeries>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QXYSeries>

#include <memory>

#include "ChartEngine.h"
#include "ChartSeriesData.h"
#include "ValueExtractor.h"

Q_DECLARE_METATYPE(ExtractMethod)

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

QStringList seriesClasses(const ChartEngine& engine)
{
    QStringList classes;
    for (const QAbstractSeries* series : engine.chart()->series())
        classes.append(QString::fromLatin1(series->metaObject()->className()));
    return classes;
}

} // namespace

class TestChartEngine : public QObject
{
    Q_OBJECT

private slots:
    void init() { engine = std::make_unique<ChartEngine>(); }
    void cleanup() { engine.reset(); }

    void enableSwitchOnlyShowsAndHides();
    void addsRulesByClassification_data();
    void addsRulesByClassification();
    void huesCycleEverySixSeries();
    void sameNameFeedsFirstSeries();
    void templatesSetRulesAndType_data();
    void templatesSetRulesAndType();
    void templateSwitchesLeaveOnlyVisibleRules();
    void rebuildsEveryChartType_data();
    void rebuildsEveryChartType();
    void refreshFitsValueAxis();
    void keepsRangeWithoutSamplesAndWidensWindow();
    void barsAndSlicesShowWindowSums();
    void clearKeepsRulesAndAnalysisNeedsProvider();
    void drawsChart();

private:
    std::unique_ptr<ChartEngine> engine;
};

void TestChartEngine::enableSwitchOnlyShowsAndHides()
{
    auto* check = child<QCheckBox>(*engine, "enableCheck");
    QVERIFY(!check->isChecked());
    QVERIFY(!child<QPushButton>(*engine, "addRuleButton")->isEnabled());
    QVERIFY(engine->chartView->isHidden());
    QCOMPARE(valueRange(*engine), qMakePair(-10.0, 110.0));

    check->setChecked(true);
    QVERIFY(child<QPushButton>(*engine, "addRuleButton")->isEnabled());
    QVERIFY(!engine->chartView->isHidden());

    // Values keep being stored while the chart is off.
    check->setChecked(false);
    QVERIFY(engine->chartView->isHidden());
    addRule(*engine, QStringLiteral("t"), QStringLiteral("\\d+"));
    feedChartText(*engine, QStringLiteral("5"));
    QCOMPARE(engine->series().first()->points().size(), 1);
}

void TestChartEngine::addsRulesByClassification_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<ExtractMethod>("method");

    QTest::newRow("dotted path") << QStringLiteral(" t ") << QStringLiteral(" data.value ") << JsonPath;
    QTest::newRow("backslash") << QStringLiteral("t") << QStringLiteral("data\\.value") << RegexCapture;
    QTest::newRow("capture") << QStringLiteral("t") << QStringLiteral("temp=(\\d+)") << RegexCapture;
    QTest::newRow("blank name") << QStringLiteral("  ") << QStringLiteral("\\d+") << JsonPath;
    QTest::newRow("blank expression") << QStringLiteral("t") << QStringLiteral(" \t") << JsonPath;
}

void TestChartEngine::addsRulesByClassification()
{
    QFETCH(QString, name);
    QFETCH(QString, expression);
    QFETCH(ExtractMethod, method);

    addRule(*engine, name, expression);

    if (name.trimmed().isEmpty() || expression.trimmed().isEmpty()) {
        // Nothing added, and the fields keep what was typed.
        QVERIFY(engine->rules().isEmpty() && engine->series().isEmpty() && listItems(*engine).isEmpty());
        QCOMPARE(child<QLineEdit>(*engine, "ruleExprEdit")->text(), expression);
        return;
    }
    const ChartRule rule = engine->rules().value(0);
    QCOMPARE(engine->rules().size(), 1);
    QCOMPARE(rule.name, QStringLiteral("t"));
    QCOMPARE(rule.pattern, expression.trimmed());
    QCOMPARE(rule.method, method);
    QCOMPARE(listItems(*engine), QStringList{QStringLiteral("t = ") + expression.trimmed()});
    QCOMPARE(engine->series().first()->name(), QStringLiteral("t"));
    QVERIFY(child<QLineEdit>(*engine, "ruleNameEdit")->text().isEmpty());
    QVERIFY(child<QLineEdit>(*engine, "ruleExprEdit")->text().isEmpty());
}

void TestChartEngine::huesCycleEverySixSeries()
{
    QList<int> hues;
    for (int i = 0; i < 7; ++i) {
        addRule(*engine, QStringLiteral("s%1").arg(i), QStringLiteral("x"));
        const QColor colour = engine->series().last()->color();
        QCOMPARE(colour, QColor::fromHsv(colour.hsvHue(), 200, 220, 255));
        hues.append(colour.hsvHue());
    }
    QCOMPARE(hues, (QList<int>{0, 60, 120, 180, 240, 300, 0}));
}

void TestChartEngine::sameNameFeedsFirstSeries()
{
    addRule(*engine, QStringLiteral("T"), QStringLiteral("\\d+"));
    addRule(*engine, QStringLiteral("T"), QStringLiteral("x=(\\d+)"));
    feedChartText(*engine, QStringLiteral("x=4"));

    QCOMPARE(engine->series().at(0)->points().size(), 2);
    QVERIFY(engine->series().at(1)->points().isEmpty());
    QCOMPARE(engine->chart()->series().size(), 2);
}

void TestChartEngine::templatesSetRulesAndType_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QList<ExtractMethod>>("methods");
    QTest::addColumn<int>("type");

    QTest::newRow("custom") << 0 << QStringList{} << QList<ExtractMethod>{} << int(ChartEngine::Line);
    QTest::newRow("temperature line") << 1 << QStringList{QStringLiteral("数值 = \\d+\\.?\\d*")}
                                      << QList<ExtractMethod>{RegexCapture} << int(ChartEngine::Line);
    QTest::newRow("json fields") << 2 << QStringList{"field1 = field1", "field2 = field2"}
                                 << QList<ExtractMethod>{JsonPath, JsonPath} << int(ChartEngine::Line);
    QTest::newRow("pie") << 3 << QStringList{"A = \\d+", "B = \\d+"}
                         << QList<ExtractMethod>{RegexCapture, RegexCapture} << int(ChartEngine::Pie);
}

void TestChartEngine::templatesSetRulesAndType()
{
    QFETCH(int, index);
    QFETCH(QStringList, items);
    QFETCH(QList<ExtractMethod>, methods);
    QFETCH(int, type);

    // Rules from before (typed and from another template) are replaced.
    addRule(*engine, QStringLiteral("old"), QStringLiteral("\\d+"));
    child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(4);
    QCOMPARE(engine->chartType(), ChartEngine::Bar);
    child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(index);

    QCOMPARE(listItems(*engine), items);
    QList<ExtractMethod> actual;
    for (const ChartRule& rule : engine->rules())
        actual.append(rule.method);
    QCOMPARE(actual, methods);
    QCOMPARE(engine->series().size(), items.size());
    if (index != 0) {
        QCOMPARE(int(engine->chartType()), type);
        QCOMPARE(child<QComboBox>(*engine, "chartTypeCombo")->currentIndex(), type);
    }
}

void TestChartEngine::templateSwitchesLeaveOnlyVisibleRules()
{
    auto* templates = child<QComboBox>(*engine, "templateCombo");
    templates->setCurrentIndex(3);
    templates->setCurrentIndex(4);
    templates->setCurrentIndex(3);

    QCOMPARE(listItems(*engine), (QStringList{"A = \\d+", "B = \\d+"}));
    QCOMPARE(engine->rules().size(), 2);

    feedChartText(*engine, QStringLiteral("load 12 of 40"));
    auto* pie = qobject_cast<QPieSeries*>(engine->chart()->series().first());
    QCOMPARE(pie->count(), 2);
    for (int k = 0; k < 2; ++k) {
        QCOMPARE(engine->series().at(k)->points().size(), 1);
        QCOMPARE(pie->slices().at(k)->value(), 12.0);
    }
}

void TestChartEngine::rebuildsEveryChartType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("series");
    QTest::addColumn<int>("axes");

    QTest::newRow("line") << 0 << QStringList{"QLineSeries", "QLineSeries"} << 2;
    QTest::newRow("spline") << 1 << QStringList{"QSplineSeries", "QSplineSeries"} << 2;
    QTest::newRow("scatter") << 2 << QStringList{"QScatterSeries", "QScatterSeries"} << 2;
    QTest::newRow("area") << 3 << QStringList{"QAreaSeries", "QAreaSeries"} << 2;
    QTest::newRow("bar") << 4 << QStringList{"QBarSeries"} << 2;
    QTest::newRow("pie") << 5 << QStringList{"QPieSeries"} << 0;
    QTest::newRow("unknown is line") << 42 << QStringList{"QLineSeries", "QLineSeries"} << 2;
}

void TestChartEngine::rebuildsEveryChartType()
{
    QFETCH(int, type);
    QFETCH(QStringList, series);
    QFETCH(int, axes);

    addRule(*engine, QStringLiteral("a"), QStringLiteral("a=(\\d+)"));
    addRule(*engine, QStringLiteral("b"), QStringLiteral("b=(\\d+)"));
    // A second rebuild must not pile up series or axes.
    engine->onChartTypeChanged(ChartEngine::Bar);
    engine->onChartTypeChanged(type);
    QCOMPARE(seriesClasses(*engine), series);
    QCOMPARE(engine->chart()->axes().size(), axes);

    // Drawn series take the stored series in order; an area through its upper line.
    feedChartText(*engine, QStringLiteral("a=1 b=2\na=3"));
    if (type == ChartEngine::Bar || type == ChartEngine::Pie)
        return;
    QList<qsizetype> counts;
    for (QAbstractSeries* shown : engine->chart()->series()) {
        auto* xy = qobject_cast<QXYSeries*>(shown);
        if (auto* area = qobject_cast<QAreaSeries*>(shown))
            xy = area->upperSeries();
        counts.append(xy->count());
    }
    QCOMPARE(counts, (QList<qsizetype>{2, 1}));
}

void TestChartEngine::refreshFitsValueAxis()
{
    addRule(*engine, QStringLiteral("t"), QStringLiteral("\\d+"));
    const ChartRule rule = engine->rules().first();

    engine->appendValue(rule, 50);
    QCOMPARE(valueRange(*engine), qMakePair(49.0, 51.0));
    engine->appendValue(rule, 0);
    engine->appendValue(rule, 100);
    QCOMPARE(valueRange(*engine), qMakePair(-11.0, 111.0));
}

void TestChartEngine::keepsRangeWithoutSamplesAndWidensWindow()
{
    addRule(*engine, QStringLiteral("t"), QStringLiteral("\\d+"));
    // A value for a name without a series is dropped, yet refreshes.
    engine->appendValue(ChartRule{QStringLiteral("nobody"), RegexCapture, QStringLiteral("\\d+")}, 50);
    QCOMPARE(valueRange(*engine), qMakePair(-10.0, 110.0));

    // A sample two minutes old lies outside the default window but stays stored.
    engine->series().first()->append(QDateTime::currentMSecsSinceEpoch() - 120000, 5);
    engine->refresh();
    QCOMPARE(valueRange(*engine), qMakePair(-10.0, 110.0));
    child<QSpinBox>(*engine, "timeWindowSpin")->setValue(300);
    QCOMPARE(engine->timeWindowSecs(), 300);
    QCOMPARE(valueRange(*engine), qMakePair(4.0, 6.0));
}

void TestChartEngine::barsAndSlicesShowWindowSums()
{
    child<QComboBox>(*engine, "templateCombo")->setCurrentIndex(4);
    addRule(*engine, QStringLiteral("idle"), QStringLiteral("idle=(\\d+)"));
    feedChartText(*engine, QStringLiteral("a 3\nb 4"));

    auto* bars = qobject_cast<QBarSeries*>(engine->chart()->series().first());
    QCOMPARE(bars->count(), 2);
    QCOMPARE(bars->barSets().at(0)->label(), QStringLiteral("频率"));
    QCOMPARE(bars->barSets().at(0)->at(0), 7.0);
    QCOMPARE(bars->barSets().at(1)->at(0), 0.0);
    // The axis fits the plain values, not the sums.
    QCOMPARE(valueRange(*engine), qMakePair(3.0 - 1.1, 4.0 + 1.1));

    child<QComboBox>(*engine, "chartTypeCombo")->setCurrentIndex(ChartEngine::Pie);
    feedChartText(*engine, QStringLiteral("5"));
    auto* pie = qobject_cast<QPieSeries*>(engine->chart()->series().first());
    QCOMPARE(pie->count(), 2);
    QCOMPARE(pie->slices().at(0)->label(), QStringLiteral("频率"));
    QCOMPARE(pie->slices().at(0)->value(), 12.0);
    QCOMPARE(pie->slices().at(1)->value(), 0.0);
}

void TestChartEngine::clearKeepsRulesAndAnalysisNeedsProvider()
{
    child<QCheckBox>(*engine, "enableCheck")->setChecked(true);
    addRule(*engine, QStringLiteral("t"), QStringLiteral("\\d+"));
    feedChartText(*engine, QStringLiteral("1\n2"));
    child<QPushButton>(*engine, "clearButton")->click();
    QCOMPARE(engine->rules().size(), 1);
    QVERIFY(engine->series().first()->points().isEmpty());
    QCOMPARE(qobject_cast<QXYSeries*>(engine->chart()->series().first())->count(), 0);

    child<QPushButton>(*engine, "analyzeButton")->click();
    QCOMPARE(listItems(*engine), QStringList{QStringLiteral("t = \\d+")});
    engine->setAnalysisProvider([] { return QList<ChartSeriesData*>{}; });
    engine->onAnalyzeData();
    QCOMPARE(listItems(*engine).last(), QStringLiteral("未发现可用数值 — 请检查数据"));
    QCOMPARE(engine->series().size(), 1);
}

void TestChartEngine::drawsChart()
{
    addRule(*engine, QStringLiteral("t"), QStringLiteral("\\d+"));
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
    const QColor line = qobject_cast<QXYSeries*>(engine->chart()->series().first())->pen().color();
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

QTEST_MAIN(TestChartEngine)
#include "tst_chart_engine.moc"

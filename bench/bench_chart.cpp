// Cost of charting with every series full: six series at the sample cap, the chart built
// for one type at a time, then values appended as the chart feed hands them over (in
// batches, drawn at the next refresh), bare refreshes (four a second while the chart is
// shown) and refreshes with the view painted. Prints the mean time per appended value,
// per refresh and per painted refresh, beside the reference of a value appended to the
// stored series alone.
//
// Target: a value appended through the engine costs under 2 ms, whatever the type.

#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>

#include "BenchSupport.h"
#include "ChartEngine.h"
#include "ChartSeriesData.h"

namespace {

constexpr int SeriesCount = 6;
constexpr int Appends = 300;
constexpr int Refreshes = 300;
constexpr int BatchValues = 100;
constexpr double AppendTargetUs = 2000;

void addRules(ChartEngine& engine)
{
    auto* nameEdit = engine.panel->findChild<QLineEdit*>(QStringLiteral("ruleNameEdit"));
    auto* exprEdit = engine.panel->findChild<QLineEdit*>(QStringLiteral("ruleExprEdit"));
    for (int i = 0; i < SeriesCount; ++i) {
        nameEdit->setText(QStringLiteral("s%1").arg(i));
        exprEdit->setText(QStringLiteral("v%1=(\\d+)").arg(i));
        engine.onAddRule();
    }
}

// Fills every series to the cap directly, without refreshing, spread over the last
// 50 seconds so that all samples lie inside the default 60-second window.
void fillToCap(ChartEngine& engine)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int s = 0; s < engine.series().size(); ++s) {
        ChartSeriesData* data = engine.series().at(s);
        for (qsizetype i = 0; i < ChartSeriesData::MaxSamples; ++i)
            data->append(now - 50000 + i * 10, double((i * 7 + s * 13) % 100));
    }
}

double perCallMicros(const QElapsedTimer& timer, int calls)
{
    return double(timer.nsecsElapsed()) / 1000.0 / calls;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ChartEngine engine;
    engine.chartView->resize(1000, 640);
    addRules(engine);
    fillToCap(engine);
    const QList<ChartRule> rules = engine.rules();

    std::printf("%d series at %lld samples each\n", SeriesCount, static_cast<long long>(ChartSeriesData::MaxSamples));
    {
        ChartSeriesData alone(QStringLiteral("alone"), Qt::red);
        for (qsizetype i = 0; i < ChartSeriesData::MaxSamples; ++i)
            alone.append(i, double(i % 100));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Appends; ++i)
            alone.append(ChartSeriesData::MaxSamples + i, double(i % 100));
        std::printf("  reference, a value appended to a full stored series alone: %.2f us\n",
                    perCallMicros(timer, Appends));
    }
    std::printf("%-6s %16s %18s %24s\n", "type", "per value (us)", "per refresh (us)", "per refresh+paint (us)");
    double worst = 0;

    const struct
    {
        const char* name;
        ChartEngine::ChartType type;
    } types[] = {{"line", ChartEngine::Line}, {"area", ChartEngine::Area}, {"bar", ChartEngine::Bar}, {"pie", ChartEngine::Pie}};

    for (const auto& entry : types) {
        engine.onChartTypeChanged(entry.type);
        engine.refresh();

        QElapsedTimer timer;
        timer.start();
        for (int batch = 0; batch < Appends / BatchValues; ++batch) {
            QList<ChartValue> values;
            for (int i = 0; i < BatchValues; ++i)
                values.append(ChartValue{rules.at(i % SeriesCount).name, double(i % 100)});
            engine.appendValues(values);
        }
        const double perValue = perCallMicros(timer, Appends);

        timer.restart();
        for (int i = 0; i < Refreshes; ++i)
            engine.refresh();
        const double perRefresh = perCallMicros(timer, Refreshes);

        // Refreshes with the view painted after each one, as on screen.
        timer.restart();
        for (int i = 0; i < Refreshes / 10; ++i) {
            engine.refresh();
            engine.chartView->grab();
        }
        const double perPainted = perCallMicros(timer, Refreshes / 10);

        std::printf("%-6s %16.2f %18.1f %24.1f\n", entry.name, perValue, perRefresh, perPainted);
        worst = std::max(worst, perValue);
    }
    std::printf("  a value appended through the engine: %.0f us at most (target < %.0f us: %s)\n", worst,
                AppendTargetUs, BenchSupport::verdict(worst < AppendTargetUs));
    return 0;
}

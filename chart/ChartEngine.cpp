#include "ChartEngine.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPen>
#include <QPieSeries>
#include <QPieSlice>
#include <QPointer>
#include <QPushButton>
#include <QScatterSeries>
#include <QSpinBox>
#include <QSplineSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <utility>

#include "ChartSeriesData.h"
#include "Palette.h"
#include "SeriesWindow.h"
#include "ValueExtractor.h"

namespace {

constexpr int DefaultWindowSecs = 60;
constexpr double DefaultValueMin = -10.0;
constexpr double DefaultValueMax = 110.0;
constexpr int MaxAnalysisSeries = 5;
// How often the time axis follows the clock while charts are on: often enough that old
// values visibly slide out, rarely enough to cost nothing.
constexpr int ClockTickMs = 250;

QString timeFormat()
{
    return QStringLiteral("HH:mm:ss");
}

QDateTimeAxis* createTimeAxis()
{
    auto* axis = new QDateTimeAxis();
    axis->setFormat(timeFormat());
    axis->setTitleText(QStringLiteral("时间"));
    return axis;
}

QValueAxis* createValueAxis()
{
    auto* axis = new QValueAxis();
    axis->setTitleText(QStringLiteral("数值"));
    axis->setRange(DefaultValueMin, DefaultValueMax);
    return axis;
}

constexpr qreal ScatterMarkerSize = 7.0;
// The series a pie slice stands for (its label also shows the share).
const char* const SliceSeriesProperty = "seriesName";
// Areas are see-through so that a series drawn later never hides the ones behind it.
constexpr int AreaFillAlpha = 90;

QXYSeries* createXYSeries(ChartEngine::ChartType type)
{
    switch (type) {
    case ChartEngine::Spline:
        return new QSplineSeries();
    case ChartEngine::Scatter: {
        auto* scatter = new QScatterSeries();
        // Qt's default markers (15 px) merge into a band at a few values a second.
        scatter->setMarkerSize(ScatterMarkerSize);
        return scatter;
    }
    default:
        return new QLineSeries();
    }
}

// Zero to the largest window sum (or from the smallest, when one is negative), padded a
// little at the top so that the tallest bar is never cut off.
std::optional<std::pair<double, double>> fittedSums(const QList<ChartSeriesData*>& series, qint64 fromMsecs)
{
    if (series.isEmpty())
        return std::nullopt;
    double low = 0.0;
    double high = 0.0;
    for (const ChartSeriesData* data : series) {
        const double total = SeriesWindow::sum(*data, fromMsecs);
        low = std::min(low, total);
        high = std::max(high, total);
    }
    const double pad = (high - low) < 1e-9 ? 1.0 : (high - low) * 0.1;
    return std::make_pair(low < 0.0 ? low - pad : 0.0, high + pad);
}

} // namespace

void feedChartText(ChartEngine& engine, const QString& text)
{
    QList<ChartValue> values;
    feedText(
        text,
        [&engine] { return engine.rules(); },
        [&values](const ChartRule& rule, double value) { values.append(ChartValue{rule.name, value}); });
    engine.appendValues(values);
    engine.refresh();
}

ChartEngine::ChartEngine(QWidget* parent)
    : QWidget(parent)
{
    setupUi();
}

QChart* ChartEngine::chart() const
{
    return chartView->chart();
}

void ChartEngine::setupUi()
{
    auto* engineLayout = new QVBoxLayout(this);
    engineLayout->setContentsMargins(0, 0, 0, 0);
    engineLayout->setSpacing(0);

    panel = new QWidget(this);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(4);
    m_enableCheck = new QCheckBox(QStringLiteral("启用图表"), panel);
    m_enableCheck->setObjectName(QStringLiteral("enableCheck"));
    panelLayout->addWidget(m_enableCheck);
    m_controls = createControls(panel);
    m_controls->setEnabled(false);
    panelLayout->addWidget(m_controls);
    engineLayout->addWidget(panel);

    setupChart();
    engineLayout->addWidget(chartView, 1);

    connect(m_enableCheck, &QCheckBox::toggled, this, &ChartEngine::onEnableToggled);
    connect(m_addRuleButton, &QPushButton::clicked, this, &ChartEngine::onAddRule);
    connect(m_analyzeButton, &QPushButton::clicked, this, &ChartEngine::onAnalyzeData);
    connect(m_templateCombo, &QComboBox::currentIndexChanged, this, &ChartEngine::onTemplateChanged);
    connect(m_chartTypeCombo, &QComboBox::currentIndexChanged, this, &ChartEngine::onChartTypeChanged);
    connect(m_clearButton, &QPushButton::clicked, this, &ChartEngine::onClearChart);
    connect(m_timeWindowSpin, &QSpinBox::valueChanged, this, &ChartEngine::onTimeWindowChanged);

    m_clockTimer = new QTimer(this);
    m_clockTimer->setInterval(ClockTickMs);
    connect(m_clockTimer, &QTimer::timeout, this, [this] {
        if (chartView->isVisible())
            refresh();
    });
}

QWidget* ChartEngine::createControls(QWidget* parent)
{
    auto* controls = new QWidget(parent);
    auto* layout = new QVBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    layout->addWidget(new QLabel(QStringLiteral("预设模板"), controls));
    m_templateCombo = new QComboBox(controls);
    m_templateCombo->setObjectName(QStringLiteral("templateCombo"));
    m_templateCombo->addItems({QStringLiteral("自定义"), QStringLiteral("温度/电压 折线"),
                               QStringLiteral("JSON 多字段"), QStringLiteral("百分比饼图"),
                               QStringLiteral("频率柱状图")});
    layout->addWidget(m_templateCombo);

    layout->addWidget(new QLabel(QStringLiteral("图表类型"), controls));
    m_chartTypeCombo = new QComboBox(controls);
    m_chartTypeCombo->setObjectName(QStringLiteral("chartTypeCombo"));
    m_chartTypeCombo->addItems({QStringLiteral("折线图"), QStringLiteral("平滑曲线"), QStringLiteral("散点图"),
                                QStringLiteral("面积图"), QStringLiteral("柱状图"), QStringLiteral("饼图")});
    layout->addWidget(m_chartTypeCombo);

    layout->addWidget(new QLabel(QStringLiteral("规则名称"), controls));
    m_ruleNameEdit = new QLineEdit(controls);
    m_ruleNameEdit->setObjectName(QStringLiteral("ruleNameEdit"));
    layout->addWidget(m_ruleNameEdit);

    layout->addWidget(new QLabel(QStringLiteral("表达式 (正则/JSON路径)"), controls));
    m_ruleExprEdit = new QLineEdit(controls);
    m_ruleExprEdit->setObjectName(QStringLiteral("ruleExprEdit"));
    m_ruleExprEdit->setPlaceholderText(QStringLiteral("例: temperature 或 data.value"));
    layout->addWidget(m_ruleExprEdit);

    auto* buttonRow = new QHBoxLayout();
    m_addRuleButton = new QPushButton(QStringLiteral("添加规则"), controls);
    m_addRuleButton->setObjectName(QStringLiteral("addRuleButton"));
    m_analyzeButton = new QPushButton(QStringLiteral("智能分析"), controls);
    m_analyzeButton->setObjectName(QStringLiteral("analyzeButton"));
    m_analyzeButton->setStyleSheet(QStringLiteral("QPushButton:enabled { color: %1; }").arg(Palette::Link));
    buttonRow->addWidget(m_addRuleButton);
    buttonRow->addWidget(m_analyzeButton);
    layout->addLayout(buttonRow);

    m_ruleList = new QListWidget(controls);
    m_ruleList->setObjectName(QStringLiteral("ruleList"));
    m_ruleList->setMaximumHeight(80);
    layout->addWidget(m_ruleList);

    auto* windowRow = new QHBoxLayout();
    windowRow->addWidget(new QLabel(QStringLiteral("时间窗口:"), controls));
    m_timeWindowSpin = new QSpinBox(controls);
    m_timeWindowSpin->setObjectName(QStringLiteral("timeWindowSpin"));
    m_timeWindowSpin->setRange(5, 600);
    m_timeWindowSpin->setValue(DefaultWindowSecs);
    m_timeWindowSpin->setSuffix(QStringLiteral(" 秒"));
    windowRow->addWidget(m_timeWindowSpin);
    layout->addLayout(windowRow);

    m_clearButton = new QPushButton(QStringLiteral("清除图表数据"), controls);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    layout->addWidget(m_clearButton);
    return controls;
}

void ChartEngine::setupChart()
{
    auto* chart = new QChart();
    chart->setTitle(QStringLiteral("数据可视化"));
    // Every refresh replaces the points; animated, each would replay from the start.
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* timeAxis = createTimeAxis();
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(createValueAxis(), Qt::AlignLeft);
    // Styled after the axes exist, and with a real time range: an axis without one is not
    // drawn, so the tab would show no time axis until charts are enabled.
    applyChartStyle(chart);
    const qint64 nowMsecs = QDateTime::currentMSecsSinceEpoch();
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(nowMsecs - qint64(m_timeWindowSecs) * 1000),
                       QDateTime::fromMSecsSinceEpoch(nowMsecs));

    chartView = new QChartView(chart, this);
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->hide();
}

void ChartEngine::onEnableToggled(bool enabled)
{
    // Only what is shown changes: values keep being extracted and stored while off.
    m_controls->setEnabled(enabled);
    chartView->setVisible(enabled);
    // The axis follows the clock even when no value arrives, so a stalled stream is seen
    // to stall.
    if (enabled) {
        m_clockTimer->start();
        refresh();
    } else {
        m_clockTimer->stop();
    }
}

void ChartEngine::onTimeWindowChanged(int seconds)
{
    m_timeWindowSecs = seconds;
    refresh();
}

void ChartEngine::appendValue(const ChartRule& rule, double value)
{
    appendValues({ChartValue{rule.name, value}});
    refresh();
}

void ChartEngine::appendValues(const QList<ChartValue>& values)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const ChartValue& value : values) {
        for (ChartSeriesData* data : std::as_const(m_series)) {
            if (data->name() == value.series) {
                data->append(now, value.value);
                break;
            }
        }
    }
}

void ChartEngine::onAddRule()
{
    const QString name = m_ruleNameEdit->text().trimmed();
    const QString expression = m_ruleExprEdit->text().trimmed();
    if (name.isEmpty() || expression.isEmpty())
        return;

    // Six evenly spaced hues, then the cycle repeats.
    const int hue = int((m_series.size() * 60) % 360);
    m_series.append(new ChartSeriesData(name, QColor::fromHsv(hue, 200, 220, 255), this));
    m_ruleList->addItem(name + QStringLiteral(" = ") + expression);
    m_rules.append(ChartRule{name, methodForExpression(expression), expression});

    m_ruleNameEdit->clear();
    m_ruleExprEdit->clear();
    onChartTypeChanged(m_chartType);
    emit rulesChanged();
}

void ChartEngine::addRule(const QString& name, const QString& expression)
{
    m_ruleNameEdit->setText(name);
    m_ruleExprEdit->setText(expression);
    onAddRule();
}

void ChartEngine::selectChartType(ChartType type)
{
    // The stored type goes first: a combo box already on this index emits nothing.
    m_chartType = type;
    m_chartTypeCombo->setCurrentIndex(type);
}

void ChartEngine::onTemplateChanged(int idx)
{
    deleteAllSeries();

    switch (idx) {
    case 0:
        return;
    case 1:
        m_ruleNameEdit->setText(QStringLiteral("数值"));
        m_ruleExprEdit->setText(QStringLiteral("\\d+\\.?\\d*"));
        selectChartType(Line);
        onAddRule();
        return;
    case 2:
        m_ruleNameEdit->setText(QStringLiteral("field1"));
        m_ruleExprEdit->setText(QStringLiteral("field1"));
        selectChartType(Line);
        onAddRule();
        addRule(QStringLiteral("field2"), QStringLiteral("field2"));
        return;
    case 3:
        m_ruleNameEdit->setText(QStringLiteral("A"));
        m_ruleExprEdit->setText(QStringLiteral("\\d+"));
        selectChartType(Pie);
        onAddRule();
        addRule(QStringLiteral("B"), QStringLiteral("\\d+"));
        return;
    case 4:
        m_ruleNameEdit->setText(QStringLiteral("频率"));
        m_ruleExprEdit->setText(QStringLiteral("\\d+"));
        selectChartType(Bar);
        onAddRule();
        return;
    default:
        selectChartType(m_chartType);
        onAddRule();
        return;
    }
}

void ChartEngine::onAnalyzeData()
{
    if (!m_analysisProvider)
        return;

    const QList<ChartSeriesData*> candidates = m_analysisProvider();
    if (candidates.isEmpty()) {
        m_ruleList->addItem(QStringLiteral("未发现可用数值 — 请检查数据"));
        return;
    }
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        ChartSeriesData* data = candidates.at(i);
        if (i >= MaxAnalysisSeries) {
            delete data;
            continue;
        }
        data->setParent(this);
        m_series.append(data);
        m_ruleList->addItem(data->name());
    }
    onChartTypeChanged(m_chartTypeCombo->currentIndex());
}

void ChartEngine::onClearChart()
{
    for (ChartSeriesData* data : std::as_const(m_series))
        data->clear();
    onChartTypeChanged(m_chartType);
}

void ChartEngine::deleteAllSeries()
{
    // Rules go with their series: a rule left behind would keep extracting into a series
    // re-created under its name later, counting every value twice, with no list item
    // left to show it.
    qDeleteAll(m_series);
    m_series.clear();
    m_rules.clear();
    m_ruleList->clear();
    onChartTypeChanged(m_chartTypeCombo->currentIndex());
    emit rulesChanged();
}

void ChartEngine::onChartTypeChanged(int type)
{
    m_chartType = static_cast<ChartType>(type);

    QChart* chart = this->chart();
    chart->removeAllSeries();
    const QList<QAbstractAxis*> axes = chart->axes();
    for (QAbstractAxis* axis : axes) {
        chart->removeAxis(axis);
        delete axis;
    }

    // The theme goes first: applied later it would recolour the series, so a series
    // would change colour with the chart type.
    chart->setTheme(QChart::ChartThemeDark);
    if (m_chartType == Pie)
        chart->addSeries(new QPieSeries());
    else if (m_chartType == Bar)
        buildBarSeries(chart);
    else
        buildXYSeries(chart, m_chartType);
    applyChartStyle(chart);
    // The new series stay empty until the next refresh.
}

void ChartEngine::buildXYSeries(QChart* chart, ChartType type)
{
    auto* timeAxis = createTimeAxis();
    auto* valueAxis = createValueAxis();
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);

    for (const ChartSeriesData* data : std::as_const(m_series)) {
        QXYSeries* line = createXYSeries(type);
        line->setName(data->name());
        line->setPen(QPen(QBrush(data->color()), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        QAbstractSeries* shown = line;
        if (type == Area) {
            // The line is only the upper edge; the area series owns and draws it.
            auto* area = new QAreaSeries();
            line->setParent(area);
            area->setUpperSeries(static_cast<QLineSeries*>(line));
            area->setName(data->name());
            QColor fill = data->color();
            fill.setAlpha(AreaFillAlpha);
            area->setColor(fill);
            area->setBorderColor(data->color());
            shown = area;
        }
        chart->addSeries(shown);
        shown->attachAxis(timeAxis);
        shown->attachAxis(valueAxis);
    }
}

void ChartEngine::buildBarSeries(QChart* chart)
{
    auto* timeAxis = createTimeAxis();
    auto* valueAxis = createValueAxis();
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);

    auto* bars = new QBarSeries();
    for (const ChartSeriesData* data : std::as_const(m_series)) {
        auto* set = new QBarSet(data->name());
        set->setColor(data->color());
        set->append(0.0);
        bars->append(set);
    }
    chart->addSeries(bars);

    // Each stored series is one bar in a single unnamed category; time has no axis here.
    chart->removeAxis(timeAxis);
    delete timeAxis;
    auto* categoryAxis = new QBarCategoryAxis();
    categoryAxis->append(QStringLiteral(" "));
    chart->addAxis(categoryAxis, Qt::AlignBottom);
    bars->attachAxis(categoryAxis);
    bars->attachAxis(valueAxis);
}

void ChartEngine::refresh()
{
    QChart* chart = this->chart();
    const qint64 nowMsecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 fromMsecs = nowMsecs - qint64(m_timeWindowSecs) * 1000;

    const QList<QAbstractAxis*> horizontal = chart->axes(Qt::Horizontal);
    for (QAbstractAxis* axis : horizontal) {
        if (auto* timeAxis = qobject_cast<QDateTimeAxis*>(axis))
            timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(fromMsecs), QDateTime::fromMSecsSinceEpoch(nowMsecs));
    }

    // The value axis fits what is drawn: sums for bars, plain values otherwise.
    std::optional<std::pair<double, double>> range;
    if (m_chartType == Bar)
        range = fittedSums(m_series, fromMsecs);
    else
        range = SeriesWindow::fittedRange(m_series, fromMsecs);
    if (range) {
        const QList<QAbstractAxis*> vertical = chart->axes(Qt::Vertical);
        for (QAbstractAxis* axis : vertical) {
            if (auto* valueAxis = qobject_cast<QValueAxis*>(axis))
                valueAxis->setRange(range->first, range->second);
        }
    }

    const QList<QAbstractSeries*> shown = chart->series();

    if (m_chartType == Bar) {
        QBarSeries* bars = nullptr;
        for (QAbstractSeries* candidate : shown) {
            if ((bars = qobject_cast<QBarSeries*>(candidate)))
                break;
        }
        if (!bars)
            return;
        const QList<QBarSet*> sets = bars->barSets();
        for (qsizetype k = 0; k < sets.size() && k < m_series.size(); ++k)
            sets.at(k)->replace(0, SeriesWindow::sum(*m_series.at(k), fromMsecs));
        return;
    }

    // Series that draw points consume the stored series in order; others (the pie) are
    // passed over without taking one.
    qsizetype next = 0;
    for (QAbstractSeries* candidate : shown) {
        if (next >= m_series.size())
            break;
        QXYSeries* target = qobject_cast<QXYSeries*>(candidate);
        if (!target) {
            if (auto* area = qobject_cast<QAreaSeries*>(candidate))
                target = area->upperSeries();
        }
        if (!target)
            continue;
        const QList<QPointF> points = SeriesWindow::points(*m_series.at(next++), fromMsecs);
        if (target->points() != points)
            target->replace(points);
    }

    if (m_chartType == Pie) {
        auto* pie = shown.isEmpty() ? nullptr : qobject_cast<QPieSeries*>(shown.first());
        if (!pie)
            return;
        // Same slices as before (the usual case between rebuilds): only their sizes change.
        // Clearing and refilling would give the same picture at many times the cost.
        const QList<QPieSlice*> slices = pie->slices();
        bool sameSlices = slices.size() == m_series.size();
        for (qsizetype k = 0; sameSlices && k < slices.size(); ++k)
            sameSlices = slices.at(k)->property(SliceSeriesProperty).toString() == m_series.at(k)->name();
        if (!sameSlices) {
            pie->clear();
            for (const ChartSeriesData* data : std::as_const(m_series)) {
                QPieSlice* slice = pie->append(data->name(), SeriesWindow::sum(*data, fromMsecs));
                slice->setProperty(SliceSeriesProperty, data->name());
                slice->setColor(data->color());
                slice->setLabelColor(QColor(Palette::TextBright));
                slice->setLabelVisible(true);
            }
        } else {
            for (qsizetype k = 0; k < slices.size(); ++k)
                slices.at(k)->setValue(SeriesWindow::sum(*m_series.at(k), fromMsecs));
        }
        // Each slice says what it is and its share, so the picture reads without a legend.
        const QList<QPieSlice*> labelled = pie->slices();
        for (qsizetype k = 0; k < labelled.size() && k < m_series.size(); ++k) {
            QPieSlice* slice = labelled.at(k);
            slice->setLabel(QStringLiteral("%1 %2%")
                                .arg(m_series.at(k)->name())
                                .arg(slice->percentage() * 100.0, 0, 'f', 1));
        }
    }
}

void ChartEngine::applyChartStyle(QChart* chart)
{
    chart->setBackgroundBrush(QBrush(QColor(QStringLiteral("#0D1321"))));
    chart->setPlotAreaBackgroundBrush(QBrush(QColor(QStringLiteral("#0A1018"))));
    chart->setPlotAreaBackgroundVisible(true);
    QFont titleFont(QStringLiteral("Segoe UI"), 12);
    titleFont.setWeight(QFont::Bold);
    titleFont.setItalic(false);
    chart->setTitleFont(titleFont);
    chart->setTitleBrush(QBrush(QColor(Palette::TextBright)));
    chart->legend()->setLabelColor(QColor(Palette::TextMuted));
    chart->legend()->setAlignment(Qt::AlignBottom);

    const QList<QAbstractAxis*> axes = chart->axes();
    for (QAbstractAxis* axis : axes) {
        axis->setTitleBrush(QBrush(QColor(Palette::TextMuted)));
        axis->setLabelsColor(QColor(Palette::TextDim));
        axis->setGridLineColor(QColor(QStringLiteral("#1E2A3A")));
        axis->setLinePenColor(QColor(Palette::Border));
        axis->setShadesPen(Qt::NoPen);
        axis->setShadesBrush(Qt::NoBrush);
        if (auto* valueAxis = qobject_cast<QValueAxis*>(axis))
            valueAxis->setLabelFormat(QStringLiteral("%.1f"));
        else if (auto* timeAxis = qobject_cast<QDateTimeAxis*>(axis))
            timeAxis->setFormat(timeFormat());
    }
}

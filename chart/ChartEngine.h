#pragma once

#include <QList>
#include <QWidget>

#include <functional>

#include "ChartRule.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;
QT_END_NAMESPACE

class ChartSeriesData;

// One extracted value, for the series of that name.
struct ChartValue
{
    QString series;
    double value = 0.0;
};

// The data-visualisation panel: rules that pull numbers out of received texts, the series
// they fill, and a Qt Charts chart of those series over a sliding time window.
//
// The main window takes `panel` (the switch and all controls) into its control column and
// `chartView` as the page of its chart tab; the engine widget itself stays an empty child
// that owns the data and receives the controls' signals.
class ChartEngine : public QWidget
{
    Q_OBJECT

public:
    // Equal to the index in the chart-type combo box. Any int may be stored; unknown
    // values are drawn as lines.
    enum ChartType : int { Line = 0, Spline = 1, Scatter = 2, Area = 3, Bar = 4, Pie = 5 };
    Q_ENUM(ChartType)

    // Source of candidate series for smart analysis. The engine keeps at most the first
    // five it returns and takes ownership of every series returned.
    using AnalysisProvider = std::function<QList<ChartSeriesData*>()>;

    explicit ChartEngine(QWidget* parent = nullptr);

    QChartView* chartView = nullptr;
    QWidget* panel = nullptr;

    QList<ChartRule> rules() const { return m_rules; }
    const QList<ChartSeriesData*>& series() const { return m_series; }
    ChartType chartType() const { return m_chartType; }
    int timeWindowSecs() const { return m_timeWindowSecs; }
    QChart* chart() const;

    // Time-stamps the value into the series named like the rule (dropped when there is
    // none) and refreshes the chart.
    void appendValue(const ChartRule& rule, double value);
    // The same for a batch, all at one instant, without refreshing: the clock's next
    // refresh draws them (or the caller's).
    void appendValues(const QList<ChartValue>& values);

    // Removes every series together with the rules that fill them and their list items,
    // then rebuilds the chart.
    void deleteAllSeries();

    // A rule as if typed into the fields and added; refused like a typed one.
    void addRule(const QString& name, const QString& expression);

    void setAnalysisProvider(AnalysisProvider provider) { m_analysisProvider = std::move(provider); }

    // The panel's own colours on the chart and on the axes it holds at the moment.
    static void applyChartStyle(QChart* chart);

signals:
    void rulesChanged();

public slots:
    void refresh();
    void onAddRule();
    void onAnalyzeData();
    void onTemplateChanged(int idx);
    void onClearChart();
    void onChartTypeChanged(int type);

private:
    void setupUi();
    QWidget* createControls(QWidget* parent);
    void setupChart();
    void onEnableToggled(bool enabled);
    void onTimeWindowChanged(int seconds);
    void selectChartType(ChartType type);
    void buildXYSeries(QChart* chart, ChartType type);
    void buildBarSeries(QChart* chart);

    QList<ChartSeriesData*> m_series;
    QList<ChartRule> m_rules;
    QCheckBox* m_enableCheck = nullptr;
    QWidget* m_controls = nullptr;
    QComboBox* m_templateCombo = nullptr;
    QComboBox* m_chartTypeCombo = nullptr;
    QLineEdit* m_ruleNameEdit = nullptr;
    QLineEdit* m_ruleExprEdit = nullptr;
    QPushButton* m_addRuleButton = nullptr;
    QPushButton* m_analyzeButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QListWidget* m_ruleList = nullptr;
    QSpinBox* m_timeWindowSpin = nullptr;
    QTimer* m_clockTimer = nullptr;
    int m_timeWindowSecs = 60;
    ChartType m_chartType = Line;
    AnalysisProvider m_analysisProvider;
};

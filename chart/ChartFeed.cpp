#include "ChartFeed.h"

#include <QElapsedTimer>
#include <QTimer>

#include "ChartEngine.h"
#include "CommunicationBase.h"
#include "ValueExtractor.h"

namespace {

// Texts gather this long before a slice takes them, so values arrive in batches.
constexpr int BatchIntervalMs = 100;
// A rule is judged after this much extraction time: enough lines for a fair mean, few
// enough that a bad rule is caught within a few slices.
constexpr qint64 CostWindowNs = 50'000'000;
// What may wait: one invocation may carry 100,000 arguments; far more is a flood the
// charts give up on, oldest first.
constexpr qsizetype MaxBacklogTexts = 1'000'000;
constexpr qsizetype MaxBacklogChars = 16 * 1024 * 1024;

QString ruleKey(const ChartRule& rule)
{
    return rule.name + QLatin1Char('\n') + rule.pattern;
}

} // namespace

ChartFeed::ChartFeed(ChartEngine* engine, CommunicationBase* log, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_log(log)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ChartFeed::processSlice);
    // Changed rules get a fresh chance.
    connect(m_engine, &ChartEngine::rulesChanged, this, [this] {
        m_paused.clear();
        m_costs.clear();
    });
}

void ChartFeed::enqueue(const QString& text)
{
    m_texts.append(text);
    m_backlogChars += text.size();
    while (m_texts.size() > MaxBacklogTexts || (m_backlogChars > MaxBacklogChars && m_texts.size() > 1)) {
        m_backlogChars -= m_texts.takeFirst().size();
        ++m_overflowed;
    }
    if (!m_timer->isActive())
        m_timer->start(BatchIntervalMs);
}

void ChartFeed::dropBacklog()
{
    const qsizetype dropped = m_texts.size() + (m_nextLine < m_lines.size() ? 1 : 0) + m_overflowed;
    m_timer->stop();
    m_texts = QList<QString>();
    m_backlogChars = 0;
    m_lines.clear();
    m_nextLine = 0;
    m_overflowed = 0;
    if (dropped > 0)
        m_log->logSystemMessage(m_log->pick(QStringLiteral("已丢弃 %1 条尚未绘入图表的记录"),
                                            QStringLiteral("%1 records not yet charted were dropped"))
                                    .arg(dropped));
}

void ChartFeed::processSlice()
{
    QElapsedTimer slice;
    slice.start();
    const QList<ChartRule> rules = m_engine->rules();
    QList<ChartValue> values;
    QElapsedTimer clock;
    while (slice.nsecsElapsed() < m_sliceBudgetNs) {
        if (m_nextLine >= m_lines.size()) {
            if (m_texts.isEmpty())
                break;
            const QString text = m_texts.takeFirst();
            m_backlogChars -= text.size();
            m_lines = chartLines(text);
            m_nextLine = 0;
            continue;
        }
        const QString& line = m_lines.at(m_nextLine++);
        for (const ChartRule& rule : rules) {
            if (m_paused.contains(ruleKey(rule)))
                continue;
            clock.start();
            const ExtractResult result = extractValue(line, rule);
            if (isTooSlow(rule, clock.nsecsElapsed()))
                continue;
            if (result.hasValue)
                values.append(ChartValue{rule.name, result.value});
        }
    }
    if (!values.isEmpty())
        m_engine->appendValues(values);
    if (m_nextLine < m_lines.size() || !m_texts.isEmpty()) {
        m_timer->start(0);
        return;
    }
    // Idle: give back what a burst grew the queue to.
    m_texts = QList<QString>();
    m_lines.clear();
    m_nextLine = 0;
    reportOverflow();
}

bool ChartFeed::isTooSlow(const ChartRule& rule, qint64 ns)
{
    const QString key = ruleKey(rule);
    Cost& cost = m_costs[key];
    cost.ns += ns;
    ++cost.lines;
    if (cost.ns < CostWindowNs)
        return false;
    const qint64 perLine = cost.ns / cost.lines;
    cost = Cost();
    if (perLine <= m_slowLineNs)
        return false;
    m_paused.insert(key);
    m_log->logSystemMessage(m_log->pick(QStringLiteral("图表规则 %1 (%2) 提取太慢 (平均每行 %3 ms)，已暂停；修改规则后恢复"),
                                        QStringLiteral("Chart rule %1 (%2) is too slow (%3 ms a line on average); "
                                                       "paused until the rules change"))
                                .arg(rule.name, rule.pattern)
                                .arg(double(perLine) / 1e6, 0, 'f', 1));
    return true;
}

void ChartFeed::reportOverflow()
{
    if (m_overflowed == 0)
        return;
    m_log->logSystemMessage(m_log->pick(QStringLiteral("图表跟不上接收速度，已丢弃最早的 %1 条记录"),
                                        QStringLiteral("The charts could not keep up; the oldest %1 records were dropped"))
                                .arg(m_overflowed));
    m_overflowed = 0;
}

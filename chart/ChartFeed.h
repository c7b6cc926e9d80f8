#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class ChartEngine;
class CommunicationBase;
class QTimer;
struct ChartRule;

// Takes the texts the client receives to the chart engine in batches rather than one by
// one: texts queue up as they arrive, and a slice of at most the slice budget cuts them
// into lines, runs the rules and hands the values to the engine in one go. The engine
// stores them at once and draws them at its next refresh (four a second while shown), so
// a flood costs the window a few short slices instead of a redraw per value.
//
// A rule that costs too much per line (a regular expression that backtracks badly) is
// paused, with one entry naming it, until the rules change. A backlog beyond its limits
// loses its oldest texts; dropBacklog() (the window's "断开") forgets all of it at once.
// Both say in one entry how many records went.
class ChartFeed : public QObject
{
    Q_OBJECT

public:
    ChartFeed(ChartEngine* engine, CommunicationBase* log, QObject* parent = nullptr);

    // Time a slice may spend before the window gets its turn again.
    void setSliceBudget(qint64 ns) { m_sliceBudgetNs = ns; }
    // Mean extraction time per line above which a rule is paused.
    void setSlowLineLimit(qint64 ns) { m_slowLineNs = ns; }
    qsizetype backlog() const { return m_texts.size(); }

    static constexpr qint64 DefaultSliceBudgetNs = 20'000'000;
    static constexpr qint64 DefaultSlowLineNs = 2'000'000;

public slots:
    void enqueue(const QString& text);
    // Forgets every text not yet charted, with an entry saying how many, if any.
    void dropBacklog();

private:
    struct Cost
    {
        qint64 ns = 0;
        qint64 lines = 0;
    };

    void processSlice();
    bool isTooSlow(const ChartRule& rule, qint64 ns);
    void reportOverflow();

    ChartEngine* m_engine = nullptr;
    CommunicationBase* m_log = nullptr;
    QTimer* m_timer = nullptr;
    QList<QString> m_texts;
    qsizetype m_backlogChars = 0;
    // The text being worked through, cut into lines, and the next line to take.
    QStringList m_lines;
    qsizetype m_nextLine = 0;
    qsizetype m_overflowed = 0;
    // Per rule (name and pattern): extraction time since its last check, and the paused.
    QHash<QString, Cost> m_costs;
    QSet<QString> m_paused;
    qint64 m_sliceBudgetNs = DefaultSliceBudgetNs;
    qint64 m_slowLineNs = DefaultSlowLineNs;
};

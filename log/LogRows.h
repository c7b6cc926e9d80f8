#pragma once

#include <QList>
#include <QObject>

#include "LogEntry.h"
#include "LogFilter.h"

class CommunicationBase;
class QElapsedTimer;
class QListWidget;
class QTimer;

// The entries behind the log view's list and the rows made for them. It keeps every
// entry it is given (capped like the log) but makes rows only for those the filter lets
// through: a list holding 100,000 hidden rows makes every removal at the cap cost as much
// as all of them. A new filter is applied in slices of a few milliseconds: the entries
// are matched newest first while the old rows stay on screen, the old rows go in chunks,
// the new ones are made oldest first; new display settings rewrite the rows newest first.
// So 100,000 entries never freeze the window.
class LogRows : public QObject
{
    Q_OBJECT

public:
    LogRows(QListWidget* list, CommunicationBase* communication, QObject* parent);

    // New entries, oldest first: rows for those that match, then the cap applied.
    void append(const QList<LogEntry>& entries);
    void clear();
    // Hiding starts a pass, unless nothing was hidden and nothing will be.
    void setFilter(const LogFilter& filter);
    // The hex or timestamp display changed: every row is written again.
    void rerender();

    const LogEntry& entryAt(int row) const { return entryOf(m_shown.at(row)); }
    qsizetype entryCount() const { return m_entries.size(); }
    bool isPassRunning() const { return m_pass != Pass::Idle; }

    static constexpr int MaxRowChars = 4096;
    // Longest a slice keeps the event loop waiting.
    static constexpr int PassSliceMs = 8;
    static constexpr int BuildChunkRows = 500;
    static constexpr int DropChunkRows = 5000;

signals:
    // Rows or entries came or went.
    void countsChanged();

private:
    enum class Pass { Idle, Match, Drop, Build, Render };

    const LogEntry& entryOf(qint64 serial) const { return m_entries.at(serial - m_firstSerial); }
    qint64 endSerial() const { return m_firstSerial + m_entries.size(); }
    void appendRows(const QList<qint64>& serials);
    void trimToCap();
    void startFilterPass(const LogFilter& filter);
    void runPassSlice();
    bool matchSlice(const QElapsedTimer& clock);
    bool dropSlice(const QElapsedTimer& clock);
    bool buildSlice(const QElapsedTimer& clock);
    bool renderSlice(const QElapsedTimer& clock);

    QListWidget* m_list = nullptr;
    CommunicationBase* m_comm = nullptr;
    QTimer* m_passTimer = nullptr;
    // Every entry held, oldest first; an entry's serial is its index plus m_firstSerial,
    // so serials stay put when the oldest entries go.
    QList<LogEntry> m_entries;
    qint64 m_firstSerial = 0;
    // The serial behind each row, ascending.
    QList<qint64> m_shown;
    // What the rows show.
    LogFilter m_filter;
    // The pass: Match walks the serials down from m_passTop into m_target, Drop removes
    // the old rows, Build makes rows for m_target from index m_passCursor on, Render
    // rewrites the rows from row m_passCursor up to the first.
    Pass m_pass = Pass::Idle;
    LogFilter m_nextFilter;
    QList<qint64> m_target;
    qint64 m_passCursor = 0;
    qint64 m_passTop = 0;
    // The current row's entry, made current again once the rebuilt rows reach it.
    qint64 m_keepSerial = -1;
};

#pragma once

#include <QAbstractListModel>
#include <QList>

#include "LogEntry.h"
#include "LogFilter.h"

class CommunicationBase;
class QElapsedTimer;
class QListView;
class QTimer;

// The entries behind the log view and its rows, as the model the list shows. It copies
// the entries from the log as the view asks (pull()), drops those the log has dropped,
// and makes a row for each entry the filter lets through. A row is an entry's serial;
// its text is written when the view paints it, so 100,000 rows cost a number each and a
// change of the hex or timestamp display costs one repaint.
//
// A new filter is matched in slices of a few milliseconds, newest entries first, while
// the old rows stay on screen; then the rows are swapped in one go and the current
// row's entry, if still shown, made current again. So 100,000 entries never freeze the
// window.
class LogRows : public QAbstractListModel
{
    Q_OBJECT

public:
    LogRows(QListView* list, CommunicationBase* communication, QObject* parent);

    // Takes what the log holds beyond the entries here, oldest first, until the clock
    // passes budgetNs: rows for those that match, and the entries (with their rows) the
    // log has dropped since go. True when the log holds more.
    bool pull(const QElapsedTimer& clock, qint64 budgetNs);
    void clear();
    // Hiding starts a pass, unless nothing was hidden and nothing will be.
    void setFilter(const LogFilter& filter);
    // The hex or timestamp display changed: the rows read differently.
    void rerender();

    const LogEntry& entryAt(int row) const { return entryOf(m_shown.at(row)); }
    QString rowText(int row) const;
    qsizetype entryCount() const { return m_entries.size(); }
    // Entries in the log not here yet.
    qsizetype pendingCount() const;
    bool isPassRunning() const { return m_passing; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    static constexpr int MaxRowChars = 4096;
    // Longest a slice keeps the event loop waiting.
    static constexpr int PassSliceMs = 8;
    // Entries copied from the log under one lock.
    static constexpr int PullChunk = 2048;

signals:
    // Rows or entries came or went.
    void countsChanged();

private:
    const LogEntry& entryOf(qint64 serial) const { return m_entries.at(serial - m_firstSerial); }
    qint64 endSerial() const { return m_firstSerial + m_entries.size(); }
    void dropEntriesBefore(qint64 serial);
    void appendRows(const QList<qint64>& serials);
    void startFilterPass(const LogFilter& filter);
    void runPassSlice();
    void finishPass();

    QListView* m_list = nullptr;
    CommunicationBase* m_comm = nullptr;
    QTimer* m_passTimer = nullptr;
    // Every entry held, oldest first; an entry's serial is its index plus m_firstSerial
    // and equals its serial in the log, so serials stay put when the oldest entries go.
    QList<LogEntry> m_entries;
    qint64 m_firstSerial = 0;
    // The serial behind each row, ascending.
    QList<qint64> m_shown;
    // What the rows show.
    LogFilter m_filter;
    // The filter pass: serials from m_passCursor down to the first matched into
    // m_target (newest first); entries after m_passTop came meanwhile and are matched
    // when the pass ends.
    bool m_passing = false;
    LogFilter m_nextFilter;
    QList<qint64> m_target;
    qint64 m_passCursor = 0;
    qint64 m_passTop = 0;
};

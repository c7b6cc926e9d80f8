#pragma once

#include <QList>
#include <QMutex>
#include <QWidget>

#include "LogEntry.h"
#include "LogFilter.h"

class CommunicationBase;
class LogDetailPane;
class LogFilterBar;
class QLabel;
class QListWidget;
class QPushButton;
class QSplitter;
class QElapsedTimer;
class QTimer;

// The communication log as one-line, colour-coded rows of uniform height, with a filter
// bar above, the selected entry in full in a detail pane below (a collapsible splitter),
// and a counter/status bar. Entries arrive through CommunicationBase::logEntryAdded, are
// queued and turned into rows in batches (at most 200 per pass, first pass within 50 ms),
// so a burst costs one repaint. The view keeps every entry it was given (capped like the
// log) but makes rows only for those the filter lets through: a list with 100,000 hidden
// rows would make every removal at the cap cost as much as the hidden rows. A change of
// filter is a pass in slices of a few milliseconds: the entries are matched newest first
// while the old rows stay on screen, then the rows are rebuilt oldest first; a change of
// hex or timestamp display re-renders the rows the same way. 100,000 rows never freeze
// the window.
class LogViewWidget : public QWidget
{
    Q_OBJECT

public:
    explicit LogViewWidget(CommunicationBase* communication, QWidget* parent = nullptr);

    void setLineSpacing(int value);
    void setFontSize(int value);
    void copySelected();
    // The rows shown: entries the filter hides stay out.
    void copyAll();
    void clear();
    // Writes the whole log to fileName (format by extension), whatever the filter hides.
    void exportTo(const QString& fileName);
    // Selects the next (or previous) shown row that matches the filter bar, wrapping
    // around; false when none does.
    bool findNext(bool forward = true);
    // Texts set while running; the window's language walk does the fixed ones.
    void setEnglish(bool english);

    int lineSpacing() const { return m_lineSpacing; }
    int fontSize() const { return m_fontSize; }
    qsizetype pendingCount() const;
    QListWidget* list() const { return m_logOutput; }
    LogFilterBar* filterBar() const { return m_filterBar; }
    int shownCount() const;
    // Entries the view holds, shown or not.
    qsizetype entryCount() const { return m_entries.size(); }
    // A filter or re-render pass has work left.
    bool isPassRunning() const { return m_pass != Pass::Idle; }

    static constexpr int MaxRowsPerFlush = 200;
    static constexpr int FlushIntervalMs = 50;
    static constexpr int MaxRowChars = 4096;
    // Longest a filter or re-render slice keeps the event loop waiting.
    static constexpr int PassSliceMs = 8;
    static constexpr int BuildChunkRows = 500;
    static constexpr int DropChunkRows = 5000;

public slots:
    void onNewLogEntry(LogEntry entry);
    void onCountersUpdated();
    void flushPendingItems();
    void exportLog();
    void handleContextMenu(QPoint pos);

private:
    enum class Pass { Idle, Match, Drop, Build, Render };

    void applyItemStyle();
    void scheduleFlush(int delayMs);
    int rowCap() const;
    const LogEntry& entryOf(qint64 serial) const { return m_entries.at(serial - m_firstSerial); }
    qint64 endSerial() const { return m_firstSerial + m_entries.size(); }
    void appendRows(const QList<qint64>& serials);
    void trimToCap();
    void clearRows();
    void applyFilterBar();
    void startFilterPass(const LogFilter& filter);
    void onDisplayChanged();
    void runPassSlice();
    bool matchSlice(const QElapsedTimer& clock);
    bool dropSlice(const QElapsedTimer& clock);
    bool buildSlice(const QElapsedTimer& clock);
    bool renderSlice(const QElapsedTimer& clock);
    void updateShownLabel();

    CommunicationBase* m_comm = nullptr;
    LogFilterBar* m_filterBar = nullptr;
    QSplitter* m_splitter = nullptr;
    QListWidget* m_logOutput = nullptr;
    LogDetailPane* m_detailPane = nullptr;
    QLabel* m_txLabel = nullptr;
    QLabel* m_rxLabel = nullptr;
    QLabel* m_shownLabel = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_resetButton = nullptr;
    QTimer* m_flushTimer = nullptr;
    QTimer* m_passTimer = nullptr;
    QList<LogEntry> m_pending;
    mutable QMutex m_pendingMutex;
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
    // rewrites rows from row m_passCursor up to the first.
    Pass m_pass = Pass::Idle;
    LogFilter m_nextFilter;
    QList<qint64> m_target;
    qint64 m_passCursor = 0;
    qint64 m_passTop = 0;
    // The current row's entry, made current again once the rebuilt rows reach it.
    qint64 m_keepSerial = -1;
    bool m_flushScheduled = false;
    bool m_pinnedToBottom = false;
    bool m_english = false;
    int m_lineSpacing = 0;
    int m_fontSize = 11;
};

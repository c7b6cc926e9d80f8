#pragma once

#include <QWidget>

#include "LogEntry.h"
#include "LogRows.h"

class CommunicationBase;
class LogDetailPane;
class LogFilterBar;
class QLabel;
class QListView;
class QPushButton;
class QSplitter;
class QTimer;

// The communication log as one-line, colour-coded rows of uniform height, with a filter
// bar above, the selected entry in full in a detail pane below (a collapsible splitter),
// and a counter/status bar. A new entry only schedules a pass (within 50 ms) that takes
// everything logged since from the log into LogRows, the model the list shows, for a
// few milliseconds at most; so a burst costs one insertion and one repaint, and the
// counters are written once per pass, not once per entry. LogRows keeps the entries
// behind the rows and applies filters in slices.
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
    // Selects the next (or previous) row that matches the filter bar, wrapping around;
    // false when none does.
    bool findNext(bool forward = true);
    // Texts set while running; the window's language walk does the fixed ones.
    void setEnglish(bool english);

    int lineSpacing() const { return m_lineSpacing; }
    int fontSize() const { return m_fontSize; }
    // Entries logged that have no row yet (nor a decision that they get none).
    qsizetype pendingCount() const;
    QListView* list() const { return m_logOutput; }
    int shownCount() const;
    // The text of a row as shown.
    QString rowText(int row) const;
    // Entries the view holds, shown or not.
    qsizetype entryCount() const { return m_rows->entryCount(); }
    // A filter or re-render pass has work left.
    bool isPassRunning() const { return m_rows->isPassRunning(); }

    static constexpr int FlushIntervalMs = 50;
    // Longest a pass keeps the event loop waiting.
    static constexpr int FlushBudgetMs = 8;
    static constexpr int MaxRowChars = LogRows::MaxRowChars;

public slots:
    void onCountersUpdated();
    void flushPendingItems();
    void exportLog();
    void handleContextMenu(QPoint pos);

private:
    void applyItemStyle();
    void onEntryLogged();
    void showCounters();
    void scheduleFlush(int delayMs);
    void clearRows();
    void applyFilterBar();
    void updateShownLabel();

    CommunicationBase* m_comm = nullptr;
    LogFilterBar* m_filterBar = nullptr;
    QSplitter* m_splitter = nullptr;
    QListView* m_logOutput = nullptr;
    LogRows* m_rows = nullptr;
    LogDetailPane* m_detailPane = nullptr;
    QLabel* m_txLabel = nullptr;
    QLabel* m_rxLabel = nullptr;
    QLabel* m_shownLabel = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_resetButton = nullptr;
    QTimer* m_flushTimer = nullptr;
    bool m_flushScheduled = false;
    bool m_countersChanged = false;
    bool m_pinnedToBottom = false;
    bool m_english = false;
    int m_lineSpacing = 0;
    int m_fontSize = 11;
};

#pragma once

#include <QList>
#include <QMutex>
#include <QWidget>

#include "LogEntry.h"

class CommunicationBase;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

// The communication log as colour-coded rows with a counter/status bar. Entries arrive
// through CommunicationBase::logEntryAdded, are queued and turned into rows in batches
// (at most 200 per pass, first pass within 50 ms), so a burst costs one repaint. The
// rows are capped like the log itself; the oldest go first, in blocks.
class LogViewWidget : public QWidget
{
    Q_OBJECT

public:
    explicit LogViewWidget(CommunicationBase* communication, QWidget* parent = nullptr);

    void setLineSpacing(int value);
    void setFontSize(int value);
    void copySelected();
    void copyAll();
    void clear();
    // Writes the log to fileName (format by extension) and reports the outcome.
    void exportTo(const QString& fileName);

    // Texts built on demand (menu, dialogs) in English rather than Chinese.
    void setEnglish(bool english) { m_english = english; }

    int lineSpacing() const { return m_lineSpacing; }
    int fontSize() const { return m_fontSize; }
    qsizetype pendingCount() const;
    QListWidget* list() const { return m_logOutput; }

    static constexpr int MaxRowsPerFlush = 200;
    static constexpr int FlushIntervalMs = 50;
    static constexpr int MaxRowChars = 4096;

public slots:
    void onNewLogEntry(LogEntry entry);
    void onCountersUpdated();
    void flushPendingItems();
    void exportLog();
    void handleContextMenu(QPoint pos);

private:
    void applyItemStyle();
    void scheduleFlush(int delayMs);
    int rowCap() const;

    CommunicationBase* m_comm = nullptr;
    QListWidget* m_logOutput = nullptr;
    QLabel* m_txLabel = nullptr;
    QLabel* m_rxLabel = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_resetButton = nullptr;
    QTimer* m_flushTimer = nullptr;
    QList<LogEntry> m_pending;
    mutable QMutex m_pendingMutex;
    bool m_flushScheduled = false;
    bool m_pinnedToBottom = false;
    int m_lineSpacing = 0;
    int m_fontSize = 11;
    bool m_english = false;
};

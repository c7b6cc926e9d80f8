#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include "LogEntry.h"

// The one communication log of the window: entries (capped, oldest dropped), the TX/RX
// byte counters and the display settings edited in the control column. Hub code logs
// only through logSystemMessage/logSentData/logReceivedData. Signals are emitted after
// the entry lock is released, so receivers may call back in.
class CommunicationBase : public QObject
{
    Q_OBJECT

public:
    explicit CommunicationBase(QObject* parent = nullptr);

    // Overridable cap; below 1 switches trimming off.
    virtual int maxEntries() const;

    void logSystemMessage(const QString& message);
    void logSentData(const QByteArray& payload);
    void logReceivedData(const QByteArray& payload);
    // Bytes sent whose row says something else (the client's "[method] -> text" entry).
    void countSent(qint64 bytes);
    // A row in the colour of its direction that no counter sees: keep-alive pings, shown
    // only to those who debug them.
    void logUncounted(LogEntry::Direction direction, const QByteArray& payload);
    // Bytes that are no text in any encoding (MessagePack), with the text they were read
    // as; counted in the direction's counter unless asked not to.
    void logDecoded(LogEntry::Direction direction, const QByteArray& payload, const QString& text,
                    bool counted = true);

    QByteArray encodeText(const QString& text) const;
    static QStringList supportedEncodings();

    void clearLog();
    void resetCounters();
    bool writeLogFile(const QString& fileName, bool hex, bool csv);

    // Both change how every row reads, so they announce displayChanged.
    void setShowTimestamp(bool on);
    void setHexDisplay(bool on);
    void setAutoScroll(bool on) { m_autoScroll = on; }
    void setEncoding(const QString& name) { m_encoding = name; }
    // The language of the entries the hub ends write from now on; earlier ones stay.
    void setEnglishTexts(bool on) { m_englishTexts = on; }
    bool englishTexts() const { return m_englishTexts; }
    QString pick(const QString& chinese, const QString& english) const
    {
        return m_englishTexts ? english : chinese;
    }

    bool showTimestamp() const { return m_showTimestamp; }
    bool autoScroll() const { return m_autoScroll; }
    bool hexDisplay() const { return m_hexDisplay; }
    QString encoding() const { return m_encoding; }
    qint64 txBytes() const { return m_txBytes; }
    qint64 rxBytes() const { return m_rxBytes; }

    // A snapshot of the log, oldest first.
    QList<LogEntry> entries() const;
    qsizetype entryCount() const;

signals:
    void logEntryAdded(LogEntry entry);
    void logCleared();
    void countersUpdated();
    void connectionStatusChanged(bool connected);
    void displayChanged();

private:
    void appendEntry(const LogEntry& entry);

    bool m_showTimestamp = true;
    bool m_autoScroll = true;
    bool m_hexDisplay = false;
    bool m_englishTexts = false;
    QString m_encoding = QStringLiteral("UTF-8");
    qint64 m_txBytes = 0;
    qint64 m_rxBytes = 0;
    QList<LogEntry> m_entries;
    mutable QMutex m_mutex;
};

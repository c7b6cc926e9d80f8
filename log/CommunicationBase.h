#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include "LogEntry.h"

// The one communication log of the window: entries, the TX/RX byte counters and the
// display settings edited in the control column. Hub code logs only through
// logSystemMessage/logSentData/logReceivedData. Signals are emitted after the entry lock
// is released, so receivers may call back in.
//
// The log is bounded twice: by the number of entries and by the bytes their payloads
// hold together; past either the oldest entries go. One entry keeps at most a share of
// the byte budget (maxEntryBytes()): a longer payload is kept cut, with a marker that
// gives its full size, and counted in full. Every entry gets the next serial number, so
// a reader (the log view) can ask for what came since it last looked.
class CommunicationBase : public QObject
{
    Q_OBJECT

public:
    explicit CommunicationBase(QObject* parent = nullptr);

    // Overridable caps; below 1 switches each off.
    virtual int maxEntries() const;
    virtual qint64 maxBytes() const;
    // The most one entry keeps: a share of maxBytes() (none when that is off).
    qint64 maxEntryBytes() const;

    static constexpr qint64 DefaultMaxBytes = 256ll * 1024 * 1024;
    static constexpr int EntryShareOfBudget = 64;

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
    void setEncoding(const QString& name);
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
    // Payload bytes the entries hold together.
    qint64 byteCount() const;
    // Serial numbers: the oldest entry kept, and the one the next entry will get.
    qint64 firstSerial() const;
    qint64 endSerial() const;
    // At most `max` entries from serial `from` on (from the oldest kept when that one is
    // gone); *first receives the serial of the first one returned.
    QList<LogEntry> entriesFrom(qint64 from, qsizetype max, qint64* first) const;

signals:
    void logEntryAdded(LogEntry entry);
    void logCleared();
    void countersUpdated();
    void connectionStatusChanged(bool connected);
    void displayChanged();

private:
    void appendEntry(LogEntry entry);

    bool m_showTimestamp = true;
    bool m_autoScroll = true;
    bool m_hexDisplay = false;
    bool m_englishTexts = false;
    QString m_encoding = QStringLiteral("UTF-8");
    quint8 m_encodingId = 0;
    qint64 m_txBytes = 0;
    qint64 m_rxBytes = 0;
    // Guarded by m_mutex: the entries, oldest first, the serial of the first and the
    // bytes they hold.
    QList<LogEntry> m_entries;
    qint64 m_firstSerial = 0;
    qint64 m_bytes = 0;
    mutable QMutex m_mutex;
};

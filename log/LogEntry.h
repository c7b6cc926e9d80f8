#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// One record of the communication log, kept small: a flood of 100,000 entries is mostly
// these, so an entry holds its payload bytes and little else. The text and hex forms are
// made when something asks (a row on screen, a filter, the detail pane, an export), from
// the bytes and the encoding in force when the entry was logged: a later change of the
// encoding never alters what was logged. A system entry keeps its text as UTF-8, and its
// "hex form" is that text. A binary message shown as what it was read as (decoded())
// keeps that text beside its bytes.
//
// A payload longer than the log lets one entry keep is cut (truncate()): the entry then
// remembers the full size, and its text and hex forms end with a marker that says so.
struct LogEntry
{
    enum Direction : qint8 { TX = 0, RX = 1, SYS = 2 };

    LogEntry() = default;
    LogEntry(Direction direction, const QByteArray& payload, const QString& encodingName);
    LogEntry(Direction direction, const QByteArray& payload, quint8 encodingId);
    explicit LogEntry(const QString& message);
    // A payload shown as a text of its own rather than decoded: a binary message and what
    // it was read as.
    static LogEntry decoded(Direction direction, const QByteArray& payload, const QString& text);

    QString text() const;
    QString hexText() const;
    // The same, made only as far as needed for the first `chars` characters (and
    // perhaps some more): a row of a multi-megabyte entry must not decode all of it.
    QString textPrefix(qsizetype chars) const;
    QString hexPrefix(qsizetype chars) const;
    QDateTime timestamp() const;
    // hh:mm:ss.zzz in the local time of the moment the entry was made.
    QString timeString() const;
    QString directionTag() const;

    // Keeps the first `keep` bytes at most (of the text read as, too), never half a
    // character; the marker is written in English or Chinese.
    void truncate(qsizetype keep, bool english);
    bool isTruncated() const { return truncated; }
    // What the marker says, empty when the entry is whole.
    QString truncationMarker() const;
    // The bytes the entry holds, for the log's budget.
    qint64 heldBytes() const { return data.size() + readAs.size(); }

    // The payload (a system entry: its text in UTF-8), cut when isTruncated().
    QByteArray data;
    // decoded(): the text it was read as, in UTF-8; empty otherwise.
    QByteArray readAs;
    // Milliseconds since the epoch, and the local offset from UTC then; 0 and 0 for an
    // entry that was never stamped.
    qint64 msecs = 0;
    qint32 offsetSeconds = 0;
    Direction direction = TX;
    quint8 encoding = 0; // PayloadCodec::encodingId
    bool englishMarker = false;
    bool truncated = false;
    // Bytes of the payload before truncate().
    qint64 fullSize = 0;
};

// Its members move as plain bytes, so a list of entries grows by reallocation.
Q_DECLARE_TYPEINFO(LogEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(LogEntry)

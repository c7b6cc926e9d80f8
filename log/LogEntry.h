#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// One record of the communication log. Text and hex forms are computed once, when the
// entry is built, so a later change of the encoding never alters what was logged.
struct LogEntry
{
    enum Direction : qint32 { TX = 0, RX = 1, SYS = 2 };

    LogEntry() = default;
    LogEntry(Direction direction, const QByteArray& payload, const QString& encodingName);
    explicit LogEntry(const QString& message);
    // A payload shown as a text of its own rather than decoded: a binary message and what
    // it was read as.
    static LogEntry decoded(Direction direction, const QByteArray& payload, const QString& text);

    QString timeString() const;
    QString directionTag() const;

    QDateTime timestamp;
    Direction direction = TX;
    QByteArray data;
    QString text;
    QString hexText;
};

Q_DECLARE_METATYPE(LogEntry)

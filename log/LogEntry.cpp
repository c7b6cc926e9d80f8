#include "LogEntry.h"

#include "LocalClock.h"
#include "PayloadCodec.h"

LogEntry::LogEntry(Direction direction, const QByteArray& payload, const QString& encodingName)
    : timestamp(LocalClock::now())
    , direction(direction)
    , data(payload)
    , hexText(PayloadCodec::toHexString(payload))
{
    if (direction == TX || direction == RX)
        text = PayloadCodec::decodeBytes(payload, encodingName);
}

LogEntry::LogEntry(const QString& message)
    : timestamp(LocalClock::now())
    , direction(SYS)
    , text(message)
    , hexText(message)
{
}

LogEntry LogEntry::decoded(Direction direction, const QByteArray& payload, const QString& text)
{
    LogEntry entry(text);
    entry.direction = direction;
    entry.data = payload;
    entry.hexText = PayloadCodec::toHexString(payload);
    return entry;
}

QString LogEntry::timeString() const
{
    if (!timestamp.isValid())
        return QString();
    // Written by hand: every row of a flood needs one, and the pattern-driven formatter
    // costs several times more.
    const QTime t = timestamp.time();
    const int fields[] = {t.hour(), t.minute(), t.second()};
    QString out(12, Qt::Uninitialized);
    QChar* d = out.data();
    for (int i = 0; i < 3; ++i) {
        *d++ = QLatin1Char(char('0' + fields[i] / 10));
        *d++ = QLatin1Char(char('0' + fields[i] % 10));
        *d++ = QLatin1Char(i < 2 ? ':' : '.');
    }
    const int ms = t.msec();
    *d++ = QLatin1Char(char('0' + ms / 100));
    *d++ = QLatin1Char(char('0' + ms / 10 % 10));
    *d++ = QLatin1Char(char('0' + ms % 10));
    return out;
}

QString LogEntry::directionTag() const
{
    switch (direction) {
    case TX:
        return QStringLiteral("[TX]");
    case RX:
        return QStringLiteral("[RX]");
    case SYS:
        return QStringLiteral("[SYS]");
    }
    return QString();
}

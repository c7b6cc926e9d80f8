#include "LogEntry.h"

#include "PayloadCodec.h"

LogEntry::LogEntry(Direction direction, const QByteArray& payload, const QString& encodingName)
    : timestamp(QDateTime::currentDateTime())
    , direction(direction)
    , data(payload)
    , hexText(PayloadCodec::toHexString(payload))
{
    if (direction == TX || direction == RX)
        text = PayloadCodec::decodeBytes(payload, encodingName);
}

LogEntry::LogEntry(const QString& message)
    : timestamp(QDateTime::currentDateTime())
    , direction(SYS)
    , text(message)
    , hexText(message)
{
}

QString LogEntry::timeString() const
{
    return timestamp.toString(QStringLiteral("HH:mm:ss.zzz"));
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

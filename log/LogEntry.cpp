#include "LogEntry.h"

#include "LocalClock.h"
#include "PayloadCodec.h"

namespace {

constexpr qint64 MsecsPerDay = 24 * 3600 * 1000;
// No supported encoding needs more bytes than this for one UTF-16 unit.
constexpr qsizetype MaxBytesPerUnit = 3;
// A byte takes three characters of the hex form ("4F ").
constexpr qsizetype HexCharsPerByte = 3;

} // namespace

LogEntry::LogEntry(Direction direction, const QByteArray& payload, const QString& encodingName)
    : LogEntry(direction, payload, PayloadCodec::encodingId(encodingName))
{
}

LogEntry::LogEntry(Direction direction, const QByteArray& payload, quint8 encodingId)
    : data(payload)
    , direction(direction)
    , encoding(encodingId)
    , fullSize(payload.size())
{
    const LocalClock::Stamp stamp = LocalClock::now();
    msecs = stamp.msecs;
    offsetSeconds = stamp.offsetSeconds;
}

LogEntry::LogEntry(const QString& message)
    : LogEntry(SYS, message.toUtf8(), quint8(0))
{
}

LogEntry LogEntry::decoded(Direction direction, const QByteArray& payload, const QString& text)
{
    LogEntry entry(direction, payload, quint8(0));
    entry.readAs = text.toUtf8();
    return entry;
}

QString LogEntry::text() const
{
    // Only the directions of the wire are decoded with their encoding; an entry made
    // from a system message holds UTF-8.
    const bool wire = direction == TX || direction == RX;
    QString out = !readAs.isEmpty() ? QString::fromUtf8(readAs)
                  : wire            ? PayloadCodec::decodeBytes(data, encoding)
                                    : QString::fromUtf8(data);
    if (isTruncated())
        out += truncationMarker();
    return out;
}

QString LogEntry::hexText() const
{
    if (direction == SYS)
        return text();
    QString out = PayloadCodec::toHexString(data);
    if (isTruncated())
        out += truncationMarker();
    return out;
}

QString LogEntry::textPrefix(qsizetype chars) const
{
    const QByteArray& source = readAs.isEmpty() ? data : readAs;
    const qsizetype enough = chars * MaxBytesPerUnit;
    if (source.size() <= enough)
        return text();
    const bool wire = readAs.isEmpty() && (direction == TX || direction == RX);
    const quint8 textEncoding = wire ? encoding : quint8(0);
    const QByteArray head = source.left(PayloadCodec::characterBoundary(source, enough, textEncoding));
    return PayloadCodec::decodeBytes(head, textEncoding);
}

QString LogEntry::hexPrefix(qsizetype chars) const
{
    if (direction == SYS)
        return textPrefix(chars);
    const qsizetype enough = chars / HexCharsPerByte + 1;
    if (data.size() <= enough)
        return hexText();
    return PayloadCodec::toHexString(data.left(enough));
}

QString LogEntry::truncationMarker() const
{
    if (!isTruncated())
        return QString();
    return englishMarker ? QStringLiteral(" …[truncated: %1 bytes in all, %2 kept]").arg(fullSize).arg(data.size())
                         : QStringLiteral(" …[已截断: 共 %1 字节, 保留 %2 字节]").arg(fullSize).arg(data.size());
}

void LogEntry::truncate(qsizetype keep, bool english)
{
    if (keep >= data.size() && keep >= readAs.size())
        return;
    if (keep < data.size()) {
        const quint8 textEncoding = direction == SYS || !readAs.isEmpty() ? quint8(0) : encoding;
        data.truncate(PayloadCodec::characterBoundary(data, keep, textEncoding));
        // What stays must not hold on to the rest in a shared buffer.
        data.squeeze();
    }
    if (keep < readAs.size()) {
        readAs.truncate(PayloadCodec::characterBoundary(readAs, keep, 0));
        readAs.squeeze();
    }
    truncated = true;
    englishMarker = english;
}

QDateTime LogEntry::timestamp() const
{
    if (msecs == 0 && offsetSeconds == 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, offsetSeconds);
}

QString LogEntry::timeString() const
{
    if (msecs == 0 && offsetSeconds == 0)
        return QString();
    // Written by hand from the stored numbers: every row of a flood needs one, and a
    // date-time object with a pattern costs many times more.
    const qint64 ofDay = ((msecs + qint64(offsetSeconds) * 1000) % MsecsPerDay + MsecsPerDay) % MsecsPerDay;
    const int fields[] = {int(ofDay / 3600000), int(ofDay / 60000 % 60), int(ofDay / 1000 % 60)};
    QString out(12, Qt::Uninitialized);
    QChar* d = out.data();
    for (int i = 0; i < 3; ++i) {
        *d++ = QLatin1Char(char('0' + fields[i] / 10));
        *d++ = QLatin1Char(char('0' + fields[i] % 10));
        *d++ = QLatin1Char(i < 2 ? ':' : '.');
    }
    const int ms = int(ofDay % 1000);
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

#include "CommunicationBase.h"

#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

#include <algorithm>

#include "PayloadCodec.h"

CommunicationBase::CommunicationBase(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<LogEntry>("LogEntry");
}

int CommunicationBase::maxEntries() const
{
    return 100000;
}

qint64 CommunicationBase::maxBytes() const
{
    return DefaultMaxBytes;
}

qint64 CommunicationBase::maxEntryBytes() const
{
    const qint64 budget = maxBytes();
    return budget >= 1 ? std::max<qint64>(1, budget / EntryShareOfBudget) : 0;
}

void CommunicationBase::setEncoding(const QString& name)
{
    m_encoding = name;
    m_encodingId = PayloadCodec::encodingId(name);
}

void CommunicationBase::logSystemMessage(const QString& message)
{
    appendEntry(LogEntry(message));
}

void CommunicationBase::logSentData(const QByteArray& payload)
{
    appendEntry(LogEntry(LogEntry::TX, payload, m_encodingId));
    m_txBytes += payload.size();
    emit countersUpdated();
}

void CommunicationBase::logReceivedData(const QByteArray& payload)
{
    appendEntry(LogEntry(LogEntry::RX, payload, m_encodingId));
    m_rxBytes += payload.size();
    emit countersUpdated();
}

void CommunicationBase::setShowTimestamp(bool on)
{
    if (on == m_showTimestamp)
        return;
    m_showTimestamp = on;
    emit displayChanged();
}

void CommunicationBase::setHexDisplay(bool on)
{
    if (on == m_hexDisplay)
        return;
    m_hexDisplay = on;
    emit displayChanged();
}

void CommunicationBase::countSent(qint64 bytes)
{
    m_txBytes += bytes;
    emit countersUpdated();
}

void CommunicationBase::logUncounted(LogEntry::Direction direction, const QByteArray& payload)
{
    appendEntry(LogEntry(direction, payload, m_encodingId));
}

QByteArray CommunicationBase::encodeText(const QString& text) const
{
    return PayloadCodec::encodeString(text, m_encoding);
}

QStringList CommunicationBase::supportedEncodings()
{
    return {QStringLiteral("UTF-8"), QStringLiteral("ASCII"), QStringLiteral("GBK"),
            QStringLiteral("GB2312"), QStringLiteral("Unicode")};
}

void CommunicationBase::clearLog()
{
    {
        QMutexLocker locker(&m_mutex);
        m_firstSerial += m_entries.size();
        m_entries = QList<LogEntry>();
        m_bytes = 0;
    }
    emit logCleared();
}

void CommunicationBase::resetCounters()
{
    m_txBytes = 0;
    m_rxBytes = 0;
    emit countersUpdated();
}

bool CommunicationBase::writeLogFile(const QString& fileName, bool hex, bool csv)
{
    QMutexLocker locker(&m_mutex);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    out.setGenerateByteOrderMark(false);
    if (csv)
        out << "Timestamp,Direction,Data\n";
    for (const LogEntry& entry : std::as_const(m_entries)) {
        const QString payload = hex ? entry.hexText() : entry.text();
        if (csv) {
            QString escaped = payload;
            escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            out << '"' << entry.timeString() << "\",\"" << entry.directionTag() << "\",\"" << escaped
                << "\"\n";
        } else {
            out << entry.timeString() << ' ' << entry.directionTag() << ' ' << payload << '\n';
        }
    }
    out.flush();
    file.close();
    return true;
}

QList<LogEntry> CommunicationBase::entries() const
{
    QMutexLocker locker(&m_mutex);
    return m_entries;
}

qsizetype CommunicationBase::entryCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.size();
}

qint64 CommunicationBase::byteCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_bytes;
}

qint64 CommunicationBase::firstSerial() const
{
    QMutexLocker locker(&m_mutex);
    return m_firstSerial;
}

qint64 CommunicationBase::endSerial() const
{
    QMutexLocker locker(&m_mutex);
    return m_firstSerial + m_entries.size();
}

QList<LogEntry> CommunicationBase::entriesFrom(qint64 from, qsizetype max, qint64* first) const
{
    QMutexLocker locker(&m_mutex);
    const qsizetype start = qsizetype(std::clamp<qint64>(from - m_firstSerial, 0, m_entries.size()));
    *first = m_firstSerial + start;
    return m_entries.mid(start, std::min<qsizetype>(max, m_entries.size() - start));
}

void CommunicationBase::appendEntry(LogEntry entry)
{
    const qint64 share = maxEntryBytes();
    if (share >= 1 && entry.data.size() > share)
        entry.truncate(share, m_englishTexts);
    {
        QMutexLocker locker(&m_mutex);
        m_entries.append(entry);
        m_bytes += entry.data.size();
        const int cap = maxEntries();
        const qint64 budget = maxBytes();
        qsizetype drop = cap >= 1 ? std::max<qsizetype>(0, m_entries.size() - cap) : 0;
        qint64 bytes = m_bytes;
        for (qsizetype i = 0; i < drop; ++i)
            bytes -= m_entries.at(i).data.size();
        while (budget >= 1 && bytes > budget && drop < m_entries.size() - 1)
            bytes -= m_entries.at(drop++).data.size();
        if (drop > 0) {
            m_entries.remove(0, drop);
            m_firstSerial += drop;
            m_bytes = bytes;
        }
    }
    emit logEntryAdded(entry);
}

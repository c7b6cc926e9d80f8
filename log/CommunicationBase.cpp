#include "CommunicationBase.h"

#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

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

void CommunicationBase::logSystemMessage(const QString& message)
{
    appendEntry(LogEntry(message));
}

void CommunicationBase::logSentData(const QByteArray& payload)
{
    appendEntry(LogEntry(LogEntry::TX, payload, m_encoding));
    m_txBytes += payload.size();
    emit countersUpdated();
}

void CommunicationBase::logReceivedData(const QByteArray& payload)
{
    appendEntry(LogEntry(LogEntry::RX, payload, m_encoding));
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
    appendEntry(LogEntry(direction, payload, m_encoding));
}

void CommunicationBase::logDecoded(LogEntry::Direction direction, const QByteArray& payload, const QString& text,
                                   bool counted)
{
    appendEntry(LogEntry::decoded(direction, payload, text));
    if (!counted || direction == LogEntry::SYS)
        return;
    (direction == LogEntry::TX ? m_txBytes : m_rxBytes) += payload.size();
    emit countersUpdated();
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
        m_entries.clear();
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
        const QString& payload = hex ? entry.hexText : entry.text;
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

void CommunicationBase::appendEntry(const LogEntry& entry)
{
    {
        QMutexLocker locker(&m_mutex);
        m_entries.append(entry);
        const int cap = maxEntries();
        if (cap >= 1 && m_entries.size() > cap)
            m_entries.remove(0, m_entries.size() - cap);
    }
    emit logEntryAdded(entry);
}

#include "CommunicationBase.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <memory>

#include "PayloadCodec.h"

namespace {

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case '\n': case '\r': case '\v': case '\f': case 0x85: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

// A payload's own line breaks would start lines that read like entries of their own (a
// received "\n12:00:00.000 [SYS] ..." forged into the file). Whatever follows a break is
// indented, so only entries start at the left margin; the breaks themselves stay.
QString indentContinuations(const QString& payload, qsizetype indent)
{
    if (std::none_of(payload.cbegin(), payload.cend(), isLineBreak))
        return payload;
    QString out;
    out.reserve(payload.size() + indent * 4);
    for (qsizetype i = 0; i < payload.size(); ++i) {
        const QChar c = payload.at(i);
        out += c;
        if (!isLineBreak(c))
            continue;
        if (c == QLatin1Char('\r') && i + 1 < payload.size() && payload.at(i + 1) == QLatin1Char('\n'))
            out += payload.at(++i);
        out += QString(indent, QLatin1Char(' '));
    }
    return out;
}

// Written whole or not at all: an ordinary file goes through a temporary one that
// replaces it only when every byte is written, so a full disk leaves the earlier file (or
// none). A device such as /dev/full must be written in place: renaming over it would
// replace the device; there every write and the final flush are checked.
std::unique_ptr<QFileDevice> openForExport(const QString& fileName)
{
    const QFileInfo target(fileName);
    std::unique_ptr<QFileDevice> file;
    if (target.exists() && !target.isFile() && !target.isDir())
        file = std::make_unique<QFile>(fileName);
    else
        file = std::make_unique<QSaveFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return nullptr;
    return file;
}

// The last buffered bytes fail only here on a full disk; QSaveFile's commit would not
// notice them, so nothing is committed unless they went out.
bool finishExport(QFileDevice& file)
{
    const bool flushed = file.flush() && file.error() == QFileDevice::NoError;
    if (auto* saveFile = qobject_cast<QSaveFile*>(&file))
        return flushed && saveFile->commit(); // uncommitted, the temporary file is removed
    file.close();
    return flushed && file.error() == QFileDevice::NoError;
}

} // namespace

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
    // The usual encoding without looking at its name: every row of a flood comes here.
    return m_encodingId == 0 ? text.toUtf8() : PayloadCodec::encodeString(text, m_encoding);
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
    const std::unique_ptr<QFileDevice> file = openForExport(fileName);
    if (!file)
        return false;
    QTextStream out(file.get());
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
            const QString prefix = entry.timeString() + QLatin1Char(' ') + entry.directionTag() + QLatin1Char(' ');
            out << prefix << indentContinuations(payload, prefix.size()) << '\n';
        }
        if (out.status() != QTextStream::Ok)
            break;
    }
    out.flush();
    // A failed write also makes the commit discard the temporary file.
    return out.status() == QTextStream::Ok && finishExport(*file);
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
    if (share >= 1 && (entry.data.size() > share || entry.readAs.size() > share))
        entry.truncate(share, m_englishTexts);
    {
        QMutexLocker locker(&m_mutex);
        m_entries.append(entry);
        m_bytes += entry.heldBytes();
        const int cap = maxEntries();
        const qint64 budget = maxBytes();
        qsizetype drop = cap >= 1 ? std::max<qsizetype>(0, m_entries.size() - cap) : 0;
        qint64 bytes = m_bytes;
        for (qsizetype i = 0; i < drop; ++i)
            bytes -= m_entries.at(i).heldBytes();
        while (budget >= 1 && bytes > budget && drop < m_entries.size() - 1)
            bytes -= m_entries.at(drop++).heldBytes();
        if (drop > 0) {
            m_entries.remove(0, drop);
            m_firstSerial += drop;
            m_bytes = bytes;
        }
    }
    emit logEntryAdded(entry);
}

#include "LogRows.h"

#include <QBrush>
#include <QElapsedTimer>
#include <QListView>
#include <QTimer>

#include <algorithm>

#include "CommunicationBase.h"

namespace {

// How often a pass looks at the clock, in rows.
constexpr int PassClockRows = 64;
const QChar Ellipsis(0x2026);

const QBrush& directionBrush(LogEntry::Direction direction)
{
    static const QBrush tx(QColor(255, 215, 0));
    static const QBrush rx(QColor(0, 255, 200));
    static const QBrush sys(QColor(136, 146, 160));
    switch (direction) {
    case LogEntry::TX:
        return tx;
    case LogEntry::RX:
        return rx;
    case LogEntry::SYS:
        break;
    }
    return sys;
}

QString renderLine(const LogEntry& entry, bool showTimestamp, bool hex)
{
    const QString gap = QStringLiteral("  ");
    QString line;
    if (showTimestamp)
        line = entry.timeString() + gap;
    line += entry.directionTag() + gap
            + (hex ? entry.hexPrefix(LogRows::MaxRowChars) : entry.textPrefix(LogRows::MaxRowChars));
    if (line.size() > LogRows::MaxRowChars) {
        // A multi-megabyte record would stall painting; the detail pane and export show
        // the whole text. A cut entry still says so at the end of its row.
        qsizetype cut = LogRows::MaxRowChars;
        if (line.at(cut - 1).isHighSurrogate())
            --cut;
        line.truncate(cut);
        line += Ellipsis;
        if (entry.isTruncated())
            line += entry.truncationMarker();
    }
    return line;
}

} // namespace

LogRows::LogRows(QListView* list, CommunicationBase* communication, QObject* parent)
    : QAbstractListModel(parent)
    , m_list(list)
    , m_comm(communication)
    , m_passTimer(new QTimer(this))
{
    m_firstSerial = m_comm->firstSerial();
    m_passTimer->setSingleShot(true);
    connect(m_passTimer, &QTimer::timeout, this, &LogRows::runPassSlice);
}

int LogRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

QVariant LogRows::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown.size())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return rowText(index.row());
    case Qt::ForegroundRole:
        return directionBrush(entryAt(index.row()).direction);
    default:
        return QVariant();
    }
}

QString LogRows::rowText(int row) const
{
    return renderLine(entryAt(row), m_comm->showTimestamp(), m_comm->hexDisplay());
}

qsizetype LogRows::pendingCount() const
{
    return std::max<qint64>(0, m_comm->endSerial() - std::max(endSerial(), m_comm->firstSerial()));
}

bool LogRows::pull(const QElapsedTimer& clock, qint64 budgetNs)
{
    const bool hex = m_comm->hexDisplay();
    bool more = false;
    bool changed = false;
    for (;;) {
        qint64 first = 0;
        const QList<LogEntry> batch = m_comm->entriesFrom(endSerial(), PullChunk, &first);
        // Entries the log dropped before they got here leave a gap: everything held here
        // is older still, so the log has dropped it too.
        if (first > endSerial()) {
            dropEntriesBefore(endSerial());
            m_firstSerial = first;
        }
        m_entries.append(batch);
        dropEntriesBefore(m_comm->firstSerial());
        QList<qint64> fresh;
        fresh.reserve(batch.size());
        for (qint64 serial = std::max(first, m_firstSerial); serial < endSerial(); ++serial) {
            if (!m_filter.isActive() || m_filter.matches(entryOf(serial), hex))
                fresh.append(serial);
        }
        appendRows(fresh);
        changed = changed || !batch.isEmpty();
        more = batch.size() == PullChunk;
        if (!more || clock.nsecsElapsed() >= budgetNs)
            break;
    }
    if (changed)
        emit countsChanged();
    return more;
}

void LogRows::dropEntriesBefore(qint64 serial)
{
    if (serial <= m_firstSerial)
        return;
    const qsizetype entries = std::min<qint64>(serial - m_firstSerial, m_entries.size());
    const qsizetype rows = std::lower_bound(m_shown.cbegin(), m_shown.cend(), serial) - m_shown.cbegin();
    if (rows > 0) {
        beginRemoveRows(QModelIndex(), 0, int(rows) - 1);
        m_shown.remove(0, rows);
        endRemoveRows();
    }
    m_entries.remove(0, entries);
    m_firstSerial = serial;
}

void LogRows::appendRows(const QList<qint64>& serials)
{
    if (serials.isEmpty())
        return;
    // One insertion for the whole batch: the view lays out once instead of per row.
    const int first = int(m_shown.size());
    beginInsertRows(QModelIndex(), first, first + int(serials.size()) - 1);
    m_shown.append(serials);
    endInsertRows();
}

void LogRows::clear()
{
    beginResetModel();
    m_entries = QList<LogEntry>();
    m_shown = QList<qint64>();
    m_firstSerial = m_comm->endSerial();
    m_passing = false;
    m_passTimer->stop();
    m_target.clear();
    endResetModel();
    emit countsChanged();
}

void LogRows::setFilter(const LogFilter& filter)
{
    if (!filter.isActive() && !m_filter.isActive() && !m_passing)
        return;
    startFilterPass(filter);
}

void LogRows::rerender()
{
    // The hex form is what a search compares with, so a filtered log is filtered again.
    if (m_passing)
        startFilterPass(m_nextFilter);
    else if (m_filter.isActive())
        startFilterPass(m_filter);
    else if (!m_shown.isEmpty())
        emit dataChanged(index(0), index(int(m_shown.size()) - 1), {Qt::DisplayRole});
}

void LogRows::startFilterPass(const LogFilter& filter)
{
    m_passing = true;
    m_nextFilter = filter;
    m_target.clear();
    m_passTop = endSerial() - 1;
    m_passCursor = m_passTop;
    if (!m_passTimer->isActive())
        m_passTimer->start(0);
}

void LogRows::runPassSlice()
{
    if (!m_passing)
        return;
    QElapsedTimer clock;
    clock.start();
    const bool hex = m_comm->hexDisplay();
    const bool filtering = m_nextFilter.isActive();
    // Newest first: the rows a reader at the bottom sees are ready first.
    while (m_passCursor >= m_firstSerial) {
        const qint64 serial = m_passCursor--;
        if (!filtering || m_nextFilter.matches(entryOf(serial), hex))
            m_target.append(serial);
        if (serial % PassClockRows == 0 && clock.elapsed() >= PassSliceMs) {
            m_passTimer->start(0);
            emit countsChanged();
            return;
        }
    }
    finishPass();
}

void LogRows::finishPass()
{
    const bool hex = m_comm->hexDisplay();
    const bool filtering = m_nextFilter.isActive();
    QList<qint64> rows;
    rows.reserve(m_target.size());
    // Entries dropped while the pass ran get no row.
    for (auto it = m_target.crbegin(); it != m_target.crend(); ++it) {
        if (*it >= m_firstSerial)
            rows.append(*it);
    }
    // Entries that came since the pass began were shown under the old filter.
    for (qint64 serial = std::max(m_passTop + 1, m_firstSerial); serial < endSerial(); ++serial) {
        if (!filtering || m_nextFilter.matches(entryOf(serial), hex))
            rows.append(serial);
    }
    // The current row's entry, made current again in the new rows.
    const int current = m_list->currentIndex().row();
    const qint64 keep = current >= 0 && current < m_shown.size() ? m_shown.at(current) : -1;
    beginResetModel();
    m_shown = rows;
    m_filter = m_nextFilter;
    m_passing = false;
    m_target = QList<qint64>();
    endResetModel();
    if (keep >= 0) {
        const auto found = std::lower_bound(m_shown.cbegin(), m_shown.cend(), keep);
        if (found != m_shown.cend() && *found == keep) {
            const QModelIndex item = index(int(found - m_shown.cbegin()));
            m_list->setCurrentIndex(item);
            m_list->scrollTo(item, QAbstractItemView::PositionAtCenter);
        }
    }
    emit countsChanged();
}

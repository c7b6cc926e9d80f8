#include "LogRows.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <algorithm>

#include "CommunicationBase.h"

namespace {

// How often a pass looks at the clock, in rows.
constexpr int PassClockRows = 64;
const QChar Ellipsis(0x2026);

QColor directionColor(LogEntry::Direction direction)
{
    switch (direction) {
    case LogEntry::TX:
        return QColor(255, 215, 0);
    case LogEntry::RX:
        return QColor(0, 255, 200);
    case LogEntry::SYS:
        return QColor(136, 146, 160);
    }
    return QColor(224, 224, 224);
}

QString renderLine(const LogEntry& entry, bool showTimestamp, bool hex)
{
    const QString gap = QStringLiteral("  ");
    QString line;
    if (showTimestamp)
        line = entry.timeString() + gap;
    line += entry.directionTag() + gap + (hex ? entry.hexText : entry.text);
    if (line.size() > LogRows::MaxRowChars) {
        // A multi-megabyte record would stall painting; the detail pane and export show
        // the whole text.
        qsizetype cut = LogRows::MaxRowChars;
        if (line.at(cut - 1).isHighSurrogate())
            --cut;
        line.truncate(cut);
        line += Ellipsis;
    }
    return line;
}

} // namespace

LogRows::LogRows(QListWidget* list, CommunicationBase* communication, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_comm(communication)
    , m_passTimer(new QTimer(this))
{
    m_passTimer->setSingleShot(true);
    connect(m_passTimer, &QTimer::timeout, this, &LogRows::runPassSlice);
}

void LogRows::append(const QList<LogEntry>& entries)
{
    const bool hex = m_comm->hexDisplay();
    const qint64 first = endSerial();
    m_entries.append(entries);
    QList<qint64> fresh;
    fresh.reserve(entries.size());
    const bool filtering = m_filter.isActive();
    for (qint64 serial = first; serial < endSerial(); ++serial) {
        if (!filtering || m_filter.matches(entryOf(serial), hex))
            fresh.append(serial);
    }
    m_list->setUpdatesEnabled(false);
    // While rows are rebuilt, new entries join the rows still to be made.
    if (m_pass == Pass::Drop || m_pass == Pass::Build)
        m_target.append(fresh);
    else
        appendRows(fresh);
    trimToCap();
    m_list->setUpdatesEnabled(true);
    emit countsChanged();
}

void LogRows::clear()
{
    m_list->clear();
    m_entries.clear();
    m_shown.clear();
    m_firstSerial = 0;
    m_pass = Pass::Idle;
    m_target.clear();
    m_keepSerial = -1;
    emit countsChanged();
}

void LogRows::appendRows(const QList<qint64>& serials)
{
    if (serials.isEmpty())
        return;
    const bool showTimestamp = m_comm->showTimestamp();
    const bool hex = m_comm->hexDisplay();
    QStringList lines;
    lines.reserve(serials.size());
    for (qint64 serial : serials)
        lines.append(renderLine(entryOf(serial), showTimestamp, hex));
    // One insertion for the whole batch: the view lays out once instead of per row.
    const int first = m_list->count();
    m_list->addItems(lines);
    for (qsizetype i = 0; i < serials.size(); ++i)
        m_list->item(first + int(i))->setForeground(QBrush(directionColor(entryOf(serials.at(i)).direction)));
    m_shown.append(serials);
}

void LogRows::trimToCap()
{
    const int cap = m_comm->maxEntries();
    const qsizetype excess = m_entries.size() - cap;
    if (cap < 1 || excess <= 0)
        return;
    m_entries.remove(0, excess);
    m_firstSerial += excess;
    const qsizetype rows = std::lower_bound(m_shown.cbegin(), m_shown.cend(), m_firstSerial) - m_shown.cbegin();
    if (rows == 0)
        return;
    m_list->model()->removeRows(0, int(rows));
    m_shown.remove(0, rows);
    if (m_pass == Pass::Render)
        m_passCursor -= rows;
}

void LogRows::setFilter(const LogFilter& filter)
{
    if (!filter.isActive() && !m_filter.isActive() && m_pass != Pass::Match)
        return;
    startFilterPass(filter);
}

void LogRows::rerender()
{
    // The hex form is what a search compares with, so a filtered log is filtered again;
    // a rebuild makes its rows with the new settings anyway.
    if (m_pass == Pass::Match || m_pass == Pass::Drop || m_pass == Pass::Build) {
        startFilterPass(m_nextFilter);
    } else if (m_filter.isActive()) {
        startFilterPass(m_filter);
    } else if (m_list->count() > 0) {
        // Newest row first: that is where the reader usually is.
        m_pass = Pass::Render;
        m_passCursor = m_list->count() - 1;
        m_passTimer->start(0);
    }
}

void LogRows::startFilterPass(const LogFilter& filter)
{
    m_pass = Pass::Match;
    m_nextFilter = filter;
    m_target.clear();
    m_passTop = endSerial() - 1;
    m_passCursor = m_passTop;
    if (!m_passTimer->isActive())
        m_passTimer->start(0);
}

void LogRows::runPassSlice()
{
    QElapsedTimer clock;
    clock.start();
    bool done = true;
    switch (m_pass) {
    case Pass::Idle:
        return;
    case Pass::Match:
        done = matchSlice(clock) && dropSlice(clock) && buildSlice(clock);
        break;
    case Pass::Drop:
        done = dropSlice(clock) && buildSlice(clock);
        break;
    case Pass::Build:
        done = buildSlice(clock);
        break;
    case Pass::Render:
        done = renderSlice(clock);
        break;
    }
    if (done) {
        m_pass = Pass::Idle;
        m_target.clear();
    } else {
        m_passTimer->start(0);
    }
    emit countsChanged();
}

bool LogRows::matchSlice(const QElapsedTimer& clock)
{
    const bool hex = m_comm->hexDisplay();
    const bool filtering = m_nextFilter.isActive();
    while (m_passCursor >= m_firstSerial) {
        const qint64 serial = m_passCursor--;
        if (!filtering || m_nextFilter.matches(entryOf(serial), hex))
            m_target.append(serial);
        if (serial % PassClockRows == 0 && clock.elapsed() >= PassSliceMs)
            return false;
    }
    std::reverse(m_target.begin(), m_target.end());
    // Entries that came since the pass began were shown under the old filter.
    for (qint64 serial = m_passTop + 1; serial < endSerial(); ++serial) {
        if (!filtering || m_nextFilter.matches(entryOf(serial), hex))
            m_target.append(serial);
    }
    // From here on the rows are made anew. The current row goes first, or the list
    // would make each next row current (and the detail pane follow) as the old rows go.
    const int current = m_list->currentRow();
    m_keepSerial = current >= 0 ? m_shown.value(current, -1) : -1;
    m_list->setCurrentRow(-1);
    m_filter = m_nextFilter;
    m_pass = Pass::Drop;
    m_passCursor = 0;
    return true;
}

bool LogRows::dropSlice(const QElapsedTimer& clock)
{
    // In chunks from the top: freeing 100,000 rows at once stalls for a tenth of a second,
    // and a view that follows the bottom keeps showing rows until the last chunk.
    while (m_list->count() > 0) {
        const int rows = std::min(m_list->count(), DropChunkRows);
        m_list->model()->removeRows(0, rows);
        m_shown.remove(0, rows);
        if (clock.elapsed() >= PassSliceMs)
            return false;
    }
    m_pass = Pass::Build;
    return true;
}

bool LogRows::buildSlice(const QElapsedTimer& clock)
{
    while (m_passCursor < m_target.size()) {
        QList<qint64> chunk;
        chunk.reserve(BuildChunkRows);
        while (m_passCursor < m_target.size() && chunk.size() < BuildChunkRows) {
            const qint64 serial = m_target.at(m_passCursor++);
            // Entries dropped at the cap while the pass ran get no row.
            if (serial >= m_firstSerial)
                chunk.append(serial);
        }
        m_list->setUpdatesEnabled(false);
        appendRows(chunk);
        m_list->setUpdatesEnabled(true);
        if (m_keepSerial >= 0 && !chunk.isEmpty() && chunk.constLast() >= m_keepSerial) {
            const auto found = std::lower_bound(m_shown.cbegin(), m_shown.cend(), m_keepSerial);
            if (found != m_shown.cend() && *found == m_keepSerial) {
                QListWidgetItem* item = m_list->item(int(found - m_shown.cbegin()));
                m_list->setCurrentItem(item);
                m_list->scrollToItem(item, QAbstractItemView::PositionAtCenter);
            }
            m_keepSerial = -1;
        }
        if (clock.elapsed() >= PassSliceMs)
            return m_passCursor >= m_target.size();
    }
    return true;
}

bool LogRows::renderSlice(const QElapsedTimer& clock)
{
    const bool showTimestamp = m_comm->showTimestamp();
    const bool hex = m_comm->hexDisplay();
    m_list->setUpdatesEnabled(false);
    bool done = true;
    while (m_passCursor >= 0) {
        const int row = int(m_passCursor--);
        m_list->item(row)->setText(renderLine(entryOf(m_shown.at(row)), showTimestamp, hex));
        if (row % PassClockRows == 0 && clock.elapsed() >= PassSliceMs) {
            done = m_passCursor < 0;
            break;
        }
    }
    m_list->setUpdatesEnabled(true);
    return done;
}

#include "LogViewWidget.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "CommunicationBase.h"
#include "LogDetailPane.h"
#include "LogFilterBar.h"
#include "Palette.h"
#include "PayloadFormat.h"

namespace {

constexpr int TextInsetPx = 4;
constexpr int MarkPaddingPx = 2;
constexpr qreal MarkFontScale = 0.75;
// How often a pass looks at the clock, in rows.
constexpr int PassClockRows = 64;
const QChar Ellipsis(0x2026);

// Draws each row on one line, elided at the view's right edge, with control characters
// (line breaks, the 0x1E record separator ...) as small framed marks: fonts draw them as
// boxes or not at all. Only the drawing changes; the row's text keeps the real
// characters for copying. Every row is one line high, so the view can take its height
// from the first row alone (uniform item sizes) and never lays out long texts.
class RowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RowDelegate(QObject* parent)
        : QStyledItemDelegate(parent)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        // One line of any text: the style adds the item padding of the line spacing.
        opt.text = QStringLiteral("Ag");
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), widget);
        // Rows are elided at the view's edge, so they never ask for more width.
        return QSize(1, size.height());
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

        painter->save();
        painter->setFont(opt.font);
        const bool selected = opt.state & QStyle::State_Selected;
        const QColor colour = selected ? opt.palette.color(QPalette::HighlightedText)
                                       : opt.palette.color(QPalette::Text);
        painter->setPen(colour);
        drawLine(painter, opt, colour);
        painter->restore();
    }

private:
    static void drawLine(QPainter* painter, const QStyleOptionViewItem& opt, const QColor& colour)
    {
        const QFontMetrics metrics(opt.font);
        const QRect line = opt.rect.adjusted(TextInsetPx, 0, -TextInsetPx, 0);
        const int baseline = line.top() + (line.height() - metrics.height()) / 2 + metrics.ascent();
        // No glyph is narrower than half the average: never measure more than fits twice.
        const int widest = 2 * line.width() / std::max(1, metrics.averageCharWidth()) + 2;
        const QString& text = opt.text;
        int x = line.left();

        // Draws text[from, to) and says whether the line has room left.
        const auto drawRun = [&](qsizetype from, qsizetype to) {
            if (to <= from)
                return true;
            QString run = text.mid(from, std::min<qsizetype>(to - from, widest));
            if (run.size() < to - from)
                run += Ellipsis;
            const int room = line.right() - x;
            const int width = metrics.horizontalAdvance(run);
            if (width <= room && !run.endsWith(Ellipsis)) {
                painter->drawText(x, baseline, run);
                x += width;
                return true;
            }
            painter->drawText(x, baseline, metrics.elidedText(run, Qt::ElideRight, room));
            return false;
        };

        QFont markFont = opt.font;
        if (markFont.pointSizeF() > 0)
            markFont.setPointSizeF(markFont.pointSizeF() * MarkFontScale);
        const QFontMetrics markMetrics(markFont);
        QColor markColour = colour;
        markColour.setAlpha(160);

        qsizetype runStart = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QString mark = PayloadFormat::controlMark(text.at(i));
            if (mark.isEmpty())
                continue;
            if (!drawRun(runStart, i))
                return;
            runStart = i + 1;
            const int width = markMetrics.horizontalAdvance(mark) + 2 * MarkPaddingPx;
            if (x + width + 1 > line.right()) {
                painter->drawText(x, baseline, QString(Ellipsis));
                return;
            }
            const QRect box(x + 1, line.top() + (line.height() - markMetrics.height()) / 2,
                            width, markMetrics.height());
            painter->setPen(markColour);
            painter->setFont(markFont);
            painter->drawRoundedRect(box, 2, 2);
            painter->drawText(box, Qt::AlignCenter, mark);
            painter->setPen(colour);
            painter->setFont(opt.font);
            x += width + 2;
        }
        drawRun(runStart, text.size());
    }
};

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

QFont rowFont(int pointSize)
{
    QFont font(QStringLiteral("Consolas"), pointSize);
    font.setStyleHint(QFont::Monospace); // Consolas is rare off Windows
    return font;
}

QString renderLine(const LogEntry& entry, bool showTimestamp, bool hex)
{
    const QString gap = QStringLiteral("  ");
    QString line;
    if (showTimestamp)
        line = entry.timeString() + gap;
    line += entry.directionTag() + gap + (hex ? entry.hexText : entry.text);
    if (line.size() > LogViewWidget::MaxRowChars) {
        // A multi-megabyte record would stall painting; the detail pane and export show
        // the whole text.
        qsizetype cut = LogViewWidget::MaxRowChars;
        if (line.at(cut - 1).isHighSurrogate())
            --cut;
        line.truncate(cut);
        line += Ellipsis;
    }
    return line;
}

// Within this many pixels of the end the view counts as following the bottom: a
// fractional scroll must not stop it from following.
constexpr int BottomSlackPx = 10;

bool isNearBottom(const QScrollBar* bar)
{
    return bar->value() >= bar->maximum() - BottomSlackPx;
}

} // namespace

LogViewWidget::LogViewWidget(CommunicationBase* communication, QWidget* parent)
    : QWidget(parent)
    , m_comm(communication)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    m_filterBar = new LogFilterBar(this);
    layout->addWidget(m_filterBar, 0);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("logSplitter"));
    m_splitter->setChildrenCollapsible(true);
    m_logOutput = new QListWidget(m_splitter);
    m_logOutput->setObjectName(QStringLiteral("logOutput"));
    m_logOutput->setFont(rowFont(11));
    m_logOutput->setAlternatingRowColors(false);
    m_logOutput->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_logOutput->setWordWrap(false);
    m_logOutput->setUniformItemSizes(true);
    m_logOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_logOutput->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_logOutput->setFrameShape(QFrame::NoFrame);
    // Batched layout lays out only a slice of rows per event-loop pass; the default
    // single pass lays out the whole list again on every insertion.
    m_logOutput->setLayoutMode(QListView::Batched);
    m_logOutput->setBatchSize(MaxRowsPerFlush);
    m_logOutput->setItemDelegate(new RowDelegate(m_logOutput));
    m_detailPane = new LogDetailPane(m_splitter);
    m_splitter->addWidget(m_logOutput);
    m_splitter->addWidget(m_detailPane);
    // Three parts rows, one part pane, whatever the height turns out to be.
    m_splitter->setSizes({3000, 1000});
    m_splitter->setStretchFactor(0, 3);
    m_splitter->setStretchFactor(1, 1);
    layout->addWidget(m_splitter, 1);

    auto* statusBar = new QFrame(this);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    auto* statusLayout = new QHBoxLayout(statusBar);
    statusLayout->setContentsMargins(12, 4, 12, 4);
    statusLayout->setSpacing(8);
    m_txLabel = new QLabel(QStringLiteral("TX: 0 bytes"), statusBar);
    m_txLabel->setObjectName(QStringLiteral("txLabel"));
    auto* separator = new QLabel(QStringLiteral("│"), statusBar);
    separator->setStyleSheet(QStringLiteral("color: #2A3444; font-size: 16px; padding: 0 4px;"));
    m_rxLabel = new QLabel(QStringLiteral("RX: 0 bytes"), statusBar);
    m_rxLabel->setObjectName(QStringLiteral("rxLabel"));
    m_shownLabel = new QLabel(statusBar);
    m_shownLabel->setObjectName(QStringLiteral("shownLabel"));
    m_shownLabel->setStyleSheet(QStringLiteral("color: %1; padding-left: 12px;").arg(Palette::TextMuted));
    m_resetButton = new QPushButton(QStringLiteral("重置计数"), statusBar);
    m_clearButton = new QPushButton(QStringLiteral("清除日志"), statusBar);
    m_exportButton = new QPushButton(QStringLiteral("导出"), statusBar);
    for (QPushButton* button : {m_resetButton, m_clearButton, m_exportButton}) {
        button->setObjectName(QStringLiteral("smallButton"));
        button->setFixedHeight(24);
    }
    statusLayout->addWidget(m_txLabel);
    statusLayout->addWidget(separator);
    statusLayout->addWidget(m_rxLabel);
    statusLayout->addWidget(m_shownLabel);
    statusLayout->addStretch();
    statusLayout->addWidget(m_resetButton);
    statusLayout->addWidget(m_clearButton);
    statusLayout->addWidget(m_exportButton);
    layout->addWidget(statusBar, 0);

    connect(m_resetButton, &QPushButton::clicked, m_comm, &CommunicationBase::resetCounters);
    connect(m_clearButton, &QPushButton::clicked, this, &LogViewWidget::clear);
    connect(m_exportButton, &QPushButton::clicked, this, &LogViewWidget::exportLog);

    applyItemStyle();
    updateShownLabel();

    m_flushTimer = new QTimer(this);
    m_flushTimer->setInterval(FlushIntervalMs);
    m_flushTimer->setSingleShot(true);
    connect(m_flushTimer, &QTimer::timeout, this, &LogViewWidget::flushPendingItems);
    m_passTimer = new QTimer(this);
    m_passTimer->setSingleShot(true);
    connect(m_passTimer, &QTimer::timeout, this, &LogViewWidget::runPassSlice);

    connect(m_comm, &CommunicationBase::logEntryAdded, this, &LogViewWidget::onNewLogEntry);
    connect(m_comm, &CommunicationBase::countersUpdated, this, &LogViewWidget::onCountersUpdated);
    connect(m_comm, &CommunicationBase::logCleared, this, &LogViewWidget::clearRows);
    connect(m_comm, &CommunicationBase::displayChanged, this, &LogViewWidget::onDisplayChanged);

    connect(m_filterBar, &LogFilterBar::criteriaChanged, this, &LogViewWidget::applyFilterBar);
    connect(m_filterBar, &LogFilterBar::findRequested, this, &LogViewWidget::findNext);
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(next, &QShortcut::activated, this, [this] { findNext(true); });
    connect(previous, &QShortcut::activated, this, [this] { findNext(false); });
    // No current row (while rows are rebuilt) leaves the pane as it was.
    connect(m_logOutput, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < m_shown.size())
            m_detailPane->showEntry(entryOf(m_shown.at(row)));
    });

    // Batched layout grows the scroll range after the flush has returned, so a view that
    // follows the bottom is kept there as the range grows, until the user scrolls away.
    QScrollBar* bar = m_logOutput->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (m_pinnedToBottom && m_comm->autoScroll())
            bar->setValue(max);
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int) {
        if (!isNearBottom(bar))
            m_pinnedToBottom = false;
    });

    m_logOutput->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_logOutput, &QListWidget::customContextMenuRequested, this,
            &LogViewWidget::handleContextMenu);
}

int LogViewWidget::rowCap() const
{
    return m_comm->maxEntries();
}

qsizetype LogViewWidget::pendingCount() const
{
    QMutexLocker locker(&m_pendingMutex);
    return m_pending.size();
}

int LogViewWidget::shownCount() const
{
    return m_logOutput->count();
}

void LogViewWidget::scheduleFlush(int delayMs)
{
    m_flushScheduled = true;
    m_flushTimer->start(delayMs);
}

void LogViewWidget::onNewLogEntry(LogEntry entry)
{
    {
        QMutexLocker locker(&m_pendingMutex);
        m_pending.append(std::move(entry));
        // Entries that the row cap would remove at once are never worth drawing.
        const int cap = rowCap();
        if (cap >= 1 && m_pending.size() > cap)
            m_pending.remove(0, m_pending.size() - cap);
    }
    if (!m_flushScheduled)
        scheduleFlush(FlushIntervalMs);
}

void LogViewWidget::onCountersUpdated()
{
    m_txLabel->setText(QStringLiteral("TX: %1 bytes").arg(m_comm->txBytes()));
    m_rxLabel->setText(QStringLiteral("RX: %1 bytes").arg(m_comm->rxBytes()));
}

void LogViewWidget::flushPendingItems()
{
    m_flushScheduled = false;
    QList<LogEntry> batch;
    bool more = false;
    {
        QMutexLocker locker(&m_pendingMutex);
        if (m_pending.isEmpty())
            return;
        const qsizetype take = std::min<qsizetype>(m_pending.size(), MaxRowsPerFlush);
        batch = m_pending.mid(0, take);
        m_pending.remove(0, take);
        more = !m_pending.isEmpty();
    }

    const bool autoScroll = m_comm->autoScroll();
    const bool hex = m_comm->hexDisplay();

    bool atBottom = false;
    if (autoScroll) {
        const QScrollBar* bar = m_logOutput->verticalScrollBar();
        atBottom = !bar || isNearBottom(bar);
    }

    const qint64 first = endSerial();
    m_entries.append(batch);
    // While rows are rebuilt, new entries join the rows still to be made.
    QList<qint64> fresh;
    fresh.reserve(batch.size());
    const bool filtering = m_filter.isActive();
    for (qint64 serial = first; serial < endSerial(); ++serial) {
        if (!filtering || m_filter.matches(entryOf(serial), hex))
            fresh.append(serial);
    }
    m_logOutput->setUpdatesEnabled(false);
    if (m_pass == Pass::Drop || m_pass == Pass::Build)
        m_target.append(fresh);
    else
        appendRows(fresh);
    trimToCap();
    m_logOutput->setUpdatesEnabled(true);
    updateShownLabel();

    if (autoScroll && atBottom) {
        m_pinnedToBottom = true;
        m_logOutput->scrollToBottom();
    }

    // Keep up with a burst: the rest goes in the next pass, without waiting 50 ms.
    if (more)
        scheduleFlush(0);
}

void LogViewWidget::appendRows(const QList<qint64>& serials)
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
    const int first = m_logOutput->count();
    m_logOutput->addItems(lines);
    for (qsizetype i = 0; i < serials.size(); ++i)
        m_logOutput->item(first + int(i))->setForeground(QBrush(directionColor(entryOf(serials.at(i)).direction)));
    m_shown.append(serials);
}

void LogViewWidget::trimToCap()
{
    const int cap = rowCap();
    const qsizetype excess = m_entries.size() - cap;
    if (cap < 1 || excess <= 0)
        return;
    m_entries.remove(0, excess);
    m_firstSerial += excess;
    const qsizetype rows = std::lower_bound(m_shown.cbegin(), m_shown.cend(), m_firstSerial) - m_shown.cbegin();
    if (rows == 0)
        return;
    m_logOutput->model()->removeRows(0, int(rows));
    m_shown.remove(0, rows);
    if (m_pass == Pass::Render)
        m_passCursor -= rows;
}

void LogViewWidget::applyFilterBar()
{
    const LogFilter wanted = m_filterBar->isFiltering() ? LogFilter(m_filterBar->criteria()) : LogFilter();
    // Nothing hidden before and after: no rows to touch.
    if (!wanted.isActive() && !m_filter.isActive() && m_pass != Pass::Match)
        return;
    startFilterPass(wanted);
}

void LogViewWidget::startFilterPass(const LogFilter& filter)
{
    m_pass = Pass::Match;
    m_nextFilter = filter;
    m_target.clear();
    m_passTop = endSerial() - 1;
    m_passCursor = m_passTop;
    if (!m_passTimer->isActive())
        m_passTimer->start(0);
}

void LogViewWidget::onDisplayChanged()
{
    // The hex form is what a search compares with, so a filtered log is filtered again;
    // a rebuild makes its rows with the new settings anyway.
    if (m_pass == Pass::Match || m_pass == Pass::Drop || m_pass == Pass::Build) {
        startFilterPass(m_nextFilter);
    } else if (m_filter.isActive()) {
        startFilterPass(m_filter);
    } else if (m_logOutput->count() > 0) {
        // Newest row first: that is where the reader usually is.
        m_pass = Pass::Render;
        m_passCursor = m_logOutput->count() - 1;
        m_passTimer->start(0);
    }
}

void LogViewWidget::runPassSlice()
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
    updateShownLabel();
    if (!done) {
        m_passTimer->start(0);
        return;
    }
    m_pass = Pass::Idle;
    m_target.clear();
}

bool LogViewWidget::matchSlice(const QElapsedTimer& clock)
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
    // Entries flushed since the pass began were shown under the old filter.
    for (qint64 serial = m_passTop + 1; serial < endSerial(); ++serial) {
        if (!filtering || m_nextFilter.matches(entryOf(serial), hex))
            m_target.append(serial);
    }
    // From here on the rows are made anew. The current row goes first, or the list
    // would make each next row current (and the pane follow) as the old rows go.
    const int current = m_logOutput->currentRow();
    m_keepSerial = current >= 0 ? m_shown.value(current, -1) : -1;
    m_logOutput->setCurrentRow(-1);
    m_filter = m_nextFilter;
    m_pass = Pass::Drop;
    m_passCursor = 0;
    return true;
}

bool LogViewWidget::dropSlice(const QElapsedTimer& clock)
{
    // In chunks from the top: freeing 100,000 rows at once stalls for a tenth of a second,
    // and a view that follows the bottom keeps showing rows until the last chunk.
    while (m_logOutput->count() > 0) {
        const int rows = std::min(m_logOutput->count(), DropChunkRows);
        m_logOutput->model()->removeRows(0, rows);
        m_shown.remove(0, rows);
        if (clock.elapsed() >= PassSliceMs)
            return false;
    }
    m_pass = Pass::Build;
    return true;
}

bool LogViewWidget::buildSlice(const QElapsedTimer& clock)
{
    while (m_passCursor < m_target.size()) {
        QList<qint64> chunk;
        chunk.reserve(BuildChunkRows);
        while (m_passCursor < m_target.size() && chunk.size() < BuildChunkRows) {
            const qint64 serial = m_target.at(m_passCursor++);
            // Entries dropped at the cap while the pass ran have no row to get.
            if (serial >= m_firstSerial)
                chunk.append(serial);
        }
        m_logOutput->setUpdatesEnabled(false);
        appendRows(chunk);
        m_logOutput->setUpdatesEnabled(true);
        if (m_keepSerial >= 0 && !chunk.isEmpty() && chunk.constLast() >= m_keepSerial) {
            const auto found = std::lower_bound(m_shown.cbegin(), m_shown.cend(), m_keepSerial);
            if (found != m_shown.cend() && *found == m_keepSerial) {
                QListWidgetItem* item = m_logOutput->item(int(found - m_shown.cbegin()));
                m_logOutput->setCurrentItem(item);
                if (!m_pinnedToBottom)
                    m_logOutput->scrollToItem(item, QAbstractItemView::PositionAtCenter);
            }
            m_keepSerial = -1;
        }
        if (m_pinnedToBottom && m_comm->autoScroll())
            m_logOutput->scrollToBottom();
        if (clock.elapsed() >= PassSliceMs)
            return m_passCursor >= m_target.size();
    }
    return true;
}

bool LogViewWidget::renderSlice(const QElapsedTimer& clock)
{
    const bool showTimestamp = m_comm->showTimestamp();
    const bool hex = m_comm->hexDisplay();
    m_logOutput->setUpdatesEnabled(false);
    bool done = true;
    while (m_passCursor >= 0) {
        const int row = int(m_passCursor--);
        m_logOutput->item(row)->setText(renderLine(entryOf(m_shown.at(row)), showTimestamp, hex));
        if (row % PassClockRows == 0 && clock.elapsed() >= PassSliceMs) {
            done = m_passCursor < 0;
            break;
        }
    }
    m_logOutput->setUpdatesEnabled(true);
    return done;
}

bool LogViewWidget::findNext(bool forward)
{
    const LogFilter finder(m_filterBar->criteria());
    const int count = m_logOutput->count();
    if (!finder.isActive() || count == 0)
        return false;
    const bool hex = m_comm->hexDisplay();
    int row = m_logOutput->currentRow();
    for (int step = 0; step < count; ++step) {
        row = forward ? (row + 1) % count : (row <= 0 ? count - 1 : row - 1);
        if (finder.matches(entryOf(m_shown.at(row)), hex)) {
            m_logOutput->setCurrentRow(row);
            m_logOutput->scrollToItem(m_logOutput->item(row), QAbstractItemView::PositionAtCenter);
            return true;
        }
    }
    return false;
}

void LogViewWidget::setEnglish(bool english)
{
    m_english = english;
    m_detailPane->setEnglish(english);
    updateShownLabel();
}

void LogViewWidget::updateShownLabel()
{
    const qsizetype total = m_entries.size();
    m_shownLabel->setText(m_english ? QStringLiteral("showing %1 of %2").arg(shownCount()).arg(total)
                                    : QStringLiteral("显示 %1 / 共 %2").arg(shownCount()).arg(total));
}

void LogViewWidget::applyItemStyle()
{
    const int pad = m_lineSpacing + 2;
    m_logOutput->setStyleSheet(
        QStringLiteral("QListWidget::item { padding: %1px 6px %2px 6px; font-size: %3pt; }")
            .arg(pad)
            .arg(pad)
            .arg(m_fontSize));
    // Rows take the list's font: with uniform heights, one font for all is what keeps
    // old and new rows alike.
    m_logOutput->setFont(rowFont(m_fontSize));
}

void LogViewWidget::setLineSpacing(int value)
{
    m_lineSpacing = std::clamp(value, -10, 10);
    applyItemStyle();
}

void LogViewWidget::setFontSize(int value)
{
    m_fontSize = std::clamp(value, 7, 18);
    applyItemStyle();
}

void LogViewWidget::copySelected()
{
    const QList<QListWidgetItem*> selected = m_logOutput->selectedItems();
    if (selected.isEmpty())
        return;
    QStringList lines;
    lines.reserve(selected.size());
    for (const QListWidgetItem* item : selected)
        lines.append(item->text());
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void LogViewWidget::copyAll()
{
    QStringList lines;
    lines.reserve(m_logOutput->count());
    for (int row = 0; row < m_logOutput->count(); ++row)
        lines.append(m_logOutput->item(row)->text());
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void LogViewWidget::clear()
{
    clearRows();
    m_comm->clearLog();
}

void LogViewWidget::clearRows()
{
    m_logOutput->clear();
    m_entries.clear();
    m_shown.clear();
    m_firstSerial = 0;
    m_pass = Pass::Idle;
    m_target.clear();
    m_detailPane->clear();
    {
        QMutexLocker locker(&m_pendingMutex);
        m_pending.clear();
    }
    updateShownLabel();
}

void LogViewWidget::handleContextMenu(QPoint pos)
{
    if (!m_logOutput->itemAt(pos))
        return;
    QMenu menu(this);
    menu.setStyleSheet(QStringLiteral(
        "QMenu { background: %1; color: %2; border: 1px solid %3; padding: 4px; }"
        "QMenu::item { padding: 6px 20px; border-radius: 3px; }"
        "QMenu::item:selected { background: #0E4A6F; }")
                           .arg(Palette::MenuBackground, Palette::TextBright, Palette::Selection));
    QAction* copy = menu.addAction(QStringLiteral("复制"));
    QAction* copyEverything = menu.addAction(QStringLiteral("复制全部"));
    QAction* chosen = menu.exec(m_logOutput->viewport()->mapToGlobal(pos));
    if (chosen == copy)
        copySelected();
    else if (chosen == copyEverything)
        copyAll();
}

void LogViewWidget::exportLog()
{
    const QString suggested = QStringLiteral("Communication_Log_%1")
                                  .arg(QDateTime::currentDateTime().toString(
                                      QStringLiteral("yyyyMMdd_HHmmss")));
    const QString fileName = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出日志"), suggested,
        QStringLiteral("文本文件 (*.txt);;CSV文件 (*.csv)"));
    if (fileName.isEmpty())
        return;
    exportTo(fileName);
}

void LogViewWidget::exportTo(const QString& fileName)
{
    const bool csv = fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    if (m_comm->writeLogFile(fileName, m_comm->hexDisplay(), csv)) {
        m_comm->logSystemMessage(QStringLiteral("日志已导出: %1").arg(fileName));
    } else {
        QMessageBox::warning(this, QStringLiteral("导出失败"),
                             QStringLiteral("无法写入文件: ") + fileName, QMessageBox::Ok);
    }
}

#include "LogViewWidget.moc"

#include "LogViewWidget.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
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
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "CommunicationBase.h"

namespace {

// Draws each row as one line of text centred vertically, instead of the base class's
// full text layout (much cheaper with thousands of rows).
class VCenterDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit VCenterDelegate(QObject* parent)
        : QStyledItemDelegate(parent)
    {
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
        painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText)
                                 : opt.palette.color(QPalette::Text));
        const QString text = opt.text;
        const QRect bounds = QFontMetrics(opt.font).boundingRect(text);
        const QRect row = opt.rect;
        const int y = row.top() + (row.height() - bounds.height()) / 2 - bounds.top();
        painter->drawText(QPoint(row.left() + 4, y), text);
        painter->restore();
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

} // namespace

LogViewWidget::LogViewWidget(CommunicationBase* communication, QWidget* parent)
    : QWidget(parent)
    , comm(communication)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    logOutput = new QListWidget(this);
    logOutput->setObjectName(QStringLiteral("logOutput"));
    logOutput->setFont(rowFont(11));
    logOutput->setAlternatingRowColors(false);
    logOutput->setSelectionMode(QAbstractItemView::ExtendedSelection);
    logOutput->setWordWrap(true);
    logOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    logOutput->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    logOutput->setFrameShape(QFrame::NoFrame);
    // Batched layout lays out only a slice of rows per event-loop pass; the default
    // single pass lays out the whole list again on every insertion.
    logOutput->setLayoutMode(QListView::Batched);
    logOutput->setBatchSize(200);
    logOutput->setItemDelegate(new VCenterDelegate(logOutput));
    layout->addWidget(logOutput, 1);

    auto* statusBar = new QFrame(this);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    auto* statusLayout = new QHBoxLayout(statusBar);
    statusLayout->setContentsMargins(12, 4, 12, 4);
    statusLayout->setSpacing(8);
    txLabel = new QLabel(QStringLiteral("TX: 0 bytes"), statusBar);
    txLabel->setObjectName(QStringLiteral("txLabel"));
    auto* separator = new QLabel(QStringLiteral("│"), statusBar);
    separator->setStyleSheet(QStringLiteral("color: #2A3444; font-size: 16px; padding: 0 4px;"));
    rxLabel = new QLabel(QStringLiteral("RX: 0 bytes"), statusBar);
    rxLabel->setObjectName(QStringLiteral("rxLabel"));
    resetButton = new QPushButton(QStringLiteral("重置计数"), statusBar);
    clearButton = new QPushButton(QStringLiteral("清除日志"), statusBar);
    exportButton = new QPushButton(QStringLiteral("导出"), statusBar);
    for (QPushButton* button : {resetButton, clearButton, exportButton}) {
        button->setObjectName(QStringLiteral("smallButton"));
        button->setFixedHeight(24);
    }
    statusLayout->addWidget(txLabel);
    statusLayout->addWidget(separator);
    statusLayout->addWidget(rxLabel);
    statusLayout->addStretch();
    statusLayout->addWidget(resetButton);
    statusLayout->addWidget(clearButton);
    statusLayout->addWidget(exportButton);
    layout->addWidget(statusBar, 0);

    connect(resetButton, &QPushButton::clicked, comm, &CommunicationBase::resetCounters);
    connect(clearButton, &QPushButton::clicked, this, &LogViewWidget::clear);
    connect(exportButton, &QPushButton::clicked, this, &LogViewWidget::exportLog);

    applyItemStyle();

    flushTimer = new QTimer(this);
    flushTimer->setInterval(FlushIntervalMs);
    flushTimer->setSingleShot(true);
    connect(flushTimer, &QTimer::timeout, this, &LogViewWidget::flushPendingItems);

    connect(comm, &CommunicationBase::logEntryAdded, this, &LogViewWidget::onNewLogEntry);
    connect(comm, &CommunicationBase::countersUpdated, this, &LogViewWidget::onCountersUpdated);
    connect(comm, &CommunicationBase::logCleared, this, [this] {
        logOutput->clear();
        QMutexLocker locker(&pendingMutex);
        pending.clear();
    });

    // Batched layout grows the scroll range after the flush has returned, so a view that
    // follows the bottom is kept there as the range grows, until the user scrolls away.
    QScrollBar* bar = logOutput->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (pinnedToBottom && comm->autoScroll())
            bar->setValue(max);
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (value < bar->maximum() - 10)
            pinnedToBottom = false;
    });

    logOutput->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(logOutput, &QListWidget::customContextMenuRequested, this,
            &LogViewWidget::handleContextMenu);
}

int LogViewWidget::rowCap() const
{
    return comm->maxEntries();
}

qsizetype LogViewWidget::pendingCount() const
{
    QMutexLocker locker(&pendingMutex);
    return pending.size();
}

void LogViewWidget::scheduleFlush(int delayMs)
{
    flushScheduled = true;
    flushTimer->start(delayMs);
}

void LogViewWidget::onNewLogEntry(LogEntry entry)
{
    {
        QMutexLocker locker(&pendingMutex);
        pending.append(std::move(entry));
        // Entries that the row cap would remove at once are never worth drawing.
        const int cap = rowCap();
        if (cap >= 1 && pending.size() > cap)
            pending.remove(0, pending.size() - cap);
    }
    if (!flushScheduled)
        scheduleFlush(FlushIntervalMs);
}

void LogViewWidget::onCountersUpdated()
{
    txLabel->setText(QStringLiteral("TX: %1 bytes").arg(comm->txBytes()));
    rxLabel->setText(QStringLiteral("RX: %1 bytes").arg(comm->rxBytes()));
}

void LogViewWidget::flushPendingItems()
{
    flushScheduled = false;
    QList<LogEntry> batch;
    bool more = false;
    {
        QMutexLocker locker(&pendingMutex);
        if (pending.isEmpty())
            return;
        const qsizetype take = std::min<qsizetype>(pending.size(), MaxRowsPerFlush);
        batch = pending.mid(0, take);
        pending.remove(0, take);
        more = !pending.isEmpty();
    }

    const bool showTimestamp = comm->showTimestamp();
    const bool autoScroll = comm->autoScroll();
    const bool hex = comm->hexDisplay();

    bool atBottom = false;
    if (autoScroll) {
        const QScrollBar* bar = logOutput->verticalScrollBar();
        atBottom = !bar || bar->value() >= bar->maximum() - 10;
    }

    logOutput->setUpdatesEnabled(false);
    const QString gap = QStringLiteral("  ");
    QStringList lines;
    lines.reserve(batch.size());
    for (const LogEntry& entry : std::as_const(batch)) {
        QString line;
        if (showTimestamp)
            line = entry.timeString() + gap;
        line += entry.directionTag() + gap + (hex ? entry.hexText : entry.text);
        if (line.size() > MaxRowChars) {
            // A multi-megabyte record would stall layout and painting; the full text
            // stays in the log for export.
            qsizetype cut = MaxRowChars;
            if (line.at(cut - 1).isHighSurrogate())
                --cut;
            line.truncate(cut);
            line += QStringLiteral("…");
        }
        lines.append(line);
    }
    // One insertion for the whole batch: the view lays out once instead of per row.
    const int first = logOutput->count();
    logOutput->addItems(lines);
    for (int i = 0; i < batch.size(); ++i)
        logOutput->item(first + i)->setForeground(QBrush(directionColor(batch.at(i).direction)));
    const int cap = rowCap();
    if (cap >= 1 && logOutput->count() > cap)
        logOutput->model()->removeRows(0, logOutput->count() - cap);
    logOutput->setUpdatesEnabled(true);

    if (autoScroll && atBottom) {
        pinnedToBottom = true;
        logOutput->scrollToBottom();
    }

    // Keep up with a burst: the rest goes in the next pass, without waiting 50 ms.
    if (more)
        scheduleFlush(0);
}

void LogViewWidget::applyItemStyle()
{
    const int pad = m_lineSpacing + 2;
    logOutput->setStyleSheet(
        QStringLiteral("QListWidget::item { padding: %1px 6px %2px 6px; font-size: %3pt; }")
            .arg(pad)
            .arg(pad)
            .arg(m_fontSize));
    const QFont font = rowFont(m_fontSize);
    logOutput->setFont(font);
    for (int row = 0; row < logOutput->count(); ++row)
        logOutput->item(row)->setFont(font);
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
    const QList<QListWidgetItem*> selected = logOutput->selectedItems();
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
    lines.reserve(logOutput->count());
    for (int row = 0; row < logOutput->count(); ++row)
        lines.append(logOutput->item(row)->text());
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void LogViewWidget::clear()
{
    logOutput->clear();
    {
        QMutexLocker locker(&pendingMutex);
        pending.clear();
    }
    comm->clearLog();
}

void LogViewWidget::handleContextMenu(QPoint pos)
{
    if (!logOutput->itemAt(pos))
        return;
    QMenu menu(this);
    menu.setStyleSheet(QStringLiteral(
        "QMenu { background: #1F2937; color: #F1F5F9; border: 1px solid #1E3A5F; padding: 4px; }"
        "QMenu::item { padding: 6px 20px; border-radius: 3px; }"
        "QMenu::item:selected { background: #0E4A6F; }"));
    QAction* copy = menu.addAction(QStringLiteral("复制"));
    QAction* copyEverything = menu.addAction(QStringLiteral("复制全部"));
    QAction* chosen = menu.exec(logOutput->viewport()->mapToGlobal(pos));
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
    if (comm->writeLogFile(fileName, comm->hexDisplay(), csv)) {
        comm->logSystemMessage(QStringLiteral("日志已导出: %1").arg(fileName));
    } else {
        QMessageBox::warning(this, QStringLiteral("导出失败"),
                             QStringLiteral("无法写入文件: ") + fileName, QMessageBox::Ok);
    }
}

#include "LogViewWidget.moc"

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
#include "Palette.h"

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

    m_logOutput = new QListWidget(this);
    m_logOutput->setObjectName(QStringLiteral("logOutput"));
    m_logOutput->setFont(rowFont(11));
    m_logOutput->setAlternatingRowColors(false);
    m_logOutput->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_logOutput->setWordWrap(true);
    m_logOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_logOutput->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_logOutput->setFrameShape(QFrame::NoFrame);
    // Batched layout lays out only a slice of rows per event-loop pass; the default
    // single pass lays out the whole list again on every insertion.
    m_logOutput->setLayoutMode(QListView::Batched);
    m_logOutput->setBatchSize(200);
    m_logOutput->setItemDelegate(new VCenterDelegate(m_logOutput));
    layout->addWidget(m_logOutput, 1);

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
    statusLayout->addStretch();
    statusLayout->addWidget(m_resetButton);
    statusLayout->addWidget(m_clearButton);
    statusLayout->addWidget(m_exportButton);
    layout->addWidget(statusBar, 0);

    connect(m_resetButton, &QPushButton::clicked, m_comm, &CommunicationBase::resetCounters);
    connect(m_clearButton, &QPushButton::clicked, this, &LogViewWidget::clear);
    connect(m_exportButton, &QPushButton::clicked, this, &LogViewWidget::exportLog);

    applyItemStyle();

    m_flushTimer = new QTimer(this);
    m_flushTimer->setInterval(FlushIntervalMs);
    m_flushTimer->setSingleShot(true);
    connect(m_flushTimer, &QTimer::timeout, this, &LogViewWidget::flushPendingItems);

    connect(m_comm, &CommunicationBase::logEntryAdded, this, &LogViewWidget::onNewLogEntry);
    connect(m_comm, &CommunicationBase::countersUpdated, this, &LogViewWidget::onCountersUpdated);
    connect(m_comm, &CommunicationBase::logCleared, this, [this] {
        m_logOutput->clear();
        QMutexLocker locker(&m_pendingMutex);
        m_pending.clear();
    });

    // Batched layout grows the scroll range after the flush has returned, so a view that
    // follows the bottom is kept there as the range grows, until the user scrolls away.
    QScrollBar* bar = m_logOutput->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (m_pinnedToBottom && m_comm->autoScroll())
            bar->setValue(max);
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
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

    const bool showTimestamp = m_comm->showTimestamp();
    const bool autoScroll = m_comm->autoScroll();
    const bool hex = m_comm->hexDisplay();

    bool atBottom = false;
    if (autoScroll) {
        const QScrollBar* bar = m_logOutput->verticalScrollBar();
        atBottom = !bar || isNearBottom(bar);
    }

    m_logOutput->setUpdatesEnabled(false);
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
    const int first = m_logOutput->count();
    m_logOutput->addItems(lines);
    for (int i = 0; i < batch.size(); ++i)
        m_logOutput->item(first + i)->setForeground(QBrush(directionColor(batch.at(i).direction)));
    const int cap = rowCap();
    if (cap >= 1 && m_logOutput->count() > cap)
        m_logOutput->model()->removeRows(0, m_logOutput->count() - cap);
    m_logOutput->setUpdatesEnabled(true);

    if (autoScroll && atBottom) {
        m_pinnedToBottom = true;
        m_logOutput->scrollToBottom();
    }

    // Keep up with a burst: the rest goes in the next pass, without waiting 50 ms.
    if (more)
        scheduleFlush(0);
}

void LogViewWidget::applyItemStyle()
{
    const int pad = m_lineSpacing + 2;
    m_logOutput->setStyleSheet(
        QStringLiteral("QListWidget::item { padding: %1px 6px %2px 6px; font-size: %3pt; }")
            .arg(pad)
            .arg(pad)
            .arg(m_fontSize));
    const QFont font = rowFont(m_fontSize);
    m_logOutput->setFont(font);
    for (int row = 0; row < m_logOutput->count(); ++row)
        m_logOutput->item(row)->setFont(font);
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
    m_logOutput->clear();
    {
        QMutexLocker locker(&m_pendingMutex);
        m_pending.clear();
    }
    m_comm->clearLog();
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
    QAction* copy = menu.addAction(m_english ? QStringLiteral("Copy") : QStringLiteral("复制"));
    QAction* copyEverything =
        menu.addAction(m_english ? QStringLiteral("Copy All") : QStringLiteral("复制全部"));
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
        this, m_english ? QStringLiteral("Export Log") : QStringLiteral("导出日志"), suggested,
        m_english ? QStringLiteral("Text files (*.txt);;CSV files (*.csv)")
                  : QStringLiteral("文本文件 (*.txt);;CSV文件 (*.csv)"));
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
        QMessageBox::warning(this, m_english ? QStringLiteral("Export failed") : QStringLiteral("导出失败"),
                             (m_english ? QStringLiteral("Cannot write the file: ")
                                        : QStringLiteral("无法写入文件: "))
                                 + fileName,
                             QMessageBox::Ok);
    }
}

#include "LogViewWidget.moc"

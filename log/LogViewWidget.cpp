#include "LogViewWidget.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "CommunicationBase.h"
#include "LogDetailPane.h"
#include "LogFilterBar.h"
#include "LogRowDelegate.h"
#include "Palette.h"

namespace {

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

    m_filterBar = new LogFilterBar(this);
    layout->addWidget(m_filterBar, 0);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("logSplitter"));
    m_splitter->setChildrenCollapsible(true);
    m_logOutput = new QListView(m_splitter);
    m_logOutput->setObjectName(QStringLiteral("logOutput"));
    m_logOutput->setFont(rowFont(11));
    m_logOutput->setAlternatingRowColors(false);
    m_logOutput->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_logOutput->setWordWrap(false);
    // With uniform sizes the view measures the first row only, and a layout of 100,000
    // rows is a loop over numbers; it runs once per pass, however many rows came.
    m_logOutput->setUniformItemSizes(true);
    m_logOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_logOutput->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_logOutput->setFrameShape(QFrame::NoFrame);
    m_logOutput->setItemDelegate(new LogRowDelegate(m_logOutput));
    m_rows = new LogRows(m_logOutput, m_comm, this);
    m_logOutput->setModel(m_rows);
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

    connect(m_comm, &CommunicationBase::logEntryAdded, this, &LogViewWidget::onEntryLogged);
    connect(m_comm, &CommunicationBase::countersUpdated, this, &LogViewWidget::onCountersUpdated);
    connect(m_comm, &CommunicationBase::logCleared, this, &LogViewWidget::clearRows);
    connect(m_comm, &CommunicationBase::displayChanged, m_rows, &LogRows::rerender);
    connect(m_rows, &LogRows::countsChanged, this, &LogViewWidget::updateShownLabel);

    connect(m_filterBar, &LogFilterBar::criteriaChanged, this, &LogViewWidget::applyFilterBar);
    connect(m_filterBar, &LogFilterBar::findRequested, this, &LogViewWidget::findNext);
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(next, &QShortcut::activated, this, [this] { findNext(true); });
    connect(previous, &QShortcut::activated, this, [this] { findNext(false); });
    // No current row (while rows are rebuilt) leaves the pane as it was.
    connect(m_logOutput->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && current.row() < m_rows->rowCount())
                    m_detailPane->showEntry(m_rows->entryAt(current.row()));
            });

    // The list lays new rows out after the flush has returned (a delayed layout), so a
    // view that follows the bottom is kept there as the range grows, until the user
    // scrolls away.
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
    connect(m_logOutput, &QListView::customContextMenuRequested, this,
            &LogViewWidget::handleContextMenu);
}

qsizetype LogViewWidget::pendingCount() const
{
    return m_rows->pendingCount();
}

int LogViewWidget::shownCount() const
{
    return m_rows->rowCount();
}

QString LogViewWidget::rowText(int row) const
{
    return m_rows->rowText(row);
}

void LogViewWidget::scheduleFlush(int delayMs)
{
    m_flushScheduled = true;
    m_flushTimer->start(delayMs);
}

void LogViewWidget::onEntryLogged()
{
    if (!m_flushScheduled)
        scheduleFlush(FlushIntervalMs);
}

void LogViewWidget::onCountersUpdated()
{
    // Written with the next pass: a flood changes them thousands of times a second.
    m_countersChanged = true;
    if (!m_flushScheduled)
        scheduleFlush(FlushIntervalMs);
}

void LogViewWidget::showCounters()
{
    m_countersChanged = false;
    m_txLabel->setText(QStringLiteral("TX: %1 bytes").arg(m_comm->txBytes()));
    m_rxLabel->setText(QStringLiteral("RX: %1 bytes").arg(m_comm->rxBytes()));
}

void LogViewWidget::flushPendingItems()
{
    m_flushScheduled = false;
    if (m_countersChanged)
        showCounters();
    if (m_rows->pendingCount() == 0)
        return;

    const bool autoScroll = m_comm->autoScroll();
    bool atBottom = false;
    if (autoScroll) {
        const QScrollBar* bar = m_logOutput->verticalScrollBar();
        atBottom = !bar || isNearBottom(bar);
    }
    QElapsedTimer clock;
    clock.start();
    const bool more = m_rows->pull(clock, qint64(FlushBudgetMs) * 1000000);

    if (autoScroll && atBottom) {
        m_pinnedToBottom = true;
        m_logOutput->scrollToBottom();
    }

    // Keep up with a burst: the rest goes in the next pass, without waiting 50 ms.
    if (more)
        scheduleFlush(0);
}

void LogViewWidget::applyFilterBar()
{
    m_rows->setFilter(m_filterBar->isFiltering() ? LogFilter(m_filterBar->criteria()) : LogFilter());
}

bool LogViewWidget::findNext(bool forward)
{
    const LogFilter finder(m_filterBar->criteria());
    const int count = m_rows->rowCount();
    if (!finder.isActive() || count == 0)
        return false;
    const bool hex = m_comm->hexDisplay();
    int row = m_logOutput->currentIndex().row();
    for (int step = 0; step < count; ++step) {
        row = forward ? (row + 1) % count : (row <= 0 ? count - 1 : row - 1);
        if (finder.matches(m_rows->entryAt(row), hex)) {
            const QModelIndex index = m_rows->index(row);
            m_logOutput->setCurrentIndex(index);
            m_logOutput->scrollTo(index, QAbstractItemView::PositionAtCenter);
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
    const qsizetype total = m_rows->entryCount();
    m_shownLabel->setText(m_english ? QStringLiteral("showing %1 of %2").arg(shownCount()).arg(total)
                                    : QStringLiteral("显示 %1 / 共 %2").arg(shownCount()).arg(total));
}

void LogViewWidget::applyItemStyle()
{
    const int pad = m_lineSpacing + 2;
    m_logOutput->setStyleSheet(
        QStringLiteral("QListView::item { padding: %1px 6px %2px 6px; font-size: %3pt; }")
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
    QModelIndexList selected = m_logOutput->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::sort(selected.begin(), selected.end());
    QStringList lines;
    lines.reserve(selected.size());
    for (const QModelIndex& index : std::as_const(selected))
        lines.append(m_rows->rowText(index.row()));
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void LogViewWidget::copyAll()
{
    QStringList lines;
    const int rows = m_rows->rowCount();
    lines.reserve(rows);
    for (int row = 0; row < rows; ++row)
        lines.append(m_rows->rowText(row));
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void LogViewWidget::clear()
{
    clearRows();
    m_comm->clearLog();
}

void LogViewWidget::clearRows()
{
    m_rows->clear();
    m_detailPane->clear();
    updateShownLabel();
}

void LogViewWidget::handleContextMenu(QPoint pos)
{
    if (!m_logOutput->indexAt(pos).isValid())
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

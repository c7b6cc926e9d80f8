#include "LogDetailPane.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "Palette.h"
#include "PayloadCodec.h"
#include "PayloadFormat.h"

namespace {

QPlainTextEdit* createViewer(QWidget* parent, const char* name, QPlainTextEdit::LineWrapMode wrap)
{
    auto* viewer = new QPlainTextEdit(parent);
    viewer->setObjectName(QLatin1String(name));
    viewer->setReadOnly(true);
    viewer->setLineWrapMode(wrap);
    QFont font(QStringLiteral("Consolas"), 10);
    font.setStyleHint(QFont::Monospace); // Consolas is rare off Windows
    viewer->setFont(font);
    return viewer;
}

} // namespace

LogDetailPane::LogDetailPane(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("logDetailPane"));
    setStyleSheet(QStringLiteral("QPushButton#smallButton:checked { background: #0E4A6F; color: %1; "
                                 "border-color: %2; }")
                      .arg(Palette::TextBright, Palette::Accent));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(4);

    // One row of controls: the pane often gets only a quarter of the log's height.
    auto* top = new QHBoxLayout;
    m_header = new QLabel(this);
    m_header->setObjectName(QStringLiteral("detailHeader"));
    m_header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(m_header, 1);
    auto* showText = new QPushButton(QStringLiteral("文本"), this);
    auto* showHex = new QPushButton(QStringLiteral("十六进制"), this);
    auto* views = new QButtonGroup(this);
    for (QPushButton* button : {showText, showHex}) {
        button->setCheckable(true);
        views->addButton(button);
    }
    showText->setChecked(true);
    m_copyText = new QPushButton(QStringLiteral("复制文本"), this);
    m_copyHex = new QPushButton(QStringLiteral("复制十六进制"), this);
    for (QPushButton* button : {showText, showHex, m_copyText, m_copyHex}) {
        button->setObjectName(QStringLiteral("smallButton"));
        button->setFixedHeight(24);
        top->addWidget(button);
    }
    m_copyText->setEnabled(false);
    m_copyHex->setEnabled(false);
    layout->addLayout(top);

    m_views = new QStackedWidget(this);
    m_text = createViewer(m_views, "detailText", QPlainTextEdit::WidgetWidth);
    m_hex = createViewer(m_views, "detailHex", QPlainTextEdit::NoWrap);
    m_views->addWidget(m_text);
    m_views->addWidget(m_hex);
    layout->addWidget(m_views, 1);

    connect(showText, &QPushButton::toggled, this, [this](bool on) { m_views->setCurrentWidget(on ? m_text : m_hex); });
    connect(m_copyText, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_entry.text()); });
    connect(m_copyHex, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(PayloadCodec::toHexString(bytes())); });
    updateHeader();
}

QByteArray LogDetailPane::bytes() const
{
    return m_entry.data;
}

void LogDetailPane::showEntry(const LogEntry& entry)
{
    m_entry = entry;
    m_hasEntry = true;
    m_text->setPlainText(PayloadFormat::indentJson(entry.text()));
    const QByteArray all = bytes();
    QString dump = PayloadFormat::hexDump(all.left(MaxDumpBytes));
    if (all.size() > MaxDumpBytes) {
        dump += m_english
                    ? QStringLiteral("\n… %1 more bytes: \"Copy hex\" copies all").arg(all.size() - MaxDumpBytes)
                    : QStringLiteral("\n… 另有 %1 字节：“复制十六进制”可复制全部").arg(all.size() - MaxDumpBytes);
    }
    m_hex->setPlainText(dump);
    m_copyText->setEnabled(true);
    m_copyHex->setEnabled(true);
    updateHeader();
}

void LogDetailPane::setEnglish(bool english)
{
    m_english = english;
    updateHeader();
}

void LogDetailPane::clear()
{
    m_entry = LogEntry();
    m_hasEntry = false;
    m_text->clear();
    m_hex->clear();
    m_copyText->setEnabled(false);
    m_copyHex->setEnabled(false);
    updateHeader();
}

void LogDetailPane::updateHeader()
{
    const bool english = m_english;
    if (!m_hasEntry) {
        m_header->setText(english ? QStringLiteral("Select a row to see it in full")
                                  : QStringLiteral("选择一行查看完整内容"));
        return;
    }
    const QString when = m_entry.timestamp().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const qint64 size = m_entry.fullSize;
    QString sizeText = english ? QStringLiteral("%1 bytes").arg(size) : QStringLiteral("%1 字节").arg(size);
    if (m_entry.isTruncated())
        sizeText += english ? QStringLiteral(" (%1 kept)").arg(m_entry.data.size())
                            : QStringLiteral(" (保留 %1)").arg(m_entry.data.size());
    m_header->setText(QStringLiteral("%1  %2  %3").arg(when, m_entry.directionTag(), sizeText));
}

#include "LogFilterBar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include "Palette.h"

namespace {

QPushButton* addToggle(QHBoxLayout* layout, QWidget* parent, const QString& text, const char* name)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setCheckable(true);
    button->setChecked(true);
    button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(button);
    return button;
}

} // namespace

LogFilterBar::LogFilterBar(QWidget* parent)
    : QWidget(parent)
    , m_typingTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("logFilterBar"));
    setStyleSheet(QStringLiteral(
        "QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 3px; "
        "padding: 2px 8px; font-size: 12px; }"
        "QPushButton:checked { background: #0E4A6F; color: %4; border-color: %5; }"
        "QLineEdit[invalid=\"true\"] { border-color: %6; }")
                      .arg(Palette::MenuBackground, Palette::TextMuted, Palette::Selection,
                           Palette::TextBright, Palette::Accent, Palette::Danger));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    m_textEdit = new QLineEdit(this);
    m_textEdit->setObjectName(QStringLiteral("filterText"));
    m_textEdit->setPlaceholderText(QStringLiteral("搜索日志 (F3 下一个)"));
    m_textEdit->setClearButtonEnabled(true);
    layout->addWidget(m_textEdit, 3);
    m_regexButton = addToggle(layout, this, QStringLiteral("正则"), "regexToggle");
    m_regexButton->setChecked(false);
    m_txButton = addToggle(layout, this, QStringLiteral("TX"), "txToggle");
    m_rxButton = addToggle(layout, this, QStringLiteral("RX"), "rxToggle");
    m_sysButton = addToggle(layout, this, QStringLiteral("SYS"), "sysToggle");
    m_methodEdit = new QLineEdit(this);
    m_methodEdit->setObjectName(QStringLiteral("filterMethod"));
    m_methodEdit->setPlaceholderText(QStringLiteral("按方法筛选"));
    m_methodEdit->setClearButtonEnabled(true);
    layout->addWidget(m_methodEdit, 1);
    m_filterButton = addToggle(layout, this, QStringLiteral("筛选"), "filterToggle");

    m_typingTimer->setSingleShot(true);
    m_typingTimer->setInterval(TypingPauseMs);
    connect(m_typingTimer, &QTimer::timeout, this, &LogFilterBar::criteriaChanged);
    connect(m_textEdit, &QLineEdit::textChanged, this, [this] { onEdited(true); });
    connect(m_methodEdit, &QLineEdit::textChanged, this, [this] { onEdited(true); });
    for (QPushButton* toggle : {m_regexButton, m_txButton, m_rxButton, m_sysButton, m_filterButton})
        connect(toggle, &QPushButton::toggled, this, [this] { onEdited(false); });
    connect(m_textEdit, &QLineEdit::returnPressed, this, [this] {
        emit findRequested(!(QApplication::keyboardModifiers() & Qt::ShiftModifier));
    });
}

LogFilter::Criteria LogFilterBar::criteria() const
{
    LogFilter::Criteria criteria;
    criteria.text = m_textEdit->text();
    criteria.regex = m_regexButton->isChecked();
    criteria.tx = m_txButton->isChecked();
    criteria.rx = m_rxButton->isChecked();
    criteria.sys = m_sysButton->isChecked();
    criteria.method = m_methodEdit->text().trimmed();
    return criteria;
}

bool LogFilterBar::isFiltering() const
{
    return m_filterButton->isChecked();
}

void LogFilterBar::onEdited(bool typing)
{
    validate();
    if (typing) {
        m_typingTimer->start();
    } else {
        m_typingTimer->stop();
        emit criteriaChanged();
    }
}

void LogFilterBar::validate()
{
    const LogFilter filter(criteria());
    const bool invalid = !filter.isValid();
    m_textEdit->setToolTip(filter.regexError());
    if (m_textEdit->property("invalid").toBool() == invalid)
        return;
    m_textEdit->setProperty("invalid", invalid);
    // A dynamic property takes effect in a style sheet only after a re-polish.
    m_textEdit->style()->unpolish(m_textEdit);
    m_textEdit->style()->polish(m_textEdit);
}

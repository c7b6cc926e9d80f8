#include "ConnectionOptionsPanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

// Room for two header lines; more scroll.
constexpr int HeadersEditHeight = 44;

QCheckBox* addCheck(QVBoxLayout* layout, QWidget* parent, const QString& text, const char* name)
{
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QLatin1String(name));
    layout->addWidget(check);
    return check;
}

} // namespace

ConnectionOptionsPanel::ConnectionOptionsPanel(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_negotiateCheck = addCheck(layout, this, QStringLiteral("协商"), "negotiateCheck");

    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(new QLabel(QStringLiteral("访问令牌"), this));
    m_tokenEdit = new QLineEdit(this);
    m_tokenEdit->setObjectName(QStringLiteral("accessTokenEdit"));
    m_tokenEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    tokenRow->addWidget(m_tokenEdit, 1);
    layout->addLayout(tokenRow);
    m_tokenInQueryCheck = addCheck(layout, this, QStringLiteral("令牌放在查询参数"), "tokenInQueryCheck");

    layout->addWidget(new QLabel(QStringLiteral("请求头"), this));
    m_headersEdit = new QPlainTextEdit(this);
    m_headersEdit->setObjectName(QStringLiteral("headersEdit"));
    m_headersEdit->setPlaceholderText(QStringLiteral("Name: value，每行一个"));
    m_headersEdit->setFixedHeight(HeadersEditHeight);
    m_headersEdit->setTabChangesFocus(true);
    m_headersEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(m_headersEdit);
    m_ignoreCertificateCheck = addCheck(layout, this, QStringLiteral("忽略证书错误"), "ignoreCertificateCheck");
}

ConnectOptions ConnectionOptionsPanel::options() const
{
    ConnectOptions options;
    options.negotiate = m_negotiateCheck->isChecked();
    options.accessToken = m_tokenEdit->text();
    options.tokenInQuery = m_tokenInQueryCheck->isChecked();
    options.headerLines = m_headersEdit->toPlainText().split(QLatin1Char('\n'));
    options.ignoreCertificateErrors = m_ignoreCertificateCheck->isChecked();
    return options;
}

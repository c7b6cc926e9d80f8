// The send composer of SignalRWidget: the send area, payload building, sending in both
// modes, the editor's Enter handling and auto-send.

#include "SignalRWidget.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebSocket>

#include <limits>

#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "LanguageManager.h"
#include "PayloadCodec.h"

QWidget* SignalRWidget::createSendArea()
{
    auto* group = new QGroupBox(QStringLiteral("发送区"));
    auto* layout = new QVBoxLayout(group);

    auto* methodRow = new QHBoxLayout;
    methodRow->addWidget(new QLabel(QStringLiteral("方法名"), group));
    methodEdit = new QLineEdit(QStringLiteral("SendMessage"), group);
    methodRow->addWidget(methodEdit, 1);
    layout->addLayout(methodRow);

    sendEdit = new QPlainTextEdit(group);
    sendEdit->setPlaceholderText(QStringLiteral("输入要发送的消息..."));
    sendEdit->setFixedHeight(60);
    sendEdit->installEventFilter(this);
    layout->addWidget(sendEdit);

    auto* optionRow = new QHBoxLayout;
    hexSendCheck = new QCheckBox(QStringLiteral("Hex发送"), group);
    enterSendCheck = new QCheckBox(QStringLiteral("Enter发送"), group);
    enterSendCheck->setChecked(true);
    sendPushButton = new QPushButton(QStringLiteral("刷新"), group);
    sendPushButton->setObjectName(QStringLiteral("accentButton"));
    sendPushButton->setFixedSize(120, 32);
    optionRow->addWidget(hexSendCheck);
    optionRow->addWidget(enterSendCheck);
    optionRow->addStretch();
    optionRow->addWidget(sendPushButton);
    layout->addLayout(optionRow);

    auto* autoRow = new QHBoxLayout;
    autoSendCheck = new QCheckBox(QStringLiteral("自动发送"), group);
    intervalSpin = new QSpinBox(group);
    intervalSpin->setRange(10, 60000);
    intervalSpin->setSingleStep(100);
    intervalSpin->setValue(1000);
    intervalSpin->setSuffix(QStringLiteral(" ms"));
    autoRow->addWidget(autoSendCheck);
    autoRow->addWidget(new QLabel(QStringLiteral("间隔:"), group));
    autoRow->addWidget(intervalSpin);
    autoRow->addStretch();
    layout->addLayout(autoRow);

    connect(sendPushButton, &QPushButton::clicked, this, &SignalRWidget::sendData);
    connect(autoSendCheck, &QCheckBox::toggled, this, &SignalRWidget::toggleAutoSend);
    return group;
}

QByteArray SignalRWidget::buildPayload()
{
    const QString text = sendEdit->toPlainText();
    if (hexSendCheck->isChecked() && !text.isEmpty()) {
        if (PayloadCodec::isValidHexString(text))
            return PayloadCodec::parseHexString(text);
        comm->logSystemMessage(QStringLiteral("无效的十六进制数据"));
        return QByteArray();
    }
    return comm->encodeText(text);
}

int SignalRWidget::nextInvocationNumber()
{
    const qint32 n = invocationCounter;
    // Wrap explicitly rather than overflow a signed integer.
    invocationCounter = (n == std::numeric_limits<qint32>::max()) ? 0 : n + 1;
    return n;
}

void SignalRWidget::sendData()
{
    const QString method = methodEdit->text();
    if (method.isEmpty())
        return;
    const QByteArray payload = buildPayload();
    if (payload.isEmpty())
        return;
    const qint32 n = nextInvocationNumber();

    if (!serverMode) {
        if (clientSocket && clientSocket->state() == QAbstractSocket::ConnectedState) {
            sendOnClient(HubProtocol::clientInvocation(method, payload, n));
            comm->logSystemMessage(
                QStringLiteral("[%1] -> %2").arg(method, QString::fromUtf8(payload)));
        }
        return;
    }

    const QString message = HubProtocol::serverInvocation(method, payload);
    for (QWebSocket* socket : std::as_const(serverClients))
        sendToClient(socket, message);
    comm->logSentData(payload);
}

bool SignalRWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != sendEdit)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::FocusIn:
        sendEdit->setPlaceholderText(QString());
        return false;
    case QEvent::FocusOut:
        if (sendEdit->toPlainText().isEmpty())
            sendEdit->setPlaceholderText(LanguageManager::instance().isEnglish()
                                             ? QStringLiteral("Enter message to send...")
                                             : QStringLiteral("输入要发送的消息..."));
        return false;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            break;
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        const bool ctrl = key->modifiers() & Qt::ControlModifier;
        const bool enterSends = enterSendCheck->isChecked();
        const bool send = !shift && (ctrl ? !enterSends : enterSends);
        if (send)
            sendData();
        else {
            QTextCursor cursor = sendEdit->textCursor();
            cursor.insertText(QStringLiteral("\n"));
            sendEdit->setTextCursor(cursor);
        }
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SignalRWidget::toggleAutoSend(bool enabled)
{
    if (enabled && running)
        autoSendTimer->start(intervalSpin->value());
    else
        autoSendTimer->stop();
}

// The hub client half of SignalRWidget: connecting, the handshake, subscriptions and the
// handling of every record the hub sends.

#include "SignalRWidget.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include "CommunicationBase.h"
#include "HubProtocol.h"

namespace {

constexpr int ClientCloseGraceMs = 5000;

// How much received text may wait for its turn: a burst of this size keeps the window
// responsive; a flood that outruns the log for longer is taken at the log's pace.
constexpr qsizetype MaxInboundBacklog = 100000;
constexpr qsizetype MaxInboundBacklogChars = 16 * 1024 * 1024;

} // namespace

void SignalRWidget::connectClient()
{
    // An earlier attempt may still be pending: silence it so that its late
    // notifications cannot act on the new connection.
    discardClientSocket();
    clientKeepAlive->stop();

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    socket->setMaxAllowedIncomingMessageSize(maxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(maxMessageBytes);
    connect(socket, &QWebSocket::connected, this, &SignalRWidget::onWsConnected);
    connect(socket, &QWebSocket::disconnected, this, &SignalRWidget::onWsDisconnected);
    connect(socket, &QWebSocket::textMessageReceived, this, &SignalRWidget::queueWsText);
    // Qt 6.4 names the signal error(); errorOccurred arrived in 6.5.
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket] { onWsError(socket); });

    const QString url = HubProtocol::normalizeHubUrl(hubUrlEdit->text());
    socket->open(QUrl(url, QUrl::TolerantMode));
    comm->logSystemMessage(QStringLiteral("正在连接 %1...").arg(url));
    clientSocket = socket;
    awaitingHandshake = false;
}

void SignalRWidget::queueWsText(const QString& message)
{
    // The socket hands over everything the kernel had buffered in one go, thousands of
    // messages in a flood; handling them later, in slices, keeps the window responsive.
    inbound.append(message);
    inboundChars += message.size();
    // Past the backlog limit, handle messages as they come: the socket then reads no
    // faster than the log takes them, and memory stays bounded however long the flood.
    while (inbound.size() > MaxInboundBacklog || inboundChars > MaxInboundBacklogChars) {
        const QString oldest = inbound.takeFirst();
        inboundChars -= oldest.size();
        onWsTextReceived(oldest);
    }
    if (inbound.isEmpty())
        return;
    if (!inboundTimer->isActive())
        inboundTimer->start();
}

void SignalRWidget::processInbound(qint64 budgetNs)
{
    QElapsedTimer clock;
    clock.start();
    while (!inbound.isEmpty()) {
        const QString message = inbound.takeFirst();
        inboundChars -= message.size();
        onWsTextReceived(message);
        if (budgetNs >= 0 && clock.nsecsElapsed() > budgetNs)
            break;
    }
    if (inbound.isEmpty()) {
        inboundTimer->stop();
        inbound = QList<QString>(); // give back what a burst grew it to
        inboundChars = 0;
    } else {
        inboundTimer->start();
    }
}

void SignalRWidget::discardClientSocket()
{
    processInbound(-1); // what the earlier socket delivered is still logged
    if (!clientSocket)
        return;
    QWebSocket* old = clientSocket;
    clientSocket = nullptr;
    disconnect(old, nullptr, this, nullptr);
    old->abort();
    old->deleteLater();
}

void SignalRWidget::onWsConnected()
{
    running = true;
    updateConnectButton();
    updateStatusLabel();
    comm->logSystemMessage(QStringLiteral("SignalR已连接"));
    if (clientSocket) {
        sendOnClient(HubProtocol::handshakeRequest());
        awaitingHandshake = true;
    }
}

QString SignalRWidget::oversizeMessage() const
{
    return QStringLiteral("消息超过大小上限 (%1 MiB)，连接已关闭").arg(maxMessageBytes / (1024 * 1024));
}

void SignalRWidget::sendOnClient(const QString& text)
{
    clientSocket->sendTextMessage(text);
    // A hub drops a client that stays silent for its time-out (30 s by default on
    // ASP.NET Core): ping after every quiet spell.
    clientKeepAlive->start(keepAliveMs);
}

void SignalRWidget::onWsError(QWebSocket* socket)
{
    // Reported once per socket: a refused connection on Qt 6.4 emits disconnected first
    // and the error afterwards, and onWsDisconnected may already have reported it.
    if (socket->property("errorReported").toBool())
        return;
    socket->setProperty("errorReported", true);
    comm->logSystemMessage(QStringLiteral("连接错误: ") + socket->errorString());
}

void SignalRWidget::onWsTextReceived(const QString& message)
{
    const QStringList records = HubProtocol::splitRecords(message);
    for (const QString& text : records) {
        const HubProtocol::Record record = HubProtocol::classify(text);

        // The first record after the handshake request answers it, as the official
        // clients read it: {} acknowledges, {"error":...} refuses.
        if (awaitingHandshake) {
            awaitingHandshake = false;
            const bool untypedObject = record.kind != HubProtocol::RecordKind::Raw
                                       && record.kind != HubProtocol::RecordKind::HandshakeAck
                                       && !record.object.contains(QLatin1String("type"));
            if (untypedObject) {
                if (record.object.contains(QLatin1String("error"))) {
                    comm->logSystemMessage(QStringLiteral("握手失败: ")
                                           + record.object.value(QLatin1String("error")).toString());
                } else {
                    comm->logSystemMessage(QStringLiteral("SignalR协议握手成功"));
                    for (const QString& name : std::as_const(subscriptions))
                        sendSubscribe(name);
                }
                continue;
            }
        }

        switch (record.kind) {
        case HubProtocol::RecordKind::Raw:
            comm->logReceivedData(comm->encodeText(record.text));
            break;
        case HubProtocol::RecordKind::HandshakeAck:
            comm->logSystemMessage(QStringLiteral("SignalR协议握手成功"));
            for (const QString& name : std::as_const(subscriptions))
                sendSubscribe(name);
            break;
        default:
            handleRecord(record);
            break;
        }
    }
}

void SignalRWidget::handleHubMessage(const QJsonObject& object)
{
    handleRecord(HubProtocol::classifyObject(object));
}

void SignalRWidget::handleRecord(const HubProtocol::Record& record)
{
    switch (record.kind) {
    case HubProtocol::RecordKind::Typed:
        for (const QString& argument : record.arguments)
            feedChartData(argument);
        comm->logReceivedData(comm->encodeText(record.text));
        break;
    case HubProtocol::RecordKind::ErrorCompletion:
        comm->logSystemMessage(QStringLiteral("调用错误: ") + record.text);
        break;
    case HubProtocol::RecordKind::SilentCompletion:
        break;
    default:
        comm->logReceivedData(comm->encodeText(record.text));
        break;
    }
}

void SignalRWidget::sendSubscribe(const QString& method)
{
    if (!running || !clientSocket)
        return;
    sendOnClient(HubProtocol::subscribeInvocation(method, QDateTime::currentMSecsSinceEpoch()));
    comm->logSystemMessage(QStringLiteral("已订阅方法 ") + method);
}

void SignalRWidget::addSubscription()
{
    const QString name = subscribeEdit->text().trimmed();
    if (name.isEmpty() || subscriptions.contains(name))
        return;
    subscriptions.append(name);
    subscriptionList->addItem(name);
    comm->logSystemMessage(QStringLiteral("已订阅方法 %1").arg(name));
    if (clientSocket && clientSocket->state() == QAbstractSocket::ConnectedState)
        sendSubscribe(name);
    subscribeEdit->clear();
}

void SignalRWidget::removeSubscription()
{
    QListWidgetItem* item = subscriptionList->currentItem();
    if (!item)
        return;
    const QString name = item->text();
    subscriptions.removeAll(name);
    delete subscriptionList->takeItem(subscriptionList->row(item));
    comm->logSystemMessage(QStringLiteral("已取消订阅 %1").arg(name));
}

void SignalRWidget::onWsDisconnected()
{
    // Everything received before the disconnection is logged before it.
    processInbound(-1);
    // A socket that never connected failed to: the user needs the reason, not a
    // disconnection. (On Qt 6.4 the error signal comes only after this one.)
    const bool failedAttempt = !running && clientSocket
                               && clientSocket->error() != QAbstractSocket::UnknownSocketError;
    if (failedAttempt)
        onWsError(clientSocket);
    else
        comm->logSystemMessage(QStringLiteral("SignalR连接已断开"));
    if (clientSocket && !failedAttempt) {
        // Say why when the close was not an ordinary one (a protocol error of either side).
        const QWebSocketProtocol::CloseCode code = clientSocket->closeCode();
        if (code == QWebSocketProtocol::CloseCodeTooMuchData) {
            comm->logSystemMessage(oversizeMessage());
        } else if (code != QWebSocketProtocol::CloseCodeNormal
                   && code != QWebSocketProtocol::CloseCodeGoingAway) {
            const QString reason = clientSocket->closeReason();
            comm->logSystemMessage(QStringLiteral("关闭代码 %1%2")
                                       .arg(int(code))
                                       .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
        }
    }
    if (clientSocket) {
        clientSocket->deleteLater();
        clientSocket = nullptr;
    }
    awaitingHandshake = false;
    clientKeepAlive->stop();
    running = false;
    updateConnectButton();
    updateStatusLabel();
}

void SignalRWidget::disconnectAll()
{
    processInbound(-1);
    autoSendTimer->stop();
    clientKeepAlive->stop();
    if (clientSocket) {
        QWebSocket* socket = clientSocket;
        clientSocket = nullptr;
        // The user asked for this: the disconnection it causes is not news to log.
        disconnect(socket, nullptr, this, nullptr);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        socket->deleteLater();
    }
    awaitingHandshake = false;

    QWebSocketServer* stoppedServer = server;
    server = nullptr;
    const QList<QWebSocket*> clients = serverClients;
    serverClients.clear();
    running = false;
    updateConnectButton();
    updateStatusLabel();
    comm->logSystemMessage(QStringLiteral("已断开"));

    // Closing a client reports its disconnection, often at once, and that handler logs
    // the departure (after the line above), takes the item off the list and deletes the
    // socket later. Deleting it here instead could drop a disconnection that arrives
    // afterwards and leave a stale list item; a peer that never lets the close finish is
    // cut off after a grace period.
    for (QWebSocket* socket : clients) {
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        if (socket->state() != QAbstractSocket::UnconnectedState)
            QTimer::singleShot(ClientCloseGraceMs, socket, [socket] { socket->abort(); });
    }
    if (stoppedServer) {
        stoppedServer->close();
        delete stoppedServer;
    }
}

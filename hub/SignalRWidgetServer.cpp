// The simulated hub server half of SignalRWidget: listening, the client list and what
// clients send.

#include "SignalRWidget.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTimer>
#include <QListWidget>
#include <QSpinBox>
#include <QLineEdit>
#include <QWebSocket>
#include <QWebSocketServer>

#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "SimulatedHubMethods.h"

namespace {

const char* const KeepAliveTimerName = "keepAlive";
const char* const HandshakenProperty = "handshaken";

} // namespace

void SignalRWidget::startServer()
{
    auto* candidate = new QWebSocketServer(QStringLiteral("Wirewright SignalR"),
                                           QWebSocketServer::NonSecureMode, this);
    const int port = portSpin->value();
    if (!candidate->listen(QHostAddress::Any, static_cast<quint16>(port))) {
        comm->logSystemMessage(QStringLiteral("监听失败: ") + candidate->errorString());
        delete candidate;
        return;
    }
    server = candidate;
    running = true;
    updateConnectButton();
    updateStatusLabel();
    comm->logSystemMessage(QStringLiteral("SignalR服务器已启动: http://localhost:%1%2")
                               .arg(port)
                               .arg(hubPathEdit->text()));
    comm->logSystemMessage(
        QStringLiteral("可用方法: Send(msg), SendMessage(msg), Echo(msg), Broadcast(method, msg)"));
    connect(server, &QWebSocketServer::newConnection, this, &SignalRWidget::onNewConnection);
}

void SignalRWidget::onNewConnection()
{
    if (!server)
        return;
    while (server->hasPendingConnections()) {
        QWebSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        // Accepted sockets are born children of the server, which is destroyed at once
        // on stop; the window must own them so their deferred deletion stays valid.
        socket->setParent(this);
        socket->setMaxAllowedIncomingMessageSize(maxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(maxMessageBytes);
        serverClients.append(socket);
        const QString identifier =
            socket->peerAddress().toString() + QLatin1Char(':') + QString::number(socket->peerPort());
        clientList->addItem(identifier);
        comm->logSystemMessage(QStringLiteral("客户端连接 %1").arg(identifier));
        // Pings a handshaken client after each quiet spell, as a real hub does, so the
        // official clients' server time-out never fires.
        auto* keepAlive = new QTimer(socket);
        keepAlive->setObjectName(QLatin1String(KeepAliveTimerName));
        keepAlive->setSingleShot(true);
        keepAlive->setInterval(keepAliveMs);
        connect(keepAlive, &QTimer::timeout, this,
                [this, socket] { sendToClient(socket, HubProtocol::pingRecord()); });
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& message) { onClientText(socket, message); });
        connect(socket, &QWebSocket::disconnected, this,
                [this, socket, identifier] { onClientDisconnected(socket, identifier); });
    }
}

void SignalRWidget::onClientText(QWebSocket* socket, const QString& message)
{
    comm->logReceivedData(comm->encodeText(message));

    // Answering is silent: only what the client sent is logged.
    const QStringList records = HubProtocol::splitRecords(message);
    for (const QString& text : records) {
        const HubProtocol::Record record = HubProtocol::classify(text);
        if (record.kind == HubProtocol::RecordKind::Raw)
            continue;
        if (!socket->property(HandshakenProperty).toBool()) {
            const HubProtocol::HandshakeRequest request =
                HubProtocol::parseHandshakeRequest(record.object);
            if (!request.isHandshake)
                continue;
            if (!request.supported()) {
                sendToClient(socket, HubProtocol::handshakeError(
                                         QStringLiteral("Requested protocol '%1' is not available.")
                                             .arg(request.protocol)));
                socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
                return;
            }
            socket->setProperty(HandshakenProperty, true);
            sendToClient(socket, HubProtocol::handshakeResponse());
            continue;
        }
        const int type = record.object.value(QLatin1String("type")).toInt(-1);
        if (type == 7) { // the client closes
            socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            return;
        }
        if (type != 1)
            continue;
        const SimulatedHubMethods::Reply reply = SimulatedHubMethods::dispatch(record.object);
        for (const SimulatedHubMethods::Push& push : reply.pushes) {
            const QString invocation = HubProtocol::invocationRecord(push.target, push.arguments);
            if (!push.toAll) {
                sendToClient(socket, invocation);
                continue;
            }
            for (QWebSocket* client : std::as_const(serverClients))
                sendToClient(client, invocation);
        }
        if (!reply.completion.isEmpty())
            sendToClient(socket, reply.completion);
    }
}

void SignalRWidget::sendToClient(QWebSocket* socket, const QString& text)
{
    socket->sendTextMessage(text);
    if (!socket->property(HandshakenProperty).toBool())
        return;
    if (auto* keepAlive = socket->findChild<QTimer*>(QLatin1String(KeepAliveTimerName),
                                                     Qt::FindDirectChildrenOnly))
        keepAlive->start();
}

void SignalRWidget::onClientDisconnected(QWebSocket* socket, const QString& identifier)
{
    serverClients.removeOne(socket);
    for (int row = 0; row < clientList->count(); ++row) {
        if (clientList->item(row)->text() == identifier) {
            delete clientList->takeItem(row);
            break;
        }
    }
    if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        comm->logSystemMessage(oversizeMessage());
    comm->logSystemMessage(QStringLiteral("客户端断开: %1").arg(identifier));
    socket->deleteLater();
}

void SignalRWidget::disconnectSelectedClient()
{
    QListWidgetItem* item = clientList->currentItem();
    if (!item)
        return;
    const QString identifier = item->text();
    for (QWebSocket* socket : std::as_const(serverClients)) {
        const QString candidate =
            socket->peerAddress().toString() + QLatin1Char(':') + QString::number(socket->peerPort());
        if (candidate == identifier) {
            // The disconnection handling removes the item and logs the departure.
            socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            return;
        }
    }
}

// The simulated hub server half of SignalRWidget: listening, the client list and what
// clients send.

#include "SignalRWidget.h"

#include <QHostAddress>
#include <QListWidget>
#include <QSpinBox>
#include <QLineEdit>
#include <QWebSocket>
#include <QWebSocketServer>

#include "CommunicationBase.h"

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
        serverClients.append(socket);
        const QString identifier =
            socket->peerAddress().toString() + QLatin1Char(':') + QString::number(socket->peerPort());
        clientList->addItem(identifier);
        comm->logSystemMessage(QStringLiteral("客户端连接 %1").arg(identifier));
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& message) { onClientText(socket, message); });
        connect(socket, &QWebSocket::disconnected, this,
                [this, socket, identifier] { onClientDisconnected(socket, identifier); });
    }
}

void SignalRWidget::onClientText(QWebSocket* socket, const QString& message)
{
    Q_UNUSED(socket);
    comm->logReceivedData(comm->encodeText(message));
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

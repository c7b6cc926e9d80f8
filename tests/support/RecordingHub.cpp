#include "RecordingHub.h"

#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

RecordingHub::RecordingHub(QObject* parent)
    : QObject(parent)
    , server(new QWebSocketServer(QStringLiteral("RecordingHub"), QWebSocketServer::NonSecureMode,
                                  this))
{
    connect(server, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = server->nextPendingConnection()) {
            socket->setParent(this);
            clients.append(socket);
            connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
                received.append(text);
                emit textReceived(text);
            });
            connect(socket, &QWebSocket::disconnected, this, [this, socket] {
                clients.removeOne(socket);
                socket->deleteLater();
                emit clientDisconnected();
            });
            emit clientConnected();
        }
    });
}

RecordingHub::~RecordingHub()
{
    abortAll();
}

bool RecordingHub::listen()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

quint16 RecordingHub::port() const
{
    return server->serverPort();
}

QUrl RecordingHub::url(const QString& path) const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port()).arg(path));
}

void RecordingHub::sendToAll(const QString& text)
{
    for (QWebSocket* socket : std::as_const(clients))
        socket->sendTextMessage(text);
}

void RecordingHub::closeAll()
{
    for (QWebSocket* socket : std::as_const(clients))
        socket->close();
}

void RecordingHub::abortAll()
{
    const QList<QWebSocket*> sockets = clients;
    clients.clear();
    for (QWebSocket* socket : sockets) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();
    }
}

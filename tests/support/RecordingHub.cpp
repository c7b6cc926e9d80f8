#include "RecordingHub.h"

#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

RecordingHub::RecordingHub(QObject* parent)
    : QObject(parent)
    , m_server(new QWebSocketServer(QStringLiteral("RecordingHub"), QWebSocketServer::NonSecureMode, this))
{
    connect(m_server, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            m_clients.append(socket);
            connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) { received.append(text); });
            connect(socket, &QWebSocket::binaryMessageReceived, this,
                    [this](const QByteArray& frame) { receivedFrames.append(frame); });
            connect(socket, &QWebSocket::disconnected, this, [this, socket] {
                m_clients.removeOne(socket);
                socket->deleteLater();
            });
        }
    });
}

// The sockets go quietly: a disconnected() during destruction would reach a half-gone hub.
RecordingHub::~RecordingHub()
{
    for (QWebSocket* socket : std::as_const(m_clients)) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
    }
}

bool RecordingHub::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 RecordingHub::port() const
{
    return m_server->serverPort();
}

QUrl RecordingHub::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/hub").arg(port()));
}

void RecordingHub::sendToAll(const QString& text)
{
    for (QWebSocket* socket : std::as_const(m_clients))
        socket->sendTextMessage(text);
}

void RecordingHub::sendFrameToAll(const QByteArray& frame)
{
    for (QWebSocket* socket : std::as_const(m_clients))
        socket->sendBinaryMessage(frame);
}

void RecordingHub::closeAll()
{
    for (QWebSocket* socket : std::as_const(m_clients))
        socket->close();
}

#pragma once

#include <QStringList>
#include <QTest>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

#include "HubProtocol.h"

// Shared moves of the network tests: a WebSocket peer that records what a hub sends it,
// and a hub that records what its clients send.
namespace HubTestKit {

constexpr int Timeout = 5000;

struct Peer
{
    std::unique_ptr<QWebSocket> socket = std::make_unique<QWebSocket>();
    QStringList received;
    QList<QByteArray> frames; // binary, as a hub sends to MessagePack clients

    explicit Peer(quint16 port, const QString& path = QStringLiteral("/debughub"))
    {
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(),
                         [this](const QString& text) { received.append(text); });
        QObject::connect(socket.get(), &QWebSocket::binaryMessageReceived, socket.get(),
                         [this](const QByteArray& frame) { frames.append(frame); });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(path)));
    }

    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return socket->state() == QAbstractSocket::ConnectedState; },
                               Timeout);
    }

    // Sends the handshake and waits for the hub's {} answer, then forgets it.
    bool handshake()
    {
        if (!waitConnected())
            return false;
        socket->sendTextMessage(HubProtocol::handshakeRequest());
        const bool ok = QTest::qWaitFor(
            [this] { return received.contains(HubProtocol::handshakeResponse()); }, Timeout);
        received.clear();
        return ok;
    }

    // How the simulated hub names this IPv4 client.
    QString identifier() const
    {
        return QStringLiteral("127.0.0.1:%1").arg(socket->localPort());
    }
};

} // namespace HubTestKit

// A loopback WebSocket server standing in for a hub: records every text and binary frame
// its clients send and sends them whatever the test tells it to.
struct RecordingHub
{
    QWebSocketServer server{QStringLiteral("RecordingHub"), QWebSocketServer::NonSecureMode};
    QList<QWebSocket*> clients; // children of the server
    QStringList received;
    QList<QByteArray> receivedFrames;

    RecordingHub()
    {
        QObject::connect(&server, &QWebSocketServer::newConnection, &server, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server);
                clients.append(socket);
                QObject::connect(socket, &QWebSocket::textMessageReceived, &server, [this](const QString& text) { received.append(text); });
                QObject::connect(socket, &QWebSocket::binaryMessageReceived, &server,
                                 [this](const QByteArray& frame) { receivedFrames.append(frame); });
                QObject::connect(socket, &QWebSocket::disconnected, &server, [this, socket] {
                    clients.removeOne(socket);
                    socket->deleteLater();
                });
            }
        });
    }
    // The sockets go quietly: a disconnected() now would reach a half-gone hub.
    ~RecordingHub()
    {
        for (QWebSocket* socket : std::as_const(clients)) {
            socket->disconnect(&server);
            socket->abort();
        }
    }

    bool listen() { return server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server.serverPort(); }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/hub").arg(port())); }
    int clientCount() const { return int(clients.size()); }
    void sendToAll(const QString& text)
    {
        for (QWebSocket* socket : std::as_const(clients))
            socket->sendTextMessage(text);
    }
    void sendFrameToAll(const QByteArray& frame)
    {
        for (QWebSocket* socket : std::as_const(clients))
            socket->sendBinaryMessage(frame);
    }
    void closeAll()
    {
        for (QWebSocket* socket : std::as_const(clients))
            socket->close();
    }
};

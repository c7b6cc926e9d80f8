#pragma once

#include <QStringList>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

#include <memory>

#include "HubProtocol.h"

// Shared moves of the network tests: a WebSocket peer that records what a hub sends it.
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

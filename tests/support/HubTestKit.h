#pragma once

#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

#include <memory>

#include "HubProtocol.h"
#include "RecordingHub.h"
#include "SignalRWidgetProbe.h"

// Shared moves of the network tests: ports, putting the window in either mode, and a
// WebSocket peer that records what the simulated hub sends it.
namespace HubTestKit {

constexpr int Timeout = 5000;

// A port nobody listens on right now (the OS picks it, then it is released).
inline quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

// Client mode: connects the window to the hub and waits for its handshake request,
// which is then forgotten so tests see only what follows.
inline bool connectWindow(SignalRWidgetProbe& p, RecordingHub& hub)
{
    p.hubUrlEdit()->setText(hub.url().toString());
    p.w.toggleConnection();
    const bool ok = QTest::qWaitFor(
        [&] { return hub.received.contains(HubProtocol::handshakeRequest()); }, Timeout);
    hub.received.clear();
    return ok && p.running();
}

// Server mode on an unused port.
inline bool startWindowServer(SignalRWidgetProbe& p)
{
    p.serverRadio()->setChecked(true);
    p.portSpin()->setValue(unusedPort());
    p.w.toggleConnection();
    return p.running() && p.server();
}

// A client of the simulated hub.
struct Peer
{
    std::unique_ptr<QWebSocket> socket = std::make_unique<QWebSocket>();
    QStringList received;

    explicit Peer(int port, const QString& path = QStringLiteral("/debughub"))
    {
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(),
                         [this](const QString& text) { received.append(text); });
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

    // How the server names this client: an IPv4 peer of a dual-stack listener.
    QString identifier() const
    {
        return QStringLiteral("::ffff:127.0.0.1:%1").arg(socket->localPort());
    }
};

} // namespace HubTestKit

#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "HubProtocol.h"

class CommunicationBase;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// The simulated hub: a WebSocket server on a local port that lets clients under
// development connect on any path, answers the JSON handshake, serves the built-in hub
// methods (SimulatedHubMethods), pings each handshaken client after quiet spells and
// pushes what the user composes to every client. Only what clients send is logged; the
// hub's own answers are silent.
//
// Stopping closes every client; each one's departure is still logged as it happens, so a
// stop logs one "客户端断开" per client after the caller's own entry.
class SimulatedHub : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedHub(CommunicationBase* log, QObject* parent = nullptr);
    ~SimulatedHub() override;

    // Listens on every interface; port 0 lets the system choose (see port()). The path is
    // only announced: clients may connect on any path.
    bool listen(quint16 port, const QString& path);
    void stop();
    bool isListening() const { return m_server != nullptr; }
    quint16 port() const;

    // Pushes method(payload) to every connected client and logs it as sent.
    void broadcast(const QString& method, const QByteArray& payload);
    // Closes the client of that identifier; its departure is logged as usual.
    void disconnectPeer(const QString& identifier);
    QStringList peerIdentifiers() const;

    void setKeepAliveInterval(int ms) { m_keepAliveMs = ms; }
    void setMaxMessageBytes(quint64 bytes) { m_maxMessageBytes = bytes; }

signals:
    void peerJoined(const QString& identifier);
    void peerLeft(const QString& identifier);

private:
    struct Peer
    {
        QWebSocket* socket = nullptr;
        QString identifier;
        QTimer* keepAlive = nullptr;
        bool handshaken = false;
    };

    void onNewConnection();
    void onPeerText(QWebSocket* socket, const QString& message);
    void onPeerDisconnected(QWebSocket* socket);
    void sendToPeer(Peer& peer, const QString& text);
    Peer* findPeer(const QWebSocket* socket);

    CommunicationBase* m_log = nullptr;
    QWebSocketServer* m_server = nullptr;
    QList<Peer> m_peers;
    int m_keepAliveMs = HubProtocol::KeepAliveIntervalMs;
    quint64 m_maxMessageBytes = HubProtocol::MaxMessageBytes;
};

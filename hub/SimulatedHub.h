#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "AutoReplyRules.h"
#include "HttpFront.h"
#include "HubProtocol.h"

class CommunicationBase;
class QTimer;
class QWebSocket;

// The simulated hub: one local port (HttpFront) where applications under development
// connect unchanged, negotiating first or not, on any path; it answers the handshake of
// either protocol, JSON or MessagePack (each client in its own, at the same time), the
// user's scripted replies (AutoReplyRules) and then the built-in hub methods
// (SimulatedHubMethods) and the Counter stream (cancelled by CancelInvocation), pings each
// handshaken client after quiet spells and pushes what the user composes to every client
// or to one. Only what clients send is logged, HTTP requests included; the hub's own
// answers are silent. Everything is built as JSON records; a MessagePack client gets them
// converted on the way out (MessagePackCodec::fromJsonRecords).
//
// A client that stops reading while the hub keeps sending would make the hub hold
// everything for it: past the unsent-bytes limit it is cut off, with an entry naming it.
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
    // The same to the client of that identifier only; false when it is not connected.
    bool sendTo(const QString& identifier, const QString& method, const QByteArray& payload);
    // Closes the client of that identifier; its departure is logged as usual.
    void disconnectPeer(const QString& identifier);
    // The same after a close record with that error, as a hub that fails does.
    void closePeer(const QString& identifier, const QString& error, bool allowReconnect = false);
    QStringList peerIdentifiers() const;

    void setKeepAliveInterval(int ms) { m_keepAliveMs = ms; }
    void setMaxMessageBytes(quint64 bytes) { m_maxMessageBytes = bytes; }
    // Takes effect at the next listen().
    void setHeaderTimeout(int ms) { m_headerTimeoutMs = ms; }
    void setAutoReplies(const AutoReplyRules& rules) { m_autoReplies = rules; }
    // Bytes the hub may hold for one client that has not taken them yet.
    void setMaxUnsentBytes(qint64 bytes) { m_maxUnsentBytes = bytes; }

    static constexpr qint64 DefaultMaxUnsentBytes = 16 * 1024 * 1024;

signals:
    void peerJoined(const QString& identifier);
    void peerLeft(const QString& identifier);

private:
    struct Peer
    {
        QWebSocket* socket = nullptr;
        QString identifier;
        QTimer* keepAlive = nullptr;
        QHash<QString, QTimer*> streams; // running streams by invocation id
        bool handshaken = false;
        bool messagePack = false; // asked for in the handshake: binary frames from then on
        bool cutOff = false; // past the unsent-bytes limit, about to be dropped
    };

    void onNewConnection();
    void onPeerText(QWebSocket* socket, const QString& message);
    void onPeerFrame(QWebSocket* socket, const QByteArray& frame);
    // Acts on one message of a handshaken client; false once that client is gone.
    bool answer(QWebSocket* socket, const QJsonObject& message);
    void onPeerDisconnected(QWebSocket* socket);
    void sendToPeer(Peer& peer, const QString& text);
    void startStream(Peer& peer, const QJsonObject& invocation);
    void cancelStream(Peer& peer, const QJsonValue& invocationId);
    Peer* findPeer(const QWebSocket* socket);

    CommunicationBase* m_log = nullptr;
    HttpFront* m_server = nullptr;
    AutoReplyRules m_autoReplies;
    int m_headerTimeoutMs = HttpFront::DefaultHeaderTimeoutMs;
    QList<Peer> m_peers;
    int m_keepAliveMs = HubProtocol::KeepAliveIntervalMs;
    quint64 m_maxMessageBytes = HubProtocol::MaxMessageBytes;
    qint64 m_maxUnsentBytes = DefaultMaxUnsentBytes;
};

#pragma once

#include <QCache>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "ConnectOptions.h"
#include "HubProtocol.h"
#include "Negotiation.h"

class CommunicationBase;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QSslError;
class QTimer;
class QWebSocket;

// The hub client end of the protocol. It opens a WebSocket to a hub (first negotiating,
// following redirects, when the ConnectOptions ask for it), sends the handshake, takes the
// hub's first record as the answer, invokes "Subscribe" once per subscribed name after
// each successful handshake, pings after quiet spells and logs every record the hub sends
// through the CommunicationBase it is given.
//
// Every message type is interpreted (HubProtocol::describeTyped): completions are paired
// with the calls this client sent, for their round trip; a hub asking for a client result
// gets the official clients' "no result" answer so that its call does not hang; pings are
// rows only on request. A hub that leaves the handshake unanswered for the handshake
// time-out, or is silent for the server time-out, is taken for gone. With
// auto-reconnect on, a connection that drops without the user asking is opened again
// after growing delays, unless the hub's close record forbids it.
//
// With setMessagePack() the handshake asks for MessagePack and everything after its
// answer travels in binary frames (MessagePackCodec): rows, charts and pairing work as for
// JSON, each row keeping the bytes it came as for the hex view, and a typed send goes out
// as the JSON value it spells.
//
// Received messages are queued and their records handled in time slices, record by
// record, so a message of a million records is no different from a million messages:
// the socket hands over everything the kernel buffered in one go. A record too long to
// parse within a slice is parsed on a worker thread while the queue waits, and then
// handled in its turn. Whatever was received is logged before a disconnection, a new
// attempt or a close.
// (A MessagePack frame is handled whole, in its turn.)
// A close the user asks for (close()) is not reported through disconnected().
//
// Every step of the connect pipeline is a system entry: what was requested (method,
// address, header names), what negotiate answered, and for each failure what failed and
// its usual cause. The access token never reaches the log: it shows as "Bearer ***" or
// access_token=***.
class HubClient : public QObject
{
    Q_OBJECT

public:
    explicit HubClient(CommunicationBase* log, QObject* parent = nullptr);
    ~HubClient() override;

    // Opens `address` after the hub address rule (HubProtocol::normalizeHubUrl), with the
    // connect options set last; an attempt or connection still open is dropped silently
    // first, and so is a pending reconnection.
    void open(const QString& address);
    void close();
    bool isConnected() const;
    // Between a drop and the next connection while auto-reconnect is on.
    bool isReconnecting() const { return m_reconnectAttempt > 0 && !m_connected; }

    // Names to subscribe to. Adding logs the subscription and, when connected, sends it.
    bool addSubscription(const QString& name);
    bool removeSubscription(const QString& name);
    QStringList subscriptions() const { return m_subscriptions; }

    // Invokes `method` with the payload as its one string argument and logs the call;
    // the TX counter counts the payload. invoke() and stream() take the next invocation
    // number, sent or not; send() carries none, so no completion comes back. False when
    // not connected.
    bool invoke(const QString& method, const QByteArray& payload);
    bool send(const QString& method, const QByteArray& payload);
    bool stream(const QString& method, const QByteArray& payload);
    // Asks the hub to stop every stream of this client that is still running.
    void cancelStreams();

    // Handles one received text message at once.
    void handleMessage(const QString& message);
    // The same for a binary frame: MessagePack messages, after the handshake answer while
    // that is awaited. Each message is a row that keeps its bytes, length prefix included;
    // one that cannot be read is one error row, and the connection goes on.
    void handleFrame(const QByteArray& frame);

    // Speak MessagePack instead of JSON from the next connection on.
    void setMessagePack(bool on) { m_useMessagePack = on; }

    // Quiet time after which the client pings the hub.
    void setKeepAliveInterval(int ms) { m_keepAliveMs = ms; }
    int keepAliveInterval() const { return m_keepAliveMs; }
    // Largest message the hub may send; applies from the next open().
    void setMaxMessageBytes(quint64 bytes) { m_maxMessageBytes = bytes; }
    quint64 maxMessageBytes() const { return m_maxMessageBytes; }
    void setConnectOptions(const ConnectOptions& options) { m_options = options; }
    const ConnectOptions& connectOptions() const { return m_options; }
    // How long negotiate may stay silent before the attempt fails.
    void setNegotiateTimeout(int ms) { m_negotiateTimeoutMs = ms; }
    // How long received messages are handled before the event loop gets its turn again.
    void setInboundSliceNs(qint64 ns) { m_inboundSliceNs = ns; }
    // Time without any record after which the hub is taken for gone; applies from the
    // next connection.
    void setServerTimeout(int ms) { m_serverTimeoutMs = ms; }
    // How long the hub may take to answer the handshake before the attempt is given up.
    void setHandshakeTimeout(int ms) { m_handshakeTimeoutMs = ms; }
    void setShowPings(bool on) { m_showPings = on; }
    // Off by default. Switching it off while waiting to reconnect ends the wait.
    void setAutoReconnect(bool on);
    // Waits before the successive attempts after a drop; the last one repeats.
    void setReconnectDelays(const QList<int>& ms) { m_reconnectDelays = ms; }

signals:
    // The WebSocket opened; the handshake request has been sent.
    void connected();
    // The connection ended or the attempt failed, without the user asking, and no
    // reconnection follows.
    void disconnected();
    // The connection dropped and a new attempt is scheduled.
    void reconnecting();
    // Whether a stream this client asked for is running.
    void streamsActiveChanged(bool active);
    // Each argument of an invocation the hub sent, as text, for the charts.
    void argumentReceived(const QString& text);

private:
    void negotiate();
    void onNegotiated(QNetworkReply* reply);
    void failNegotiation(const QString& why);
    void abortNegotiation();
    void openSocket(const QString& url);
    void applyHeaders(QNetworkRequest& request, bool withAuthorization) const;
    QString headerSummary(bool withAuthorization) const;
    void reportCertificateErrors(const QList<QSslError>& errors);
    void onSocketConnected();
    void onSocketDisconnected();
    void reportError(QWebSocket* socket);
    void queueMessage(const QString& message);
    void queueFrame(const QByteArray& frame);
    void processInbound(qint64 budgetNs);
    bool takeRecord(QString& record);
    void onLargeRecordParsed();
    void handleClassified(const HubProtocol::Record& record);
    void connectSocket();
    void discardSocket();
    // Sends a record HubProtocol wrote; on a MessagePack connection as MessagePack, with
    // `argument` (when defined) as the one argument instead of the record's string.
    void write(const QString& record, const QJsonValue& argument = QJsonValue(QJsonValue::Undefined));
    bool call(const QString& method, const QByteArray& payload, HubProtocol::MessageType type,
              bool awaitsAnswer = true);
    void sendSubscribe(const QString& name);
    void onHandshakeSucceeded();
    // `wire`: the bytes of a MessagePack message, empty for JSON records.
    void handleRecord(const HubProtocol::Record& record, const QByteArray& wire = QByteArray());
    void handleTyped(const HubProtocol::Record& record, const QByteArray& wire);
    void onServerTimeout();
    void onHandshakeTimeout();
    void connectionLost();
    void stopReconnecting();
    void setStreams(const QStringList& ids);
    int nextInvocationNumber();

    CommunicationBase* m_log = nullptr;
    ConnectOptions m_options;
    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_negotiation = nullptr;
    // The attempt under way: address and token as redirects left them, checked headers,
    // certificate errors already logged (negotiate and the upgrade meet the same ones).
    QString m_address;
    QString m_token;
    QList<Negotiation::Header> m_headers;
    int m_redirects = 0;
    QStringList m_reportedCertificateErrors;
    int m_negotiateTimeoutMs = Negotiation::DefaultTimeoutMs;
    QWebSocket* m_socket = nullptr;
    QTimer* m_keepAlive = nullptr;
    QTimer* m_inboundTimer = nullptr;
    QTimer* m_serverTimeout = nullptr;
    QTimer* m_handshakeTimer = nullptr;
    QTimer* m_releaseTimer = nullptr; // memory freed by a burst, given back when quiet
    QTimer* m_reconnectTimer = nullptr;
    // Send times, on m_clock, of the calls still waiting for their completion, by id;
    // bounded so that a hub that never answers cannot grow it for ever.
    QCache<QString, qint64> m_pendingCalls{MaxPendingCalls};
    QElapsedTimer m_clock;
    qint64 m_lastReceivedMs = 0; // on m_clock
    QStringList m_streams;
    QString m_openedAddress; // what the user opened, for reconnecting
    QList<int> m_reconnectDelays{0, 2000, 10000, 30000};
    int m_reconnectAttempt = 0; // attempts since the last drop; 0 when not reconnecting
    // Messages waiting (and the characters they hold), then the one being taken apart
    // and where its next record starts; binary frames wait apart (and their bytes).
    QList<QString> m_inbound;
    qsizetype m_inboundChars = 0;
    QList<QByteArray> m_inboundFrames;
    qsizetype m_inboundFrameBytes = 0;
    QString m_current;
    qsizetype m_currentPos = 0;
    // A long record being parsed off the GUI thread; the queue waits for it.
    QFutureWatcher<HubProtocol::Record>* m_largeRecord = nullptr;
    bool m_parsingLarge = false;
    QStringList m_subscriptions;
    qint32 m_invocationCounter = 0;
    int m_keepAliveMs = HubProtocol::KeepAliveIntervalMs;
    quint64 m_maxMessageBytes = HubProtocol::MaxMessageBytes;
    qint64 m_inboundSliceNs = DefaultInboundSliceNs;
    int m_serverTimeoutMs = HubProtocol::ServerTimeoutMs;
    int m_handshakeTimeoutMs = DefaultHandshakeTimeoutMs;
    bool m_showPings = false;
    bool m_useMessagePack = false; // the setting
    bool m_messagePack = false;    // what this connection speaks
    bool m_autoReconnect = false;
    // This connection completed its handshake: a drop now is worth reconnecting after.
    bool m_handshaken = false;
    // The hub's close record forbade reconnecting.
    bool m_closeIsFinal = false;
    // True from the handshake request until the first record answers it.
    bool m_awaitingHandshake = false;
    bool m_connected = false;

    static constexpr qint64 DefaultInboundSliceNs = 4'000'000;
    // Records from this length on are parsed on a worker thread: about 10 ms of parsing.
    static constexpr qsizetype LargeRecordChars = 512 * 1024;
    // The official clients give up a handshake after 15 s.
    static constexpr int DefaultHandshakeTimeoutMs = 15000;
    static constexpr int MaxPendingCalls = 10000;
};

#pragma once

#include <QElapsedTimer>
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
// following redirects, when the ConnectOptions ask for it), sends the JSON handshake, takes the hub's first record as the answer, invokes "Subscribe" once per
// subscribed name after each successful handshake, pings after quiet spells and logs
// every record the hub sends through the CommunicationBase it is given.
//
// Received messages are queued and handled in time slices: the socket hands over
// everything the kernel buffered in one go, thousands of messages in a flood. Whatever
// was received is logged before a disconnection, a new attempt or a close.
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
    // first.
    void open(const QString& address);
    void close();
    bool isConnected() const;

    // Names to subscribe to. Adding logs the subscription and, when connected, sends it.
    bool addSubscription(const QString& name);
    bool removeSubscription(const QString& name);
    QStringList subscriptions() const { return m_subscriptions; }

    // Invokes `method` with the payload as its one string argument and logs the call.
    // Every call takes the next invocation number, sent or not; false when not connected.
    bool invoke(const QString& method, const QByteArray& payload);

    // Handles one received text message at once.
    void handleMessage(const QString& message);

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

signals:
    // The WebSocket opened; the handshake request has been sent.
    void connected();
    // The connection ended or the attempt failed, without the user asking.
    void disconnected();
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
    void processInbound(qint64 budgetNs);
    void discardSocket();
    void send(const QString& text);
    void sendSubscribe(const QString& name);
    void onHandshakeSucceeded();
    void handleRecord(const HubProtocol::Record& record);
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
    QList<QString> m_inbound;
    qsizetype m_inboundChars = 0;
    QStringList m_subscriptions;
    qint32 m_invocationCounter = 0;
    int m_keepAliveMs = HubProtocol::KeepAliveIntervalMs;
    quint64 m_maxMessageBytes = HubProtocol::MaxMessageBytes;
    qint64 m_inboundSliceNs = DefaultInboundSliceNs;
    // True from the handshake request until the first record answers it.
    bool m_awaitingHandshake = false;
    bool m_connected = false;

    static constexpr qint64 DefaultInboundSliceNs = 8'000'000;
};

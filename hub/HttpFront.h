#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QString>

class QHostAddress;
class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
struct HttpRequest;

// The simulated hub's one port: reads each connection's HTTP request itself, answers
// negotiation, CORS preflights and anything else that is plain HTTP, and hands WebSocket
// upgrades, on any path, to a QWebSocketServer that never listens on its own.
//
// Negotiation hands out single-use connection tokens; an upgrade that names an unknown or
// already used one (its "id") gets 404 as from a real hub, one without an id is let in
// (clients that skip negotiation). Reading is bounded: a head larger than
// MaxHeadBytes gets 431, a malformed one 400, and a connection that has not completed a
// request within the header time-out is dropped, so a client that never finishes its
// headers holds nothing for long. Qt HTTP Server 6.4 could not do this: it upgrades
// every WebSocket request before any handler sees it and sets no limits.
class HttpFront : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultHeaderTimeoutMs = 10000;
    static constexpr qsizetype MaxHeadBytes = 32 * 1024;

    explicit HttpFront(QObject* parent = nullptr);
    ~HttpFront() override;

    bool listen(const QHostAddress& address, quint16 port);
    quint16 serverPort() const;
    QString errorString() const;
    void setHeaderTimeout(int ms) { m_headerTimeoutMs = ms; }
    // Named in the plain-text page, which tells people where to point their clients.
    void setHubPath(const QString& path) { m_hubPath = path; }

    // An upgraded WebSocket, parented to this front; nullptr when none is waiting.
    QWebSocket* nextPendingConnection();

signals:
    void newConnection();
    // One line for the log per HTTP request answered or connection dropped here.
    void noted(const QString& line);

private:
    void onNewTcpConnection();
    void readRequests(QTcpSocket* socket);
    // Answers one complete request; false when the connection ends with it.
    bool answer(QTcpSocket* socket, const HttpRequest& request);
    // Answers with an error and closes; `request` names what was asked, when known.
    void refuse(QTcpSocket* socket, int status, const QByteArray& body, const HttpRequest* request = nullptr);
    void handOver(QTcpSocket* socket);
    void issueToken(const QByteArray& token);

    QTcpServer* m_tcpServer = nullptr;
    QWebSocketServer* m_webSockets = nullptr;
    QByteArrayList m_tokens; // issued and not yet used, oldest first
    QString m_hubPath;
    int m_headerTimeoutMs = DefaultHeaderTimeoutMs;
};

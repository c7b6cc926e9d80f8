#include "HttpFront.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include "HttpRequest.h"
#include "HubProtocol.h"
#include "HubSockets.h"

namespace {

// A negotiation has an empty body; room for clients that send something anyway.
constexpr qint64 MaxBodyBytes = 64 * 1024;
// Tokens handed out but never used are forgotten, oldest first, beyond this many.
constexpr qsizetype MaxOutstandingTokens = 1024;
constexpr int TokenWords = 4; // 128 random bits, as real hubs use
const char HeaderTimerName[] = "headerTimer";

const QByteArray NegotiateSuffix = QByteArrayLiteral("/negotiate");
const QByteArray AllowedMethods = QByteArrayLiteral("GET, POST, OPTIONS");
// What the official clients send when a preflight does not list its own.
const QByteArray DefaultAllowedHeaders =
    QByteArrayLiteral("Content-Type, Authorization, X-Requested-With, X-SignalR-User-Agent");
const HttpHeaders PlainText{{"Content-Type", "text/plain; charset=utf-8"}};
const HttpHeaders Json{{"Content-Type", "application/json"}};

QByteArray randomId()
{
    quint32 words[TokenWords];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QString peer(const QTcpSocket* socket)
{
    return HubSockets::peerName(socket->peerAddress(), socket->peerPort());
}

// "HTTP 127.0.0.1:50000 POST /hub/negotiate?negotiateVersion=1 → 200"
QString answeredLine(const QTcpSocket* socket, const HttpRequest* request, int status)
{
    const QString asked = request ? QString::fromLatin1(request->method + ' ' + request->target + ' ') : QString();
    return QStringLiteral("HTTP %1 %2→ %3").arg(peer(socket), asked).arg(status);
}

// Lets a page on another origin negotiate: the official JavaScript client sends
// credentials, so the origin is echoed rather than answered with "*".
HttpHeaders corsHeaders(const HttpRequest& request)
{
    const QByteArray origin = request.header("origin");
    if (origin.isEmpty())
        return {};
    const QByteArray asked = request.header("access-control-request-headers");
    return {{"Access-Control-Allow-Origin", origin},
            {"Access-Control-Allow-Credentials", "true"},
            {"Access-Control-Allow-Methods", AllowedMethods},
            {"Access-Control-Allow-Headers", asked.isEmpty() ? DefaultAllowedHeaders : asked},
            {"Vary", "Origin"}};
}

QByteArray infoPage(const QByteArray& host, const QString& hubPath)
{
    const QByteArray url = "http://" + (host.isEmpty() ? QByteArray("localhost") : host) + hubPath.toUtf8();
    return "Korvahub simulated SignalR hub\n\n"
           "This port is a simulated SignalR hub on any path. Point a SignalR client at it:\n\n"
           "    new HubConnectionBuilder().withUrl(\"" + url + "\").build()\n\n"
           "Negotiation, the WebSockets transport and the JSON hub protocol are served.\n";
}

} // namespace

HttpFront::HttpFront(QObject* parent)
    : QObject(parent)
    , m_tcpServer(new QTcpServer(this))
    , m_webSockets(new QWebSocketServer(QStringLiteral("Korvahub SignalR"), QWebSocketServer::NonSecureMode, this))
{
    connect(m_tcpServer, &QTcpServer::newConnection, this, &HttpFront::onNewTcpConnection);
    connect(m_webSockets, &QWebSocketServer::newConnection, this, &HttpFront::newConnection);
}

HttpFront::~HttpFront() = default;

bool HttpFront::listen(const QHostAddress& address, quint16 port)
{
    return m_tcpServer->listen(address, port);
}

quint16 HttpFront::serverPort() const
{
    return m_tcpServer->serverPort();
}

QString HttpFront::errorString() const
{
    return m_tcpServer->errorString();
}

QWebSocket* HttpFront::nextPendingConnection()
{
    QWebSocket* webSocket = m_webSockets->nextPendingConnection();
    if (!webSocket)
        return nullptr;
    // The WebSocket keeps using the TCP socket, still a child of this front, without
    // taking it over: it goes with the WebSocket so that it outlives a stopped front.
    const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket* socket : sockets) {
        if (socket->peerPort() == webSocket->peerPort() && socket->localPort() == webSocket->localPort()
            && socket->peerAddress() == webSocket->peerAddress())
            socket->setParent(webSocket);
    }
    return webSocket;
}

void HttpFront::onNewTcpConnection()
{
    while (QTcpSocket* socket = m_tcpServer->nextPendingConnection()) {
        socket->setParent(this);
        // Never more buffered than one request may hold; the rest waits in the kernel.
        socket->setReadBufferSize(MaxHeadBytes + MaxBodyBytes);
        auto* timer = new QTimer(socket);
        timer->setObjectName(QLatin1String(HeaderTimerName));
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, socket] {
            // An idle kept-alive connection goes quietly; a request left unfinished is news.
            if (socket->bytesAvailable() > 0)
                emit noted(QStringLiteral("HTTP %1 未在 %2 ms 内发完请求，连接已关闭").arg(peer(socket)).arg(m_headerTimeoutMs));
            socket->abort();
            socket->deleteLater();
        });
        timer->start(m_headerTimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpFront::readRequests(QTcpSocket* socket)
{
    for (;;) {
        HttpRequest request;
        switch (HttpRequest::parse(socket->peek(MaxHeadBytes), MaxHeadBytes, request)) {
        case HttpRequest::Parse::Incomplete:
            return;
        case HttpRequest::Parse::TooLarge:
            return refuse(socket, HttpStatus::HeaderFieldsTooLarge, "Request header fields too large\n");
        case HttpRequest::Parse::Malformed:
            return refuse(socket, HttpStatus::BadRequest, "Malformed request\n");
        case HttpRequest::Parse::Complete:
            break;
        }
        if (request.isWebSocketUpgrade()) {
            // The upgrade's own bytes stay unread: the WebSocket server reads them again.
            const QByteArray id = request.query.queryItemValue(QStringLiteral("id")).toUtf8();
            if (!request.query.hasQueryItem(QStringLiteral("id")) || m_tokens.removeOne(id))
                return handOver(socket);
            return refuse(socket, HttpStatus::NotFound, "No Connection with that ID\n", &request);
        }
        if (request.contentLength > MaxBodyBytes)
            return refuse(socket, HttpStatus::PayloadTooLarge, "Request body too large\n", &request);
        if (socket->bytesAvailable() < request.headBytes + request.contentLength)
            return; // the body is still on its way, within the same time-out
        socket->skip(request.headBytes + request.contentLength);
        if (!answer(socket, request))
            return;
        socket->findChild<QTimer*>(QLatin1String(HeaderTimerName))->start(m_headerTimeoutMs);
    }
}

bool HttpFront::answer(QTcpSocket* socket, const HttpRequest& request)
{
    HttpHeaders headers = corsHeaders(request);
    int status = HttpStatus::Ok;
    QByteArray body;
    if (request.method == "OPTIONS") {
        status = HttpStatus::NoContent;
    } else if (request.method == "POST" && request.path.endsWith(NegotiateSuffix)) {
        bool numeric = false;
        const int asked = request.query.queryItemValue(QStringLiteral("negotiateVersion")).toInt(&numeric);
        const int version = numeric ? qBound(0, asked, HubProtocol::NegotiateVersion) : 0;
        const QByteArray id = randomId();
        // Version 0 clients connect with the connection id itself.
        const QByteArray token = version >= HubProtocol::NegotiateVersion ? randomId() : id;
        issueToken(token);
        body = HubProtocol::negotiateResponse(version, QString::fromLatin1(id), QString::fromLatin1(token)).toUtf8();
        headers += Json;
    } else {
        status = request.method == "GET" || request.method == "HEAD" ? HttpStatus::Ok : HttpStatus::NotFound;
        body = infoPage(request.header("host"), m_hubPath);
        headers += PlainText;
    }
    const bool close = request.wantsClose();
    socket->write(httpAnswer(status, headers, body, close, request.method == "HEAD"));
    emit noted(answeredLine(socket, &request, status));
    if (close)
        socket->disconnectFromHost();
    return !close;
}

void HttpFront::refuse(QTcpSocket* socket, int status, const QByteArray& body, const HttpRequest* request)
{
    emit noted(answeredLine(socket, request, status));
    // What the client sent is dropped first: closing with unread data would reset the
    // connection, and the client might never read why it was refused.
    socket->readAll();
    socket->write(httpAnswer(status, PlainText, body, true));
    delete socket->findChild<QTimer*>(QLatin1String(HeaderTimerName));
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->disconnectFromHost();
}

void HttpFront::handOver(QTcpSocket* socket)
{
    delete socket->findChild<QTimer*>(QLatin1String(HeaderTimerName));
    disconnect(socket, nullptr, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->setReadBufferSize(0);
    m_webSockets->handleConnection(socket);
}

void HttpFront::issueToken(const QByteArray& token)
{
    if (m_tokens.size() >= MaxOutstandingTokens)
        m_tokens.removeFirst();
    m_tokens.append(token);
}

#include "HubClient.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslError>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <limits>

#include "CommunicationBase.h"
#include "HubSockets.h"

namespace {

// How much received text may wait for its turn: a burst of this size keeps the window
// responsive; a flood that outruns the log for longer is taken at the log's pace.
constexpr qsizetype MaxInboundBacklog = 100000;
constexpr qsizetype MaxInboundBacklogChars = 16 * 1024 * 1024;

const char* const ErrorReportedProperty = "errorReported";

// Handle everything queued, however long it takes.
constexpr qint64 NoBudget = -1;

constexpr int FirstHttpErrorStatus = 400;
// How much of an answer that is not negotiate JSON the log shows.
constexpr qsizetype AnswerExcerptChars = 200;

const QString CertificateHint = QStringLiteral("证书不受信任 (自签名证书可勾选“忽略证书错误”)");

// Qt's error texts end with a full stop; the hint continues the sentence.
QString withHint(QString text, const QString& hint)
{
    if (hint.isEmpty())
        return text;
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text + QStringLiteral("，") + hint;
}

} // namespace

HubClient::HubClient(CommunicationBase* log, QObject* parent)
    : QObject(parent)
    , m_log(log)
    , m_network(new QNetworkAccessManager(this))
    , m_keepAlive(new QTimer(this))
    , m_inboundTimer(new QTimer(this))
{
    m_keepAlive->setSingleShot(true);
    connect(m_keepAlive, &QTimer::timeout, this, [this] {
        if (isConnected())
            send(HubProtocol::pingRecord());
    });
    m_inboundTimer->setSingleShot(true);
    m_inboundTimer->setInterval(0);
    connect(m_inboundTimer, &QTimer::timeout, this, [this] { processInbound(m_inboundSliceNs); });
}

HubClient::~HubClient()
{
    abortNegotiation();
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
    }
}

void HubClient::open(const QString& address)
{
    // An earlier attempt may still be pending: silence it so that its late
    // notifications cannot act on the new connection.
    discardSocket();
    abortNegotiation();
    m_keepAlive->stop();
    m_connected = false;
    m_awaitingHandshake = false;

    m_address = address;
    m_token = m_options.accessToken.trimmed();
    m_redirects = 0;
    m_reportedCertificateErrors.clear();
    const Negotiation::HeaderLines lines = Negotiation::parseHeaderLines(m_options.headerLines);
    m_headers = lines.headers;
    for (const QString& line : lines.refused)
        m_log->logSystemMessage(QStringLiteral("请求头格式错误，未发送: ") + line);

    if (m_options.negotiate)
        negotiate();
    else
        openSocket(Negotiation::webSocketUrl(address, QString(), m_options.tokenInQuery ? m_token : QString()));
}

void HubClient::negotiate()
{
    const QString url = Negotiation::negotiateUrl(m_address);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    // The body is empty; naming its type keeps Qt from guessing a form.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain;charset=UTF-8"));
    request.setTransferTimeout(m_negotiateTimeoutMs);
    applyHeaders(request, true);
    m_log->logSystemMessage(QStringLiteral("协商: POST %1%2").arg(Negotiation::maskAccessToken(url), headerSummary(true)));

    QNetworkReply* reply = m_network->post(request, QByteArray());
    m_negotiation = reply;
    connect(reply, &QNetworkReply::sslErrors, this, [this, reply](const QList<QSslError>& errors) {
        reportCertificateErrors(errors);
        if (m_options.ignoreCertificateErrors)
            reply->ignoreSslErrors();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onNegotiated(reply); });
}

void HubClient::onNegotiated(QNetworkReply* reply)
{
    m_negotiation = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= FirstHttpErrorStatus) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        failNegotiation(withHint(QStringLiteral("HTTP %1 %2").arg(status).arg(reason), Negotiation::statusHint(status)));
        return;
    }
    // The transfer time-out aborts the reply: nothing else here cancels one that is
    // still connected.
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError) {
        failNegotiation(QStringLiteral("%1 秒内没有应答 (超时)").arg(m_negotiateTimeoutMs / 1000.0));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const bool untrusted = reply->error() == QNetworkReply::SslHandshakeFailedError
                               && !m_reportedCertificateErrors.isEmpty() && !m_options.ignoreCertificateErrors;
        failNegotiation(withHint(reply->errorString(), untrusted ? CertificateHint : QString()));
        return;
    }

    const QByteArray body = reply->readAll();
    const Negotiation::Answer answer = Negotiation::parseAnswer(body);
    switch (answer.kind) {
    case Negotiation::Answer::Kind::Connect:
        m_log->logSystemMessage(QStringLiteral("协商应答: 版本 %1, connectionId %2, 可用传输: %3")
                                    .arg(answer.version)
                                    .arg(answer.connectionId, answer.transports.join(QStringLiteral("; "))));
        if (!answer.webSockets) {
            failNegotiation(QStringLiteral("Hub 没有提供 WebSockets 传输，Korvahub 只使用 WebSockets"));
            return;
        }
        openSocket(Negotiation::webSocketUrl(m_address, answer.connectionToken,
                                             m_options.tokenInQuery ? m_token : QString()));
        return;
    case Negotiation::Answer::Kind::Redirect:
        if (m_redirects == Negotiation::MaxRedirects) {
            failNegotiation(QStringLiteral("重定向超过 %1 次").arg(Negotiation::MaxRedirects));
            return;
        }
        ++m_redirects;
        m_address = answer.url;
        if (!answer.accessToken.isEmpty())
            m_token = answer.accessToken;
        m_log->logSystemMessage(QStringLiteral("协商重定向 %1/%2: %3%4")
                                    .arg(m_redirects)
                                    .arg(Negotiation::MaxRedirects)
                                    .arg(Negotiation::maskAccessToken(answer.url),
                                         answer.accessToken.isEmpty() ? QString()
                                                                      : QStringLiteral("，改用应答中的访问令牌")));
        negotiate();
        return;
    case Negotiation::Answer::Kind::HubError:
        failNegotiation(QStringLiteral("Hub 返回错误: ") + answer.error);
        return;
    case Negotiation::Answer::Kind::OldServer:
        failNegotiation(QStringLiteral("应答含 ProtocolVersion，这是旧版 ASP.NET SignalR 服务器；"
                                       "Korvahub 只支持 ASP.NET Core SignalR"));
        return;
    case Negotiation::Answer::Kind::NotNegotiate:
        failNegotiation(QStringLiteral("应答不是协商结果 (地址可能指向网页或代理): ")
                        + QString::fromUtf8(body.left(AnswerExcerptChars)).simplified());
        return;
    }
}

void HubClient::failNegotiation(const QString& why)
{
    m_log->logSystemMessage(QStringLiteral("协商失败: ") + why);
    emit disconnected();
}

void HubClient::abortNegotiation()
{
    if (!m_negotiation)
        return;
    QNetworkReply* reply = m_negotiation;
    m_negotiation = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

void HubClient::openSocket(const QString& url)
{
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    HubSockets::applyMessageLimit(socket, m_maxMessageBytes);
    connect(socket, &QWebSocket::connected, this, &HubClient::onSocketConnected);
    connect(socket, &QWebSocket::disconnected, this, &HubClient::onSocketDisconnected);
    connect(socket, &QWebSocket::textMessageReceived, this, &HubClient::queueMessage);
    // Qt 6.4 names the signal error(); errorOccurred arrived in 6.5.
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket] { reportError(socket); });
    connect(socket, &QWebSocket::sslErrors, this, [this, socket](const QList<QSslError>& errors) {
        reportCertificateErrors(errors);
        if (m_options.ignoreCertificateErrors)
            socket->ignoreSslErrors();
    });

    const bool authorizationHeader = !m_options.tokenInQuery;
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    applyHeaders(request, authorizationHeader);
    // A load balancer keeps a client on the server that negotiated by a cookie set on
    // negotiate (sticky sessions): the upgrade carries it back, as the official clients do.
    const QList<QNetworkCookie> cookies =
        m_network->cookieJar()->cookiesForUrl(QUrl(Negotiation::negotiateUrl(url), QUrl::TolerantMode));
    if (!cookies.isEmpty())
        request.setHeader(QNetworkRequest::CookieHeader, QVariant::fromValue(cookies));
    m_socket = socket;
    socket->open(request);
    m_log->logSystemMessage(QStringLiteral("正在连接 %1...%2")
                                .arg(Negotiation::maskAccessToken(url), headerSummary(authorizationHeader)));
}

void HubClient::applyHeaders(QNetworkRequest& request, bool withAuthorization) const
{
    for (const Negotiation::Header& header : m_headers)
        request.setRawHeader(header.name, header.value);
    if (withAuthorization && !m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
}

QString HubClient::headerSummary(bool withAuthorization) const
{
    QStringList names;
    if (withAuthorization && !m_token.isEmpty())
        names.append(QStringLiteral("Authorization: Bearer ***"));
    for (const Negotiation::Header& header : m_headers)
        names.append(QString::fromLatin1(header.name));
    return names.isEmpty() ? QString() : QStringLiteral(" (请求头: %1)").arg(names.join(QStringLiteral(", ")));
}

void HubClient::reportCertificateErrors(const QList<QSslError>& errors)
{
    const QString prefix = m_options.ignoreCertificateErrors ? QStringLiteral("已忽略证书错误: ")
                                                             : QStringLiteral("证书错误: ");
    for (const QSslError& error : errors) {
        const QString text = error.errorString();
        if (m_reportedCertificateErrors.contains(text))
            continue;
        m_reportedCertificateErrors.append(text);
        m_log->logSystemMessage(prefix + text);
    }
}

void HubClient::close()
{
    abortNegotiation();
    processInbound(NoBudget);
    m_keepAlive->stop();
    m_awaitingHandshake = false;
    m_connected = false;
    if (!m_socket)
        return;
    QWebSocket* socket = m_socket;
    m_socket = nullptr;
    // The user asked for this: the disconnection it causes is not news to log.
    disconnect(socket, nullptr, this, nullptr);
    socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    socket->deleteLater();
}

bool HubClient::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool HubClient::addSubscription(const QString& name)
{
    if (name.isEmpty() || m_subscriptions.contains(name))
        return false;
    m_subscriptions.append(name);
    m_log->logSystemMessage(QStringLiteral("已订阅方法 %1").arg(name));
    if (isConnected())
        sendSubscribe(name);
    return true;
}

bool HubClient::removeSubscription(const QString& name)
{
    if (!m_subscriptions.removeOne(name))
        return false;
    m_log->logSystemMessage(QStringLiteral("已取消订阅 %1").arg(name));
    return true;
}

int HubClient::nextInvocationNumber()
{
    const qint32 n = m_invocationCounter;
    // Wrap explicitly rather than overflow a signed integer.
    m_invocationCounter = (n == std::numeric_limits<qint32>::max()) ? 0 : n + 1;
    return n;
}

bool HubClient::invoke(const QString& method, const QByteArray& payload)
{
    const qint32 n = nextInvocationNumber();
    if (!isConnected())
        return false;
    send(HubProtocol::clientInvocation(method, payload, n));
    m_log->logSystemMessage(QStringLiteral("[%1] -> %2").arg(method, QString::fromUtf8(payload)));
    return true;
}

void HubClient::send(const QString& text)
{
    m_socket->sendTextMessage(text);
    // A hub drops a client that stays silent for its time-out (30 s by default on
    // ASP.NET Core): ping after every quiet spell.
    m_keepAlive->start(m_keepAliveMs);
}

void HubClient::sendSubscribe(const QString& name)
{
    send(HubProtocol::subscribeInvocation(name, QDateTime::currentMSecsSinceEpoch()));
    m_log->logSystemMessage(QStringLiteral("已订阅方法 ") + name);
}

void HubClient::onSocketConnected()
{
    m_connected = true;
    m_log->logSystemMessage(QStringLiteral("SignalR已连接"));
    send(HubProtocol::handshakeRequest());
    m_awaitingHandshake = true;
    emit connected();
}

void HubClient::reportError(QWebSocket* socket)
{
    // Reported once per socket: a refused connection on Qt 6.4 emits disconnected first
    // and the error afterwards, and onSocketDisconnected may already have reported it.
    if (socket->property(ErrorReportedProperty).toBool())
        return;
    socket->setProperty(ErrorReportedProperty, true);
    const bool untrusted = socket->error() == QAbstractSocket::SslHandshakeFailedError
                           && !m_reportedCertificateErrors.isEmpty() && !m_options.ignoreCertificateErrors;
    // Qt 6.4 names a refused upgrade only in its text: "Unhandled http status code: 401 (...)".
    static const QRegularExpression status(QStringLiteral("status code: (\\d{3})"));
    const QString hint = untrusted ? CertificateHint
                                   : Negotiation::statusHint(status.match(socket->errorString()).captured(1).toInt());
    m_log->logSystemMessage(withHint(QStringLiteral("连接错误: ") + socket->errorString(), hint));
}

void HubClient::queueMessage(const QString& message)
{
    m_inbound.append(message);
    m_inboundChars += message.size();
    // Past the backlog limit, handle messages as they come: the socket then reads no
    // faster than the log takes them, and memory stays bounded however long the flood.
    while (m_inbound.size() > MaxInboundBacklog || m_inboundChars > MaxInboundBacklogChars) {
        const QString oldest = m_inbound.takeFirst();
        m_inboundChars -= oldest.size();
        handleMessage(oldest);
    }
    if (!m_inbound.isEmpty() && !m_inboundTimer->isActive())
        m_inboundTimer->start();
}

void HubClient::processInbound(qint64 budgetNs)
{
    QElapsedTimer clock;
    clock.start();
    while (!m_inbound.isEmpty()) {
        const QString message = m_inbound.takeFirst();
        m_inboundChars -= message.size();
        handleMessage(message);
        if (budgetNs >= 0 && clock.nsecsElapsed() > budgetNs)
            break;
    }
    if (m_inbound.isEmpty()) {
        m_inboundTimer->stop();
        m_inbound = QList<QString>(); // give back what a burst grew it to
        m_inboundChars = 0;
    } else {
        m_inboundTimer->start();
    }
}

void HubClient::discardSocket()
{
    processInbound(NoBudget); // what the earlier socket delivered is still logged
    if (!m_socket)
        return;
    QWebSocket* old = m_socket;
    m_socket = nullptr;
    disconnect(old, nullptr, this, nullptr);
    old->abort();
    old->deleteLater();
}

void HubClient::onHandshakeSucceeded()
{
    m_log->logSystemMessage(QStringLiteral("SignalR协议握手成功"));
    for (const QString& name : std::as_const(m_subscriptions))
        sendSubscribe(name);
}

void HubClient::handleMessage(const QString& message)
{
    const QStringList records = HubProtocol::splitRecords(message);
    for (const QString& text : records) {
        const HubProtocol::Record record = HubProtocol::classify(text);

        // The first record after the handshake request answers it, as the official
        // clients read it: {} acknowledges, {"error":...} refuses.
        if (m_awaitingHandshake) {
            m_awaitingHandshake = false;
            const bool untypedObject = record.kind != HubProtocol::RecordKind::Raw
                                       && record.kind != HubProtocol::RecordKind::HandshakeAck
                                       && !record.object.contains(QLatin1String("type"));
            if (untypedObject) {
                if (record.object.contains(QLatin1String("error")))
                    m_log->logSystemMessage(QStringLiteral("握手失败: ")
                                            + record.object.value(QLatin1String("error")).toString());
                else
                    onHandshakeSucceeded();
                continue;
            }
        }
        handleRecord(record);
    }
}

void HubClient::handleRecord(const HubProtocol::Record& record)
{
    switch (record.kind) {
    case HubProtocol::RecordKind::HandshakeAck:
        onHandshakeSucceeded();
        break;
    case HubProtocol::RecordKind::Typed:
        for (const QString& argument : record.arguments)
            emit argumentReceived(argument);
        m_log->logReceivedData(m_log->encodeText(record.text));
        break;
    case HubProtocol::RecordKind::ErrorCompletion:
        m_log->logSystemMessage(QStringLiteral("调用错误: ") + record.text);
        break;
    case HubProtocol::RecordKind::SilentCompletion:
        break;
    case HubProtocol::RecordKind::Untyped:
    case HubProtocol::RecordKind::Raw:
        m_log->logReceivedData(m_log->encodeText(record.text));
        break;
    }
}

void HubClient::onSocketDisconnected()
{
    // Everything received before the disconnection is logged before it.
    processInbound(NoBudget);
    // A socket that never connected failed to: the user needs the reason, not a
    // disconnection. (On Qt 6.4 the error signal comes only after this one.)
    const bool failedAttempt = !m_connected && m_socket
                               && m_socket->error() != QAbstractSocket::UnknownSocketError;
    if (failedAttempt) {
        reportError(m_socket);
    } else {
        m_log->logSystemMessage(QStringLiteral("SignalR连接已断开"));
        // Say why when the close was not an ordinary one (a protocol error of either side).
        const QWebSocketProtocol::CloseCode code = m_socket ? m_socket->closeCode()
                                                            : QWebSocketProtocol::CloseCodeNormal;
        if (code == QWebSocketProtocol::CloseCodeTooMuchData) {
            m_log->logSystemMessage(HubSockets::oversizeNotice(m_maxMessageBytes));
        } else if (code != QWebSocketProtocol::CloseCodeNormal
                   && code != QWebSocketProtocol::CloseCodeGoingAway) {
            const QString reason = m_socket->closeReason();
            m_log->logSystemMessage(QStringLiteral("关闭代码 %1%2")
                                        .arg(int(code))
                                        .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
        }
    }
    if (m_socket) {
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_awaitingHandshake = false;
    m_keepAlive->stop();
    m_connected = false;
    emit disconnected();
}

#include "HubClient.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QRegularExpression>
#include <QSslError>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <limits>
#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "CommunicationBase.h"
#include "HubSockets.h"
#include "MessagePackCodec.h"

namespace {

// How much received text may wait for its turn: a burst of this size keeps the window
// responsive; a flood that outruns the log for longer is taken at the log's pace. One
// message of the largest size fits, so that it waits without stalling the window.
constexpr qsizetype MaxInboundBacklog = 100000;
constexpr qsizetype MaxInboundBacklogChars = qsizetype(HubProtocol::MaxMessageBytes);

const char* const ErrorReportedProperty = "errorReported";

// A backlog this long was a burst worth giving its memory back after, once the input
// has been quiet for a while: in a flood the queue runs dry and fills again many times a
// second, and memory given back would only be taken again.
constexpr qsizetype BurstMessages = 10000;
constexpr int QuietBeforeReleaseMs = 1000;

// The C library keeps what a burst freed between the blocks still in use (the log's
// entries), so the resident size would stay at the burst's high-water mark for good.
void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

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
// No round trip to show: the completion answers no call of this client.
constexpr qint64 NoRoundTrip = -1;

} // namespace

HubClient::HubClient(CommunicationBase* log, QObject* parent)
    : QObject(parent)
    , m_log(log)
    , m_network(new QNetworkAccessManager(this))
    , m_keepAlive(new QTimer(this))
    , m_inboundTimer(new QTimer(this))
    , m_serverTimeout(new QTimer(this))
    , m_handshakeTimer(new QTimer(this))
    , m_releaseTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
{
    m_clock.start();
    m_keepAlive->setSingleShot(true);
    connect(m_keepAlive, &QTimer::timeout, this, [this] {
        if (!isConnected())
            return;
        write(HubProtocol::pingRecord());
        if (m_showPings)
            m_log->logUncounted(LogEntry::TX, m_log->encodeText(m_log->pick(QStringLiteral("[心跳]"),
                                                                           QStringLiteral("[ping]"))));
    });
    m_inboundTimer->setSingleShot(true);
    m_inboundTimer->setInterval(0);
    connect(m_inboundTimer, &QTimer::timeout, this, [this] { processInbound(m_inboundSliceNs); });
    m_releaseTimer->setSingleShot(true);
    connect(m_releaseTimer, &QTimer::timeout, this, [this] {
        if (m_inbound.isEmpty() && m_current.isEmpty())
            releaseFreedMemory();
    });
    m_largeRecord = new QFutureWatcher<HubProtocol::Record>(this);
    connect(m_largeRecord, &QFutureWatcherBase::finished, this, &HubClient::onLargeRecordParsed);
    m_serverTimeout->setSingleShot(true);
    // Restarting the timer for every message of a flood would cost more than the
    // message: it runs from the connection on and, when it fires, looks at the time of
    // the last message.
    connect(m_serverTimeout, &QTimer::timeout, this, [this] {
        const qint64 quiet = m_clock.elapsed() - m_lastReceivedMs;
        if (quiet < m_serverTimeoutMs)
            m_serverTimeout->start(int(m_serverTimeoutMs - quiet));
        else
            onServerTimeout();
    });
    m_handshakeTimer->setSingleShot(true);
    connect(m_handshakeTimer, &QTimer::timeout, this, &HubClient::onHandshakeTimeout);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &HubClient::connectSocket);
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
    stopReconnecting();
    m_openedAddress = address;
    connectSocket();
}

void HubClient::connectSocket()
{
    // An earlier attempt may still be pending: silence it so that its late
    // notifications cannot act on the new connection.
    discardSocket();
    abortNegotiation();
    m_keepAlive->stop();
    m_serverTimeout->stop();
    m_handshakeTimer->stop();
    m_connected = false;
    m_awaitingHandshake = false;
    m_handshaken = false;
    m_closeIsFinal = false;
    // Completions of the earlier connection's calls can no longer come.
    m_pendingCalls.clear();
    setStreams({});

    m_address = m_openedAddress;
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
        openSocket(Negotiation::webSocketUrl(m_address, QString(), m_options.tokenInQuery ? m_token : QString()));
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
    connectionLost(); // a failed reconnection attempt is followed by the next one
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
    connect(socket, &QWebSocket::binaryMessageReceived, this, &HubClient::queueFrame);
    // Qt 6.4 names the signal error(); errorOccurred arrived in 6.5.
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this, socket] {
        reportError(socket);
        // Refused from inside open() (an invalid address): no disconnection follows.
        if (socket != m_socket || m_connected || socket->state() != QAbstractSocket::UnconnectedState)
            return;
        discardSocket();
        connectionLost();
    });
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
    // Logged first: Qt reports some refusals from inside open().
    m_log->logSystemMessage(QStringLiteral("正在连接 %1...%2")
                                .arg(Negotiation::maskAccessToken(url), headerSummary(authorizationHeader)));
    socket->open(request);
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
    stopReconnecting();
    abortNegotiation();
    processInbound(NoBudget);
    m_keepAlive->stop();
    m_serverTimeout->stop();
    m_handshakeTimer->stop();
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
    return call(method, payload, HubProtocol::MessageType::Invocation);
}

bool HubClient::send(const QString& method, const QByteArray& payload)
{
    return call(method, payload, HubProtocol::MessageType::Invocation, false);
}

bool HubClient::stream(const QString& method, const QByteArray& payload)
{
    return call(method, payload, HubProtocol::MessageType::StreamInvocation);
}

bool HubClient::call(const QString& method, const QByteArray& payload,
                     HubProtocol::MessageType type, bool awaitsAnswer)
{
    const qint32 n = awaitsAnswer ? nextInvocationNumber() : 0;
    if (!isConnected())
        return false;
    const QString id = QString::number(n);
    const QJsonValue typed = m_messagePack ? MessagePackCodec::argumentValue(payload) : QJsonValue();
    if (!awaitsAnswer) {
        write(HubProtocol::serverInvocation(method, payload), typed);
    } else if (type == HubProtocol::MessageType::StreamInvocation) {
        write(HubProtocol::streamInvocation(method, payload, n), typed);
        setStreams(m_streams + QStringList{id});
    } else {
        write(HubProtocol::clientInvocation(method, payload, n), typed);
    }
    if (awaitsAnswer)
        m_pendingCalls.insert(id, new qint64(m_clock.elapsed()));
    m_log->logSystemMessage(QStringLiteral("[%1] -> %2").arg(method, QString::fromUtf8(payload)));
    m_log->countSent(payload.size());
    return true;
}

void HubClient::cancelStreams()
{
    if (!isConnected())
        return;
    for (const QString& id : std::as_const(m_streams)) {
        write(HubProtocol::cancelInvocation(id));
        m_log->logSystemMessage(m_log->pick(QStringLiteral("已取消流 #%1"), QStringLiteral("Stream #%1 cancelled")).arg(id));
    }
    setStreams({});
}

void HubClient::setStreams(const QStringList& ids)
{
    const bool wasActive = !m_streams.isEmpty();
    m_streams = ids;
    if (wasActive != !ids.isEmpty())
        emit streamsActiveChanged(!ids.isEmpty());
}

void HubClient::write(const QString& record, const QJsonValue& argument)
{
    if (!m_messagePack) {
        m_socket->sendTextMessage(record);
    } else if (argument.isUndefined()) {
        m_socket->sendBinaryMessage(MessagePackCodec::fromJsonRecords(record));
    } else {
        QJsonObject message = HubProtocol::classify(HubProtocol::splitRecords(record).value(0)).object;
        message.insert(QLatin1String("arguments"), QJsonArray{argument});
        m_socket->sendBinaryMessage(MessagePackCodec::framed(MessagePackCodec::encode(message)));
    }
    // A hub drops a client that stays silent for its time-out (30 s by default on
    // ASP.NET Core): ping after every quiet spell.
    m_keepAlive->start(m_keepAliveMs);
}

void HubClient::sendSubscribe(const QString& name)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    write(HubProtocol::subscribeInvocation(name, now));
    m_pendingCalls.insert(QString::number(now), new qint64(m_clock.elapsed()));
    m_log->logSystemMessage(QStringLiteral("已订阅方法 ") + name);
}

void HubClient::onSocketConnected()
{
    m_connected = true;
    m_log->logSystemMessage(QStringLiteral("SignalR已连接"));
    m_messagePack = m_useMessagePack;
    // The handshake is JSON text in both protocols, as the official clients send it.
    m_socket->sendTextMessage(HubProtocol::handshakeRequest(m_messagePack ? HubProtocol::MessagePackProtocolName
                                                                          : HubProtocol::JsonProtocolName));
    m_keepAlive->start(m_keepAliveMs);
    m_awaitingHandshake = true;
    m_lastReceivedMs = m_clock.elapsed();
    m_handshakeTimer->start(m_handshakeTimeoutMs);
    m_serverTimeout->start(m_serverTimeoutMs);
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
    // Any record shows the hub is alive, whenever the log gets round to it.
    m_lastReceivedMs = m_clock.elapsed();
    m_inbound.append(message);
    m_inboundChars += message.size();
    // Past the backlog limit, handle records as they come: the socket then reads no
    // faster than the log takes them, and memory stays bounded however long the flood.
    QString record;
    while (m_inbound.size() > MaxInboundBacklog || m_inboundChars > MaxInboundBacklogChars) {
        if (m_parsingLarge) {
            m_largeRecord->waitForFinished();
            onLargeRecordParsed();
        } else if (takeRecord(record)) {
            handleClassified(HubProtocol::classify(record));
        }
    }
    if (!m_parsingLarge && !m_inboundTimer->isActive())
        m_inboundTimer->start();
}

bool HubClient::takeRecord(QString& record)
{
    for (;;) {
        if (m_currentPos < m_current.size()) {
            const qsizetype end = m_current.indexOf(QChar(HubProtocol::RecordSeparator), m_currentPos);
            const qsizetype stop = end < 0 ? m_current.size() : end;
            const qsizetype start = m_currentPos;
            m_currentPos = stop + 1;
            if (stop == start)
                continue; // empty pieces are no records
            if (start == 0 && stop >= m_current.size() - 1) {
                // The usual message of one record: no copy, only the separator goes.
                record = std::move(m_current);
                m_current = QString();
                m_currentPos = 0;
                record.truncate(stop);
            } else {
                record = m_current.mid(start, stop - start);
            }
            return true;
        }
        m_current = QString();
        m_currentPos = 0;
        if (m_inbound.isEmpty()) {
            const bool afterBurst = m_inbound.capacity() >= BurstMessages;
            m_inbound = QList<QString>(); // give back what a burst grew it to
            m_inboundChars = 0;
            if (afterBurst)
                m_releaseTimer->start(QuietBeforeReleaseMs);
            return false;
        }
        m_current = m_inbound.takeFirst();
        m_inboundChars -= m_current.size();
    }
}

void HubClient::queueFrame(const QByteArray& frame)
{
    m_lastReceivedMs = m_clock.elapsed();
    m_inboundFrames.append(frame);
    m_inboundFrameBytes += frame.size();
    // MessagePack frames are handled whole; past the backlog limit as they come.
    while (m_inboundFrames.size() > MaxInboundBacklog || m_inboundFrameBytes > MaxInboundBacklogChars) {
        const QByteArray oldest = m_inboundFrames.takeFirst();
        m_inboundFrameBytes -= oldest.size();
        handleFrame(oldest);
    }
    if (!m_parsingLarge && !m_inboundTimer->isActive())
        m_inboundTimer->start();
}

void HubClient::processInbound(qint64 budgetNs)
{
    if (m_parsingLarge) {
        if (budgetNs >= 0)
            return; // the queue goes on once the parse is done
        m_largeRecord->waitForFinished();
        onLargeRecordParsed();
    }
    QElapsedTimer clock;
    clock.start();
    // Text first: on a MessagePack connection only the handshake answer may come as text,
    // and it comes before any binary frame.
    QString record;
    for (;;) {
        if (takeRecord(record)) {
            if (budgetNs >= 0 && record.size() >= LargeRecordChars) {
                // Started here, so that the queue waits from this moment on.
                auto promise = std::make_shared<QPromise<HubProtocol::Record>>();
                promise->start();
                m_parsingLarge = true;
                m_largeRecord->setFuture(promise->future());
                QThreadPool::globalInstance()->start([promise, text = std::move(record)] {
                    promise->addResult(HubProtocol::classify(text));
                    promise->finish();
                });
                return;
            }
            handleClassified(HubProtocol::classify(record));
        } else if (!m_inboundFrames.isEmpty()) {
            const QByteArray frame = m_inboundFrames.takeFirst();
            m_inboundFrameBytes -= frame.size();
            handleFrame(frame);
        } else {
            m_inboundFrames = QList<QByteArray>(); // give back what a burst grew it to
            m_inboundFrameBytes = 0;
            break;
        }
        if (budgetNs >= 0 && clock.nsecsElapsed() > budgetNs) {
            m_inboundTimer->start();
            return;
        }
    }
    m_inboundTimer->stop();
}

void HubClient::onLargeRecordParsed()
{
    // The announcement of a parse that was waited for and handled comes late: ignored.
    const QFuture<HubProtocol::Record> parsed = m_largeRecord->future();
    if (!m_parsingLarge || !parsed.isFinished())
        return;
    m_parsingLarge = false;
    HubProtocol::Record record = parsed.result();
    m_largeRecord->setFuture(QFuture<HubProtocol::Record>());
    handleClassified(record);
    // Giving back hundreds of megabytes takes tens of milliseconds: not here.
    QThreadPool::globalInstance()->start([handled = std::move(record)] {});
    m_inboundTimer->start();
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
    m_handshaken = true;
    m_reconnectAttempt = 0;
    m_log->logSystemMessage(QStringLiteral("SignalR协议握手成功")
                            + (m_messagePack ? QStringLiteral(" (MessagePack)") : QString()));
    for (const QString& name : std::as_const(m_subscriptions))
        sendSubscribe(name);
}

void HubClient::handleMessage(const QString& message)
{
    const QStringList records = HubProtocol::splitRecords(message);
    for (const QString& text : records)
        handleClassified(HubProtocol::classify(text));
}

void HubClient::handleClassified(const HubProtocol::Record& record)
{
    // The first record after the handshake request answers it, as the official
    // clients read it: {} acknowledges, {"error":...} refuses.
    if (m_awaitingHandshake) {
        m_awaitingHandshake = false;
        m_handshakeTimer->stop();
        const bool untypedObject = record.kind != HubProtocol::RecordKind::Raw
                                   && record.kind != HubProtocol::RecordKind::HandshakeAck
                                   && !record.object.contains(QLatin1String("type"));
        if (untypedObject) {
            if (record.object.contains(QLatin1String("error")))
                m_log->logSystemMessage(QStringLiteral("握手失败: ")
                                        + record.object.value(QLatin1String("error")).toString());
            else
                onHandshakeSucceeded();
            return;
        }
    }
    handleRecord(record);
}

void HubClient::handleFrame(const QByteArray& frame)
{
    // A JSON connection reads no binary frames, as before MessagePack was offered.
    if (!m_messagePack)
        return;
    QByteArray messages = frame;
    // ASP.NET Core answers the handshake in a binary frame, and may put the first
    // messages after the answer's separator in the same one.
    if (m_awaitingHandshake) {
        const qsizetype end = frame.indexOf(char(HubProtocol::RecordSeparator)) + 1;
        handleMessage(QString::fromUtf8(end > 0 ? frame.left(end) : frame));
        messages = end > 0 ? frame.mid(end) : QByteArray();
    }
    const MessagePackCodec::Frame read = MessagePackCodec::read(messages);
    for (const MessagePackCodec::Message& message : read.messages)
        handleRecord(HubProtocol::classifyObject(message.message, HubProtocol::Scalars::Shown), message.wire);
    if (!read.error.isEmpty())
        m_log->logDecoded(LogEntry::RX, read.rest, MessagePackCodec::errorRow(read.error, m_log->englishTexts()));
}

void HubClient::handleRecord(const HubProtocol::Record& record, const QByteArray& wire)
{
    switch (record.kind) {
    case HubProtocol::RecordKind::HandshakeAck:
        onHandshakeSucceeded();
        break;
    case HubProtocol::RecordKind::Typed:
        handleTyped(record, wire);
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

void HubClient::handleTyped(const HubProtocol::Record& record, const QByteArray& wire)
{
    using HubProtocol::MessageType;
    const QJsonValue id = record.object.value(QLatin1String("invocationId"));
    // A JSON record's row is its text; a MessagePack message's keeps the bytes it came as.
    const auto logRow = [this, &record, &wire](qint64 roundTripMs = NoRoundTrip, bool counted = true) {
        const QString text = HubProtocol::describeTyped(record, m_log->englishTexts(), roundTripMs);
        if (!wire.isEmpty())
            m_log->logDecoded(LogEntry::RX, wire, text, counted);
        else if (counted)
            m_log->logReceivedData(m_log->encodeText(text));
        else
            m_log->logUncounted(LogEntry::RX, m_log->encodeText(text));
    };
    const int type = HubProtocol::messageType(record.object);
    switch (MessageType(type)) {
    case MessageType::Ping:
        if (m_showPings)
            logRow(NoRoundTrip, false);
        return;
    case MessageType::Completion: {
        const QString key = HubProtocol::valueText(id);
        const std::unique_ptr<qint64> sentAt(id.isUndefined() ? nullptr : m_pendingCalls.take(key));
        QStringList running = m_streams;
        if (running.removeAll(key) > 0)
            setStreams(running);
        logRow(sentAt ? m_clock.elapsed() - *sentAt : NoRoundTrip);
        return;
    }
    case MessageType::Close:
        logRow();
        m_closeIsFinal = !record.object.value(QLatin1String("allowReconnect")).toBool();
        // The hub closes its end too; closing ours makes sure the drop is handled.
        if (m_socket)
            m_socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        return;
    default:
        break;
    }
    for (const QString& argument : record.arguments)
        emit argumentReceived(argument);
    logRow();
    // An invocation with an id asks this client for a result it has no handler for.
    if (type == int(MessageType::Invocation) && !id.isUndefined()
        && isConnected()) {
        write(HubProtocol::completionError(id, QLatin1String(HubProtocol::NoClientResultError)));
        m_log->logSystemMessage(m_log->pick(QStringLiteral("服务端请求客户端结果 (#%1)，已回复: %2"),
                                            QStringLiteral("The hub asked for a client result (#%1); answered: %2"))
                                    .arg(HubProtocol::valueText(id), QLatin1String(HubProtocol::NoClientResultError)));
    }
}

void HubClient::onServerTimeout()
{
    processInbound(NoBudget);
    m_log->logSystemMessage(m_log->pick(QStringLiteral("服务端超时: %1 秒内没有收到任何消息，断开连接"),
                                        QStringLiteral("Server timeout: nothing received for %1 s; closing the connection"))
                                .arg(m_serverTimeoutMs / 1000.0));
    discardSocket();
    m_log->logSystemMessage(QStringLiteral("SignalR连接已断开"));
    connectionLost();
}

void HubClient::onHandshakeTimeout()
{
    // The answer may be waiting in the queue rather than missing.
    processInbound(NoBudget);
    if (!m_awaitingHandshake)
        return;
    m_log->logSystemMessage(m_log->pick(QStringLiteral("握手超时: %1 秒内没有收到 Hub 的握手应答，放弃连接"),
                                        QStringLiteral("Handshake timeout: the hub did not answer within %1 s; giving up"))
                                .arg(m_handshakeTimeoutMs / 1000.0));
    discardSocket();
    m_log->logSystemMessage(QStringLiteral("SignalR连接已断开"));
    connectionLost();
}

void HubClient::setAutoReconnect(bool on)
{
    m_autoReconnect = on;
    if (!on && m_reconnectTimer->isActive()) {
        stopReconnecting();
        emit disconnected();
    }
}

void HubClient::stopReconnecting()
{
    m_reconnectTimer->stop();
    m_reconnectAttempt = 0;
}

void HubClient::connectionLost()
{
    m_awaitingHandshake = false;
    m_keepAlive->stop();
    m_serverTimeout->stop();
    m_handshakeTimer->stop();
    m_connected = false;
    // Only a connection that was established is resumed, or one being resumed already;
    // a hub that closed for good stays closed.
    const bool resume = m_autoReconnect && !m_closeIsFinal && (m_handshaken || m_reconnectAttempt > 0);
    m_handshaken = false;
    if (!resume) {
        m_reconnectAttempt = 0;
        emit disconnected();
        return;
    }
    const int delay = m_reconnectDelays.isEmpty()
                          ? 0
                          : m_reconnectDelays.at(qMin<qsizetype>(m_reconnectAttempt, m_reconnectDelays.size() - 1));
    ++m_reconnectAttempt;
    m_log->logSystemMessage(m_log->pick(QStringLiteral("自动重连: 第 %1 次尝试，%2 秒后"),
                                        QStringLiteral("Auto-reconnect: attempt %1 in %2 s"))
                                .arg(m_reconnectAttempt)
                                .arg(delay / 1000.0));
    m_reconnectTimer->start(delay);
    emit reconnecting();
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
    connectionLost();
}

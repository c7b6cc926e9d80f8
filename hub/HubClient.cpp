#include "HubClient.h"

#include <QDateTime>
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

} // namespace

HubClient::HubClient(CommunicationBase* log, QObject* parent)
    : QObject(parent)
    , m_log(log)
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
    m_keepAlive->stop();
    m_connected = false;
    m_awaitingHandshake = false;

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    HubSockets::applyMessageLimit(socket, m_maxMessageBytes);
    connect(socket, &QWebSocket::connected, this, &HubClient::onSocketConnected);
    connect(socket, &QWebSocket::disconnected, this, &HubClient::onSocketDisconnected);
    connect(socket, &QWebSocket::textMessageReceived, this, &HubClient::queueMessage);
    // Qt 6.4 names the signal error(); errorOccurred arrived in 6.5.
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket] { reportError(socket); });

    const QString url = HubProtocol::normalizeHubUrl(address);
    m_socket = socket;
    socket->open(QUrl(url, QUrl::TolerantMode));
    m_log->logSystemMessage(QStringLiteral("正在连接 %1...").arg(url));
}

void HubClient::close()
{
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
    m_log->logSystemMessage(QStringLiteral("连接错误: ") + socket->errorString());
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

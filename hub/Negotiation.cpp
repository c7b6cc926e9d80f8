#include "Negotiation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

#include "HubProtocol.h"

namespace {

constexpr int HttpUnauthorized = 401;
constexpr int HttpForbidden = 403;
constexpr int HttpNotFound = 404;
constexpr int HttpMethodNotAllowed = 405;

const QLatin1String VersionKey("negotiateVersion");

// Appends key=value to an address, percent-encoding the value.
QString withQueryItem(const QString& url, const char* key, const QString& value)
{
    if (value.isEmpty())
        return url;
    const QChar separator = url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
    return url + separator + QLatin1String(key) + QLatin1Char('=')
           + QString::fromLatin1(QUrl::toPercentEncoding(value));
}

bool present(const QJsonValue& value)
{
    return !value.isUndefined() && !value.isNull();
}

} // namespace

namespace Negotiation {

QString negotiateUrl(const QString& hubAddress)
{
    QString url = HubProtocol::normalizeHubUrl(hubAddress);
    // normalizeHubUrl leaves only ws:// or wss://: negotiate is plain HTTP(S).
    url.replace(0, 2, QStringLiteral("http"));

    const qsizetype queryStart = url.indexOf(QLatin1Char('?'));
    QString path = queryStart < 0 ? url : url.left(queryStart);
    QString query = queryStart < 0 ? QString() : url.mid(queryStart + 1);
    path += path.endsWith(QLatin1Char('/')) ? QStringLiteral("negotiate") : QStringLiteral("/negotiate");
    const QStringList items = query.split(QLatin1Char('&'), Qt::SkipEmptyParts);
    const bool versioned = std::any_of(items.cbegin(), items.cend(), [](const QString& item) {
        return item.section(QLatin1Char('='), 0, 0) == VersionKey;
    });
    if (!versioned)
        query += (query.isEmpty() ? QString() : QStringLiteral("&")) + VersionKey + QLatin1Char('=')
                 + QString::number(Version);
    return path + QLatin1Char('?') + query;
}

QString webSocketUrl(const QString& hubAddress, const QString& connectionToken, const QString& queryToken)
{
    const QString url = withQueryItem(HubProtocol::normalizeHubUrl(hubAddress), "id", connectionToken);
    return withQueryItem(url, "access_token", queryToken);
}

QString maskAccessToken(const QString& url)
{
    static const QRegularExpression token(QStringLiteral("([?&]access_token=)[^&#]*"));
    return QString(url).replace(token, QStringLiteral("\\1***"));
}

Answer parseAnswer(const QByteArray& body)
{
    Answer answer;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return answer;
    const QJsonObject object = document.object();

    if (present(object.value(QLatin1String("error")))) {
        answer.kind = Answer::Kind::HubError;
        answer.error = object.value(QLatin1String("error")).toVariant().toString();
        return answer;
    }
    if (present(object.value(QLatin1String("ProtocolVersion")))) {
        answer.kind = Answer::Kind::OldServer;
        return answer;
    }
    answer.version = object.value(VersionKey).toInt();
    const QString url = object.value(QLatin1String("url")).toString();
    if (!url.isEmpty()) {
        answer.kind = Answer::Kind::Redirect;
        answer.url = url;
        answer.accessToken = object.value(QLatin1String("accessToken")).toString();
        return answer;
    }

    answer.connectionId = object.value(QLatin1String("connectionId")).toString();
    // Version 0 has no separate token: the connection id is the WebSocket's id.
    answer.connectionToken = answer.version >= 1
                                 ? object.value(QLatin1String("connectionToken")).toString()
                                 : answer.connectionId;
    if (answer.connectionToken.isEmpty())
        return answer;
    answer.kind = Answer::Kind::Connect;
    const QJsonArray transports = object.value(QLatin1String("availableTransports")).toArray();
    for (const QJsonValue& value : transports) {
        const QString name = value[QLatin1String("transport")].toString();
        QStringList formats;
        for (const QJsonValue& format : value[QLatin1String("transferFormats")].toArray())
            formats.append(format.toString());
        answer.transports.append(formats.isEmpty() ? name
                                                   : QStringLiteral("%1 (%2)").arg(name, formats.join(QStringLiteral(", "))));
        answer.webSockets = answer.webSockets || name == QLatin1String(WebSocketsTransport);
    }
    return answer;
}

HeaderLines parseHeaderLines(const QStringList& lines)
{
    // RFC 9110 token characters.
    static const QRegularExpression token(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    HeaderLines result;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString name = line.left(colon).trimmed();
        if (colon < 0 || !token.match(name).hasMatch()) {
            result.refused.append(line);
            continue;
        }
        result.headers.append({name.toLatin1(), line.mid(colon + 1).trimmed().toUtf8()});
    }
    return result;
}

QString statusHint(int status)
{
    switch (status) {
    case HttpUnauthorized:
    case HttpForbidden:
        return QStringLiteral("访问令牌缺失或被拒绝");
    case HttpNotFound:
        return QStringLiteral("该地址不是 Hub，或中间有代理拦截");
    case HttpMethodNotAllowed:
        return QStringLiteral("该地址不是 Hub 的地址");
    default:
        return QString();
    }
}

} // namespace Negotiation

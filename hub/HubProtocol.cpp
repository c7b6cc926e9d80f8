#include "HubProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace HubProtocol {

namespace {

QString record(const QJsonObject& object)
{
    return compactJson(object) + QChar(RecordSeparator);
}

QJsonValue typeValue(MessageType type)
{
    return static_cast<int>(type);
}

// One invocation of the hub method `method` with a single string argument; the
// invocation id is left out when empty (nothing then comes back).
QString invocation(const QString& method, const QString& argument, const QString& invocationId)
{
    QJsonObject object{{QStringLiteral("arguments"), QJsonArray{argument}},
                       {QStringLiteral("target"), method},
                       {QStringLiteral("type"), typeValue(MessageType::Invocation)}};
    if (!invocationId.isEmpty())
        object.insert(QStringLiteral("invocationId"), invocationId);
    return record(object);
}

QString argumentText(const QJsonValue& value)
{
    if (value.isObject())
        return compactJson(value.toObject());
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    if (value.isString())
        return value.toString();
    return QString();
}

} // namespace

QString handshakeRequest()
{
    return record(QJsonObject{{QStringLiteral("protocol"), QLatin1String(JsonProtocolName)},
                              {QStringLiteral("version"), HandshakeVersion}});
}

QString clientInvocation(const QString& method, const QByteArray& payload, qint32 invocationId)
{
    return invocation(method, QString::fromUtf8(payload), QString::number(invocationId));
}

QString serverInvocation(const QString& method, const QByteArray& payload)
{
    return invocation(method, QString::fromUtf8(payload), QString());
}

QString subscribeInvocation(const QString& method, qint64 msecsSinceEpoch)
{
    return invocation(QStringLiteral("Subscribe"), method, QString::number(msecsSinceEpoch));
}

QString pingRecord()
{
    return record(QJsonObject{{QStringLiteral("type"), typeValue(MessageType::Ping)}});
}

QString handshakeResponse()
{
    return record(QJsonObject());
}

QString handshakeError(const QString& error)
{
    return record(QJsonObject{{QStringLiteral("error"), error}});
}

QString invocationRecord(const QString& target, const QJsonArray& arguments)
{
    return record(QJsonObject{{QStringLiteral("arguments"), arguments},
                              {QStringLiteral("target"), target},
                              {QStringLiteral("type"), typeValue(MessageType::Invocation)}});
}

QString completionResult(const QJsonValue& invocationId, const QJsonValue& result)
{
    return record(QJsonObject{{QStringLiteral("invocationId"), invocationId},
                              {QStringLiteral("result"), result},
                              {QStringLiteral("type"), typeValue(MessageType::Completion)}});
}

QString completionError(const QJsonValue& invocationId, const QString& error)
{
    return record(QJsonObject{{QStringLiteral("error"), error},
                              {QStringLiteral("invocationId"), invocationId},
                              {QStringLiteral("type"), typeValue(MessageType::Completion)}});
}

QString negotiateResponse(int version, const QString& connectionId, const QString& connectionToken)
{
    const QJsonObject webSockets{{QStringLiteral("transport"), QStringLiteral("WebSockets")},
                                 {QStringLiteral("transferFormats"),
                                  QJsonArray{QStringLiteral("Text"), QStringLiteral("Binary")}}};
    QJsonObject object{{QStringLiteral("availableTransports"), QJsonArray{webSockets}},
                       {QStringLiteral("connectionId"), connectionId},
                       {QStringLiteral("negotiateVersion"), version}};
    if (version >= NegotiateVersion)
        object.insert(QStringLiteral("connectionToken"), connectionToken);
    return compactJson(object);
}

int messageType(const QJsonObject& object)
{
    const QJsonValue type = object.value(QLatin1String("type"));
    return type.isDouble() ? type.toInt(0) : 0;
}

HandshakeRequest parseHandshakeRequest(const QJsonObject& object)
{
    HandshakeRequest request;
    if (!object.contains(QLatin1String("protocol")))
        return request;
    request.isHandshake = true;
    request.protocol = object.value(QLatin1String("protocol")).toString();
    request.version = object.value(QLatin1String("version")).toInt(0);
    return request;
}

QStringList splitRecords(const QString& message)
{
    return message.split(QChar(RecordSeparator), Qt::SkipEmptyParts);
}

Record classify(const QString& recordText)
{
    Record record;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(recordText.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        record.kind = RecordKind::Raw;
        record.text = recordText;
        return record;
    }
    return classifyObject(document.object());
}

Record classifyObject(const QJsonObject& object)
{
    Record record;
    record.object = object;
    if (object.contains(QLatin1String("protocol")) && object.contains(QLatin1String("version"))) {
        record.kind = RecordKind::HandshakeAck;
        return record;
    }
    if (object.contains(QLatin1String("type"))) {
        record.kind = RecordKind::Typed;
        const QJsonValue target = object.value(QLatin1String("target"));
        const QJsonArray arguments = object.value(QLatin1String("arguments")).toArray();
        for (const QJsonValue& argument : arguments)
            record.arguments.append(argumentText(argument));
        record.text = QStringLiteral("[%1](%2)")
                          .arg(target.isString() ? target.toString() : QString(),
                               record.arguments.join(QLatin1String(", ")));
        return record;
    }
    if (object.contains(QLatin1String("invocationId"))) {
        if (object.contains(QLatin1String("error"))) {
            record.kind = RecordKind::ErrorCompletion;
            record.text = object.value(QLatin1String("error")).toString();
        } else {
            record.kind = RecordKind::SilentCompletion;
        }
        return record;
    }
    record.kind = RecordKind::Untyped;
    const QJsonValue arguments = object.value(QLatin1String("arguments"));
    if (arguments.isArray()) {
        const QJsonValue first = arguments.toArray().at(0); // Undefined when empty
        if (first.isString())
            record.text = first.toString();
    }
    return record;
}

QString compactJson(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString normalizeHubUrl(const QString& address)
{
    struct Mapping { QLatin1String from; QLatin1String to; };
    static const Mapping mappings[] = {
        {QLatin1String("ws://"), QLatin1String("ws://")},
        {QLatin1String("wss://"), QLatin1String("wss://")},
        {QLatin1String("http://"), QLatin1String("ws://")},
        {QLatin1String("https://"), QLatin1String("wss://")},
    };
    for (const Mapping& m : mappings) {
        if (address.startsWith(m.from, Qt::CaseInsensitive))
            return m.to + address.mid(m.from.size());
    }
    return QLatin1String("ws://") + address;
}

} // namespace HubProtocol

#include "HubProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringBuilder>

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
QString invocation(const QString& method, const QString& argument, const QString& invocationId,
                   MessageType type = MessageType::Invocation)
{
    QJsonObject object{{QStringLiteral("arguments"), QJsonArray{argument}},
                       {QStringLiteral("target"), method},
                       {QStringLiteral("type"), typeValue(type)}};
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

QString handshakeRequest(const char* protocol)
{
    return record(QJsonObject{{QStringLiteral("protocol"), QLatin1String(protocol)},
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

QString streamInvocation(const QString& method, const QByteArray& payload, qint32 invocationId)
{
    return invocation(method, QString::fromUtf8(payload), QString::number(invocationId),
                      MessageType::StreamInvocation);
}

QString cancelInvocation(const QString& invocationId)
{
    return record(QJsonObject{{QStringLiteral("invocationId"), invocationId},
                              {QStringLiteral("type"), typeValue(MessageType::CancelInvocation)}});
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

QString completionEmpty(const QJsonValue& invocationId)
{
    return record(QJsonObject{{QStringLiteral("invocationId"), invocationId},
                              {QStringLiteral("type"), typeValue(MessageType::Completion)}});
}

QString streamItem(const QJsonValue& invocationId, const QJsonValue& item)
{
    return record(QJsonObject{{QStringLiteral("invocationId"), invocationId},
                              {QStringLiteral("item"), item},
                              {QStringLiteral("type"), typeValue(MessageType::StreamItem)}});
}

QString closeRecord(const QString& error, bool allowReconnect)
{
    QJsonObject object{{QStringLiteral("type"), typeValue(MessageType::Close)}};
    if (!error.isEmpty())
        object.insert(QStringLiteral("error"), error);
    if (allowReconnect)
        object.insert(QStringLiteral("allowReconnect"), true);
    return record(object);
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

Record classifyObject(const QJsonObject& object, Scalars scalars)
{
    Record record;
    record.object = object;
    if (object.contains(QLatin1String("protocol")) && object.contains(QLatin1String("version"))) {
        record.kind = RecordKind::HandshakeAck;
        return record;
    }
    // Looked up once: a lookup is a search among the keys, and this runs for every
    // record of a flood.
    const QJsonValue typeValue = object.value(QLatin1String("type"));
    if (!typeValue.isUndefined()) {
        record.kind = RecordKind::Typed;
        const QJsonValue target = object.value(QLatin1String("target"));
        const QJsonArray arguments = object.value(QLatin1String("arguments")).toArray();
        QStringList texts;
        texts.reserve(arguments.size());
        for (const QJsonValue& argument : arguments)
            texts.append(scalars == Scalars::Shown ? valueText(argument) : argumentText(argument));
        // Put together by hand in one allocation: this runs for every record of a flood,
        // and an argument may be tens of megabytes.
        const QString name = target.isString() ? target.toString() : QString();
        const QLatin1String separator(", ");
        qsizetype length = name.size() + 3;
        for (const QString& text : std::as_const(texts))
            length += text.size() + separator.size();
        record.text.reserve(length);
        record.text += QLatin1Char('[') % name % QLatin1String("](");
        for (qsizetype i = 0; i < texts.size(); ++i) {
            if (i > 0)
                record.text += separator;
            record.text += texts.at(i);
        }
        record.text += QLatin1Char(')');
        // Only what the hub sends as data reaches the charts.
        const int type = typeValue.isDouble() ? typeValue.toInt(0) : 0;
        if (type == int(MessageType::Invocation))
            record.arguments = texts;
        else if (type == int(MessageType::StreamItem) && object.contains(QLatin1String("item")))
            record.arguments.append(valueText(object.value(QLatin1String("item"))));
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

QString describeTyped(const Record& record, bool english, qint64 roundTripMs)
{
    const QJsonObject& object = record.object;
    const auto pick = [english](const char* chinese, const char* inEnglish) {
        return QString::fromUtf8(english ? inEnglish : chinese);
    };
    const QJsonValue idValue = object.value(QLatin1String("invocationId"));
    const QString id = idValue.isUndefined() ? QStringLiteral("?") : valueText(idValue);
    const int type = messageType(object);
    switch (MessageType(type)) {
    case MessageType::Invocation:
        return record.text;
    case MessageType::StreamItem:
        return pick("[流 #%1] ", "[stream #%1] ").arg(id) + valueText(object.value(QLatin1String("item")));
    case MessageType::Completion: {
        const bool failed = object.contains(QLatin1String("error"));
        QString row = (failed ? pick("[错误 #%1]", "[error #%1]") : pick("[结果 #%1]", "[result #%1]")).arg(id);
        const QJsonValue value = object.value(failed ? QLatin1String("error") : QLatin1String("result"));
        if (!value.isUndefined())
            row += QLatin1Char(' ') + valueText(value);
        if (roundTripMs >= 0)
            row += QStringLiteral(" (%1 ms)").arg(roundTripMs);
        return row;
    }
    case MessageType::StreamInvocation:
    case MessageType::CancelInvocation:
        return pick("服务端发来了只应由客户端发送的消息 (类型 %1): ",
                    "The hub sent a message that only clients send (type %1): ")
                   .arg(type)
               + compactJson(object);
    case MessageType::Ping:
        return pick("[心跳]", "[ping]");
    case MessageType::Close: {
        QString row = pick("服务端关闭连接", "Hub closed the connection");
        const QJsonValue error = object.value(QLatin1String("error"));
        if (!error.isUndefined() && !error.isNull())
            row += QStringLiteral(": ") + valueText(error);
        return row + (object.value(QLatin1String("allowReconnect")).toBool()
                          ? pick(" (允许重连)", " (reconnect allowed)")
                          : pick(" (不允许重连)", " (reconnect not allowed)"));
    }
    }
    return pick("未知消息类型 %1: ", "Unknown message type %1: ")
               .arg(valueText(object.value(QLatin1String("type"))))
           + compactJson(object);
}

QString valueText(const QJsonValue& value)
{
    if (value.isUndefined())
        return QString();
    if (value.isString())
        return value.toString();
    if (value.isObject())
        return compactJson(value.toObject());
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    // A scalar is written as the one element of an array, without the brackets.
    const QByteArray json = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
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

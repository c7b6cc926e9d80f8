#include "HubProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace HubProtocol {

namespace {

// JSON string literal with only the escapes JSON requires; everything else stays as is
// and becomes UTF-8 when the message is sent.
void appendJsonString(QString& out, const QString& value)
{
    out += QLatin1Char('"');
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\b': out += QLatin1String("\\b"); break;
        case u'\f': out += QLatin1String("\\f"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (u < 0x20) {
                out += QLatin1String("\\u00");
                out += QLatin1Char("0123456789abcdef"[u >> 4]);
                out += QLatin1Char("0123456789abcdef"[u & 0xF]);
            } else {
                out += c;
            }
        }
    }
    out += QLatin1Char('"');
}

QString invocation(const QString& method, const QString& argument, const QString* invocationId)
{
    QString out;
    out.reserve(argument.size() + method.size() + 64);
    out += QLatin1String("{\"arguments\":[");
    appendJsonString(out, argument);
    out += QLatin1Char(']');
    if (invocationId) {
        out += QLatin1String(",\"invocationId\":");
        appendJsonString(out, *invocationId);
    }
    out += QLatin1String(",\"target\":");
    appendJsonString(out, method);
    out += QLatin1String(",\"type\":1}");
    out += QChar(RecordSeparator);
    return out;
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
    return QStringLiteral("{\"protocol\":\"json\",\"version\":1}") + QChar(RecordSeparator);
}

QString clientInvocation(const QString& method, const QByteArray& payload, qint32 invocationId)
{
    const QString id = QString::number(invocationId);
    return invocation(method, QString::fromUtf8(payload), &id);
}

QString serverInvocation(const QString& method, const QByteArray& payload)
{
    return invocation(method, QString::fromUtf8(payload), nullptr);
}

QString subscribeInvocation(const QString& method, qint64 msecsSinceEpoch)
{
    const QString id = QString::number(msecsSinceEpoch);
    return invocation(QStringLiteral("Subscribe"), method, &id);
}

QString pingRecord()
{
    return QStringLiteral("{\"type\":6}") + QChar(RecordSeparator);
}

QString handshakeResponse()
{
    return QStringLiteral("{}") + QChar(RecordSeparator);
}

QString handshakeError(const QString& error)
{
    return compactJson(QJsonObject{{QStringLiteral("error"), error}}) + QChar(RecordSeparator);
}

QString invocationRecord(const QString& target, const QJsonArray& arguments)
{
    return compactJson(QJsonObject{{QStringLiteral("arguments"), arguments},
                                   {QStringLiteral("target"), target},
                                   {QStringLiteral("type"), 1}})
           + QChar(RecordSeparator);
}

QString completionResult(const QJsonValue& invocationId, const QJsonValue& result)
{
    return compactJson(QJsonObject{{QStringLiteral("invocationId"), invocationId},
                                   {QStringLiteral("result"), result},
                                   {QStringLiteral("type"), 3}})
           + QChar(RecordSeparator);
}

QString completionError(const QJsonValue& invocationId, const QString& error)
{
    return compactJson(QJsonObject{{QStringLiteral("error"), error},
                                   {QStringLiteral("invocationId"), invocationId},
                                   {QStringLiteral("type"), 3}})
           + QChar(RecordSeparator);
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

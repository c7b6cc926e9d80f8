#include "MessagePackCodec.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>

#include <charconv>
#include <limits>
#include <vector>

#include "HubProtocol.h"

// The unpacker's stack holds one slot per open container: its size is the depth limit.
#define MSGPACK_EMBED_STACK_SIZE 100
#include <msgpack/pack.h>
#include <msgpack/timestamp.h>
#include <msgpack/unpack.h>
#include <msgpack/unpack_define.h>

static_assert(MSGPACK_EMBED_STACK_SIZE == MessagePackCodec::MaxDepth);

namespace MessagePackCodec {

namespace {

using HubProtocol::MessageType;

constexpr char RecordSeparator = char(HubProtocol::RecordSeparator);
constexpr int VarIntBits = 7;
constexpr quint8 VarIntMore = 0x80;
constexpr quint8 VarIntValue = 0x7f;
// The last of five prefix bytes carries the top bits of a length below 2 GB.
constexpr quint8 LastPrefixByteMax = 0x07;
constexpr qint8 TimestampExtType = -1;
constexpr qint64 NanosecondsPerSecond = 1000000000;

// Completion result kinds.
constexpr int ErrorResult = 1;
constexpr int VoidResult = 2;
constexpr int NonVoidResult = 3;

enum class Kind { Nil, Bool, Int, Float, Str, Bin, Ext, Array, Map };

// A value under construction. Containers fill their own list; a finished value is moved
// into its parent and its node reused, so only the open path lives at any time.
struct Node
{
    Kind kind = Kind::Nil;
    QJsonValue value;
    QJsonArray array;
    QJsonObject map;
    bool stringMap = true; // every key and value a string, as headers must be
};

struct RootItem
{
    Kind kind;
    bool stringMap;
};

struct Builder
{
    std::vector<Node> nodes;
    std::vector<int> spare;
    // The outermost value is the first one made; its items' kinds are kept for the field
    // checks.
    QList<RootItem> rootItems;
    QString error;

    int make(Kind kind, const QJsonValue& value = QJsonValue())
    {
        int index = int(nodes.size());
        if (spare.empty()) {
            nodes.emplace_back();
        } else {
            index = spare.back();
            spare.pop_back();
        }
        nodes[size_t(index)].kind = kind;
        nodes[size_t(index)].value = value;
        nodes[size_t(index)].stringMap = true;
        return index;
    }

    QJsonValue take(int index)
    {
        Node& node = nodes[size_t(index)];
        QJsonValue value = node.kind == Kind::Array ? QJsonValue(std::move(node.array))
                           : node.kind == Kind::Map ? QJsonValue(std::move(node.map))
                                                    : node.value;
        node.array = QJsonArray();
        node.map = QJsonObject();
        spare.push_back(index);
        return value;
    }
};

// A float as the shortest decimal that reads back as the same float, not as the double
// nearest to it (0.1f shows as 0.1, not 0.10000000149011612).
double widened(float value)
{
    char text[32];
    const auto [end, failed] = std::to_chars(text, text + sizeof text, value);
    return failed == std::errc() ? QByteArray(text, int(end - text)).toDouble() : double(value);
}

QString timestampText(const char* data, unsigned size)
{
    msgpack_object object{};
    object.type = MSGPACK_OBJECT_EXT;
    object.via.ext.type = TimestampExtType;
    object.via.ext.size = size;
    object.via.ext.ptr = data;
    msgpack_timestamp stamp{};
    if (!msgpack_object_to_timestamp(&object, &stamp) || stamp.tv_nsec >= NanosecondsPerSecond)
        return QString();
    QString text = QDateTime::fromSecsSinceEpoch(stamp.tv_sec, Qt::UTC).toString(Qt::ISODate);
    if (text.isEmpty() || stamp.tv_nsec == 0)
        return text; // empty outside the years ISO 8601 writes with four digits
    // Fractions in groups of three digits: milliseconds, micro- or nanoseconds.
    QString fraction = QStringLiteral("%1").arg(stamp.tv_nsec, 9, 10, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1String("000")))
        fraction.chop(3);
    return text.insert(text.size() - 1, QLatin1Char('.') + fraction);
}

// The callbacks of msgpack-c's unpacking template, named as it calls them. Each returns
// 0, or below 0 to stop.
int unpacked_root(Builder*) { return -1; }
int unpackedScalar(Builder* b, Kind kind, const QJsonValue& value, int* o)
{
    *o = b->make(kind, value);
    return 0;
}
int unpacked_uint8(Builder* b, uint8_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_uint16(Builder* b, uint16_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_uint32(Builder* b, uint32_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_uint64(Builder* b, uint64_t v, int* o)
{
    // Beyond what JSON numbers here hold exactly: the nearest double.
    const bool fits = v <= uint64_t(std::numeric_limits<qint64>::max());
    return unpackedScalar(b, Kind::Int, fits ? QJsonValue(qint64(v)) : QJsonValue(double(v)), o);
}
int unpacked_int8(Builder* b, int8_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_int16(Builder* b, int16_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_int32(Builder* b, int32_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_int64(Builder* b, int64_t v, int* o) { return unpackedScalar(b, Kind::Int, qint64(v), o); }
int unpacked_float(Builder* b, float v, int* o) { return unpackedScalar(b, Kind::Float, widened(v), o); }
int unpacked_double(Builder* b, double v, int* o) { return unpackedScalar(b, Kind::Float, v, o); }
int unpacked_nil(Builder* b, int* o) { return unpackedScalar(b, Kind::Nil, QJsonValue(QJsonValue::Null), o); }
int unpacked_true(Builder* b, int* o) { return unpackedScalar(b, Kind::Bool, true, o); }
int unpacked_false(Builder* b, int* o) { return unpackedScalar(b, Kind::Bool, false, o); }
// Counts are not trusted for allocation: lists grow as items actually arrive.
int unpacked_array(Builder* b, unsigned, int* o)
{
    *o = b->make(Kind::Array);
    return 0;
}
int unpacked_map(Builder* b, unsigned, int* o)
{
    *o = b->make(Kind::Map);
    return 0;
}
int unpacked_array_item(Builder* b, int* c, int o)
{
    if (*c == 0)
        b->rootItems.append({b->nodes[size_t(o)].kind, b->nodes[size_t(o)].stringMap});
    const QJsonValue item = b->take(o);
    b->nodes[size_t(*c)].array.append(item);
    return 0;
}
int unpacked_map_item(Builder* b, int* c, int k, int v)
{
    const bool stringKey = b->nodes[size_t(k)].kind == Kind::Str;
    const bool stringValue = b->nodes[size_t(v)].kind == Kind::Str;
    const QJsonValue key = b->take(k);
    const QJsonValue value = b->take(v);
    Node& map = b->nodes[size_t(*c)];
    map.stringMap = map.stringMap && stringKey && stringValue;
    map.map.insert(stringKey ? key.toString() : HubProtocol::valueText(key), value);
    return 0;
}
// For empty strings and binaries `p` may point anywhere: it is not read then.
int unpacked_str(Builder* b, const char*, const char* p, unsigned l, int* o)
{
    return unpackedScalar(b, Kind::Str, l == 0 ? QString() : QString::fromUtf8(p, qsizetype(l)), o);
}
int unpacked_bin(Builder* b, const char*, const char* p, unsigned l, int* o)
{
    const QByteArray bytes = l == 0 ? QByteArray() : QByteArray(p, qsizetype(l));
    return unpackedScalar(b, Kind::Bin, QStringLiteral("base64(%1)").arg(QString::fromLatin1(bytes.toBase64())), o);
}
// `p` points at the type byte and `l` counts it; an ext 32 whose length wraps gives 0.
int unpacked_ext(Builder* b, const char*, const char* p, unsigned l, int* o)
{
    if (l == 0) {
        b->error = QStringLiteral("extension longer than 4 GB");
        return -1;
    }
    const auto type = qint8(p[0]);
    QString text = type == TimestampExtType ? timestampText(p + 1, l - 1) : QString();
    if (text.isEmpty())
        text = QStringLiteral("ext(%1, %2)").arg(type).arg(QString::fromLatin1(QByteArray(p + 1, qsizetype(l - 1)).toHex().toUpper()));
    return unpackedScalar(b, Kind::Ext, text, o);
}

#define msgpack_unpack_struct(name) struct Unpack##name
#define msgpack_unpack_func(ret, name) [[maybe_unused]] ret unpack##name
#define msgpack_unpack_object int
#define msgpack_unpack_user Builder
#define msgpack_unpack_callback(name) unpacked##name
#include <msgpack/unpack_template.h>

// Fields of a message after the unpacking: the root array's items and their kinds.
class Fields
{
public:
    Fields(const QJsonArray& items, const QList<RootItem>& kinds) : m_items(items), m_kinds(kinds) {}

    qsizetype size() const { return m_items.size(); }
    QJsonValue at(qsizetype i) const { return m_items.at(i); }
    Kind kind(qsizetype i) const { return m_kinds.at(i).kind; }

    // Whether item i is there and of one of the kinds (of any when none are named); else
    // says so in error().
    bool expect(qsizetype i, const char* name, std::initializer_list<Kind> kinds = {}, const char* what = "")
    {
        if (!m_error.isEmpty())
            return false;
        if (i >= size())
            m_error = QStringLiteral("%1 is missing (item %2)").arg(QLatin1String(name)).arg(i + 1);
        else if (kinds.size() > 0 && std::find(kinds.begin(), kinds.end(), kind(i)) == kinds.end())
            m_error = QStringLiteral("%1 (item %2) is not %3").arg(QLatin1String(name)).arg(i + 1).arg(QLatin1String(what));
        return m_error.isEmpty();
    }
    bool expectHeaders(qsizetype i)
    {
        if (!expect(i, "headers", {Kind::Map}, "a map"))
            return false;
        if (!m_kinds.at(i).stringMap)
            m_error = QStringLiteral("headers (item %1) hold a value that is not a string").arg(i + 1);
        return m_error.isEmpty();
    }
    QString error() const { return m_error; }

private:
    QJsonArray m_items;
    QList<RootItem> m_kinds;
    QString m_error;
};

void insertUnlessEmpty(QJsonObject& message, const char* key, const QJsonValue& value)
{
    const bool empty = (value.isObject() && value.toObject().isEmpty()) || (value.isArray() && value.toArray().isEmpty());
    if (!empty && !value.isNull())
        message.insert(QLatin1String(key), value);
}

Decoded interpret(Fields& f)
{
    if (!f.expect(0, "message type", {Kind::Int}, "an integer"))
        return {QJsonObject(), f.error()};
    const qint64 type = f.at(0).toInteger();
    QJsonObject m{{QStringLiteral("type"), type}};
    // Only a non-blocking invocation goes without an id.
    const auto headersAndId = [&f, &m, type] {
        const bool ok = f.expectHeaders(1)
                        && (type == int(MessageType::Invocation)
                                ? f.expect(2, "invocation id", {Kind::Str, Kind::Nil}, "a string or nil")
                                : f.expect(2, "invocation id", {Kind::Str}, "a string"));
        if (ok) {
            insertUnlessEmpty(m, "headers", f.at(1));
            insertUnlessEmpty(m, "invocationId", f.at(2));
        }
        return ok;
    };
    switch (MessageType(type)) {
    case MessageType::Invocation:
    case MessageType::StreamInvocation:
        if (headersAndId() && f.expect(3, "target", {Kind::Str}, "a string")
            && f.expect(4, "arguments", {Kind::Array}, "an array")) {
            m.insert(QLatin1String("target"), f.at(3));
            m.insert(QLatin1String("arguments"), f.at(4));
            if (f.size() > 5 && f.expect(5, "stream ids", {Kind::Array}, "an array"))
                insertUnlessEmpty(m, "streamIds", f.at(5));
        }
        break;
    case MessageType::StreamItem:
        if (headersAndId() && f.expect(3, "item"))
            m.insert(QLatin1String("item"), f.at(3));
        break;
    case MessageType::Completion:
        if (!headersAndId() || !f.expect(3, "result kind", {Kind::Int}, "an integer"))
            break;
        switch (f.at(3).toInteger()) {
        case ErrorResult:
            if (f.expect(4, "error", {Kind::Str}, "a string"))
                m.insert(QLatin1String("error"), f.at(4));
            break;
        case VoidResult:
            break;
        case NonVoidResult:
            if (f.expect(4, "result"))
                m.insert(QLatin1String("result"), f.at(4));
            break;
        default:
            return {QJsonObject(), QStringLiteral("result kind %1 is not 1, 2 or 3").arg(f.at(3).toInteger())};
        }
        break;
    case MessageType::CancelInvocation:
        headersAndId();
        break;
    case MessageType::Ping:
        break;
    case MessageType::Close:
        if (f.expect(1, "error", {Kind::Str, Kind::Nil}, "a string or nil"))
            insertUnlessEmpty(m, "error", f.at(1));
        if (f.size() > 2 && f.expect(2, "allowReconnect", {Kind::Bool}, "a boolean") && f.at(2).toBool())
            m.insert(QLatin1String("allowReconnect"), true);
        break;
    default: {
        // A type this program does not know: shown with its items, as JSON shows it.
        QJsonArray rest;
        for (qsizetype i = 1; i < f.size(); ++i)
            rest.append(f.at(i));
        insertUnlessEmpty(m, "items", rest);
        break;
    }
    }
    if (!f.error().isEmpty())
        return {QJsonObject(), f.error()};
    return {m, QString()};
}

int appendTo(void* data, const char* buffer, size_t length)
{
    static_cast<QByteArray*>(data)->append(buffer, qsizetype(length));
    return 0;
}

void packString(msgpack_packer* pk, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    msgpack_pack_str_with_body(pk, utf8.constData(), size_t(utf8.size()));
}

void packValue(msgpack_packer* pk, const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        value.toBool() ? msgpack_pack_true(pk) : msgpack_pack_false(pk);
        return;
    case QJsonValue::Double:
        // Qt keeps integral numbers as integers: those go out in the smallest int format.
        if (value.toVariant().typeId() == QMetaType::LongLong)
            msgpack_pack_int64(pk, value.toInteger());
        else
            msgpack_pack_double(pk, value.toDouble());
        return;
    case QJsonValue::String:
        packString(pk, value.toString());
        return;
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        msgpack_pack_array(pk, size_t(array.size()));
        for (const QJsonValue& item : array)
            packValue(pk, item);
        return;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        msgpack_pack_map(pk, size_t(object.size()));
        for (auto it = object.begin(); it != object.end(); ++it) {
            packString(pk, it.key());
            packValue(pk, it.value());
        }
        return;
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    msgpack_pack_nil(pk);
}

void packHeaders(msgpack_packer* pk, const QJsonObject& message)
{
    const QJsonObject headers = message.value(QLatin1String("headers")).toObject();
    msgpack_pack_map(pk, size_t(headers.size()));
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        packString(pk, it.key());
        packString(pk, HubProtocol::valueText(it.value()));
    }
}

// A string or nil: official hubs refuse ids of any other kind.
void packOptionalString(msgpack_packer* pk, const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        msgpack_pack_nil(pk);
    else
        packString(pk, HubProtocol::valueText(value));
}

} // namespace

Frame read(const QByteArray& frame)
{
    Frame result;
    qsizetype at = 0;
    while (at < frame.size() && result.error.isEmpty()) {
        quint64 length = 0;
        int prefix = 0;
        bool complete = false;
        while (!complete && prefix < MaxLengthPrefixBytes && at + prefix < frame.size()) {
            const auto byte = quint8(frame.at(at + prefix));
            if (prefix == MaxLengthPrefixBytes - 1 && byte > LastPrefixByteMax) {
                result.error = QStringLiteral("length prefix at byte %1 says 2 GB or more").arg(at);
                break;
            }
            length |= quint64(byte & VarIntValue) << (VarIntBits * prefix);
            complete = !(byte & VarIntMore);
            ++prefix;
        }
        const qsizetype left = frame.size() - at - prefix;
        if (result.error.isEmpty() && !complete)
            result.error = QStringLiteral("length prefix at byte %1 is cut short").arg(at);
        else if (result.error.isEmpty() && length > quint64(left))
            result.error = QStringLiteral("message of %1 bytes at byte %2 runs past the end of the frame (%3 left)")
                               .arg(length)
                               .arg(at)
                               .arg(left);
        if (!result.error.isEmpty())
            break;
        const Decoded decoded = decode(QByteArrayView(frame).sliced(at + prefix, qsizetype(length)));
        if (!decoded.error.isEmpty()) {
            result.error = decoded.error;
            break;
        }
        result.messages.append({frame.mid(at, prefix + qsizetype(length)), decoded.message});
        at += prefix + qsizetype(length);
    }
    if (!result.error.isEmpty())
        result.rest = frame.mid(at);
    return result;
}

QByteArray framed(const QByteArray& body)
{
    QByteArray out;
    auto length = quint32(body.size());
    do {
        const auto low = quint8(length & VarIntValue);
        length >>= VarIntBits;
        out.append(char(length ? (low | VarIntMore) : low));
    } while (length);
    return out + body;
}

Decoded decode(QByteArrayView body)
{
    if (body.isEmpty())
        return {QJsonObject(), QStringLiteral("empty message")};
    Unpack_context context;
    unpack_init(&context);
    size_t offset = 0;
    const int status = unpack_execute(&context, body.data(), size_t(body.size()), &offset);
    Builder& b = context.user;
    if (status == MSGPACK_UNPACK_NOMEM_ERROR) // the only way the template fails on its own
        return {QJsonObject(), QStringLiteral("nested deeper than %1 levels").arg(MaxDepth)};
    if (status < 0)
        return {QJsonObject(), b.error.isEmpty() ? QStringLiteral("not MessagePack at byte %1").arg(offset) : b.error};
    if (status == 0)
        return {QJsonObject(), QStringLiteral("message cut short after %1 bytes").arg(body.size())};
    if (offset != size_t(body.size()))
        return {QJsonObject(), QStringLiteral("%1 bytes after the message").arg(body.size() - qsizetype(offset))};
    const int root = unpack_data(&context);
    if (b.nodes[size_t(root)].kind != Kind::Array)
        return {QJsonObject(), QStringLiteral("message is not an array")};
    Fields fields(b.nodes[size_t(root)].array, b.rootItems);
    return interpret(fields);
}

QByteArray encode(const QJsonObject& message)
{
    QByteArray out;
    msgpack_packer pk;
    msgpack_packer_init(&pk, &out, appendTo);
    const int type = HubProtocol::messageType(message);
    const QJsonValue id = message.value(QLatin1String("invocationId"));
    const auto start = [&](size_t items) {
        msgpack_pack_array(&pk, items);
        msgpack_pack_int(&pk, type);
        if (type == int(MessageType::Ping) || type == int(MessageType::Close))
            return;
        packHeaders(&pk, message);
        packOptionalString(&pk, id);
    };
    switch (MessageType(type)) {
    case MessageType::Invocation:
    case MessageType::StreamInvocation:
        start(6);
        packString(&pk, message.value(QLatin1String("target")).toString());
        packValue(&pk, message.value(QLatin1String("arguments")).toArray());
        packValue(&pk, message.value(QLatin1String("streamIds")).toArray());
        return out;
    case MessageType::StreamItem:
        start(4);
        packValue(&pk, message.value(QLatin1String("item")));
        return out;
    case MessageType::Completion:
        if (message.contains(QLatin1String("error"))) {
            start(5);
            msgpack_pack_int(&pk, ErrorResult);
            packString(&pk, HubProtocol::valueText(message.value(QLatin1String("error"))));
        } else if (message.contains(QLatin1String("result"))) {
            start(5);
            msgpack_pack_int(&pk, NonVoidResult);
            packValue(&pk, message.value(QLatin1String("result")));
        } else {
            start(4);
            msgpack_pack_int(&pk, VoidResult);
        }
        return out;
    case MessageType::CancelInvocation:
        start(3);
        return out;
    case MessageType::Ping:
        start(1);
        return out;
    case MessageType::Close:
        // Both items always, as ASP.NET Core writes them.
        start(3);
        packOptionalString(&pk, message.value(QLatin1String("error")));
        message.value(QLatin1String("allowReconnect")).toBool() ? msgpack_pack_true(&pk) : msgpack_pack_false(&pk);
        return out;
    }
    return QByteArray();
}

QByteArray fromJsonRecords(const QString& records)
{
    QByteArray out;
    const QStringList texts = HubProtocol::splitRecords(records);
    for (const QString& text : texts) {
        const HubProtocol::Record record = HubProtocol::classify(text);
        const QByteArray body = record.kind == HubProtocol::RecordKind::Typed ? encode(record.object) : QByteArray();
        out += body.isEmpty() ? text.toUtf8() + RecordSeparator : framed(body);
    }
    return out;
}

QJsonValue argumentValue(const QByteArray& payload)
{
    // Wrapped in brackets, as Qt parses only arrays and objects at the top level; a text
    // that holds several values ("1, 2") stays one string.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + payload + ']', &error);
    if (error.error == QJsonParseError::NoError && document.array().size() == 1)
        return document.array().first();
    return QString::fromUtf8(payload);
}

QString errorRow(const QString& error, bool english)
{
    return (english ? QStringLiteral("MessagePack decoding failed: %1") : QStringLiteral("MessagePack 解码失败: %1")).arg(error);
}

} // namespace MessagePackCodec

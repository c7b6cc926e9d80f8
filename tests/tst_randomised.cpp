// Randomised checks of the record splitting and classification and of the payload
// conversions: many generated inputs, each compared with a property that must hold for
// every input. The generator is seeded with a fixed number, printed at the start (set
// KORVAHUB_RANDOM_SEED to try another), so every failure can be replayed.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

#include <string>

#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "PayloadCodec.h"

using HubProtocol::RecordKind;

namespace {

constexpr quint32 DefaultSeed = 20240607;

// Sanitized builds run the same properties on fewer inputs.
#if defined(__SANITIZE_ADDRESS__)
constexpr int Iterations = 1500;
#else
constexpr int Iterations = 15000;
#endif

quint32 seed()
{
    bool ok = false;
    const quint32 fromEnvironment = qEnvironmentVariable("KORVAHUB_RANDOM_SEED").toUInt(&ok);
    return ok ? fromEnvironment : DefaultSeed;
}

// A readable, bounded form of a generated input for failure messages.
QByteArray describe(const QString& text)
{
    QString out;
    for (const QChar c : text.left(300)) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != u'\\')
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
    }
    if (text.size() > 300)
        out += QStringLiteral("...(%1 units)").arg(text.size());
    return out.toUtf8();
}

QByteArray describe(const QByteArray& bytes)
{
    return bytes.left(200).toHex(' ') + (bytes.size() > 200 ? QByteArray("...") : QByteArray());
}

class Generator
{
public:
    explicit Generator(quint32 seed)
        : rng(seed)
    {
    }

    int upTo(int bound) { return bound <= 0 ? 0 : int(rng.bounded(quint32(bound))); }
    bool chance(int percent) { return upTo(100) < percent; }

    template <typename T>
    const T& pick(const QList<T>& items)
    {
        return items.at(upTo(int(items.size())));
    }

    // Any UTF-16 code units, lone surrogates and control characters included.
    QString anyUnits(int maxLength)
    {
        QString s;
        const int length = upTo(maxLength + 1);
        for (int i = 0; i < length; ++i) {
            switch (upTo(6)) {
            case 0: s += QChar(char16_t(upTo(0x20))); break;
            case 1: s += QChar(char16_t(0xD800 + upTo(0x800))); break; // surrogates
            case 2: s += QChar(char16_t(0x4E00 + upTo(0x51A6))); break;  // CJK
            case 3: s += QChar(char16_t(upTo(0x10000))); break;
            default: s += QChar(char16_t(0x20 + upTo(0x5F))); break;
            }
        }
        return s;
    }

    // Well-formed text: printable ASCII, CJK and characters outside the BMP.
    QString wellFormed(int maxLength)
    {
        QString s;
        const int length = upTo(maxLength + 1);
        for (int i = 0; i < length; ++i) {
            switch (upTo(5)) {
            case 0: s += QChar(char16_t(0x4E00 + upTo(0x51A6))); break;
            case 1: s += QString::fromUcs4(std::u32string(1, char32_t(0x1F300 + upTo(0x300))).data(), 1); break;
            case 2: s += QChar(char16_t(0xA0 + upTo(0x100))); break;
            default: s += QChar(char16_t(0x20 + upTo(0x5F))); break;
            }
        }
        return s;
    }

    QByteArray bytes(int maxLength)
    {
        QByteArray b(upTo(maxLength + 1), Qt::Uninitialized);
        for (char& c : b)
            c = char(upTo(256));
        return b;
    }

    QJsonValue jsonValue(int depth)
    {
        switch (upTo(depth > 0 ? 8 : 6)) {
        case 0: return QJsonValue();
        case 1: return chance(50);
        case 2: return double(upTo(2000000) - 1000000) / double(1 + upTo(100));
        case 3: return upTo(1000);
        case 4:
        case 5: return wellFormed(12);
        case 6: {
            QJsonArray a;
            for (int i = upTo(4); i > 0; --i)
                a.append(jsonValue(depth - 1));
            return a;
        }
        default: {
            QJsonObject o;
            for (int i = upTo(4); i > 0; --i)
                o.insert(wellFormed(6), jsonValue(depth - 1));
            return o;
        }
        }
    }

    // An object built from the keys that decide a record's kind, with values of any type.
    QJsonObject hubObject()
    {
        static const QStringList keys = {
            QStringLiteral("type"),     QStringLiteral("target"), QStringLiteral("arguments"),
            QStringLiteral("invocationId"), QStringLiteral("error"), QStringLiteral("protocol"),
            QStringLiteral("version"),  QStringLiteral("result"), QStringLiteral("item")};
        QJsonObject o;
        for (const QString& key : keys) {
            if (!chance(35))
                continue;
            if (key == QLatin1String("arguments") && chance(80)) {
                QJsonArray a;
                for (int i = upTo(5); i > 0; --i)
                    a.append(jsonValue(2));
                o.insert(key, a);
            } else if ((key == QLatin1String("target") || key == QLatin1String("error")) && chance(70)) {
                o.insert(key, wellFormed(10));
            } else {
                o.insert(key, jsonValue(1));
            }
        }
        return o;
    }

    QRandomGenerator rng;
};

// The kind and text a record must get, worked out from the keys alone.
struct Expected
{
    RecordKind kind;
    QString text;
    QStringList arguments;
};

QString compact(const QJsonValue& value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

Expected expectedFor(const QJsonObject& o)
{
    auto has = [&o](const char* key) { return o.contains(QLatin1String(key)); };
    if (has("protocol") && has("version"))
        return {RecordKind::HandshakeAck, QString(), {}};
    if (has("type")) {
        QStringList arguments;
        for (const QJsonValue& v : o.value(QLatin1String("arguments")).toArray())
            arguments.append(v.isString() ? v.toString()
                             : (v.isObject() || v.isArray()) ? compact(v)
                                                             : QString());
        const QJsonValue target = o.value(QLatin1String("target"));
        return {RecordKind::Typed,
                QLatin1Char('[') + (target.isString() ? target.toString() : QString()) + QStringLiteral("](")
                    + arguments.join(QStringLiteral(", ")) + QLatin1Char(')'),
                arguments};
    }
    if (has("invocationId")) {
        if (has("error"))
            return {RecordKind::ErrorCompletion, o.value(QLatin1String("error")).toString(), {}};
        return {RecordKind::SilentCompletion, QString(), {}};
    }
    const QJsonValue first = o.value(QLatin1String("arguments")).toArray().at(0);
    return {RecordKind::Untyped, first.isString() ? first.toString() : QString(), {}};
}

// The object written with its keys in the given order and optional white space.
QString writeObject(const QJsonObject& o, const QStringList& order, bool spaced)
{
    const QString gap = spaced ? QStringLiteral(" \n\t") : QString();
    QString out = QLatin1Char('{') + gap;
    for (int i = 0; i < order.size(); ++i) {
        if (i > 0)
            out += gap + QLatin1Char(',') + gap;
        out += compact(order.at(i)) + gap + QLatin1Char(':') + gap + compact(o.value(order.at(i)));
    }
    return out + gap + QLatin1Char('}');
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
           || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

} // namespace

class TestRandomised : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qInfo("random seed %u, %d iterations per property", seed(), Iterations);
    }

    void splitRecordsKeepsEveryNonEmptyPieceInOrder()
    {
        Generator g(seed() + 1);
        for (int i = 0; i < Iterations; ++i) {
            QStringList pieces;
            QString message;
            const int count = g.upTo(6);
            for (int n = 0; n < count; ++n) {
                message += QString(g.upTo(3), HubProtocol::RecordSeparator);
                QString piece = g.chance(20) ? QString() : g.anyUnits(20);
                piece.remove(QChar(HubProtocol::RecordSeparator));
                message += piece;
                if (!piece.isEmpty())
                    pieces.append(piece);
                // Runs of separators; the last record may come without one.
                const bool last = n == count - 1;
                if (!last || g.chance(70))
                    message += QString(1 + g.upTo(3), HubProtocol::RecordSeparator);
            }
            const QStringList records = HubProtocol::splitRecords(message);
            QVERIFY2(records == pieces, describe(message));
        }
    }

    void objectRecordsAreClassifiedByTheirKeys()
    {
        Generator g(seed() + 2);
        for (int i = 0; i < Iterations; ++i) {
            const QJsonObject o = g.hubObject();
            const Expected expected = expectedFor(o);
            QStringList order = o.keys();
            for (int k = int(order.size()) - 1; k > 0; --k)
                order.swapItemsAt(k, g.upTo(k + 1));
            // Key order and white space between tokens must not matter.
            const QString text = writeObject(o, order, g.chance(30));
            const HubProtocol::Record record = HubProtocol::classify(text);
            QVERIFY2(record.kind == expected.kind, describe(text));
            QVERIFY2(record.text == expected.text, describe(text) + " -> " + describe(record.text));
            QVERIFY2(record.arguments == expected.arguments, describe(text));
        }
    }

    void everyProperPrefixOfAnObjectIsRawText()
    {
        Generator g(seed() + 3);
        for (int i = 0; i < Iterations / 10; ++i) {
            QJsonObject o = g.hubObject();
            o.insert(QStringLiteral("type"), 1);
            const QString text = writeObject(o, o.keys(), false);
            for (qsizetype cut = 1; cut < text.size(); cut += 1 + g.upTo(4)) {
                const QString prefix = text.left(cut);
                const HubProtocol::Record record = HubProtocol::classify(prefix);
                QVERIFY2(record.kind == RecordKind::Raw, describe(prefix));
                QVERIFY2(record.text == prefix, describe(prefix));
            }
        }
    }

    void anyTextIsClassifiedWithoutLoss()
    {
        Generator g(seed() + 4);
        const QList<QString> fragments = {
            QStringLiteral("{"), QStringLiteral("}"), QStringLiteral("["), QStringLiteral("]"),
            QStringLiteral("\""), QStringLiteral(":"), QStringLiteral(","), QStringLiteral("\\"),
            QStringLiteral("\"type\""), QStringLiteral("1e999"), QStringLiteral("-0"),
            QStringLiteral("null"), QStringLiteral("\\ud800"), QStringLiteral("\\u0000"),
            QStringLiteral(" "), QStringLiteral("\"invocationId\":"), QStringLiteral("tru")};
        for (int i = 0; i < Iterations; ++i) {
            QString text;
            for (int n = g.upTo(12); n > 0; --n)
                text += g.chance(60) ? g.pick(fragments) : g.anyUnits(4);
            const HubProtocol::Record record = HubProtocol::classify(text);
            const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
            if (record.kind == RecordKind::Raw) {
                QVERIFY2(record.text == text, describe(text));
                QVERIFY2(!document.isObject(), describe(text));
            } else {
                QVERIFY2(document.isObject(), describe(text));
                QVERIFY2(record.kind == expectedFor(document.object()).kind, describe(text));
            }
        }
    }

    void nonObjectJsonIsRawText()
    {
        Generator g(seed() + 5);
        for (int i = 0; i < Iterations; ++i) {
            const QJsonValue value = g.chance(50) ? QJsonValue(QJsonArray{g.jsonValue(2), g.jsonValue(2)})
                                                  : g.jsonValue(0);
            const QString text = compact(value);
            const HubProtocol::Record record = HubProtocol::classify(text);
            QVERIFY2(record.kind == RecordKind::Raw, describe(text));
            QVERIFY2(record.text == text, describe(text));
        }
    }

    void hexFormattingRoundTrips()
    {
        Generator g(seed() + 6);
        for (int i = 0; i < Iterations; ++i) {
            const QByteArray bytes = g.bytes(64);
            const QString hex = PayloadCodec::toHexString(bytes);
            QCOMPARE(hex.size(), bytes.isEmpty() ? 0 : 3 * bytes.size() - 1);
            QVERIFY2(hex == QString::fromLatin1(bytes.toHex(' ').toUpper()), describe(bytes));
            QCOMPARE(PayloadCodec::isValidHexString(hex), !bytes.isEmpty());
            QVERIFY2(PayloadCodec::parseHexString(hex) == bytes, describe(bytes));
            QVERIFY2(PayloadCodec::parseHexString(hex.toLower()) == bytes, describe(bytes));
        }
    }

    void hexInputIsJudgedAndParsedDigitByDigit()
    {
        Generator g(seed() + 7);
        const QString digits = QStringLiteral("0123456789abcdefABCDEF");
        const QList<QChar> separators = {QLatin1Char(' '), QLatin1Char('-')};
        const QList<QChar> strangers = {QLatin1Char('x'), QLatin1Char('g'), QLatin1Char(','),
                                        QLatin1Char('\t'), QLatin1Char('\n'), QChar(0x00A0),
                                        QChar(0xFF10), QChar(0xD800), QLatin1Char('_')};
        for (int i = 0; i < Iterations; ++i) {
            QString text;
            int digitCount = 0;
            bool stranger = false;
            for (int n = g.upTo(24); n > 0; --n) {
                const int what = g.upTo(100);
                if (what < 70) {
                    text += digits.at(g.upTo(int(digits.size())));
                    ++digitCount;
                } else if (what < 95) {
                    text += g.pick(separators);
                } else {
                    text += g.pick(strangers);
                    stranger = true;
                }
            }
            const bool valid = !stranger && digitCount > 0 && digitCount % 2 == 0;
            QVERIFY2(PayloadCodec::isValidHexString(text) == valid, describe(text));

            QByteArray expected;
            QString onlyDigits;
            for (const QChar c : text)
                if (isHexDigit(c))
                    onlyDigits += c;
            if (!onlyDigits.isEmpty() && onlyDigits.size() % 2 == 0)
                expected = QByteArray::fromHex(onlyDigits.toLatin1());
            QVERIFY2(PayloadCodec::parseHexString(text) == expected, describe(text));
        }
    }

    void decodingAnyBytesNeverFails_data()
    {
        QTest::addColumn<QString>("encoding");
        for (const QString& name : CommunicationBase::supportedEncodings())
            QTest::newRow(qPrintable(name)) << name;
        QTest::newRow("empty name") << QString();
        QTest::newRow("lower-case unicode") << QStringLiteral("unicode");
        QTest::newRow("lower-case utf-8") << QStringLiteral("utf-8");
        QTest::newRow("unknown name") << QStringLiteral("NoSuchCodec");
        QTest::newRow("Latin1") << QStringLiteral("Latin1");
        QTest::newRow("UTF-16BE") << QStringLiteral("UTF-16BE");
    }

    void decodingAnyBytesNeverFails()
    {
        QFETCH(QString, encoding);
        Generator g(seed() + 8 + quint32(qHash(encoding)));
        for (int i = 0; i < Iterations; ++i) {
            QByteArray bytes = g.bytes(g.chance(10) ? 4000 : 33);
            if (g.chance(10) && bytes.size() >= 2) { // byte-order marks, both ways
                bytes[0] = g.chance(50) ? char(0xFF) : char(0xFE);
                bytes[1] = bytes[0] == char(0xFF) ? char(0xFE) : char(0xFF);
            }
            const QString text = PayloadCodec::decodeBytes(bytes, encoding);
            if (bytes.isEmpty())
                QVERIFY(text.isEmpty());
            // Decoding is stateless: the same bytes always give the same text.
            QVERIFY2(PayloadCodec::decodeBytes(bytes, encoding) == text, describe(bytes));
            if (encoding == QLatin1String("ASCII")) {
                QVERIFY2(text == QString::fromLatin1(bytes), describe(bytes));
                QVERIFY2(PayloadCodec::encodeString(text, encoding) == bytes, describe(bytes));
            } else if (encoding.isEmpty() || encoding == QLatin1String("UTF-8")) {
                QVERIFY2(text == QString::fromUtf8(bytes), describe(bytes));
            } else if (encoding == QLatin1String("Unicode")) {
                // Whole code units only; an odd last byte is dropped. Without a byte-order
                // mark in front the units are taken as they are.
                const qsizetype units = bytes.size() / 2;
                QVERIFY2(text.size() == units || text.size() == units - 1, describe(bytes));
                const bool bom = units > 0
                                 && ((uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE)
                                     || (uchar(bytes[0]) == 0xFE && uchar(bytes[1]) == 0xFF));
                if (!bom) {
                    QVERIFY2(text.size() == units, describe(bytes));
                    QVERIFY2(PayloadCodec::encodeString(text, encoding) == bytes.left(units * 2),
                             describe(bytes));
                }
            }
        }
    }

    void encodingAnyTextNeverFails_data()
    {
        decodingAnyBytesNeverFails_data();
    }

    void encodingAnyTextNeverFails()
    {
        QFETCH(QString, encoding);
        Generator g(seed() + 9 + quint32(qHash(encoding)));
        const bool namedCodec = !encoding.isEmpty() && encoding != QLatin1String("UTF-8")
                                && encoding != QLatin1String("ASCII")
                                && encoding != QLatin1String("Unicode");
        const bool codecKnown = QStringEncoder(encoding.toLatin1().constData()).isValid();
        for (int i = 0; i < Iterations; ++i) {
            const QString any = g.anyUnits(40);
            const QByteArray bytes = PayloadCodec::encodeString(any, encoding);
            QVERIFY2(PayloadCodec::encodeString(any, encoding) == bytes, describe(any));
            if (encoding == QLatin1String("Unicode"))
                QVERIFY2(bytes.size() == 2 * any.size(), describe(any));
            if (encoding == QLatin1String("ASCII"))
                QVERIFY2(bytes.size() == any.size(), describe(any));

            // Well-formed text comes back unchanged where the encoding can hold it.
            const QString text = g.wellFormed(30);
            const QByteArray encoded = PayloadCodec::encodeString(text, encoding);
            const QString decoded = PayloadCodec::decodeBytes(encoded, encoding);
            if (encoding.isEmpty() || encoding == QLatin1String("UTF-8")
                || encoding == QLatin1String("Unicode") || (namedCodec && !codecKnown)) {
                QVERIFY2(decoded == text, describe(text) + " -> " + describe(decoded));
            }
            if (encoding == QLatin1String("GBK") && codecKnown) {
                // The unified CJK block up to U+9FA5 is all in GBK.
                QString cjk;
                for (int n = g.upTo(20); n > 0; --n)
                    cjk += QChar(char16_t(0x4E00 + g.upTo(0x51A6)));
                const QString back =
                    PayloadCodec::decodeBytes(PayloadCodec::encodeString(cjk, encoding), encoding);
                QVERIFY2(back == cjk, describe(cjk) + " -> " + describe(back));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRandomised)
#include "tst_randomised.moc"

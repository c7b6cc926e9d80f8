#include "PayloadCodec.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <array>
#include <iterator>
#include <cstring>
#include <vector>

namespace PayloadCodec {

namespace {

enum class Conversion { Utf8, Latin1, Utf16Raw, Named };

Conversion conversionFor(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String("UTF-8"))
        return Conversion::Utf8;
    if (name == QLatin1String("ASCII"))
        return Conversion::Latin1;
    if (name == QLatin1String("Unicode"))
        return Conversion::Utf16Raw;
    return Conversion::Named;
}

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The names offered in the window, numbered without a lock; others join a table.
const QLatin1String KnownEncodings[] = {QLatin1String("UTF-8"), QLatin1String("ASCII"), QLatin1String("GBK"),
                                         QLatin1String("GB2312"), QLatin1String("Unicode")};
constexpr int KnownCount = int(std::size(KnownEncodings));
constexpr int MaxEncodingIds = 256;

QMutex& otherNamesMutex()
{
    static QMutex mutex;
    return mutex;
}

QStringList& otherNames()
{
    static QStringList names;
    return names;
}

bool isUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Lead bytes of GBK and GB18030 two- and four-byte characters, and the digit that marks
// the four-byte form as the second byte.
constexpr unsigned char FirstDoubleByteLead = 0x81;
bool isFourByteSecond(unsigned char byte)
{
    return byte >= '0' && byte <= '9';
}

// A function-local static is initialised once even when two threads ask at once.
const std::array<char16_t, 512>& hexTable()
{
    static const std::array<char16_t, 512> table = [] {
        std::array<char16_t, 512> t{};
        const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i) {
            t[2 * i] = char16_t(digits[i >> 4]);
            t[2 * i + 1] = char16_t(digits[i & 0xF]);
        }
        return t;
    }();
    return table;
}

} // namespace

QString decodeBytes(const QByteArray& bytes, const QString& encodingName)
{
    if (bytes.isEmpty())
        return QString();
    switch (conversionFor(encodingName)) {
    case Conversion::Utf8:
        return QString::fromUtf8(bytes);
    case Conversion::Latin1:
        return QString::fromLatin1(bytes);
    case Conversion::Utf16Raw: {
        // Copy into aligned storage: the byte array's data need not be 2-aligned.
        const qsizetype units = bytes.size() / 2;
        if (units == 0)
            return QString();
        std::vector<char16_t> buffer(static_cast<size_t>(units));
        std::memcpy(buffer.data(), bytes.constData(), static_cast<size_t>(units) * 2);
        return QString::fromUtf16(buffer.data(), units);
    }
    case Conversion::Named: {
        QStringDecoder decoder(encodingName.toLatin1().constData());
        if (!decoder.isValid())
            return QString::fromUtf8(bytes);
        return decoder.decode(bytes);
    }
    }
    return QString();
}

QString decodeBytes(const QByteArray& bytes, quint8 encodingId)
{
    if (encodingId == 0)
        return QString::fromUtf8(bytes);
    return decodeBytes(bytes, encodingName(encodingId));
}

quint8 encodingId(const QString& encodingName)
{
    if (encodingName.isEmpty())
        return 0;
    for (int i = 0; i < KnownCount; ++i) {
        if (encodingName == KnownEncodings[i])
            return quint8(i);
    }
    QMutexLocker locker(&otherNamesMutex());
    QStringList& names = otherNames();
    qsizetype index = names.indexOf(encodingName);
    if (index < 0) {
        if (KnownCount + names.size() >= MaxEncodingIds)
            return 0;
        names.append(encodingName);
        index = names.size() - 1;
    }
    return quint8(KnownCount + index);
}

QString encodingName(quint8 encodingId)
{
    if (encodingId < KnownCount)
        return KnownEncodings[encodingId];
    QMutexLocker locker(&otherNamesMutex());
    return otherNames().value(encodingId - KnownCount, QString(KnownEncodings[0]));
}

qsizetype characterBoundary(const QByteArray& bytes, qsizetype limit, quint8 encodingId)
{
    if (limit >= bytes.size())
        return bytes.size();
    limit = std::max<qsizetype>(limit, 0);
    switch (conversionFor(encodingName(encodingId))) {
    case Conversion::Latin1:
        return limit;
    case Conversion::Utf8: {
        qsizetype cut = limit;
        while (cut > 0 && isUtf8Continuation(bytes.at(cut)))
            --cut;
        return cut;
    }
    case Conversion::Utf16Raw: {
        qsizetype cut = limit & ~qsizetype(1);
        // The unit before the cut must not be the first half of a pair (host byte order,
        // as decodeBytes reads it).
        if (cut >= 2) {
            char16_t unit = 0;
            std::memcpy(&unit, bytes.constData() + cut - 2, 2);
            if (QChar::isHighSurrogate(unit))
                cut -= 2;
        }
        return cut;
    }
    case Conversion::Named: {
        // Walked from the start: a trail byte of these encodings may look like a lead.
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
        qsizetype pos = 0;
        while (pos < limit) {
            qsizetype width = 1;
            if (b[pos] >= FirstDoubleByteLead && pos + 1 < bytes.size())
                width = isFourByteSecond(b[pos + 1]) ? 4 : 2;
            if (pos + width > limit)
                break;
            pos += width;
        }
        return pos;
    }
    }
    return limit;
}

QByteArray encodeString(const QString& text, const QString& encodingName)
{
    switch (conversionFor(encodingName)) {
    case Conversion::Utf8:
        return text.toUtf8();
    case Conversion::Latin1:
        return text.toLatin1();
    case Conversion::Utf16Raw:
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    case Conversion::Named: {
        QStringEncoder encoder(encodingName.toLatin1().constData());
        if (!encoder.isValid())
            return text.toUtf8();
        return encoder.encode(text);
    }
    }
    return QByteArray();
}

QString toHexString(const QByteArray& bytes)
{
    const qsizetype n = bytes.size();
    if (n == 0)
        return QString();
    const auto& table = hexTable();
    QString out(3 * n - 1, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    const auto* src = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned b = src[i];
        *dst++ = table[2 * b];
        *dst++ = table[2 * b + 1];
        if (i + 1 < n)
            *dst++ = u' ';
    }
    return out;
}

bool isValidHexString(const QString& text)
{
    qsizetype digits = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('-'))
            continue;
        if (hexDigitValue(c) < 0)
            return false;
        ++digits;
    }
    return digits > 0 && digits % 2 == 0;
}

QByteArray parseHexString(const QString& text)
{
    qsizetype digits = 0;
    for (const QChar c : text)
        if (hexDigitValue(c) >= 0)
            ++digits;
    if (digits == 0 || digits % 2 != 0)
        return QByteArray();
    QByteArray out(digits / 2, Qt::Uninitialized);
    qsizetype pos = 0;
    int high = -1;
    for (const QChar c : text) {
        const int v = hexDigitValue(c);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out[pos++] = char((high << 4) | v);
            high = -1;
        }
    }
    return out;
}

} // namespace PayloadCodec

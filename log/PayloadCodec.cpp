#include "PayloadCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
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

#pragma once

#include <QByteArray>
#include <QString>

// Conversions between payload bytes and text for the encodings the user can pick
// ("UTF-8", "ASCII", "GBK", "GB2312", "Unicode"), and the hex form of payloads.
// Pure functions: no converter state survives a call, so every payload is decoded
// on its own.
namespace PayloadCodec {

QString decodeBytes(const QByteArray& bytes, const QString& encodingName);
QByteArray encodeString(const QString& text, const QString& encodingName);

// Upper-case pairs separated by one space: 3n - 1 characters for n bytes.
QString toHexString(const QByteArray& bytes);

// Only hex digits, spaces and '-' allowed, with an even, non-zero number of digits.
bool isValidHexString(const QString& text);

// Takes the hex digits in order, skipping anything else; odd or no digits give empty.
QByteArray parseHexString(const QString& text);

} // namespace PayloadCodec

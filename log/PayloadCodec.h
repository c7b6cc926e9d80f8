#pragma once

#include <QByteArray>
#include <QString>

// Conversions between payload bytes and text for the encodings the user can pick
// ("UTF-8", "ASCII", "GBK", "GB2312", "Unicode"), and the hex form of payloads.
// Pure functions: no converter state survives a call, so every payload is decoded
// on its own. (The table behind encodingId() only grows; it changes no result.)
namespace PayloadCodec {

QString decodeBytes(const QByteArray& bytes, const QString& encodingName);
QString decodeBytes(const QByteArray& bytes, quint8 encodingId);
QByteArray encodeString(const QString& text, const QString& encodingName);

// A small number for an encoding name, so that a stored entry need not carry the name:
// the same name gets the same number for the whole run. 0 is "UTF-8"; past 255 distinct
// names, further ones share 0.
quint8 encodingId(const QString& encodingName);
QString encodingName(quint8 encodingId);

// The largest length up to `limit` at which `bytes` can be cut without splitting a
// character of the encoding (UTF-8 sequences, UTF-16 units and pairs, GBK pairs).
qsizetype characterBoundary(const QByteArray& bytes, qsizetype limit, quint8 encodingId);

// Upper-case pairs separated by one space: 3n - 1 characters for n bytes.
QString toHexString(const QByteArray& bytes);

// Only hex digits, spaces and '-' allowed, with an even, non-zero number of digits.
bool isValidHexString(const QString& text);

// Takes the hex digits in order, skipping anything else; odd or no digits give empty.
QByteArray parseHexString(const QString& text);

} // namespace PayloadCodec

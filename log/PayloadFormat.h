#pragma once

#include <QByteArray>
#include <QString>

// How payloads are shown to a reader, beside the log's one-line rows: JSON indented,
// bytes as a classic hex dump, and the marks that stand for control characters in a row.
// Pure functions.
namespace PayloadFormat {

// The text record by record (split at the hub protocol's 0x1E separator, records apart
// by a blank line), every JSON object or array in a record indented; the text around
// it, and anything that only looks like JSON, stays as it is.
QString indentJson(const QString& text);

// Lines of offset, 16 bytes in hex and their printable ASCII ('.' for the rest).
QString hexDump(const QByteArray& bytes);

// The short mark a row draws for a control character ("⏎" for a line break, "RS" for
// the record separator, "TAB", "DEL", "9B" ...); empty for a character drawn as it is.
// Drawn as a mark because fonts lack the Unicode control pictures and show boxes.
QString controlMark(QChar c);

} // namespace PayloadFormat

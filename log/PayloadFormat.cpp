#include "PayloadFormat.h"

#include <QJsonDocument>
#include <QList>
#include <QStringView>

namespace {

constexpr QChar RecordSeparator(0x1E);
constexpr int BytesPerDumpLine = 16;
constexpr char16_t FirstC1 = 0x80;
constexpr char16_t LastC1 = 0x9F;
constexpr char16_t Delete = 0x7F;

// Trying every bracket of a long text that is not JSON would be quadratic: after this
// many scanned characters per character of text, the rest of a record stays as it is.
constexpr qsizetype ScanBudgetFactor = 4;

// ASCII names of the C0 control characters, as the Unicode control pictures show them.
const char* const ControlNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                    "BS",  "TAB", "⏎",   "VT",  "FF",  "CR",  "SO",  "SI",
                                    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                    "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

// Index of the bracket that closes the one at `open`, skipping JSON strings; -1 when the
// text ends first. `scanned` counts the characters looked at.
qsizetype matchingClose(QStringView text, qsizetype open, qsizetype& scanned)
{
    int depth = 0;
    bool inString = false;
    for (qsizetype i = open; i < text.size(); ++i, ++scanned) {
        const QChar c = text.at(i);
        if (inString) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                inString = false;
        } else if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            ++depth;
        } else if ((c == QLatin1Char('}') || c == QLatin1Char(']')) && --depth == 0) {
            return i;
        }
    }
    return -1;
}

QString indentRecord(QStringView record)
{
    QString out;
    qsizetype pos = 0;
    qsizetype scanned = 0;
    const qsizetype budget = ScanBudgetFactor * record.size();
    while (pos < record.size() && scanned <= budget) {
        qsizetype open = pos;
        while (open < record.size() && record.at(open) != QLatin1Char('{') && record.at(open) != QLatin1Char('['))
            ++open;
        if (open == record.size())
            break;
        const qsizetype close = matchingClose(record, open, scanned);
        if (close < 0)
            break;
        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(record.mid(open, close - open + 1).toUtf8(), &error);
        if (error.error != QJsonParseError::NoError) {
            out += record.mid(pos, open + 1 - pos);
            pos = open + 1;
            continue;
        }
        const QStringView before = record.mid(pos, open - pos).trimmed();
        if (!before.isEmpty()) {
            out += before;
            out += QLatin1Char('\n');
        }
        out += QString::fromUtf8(document.toJson(QJsonDocument::Indented));
        pos = close + 1;
        while (pos < record.size() && record.at(pos).isSpace())
            ++pos;
    }
    out += record.mid(pos);
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    return out;
}

} // namespace

namespace PayloadFormat {

QString indentJson(const QString& text)
{
    QStringList parts;
    const QList<QStringView> records = QStringView(text).split(RecordSeparator, Qt::SkipEmptyParts);
    for (QStringView record : records)
        parts.append(indentRecord(record));
    return parts.join(QStringLiteral("\n\n"));
}

QString hexDump(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size() * 5);
    for (qsizetype line = 0; line < bytes.size(); line += BytesPerDumpLine) {
        const QByteArray chunk = bytes.mid(line, BytesPerDumpLine);
        const QString offset = QString::number(line, 16).toUpper().rightJustified(8, QLatin1Char('0'));
        const QString hex = QString::fromLatin1(chunk.toHex(' ').toUpper());
        QString ascii;
        for (char byte : chunk)
            ascii += (byte >= 0x20 && byte < 0x7F) ? QLatin1Char(byte) : QLatin1Char('.');
        out += QStringLiteral("%1  %2  %3\n").arg(offset, hex.leftJustified(BytesPerDumpLine * 3 - 1), ascii);
    }
    out.chop(1);
    return out;
}

QString controlMark(QChar c)
{
    const char16_t code = c.unicode();
    if (code < std::size(ControlNames))
        return QString::fromUtf8(ControlNames[code]);
    if (code == Delete)
        return QStringLiteral("DEL");
    if (code >= FirstC1 && code <= LastC1)
        return QString::number(code, 16).toUpper();
    return QString();
}

} // namespace PayloadFormat

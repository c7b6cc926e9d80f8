// Payload bytes and text in the encodings the user picks, and the hex form. Faults
// guarded:
// - an encoding rule applied to the wrong name (the names are case-sensitive; unknown
//   names fall back to UTF-8), "ASCII" losing high bytes or NUL, "Unicode" with the wrong
//   byte order, a byte-order mark or odd last byte mishandled, GBK/GB2312 bytes wrong;
// - hex text accepted or parsed wrongly (separators, odd digit counts, non-ASCII digits),
//   or written in a form that does not parse back.
#include <QStringEncoder>
#include <QTest>

#include "PayloadCodec.h"

using namespace PayloadCodec;

namespace {

// Differs: neither way may give the other column (the name must not reach that rule).
enum Way { Both, DecodeOnly, EncodeOnly, Differs };

void row(const char* name, const char* encoding, const QString& text, const char* hex, Way way = Both)
{
    QTest::newRow(name) << QString::fromLatin1(encoding) << text << QByteArray::fromHex(hex) << int(way);
}

} // namespace

class TestPayloadCodec : public QObject
{
    Q_OBJECT

private slots:
    void converts_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("way");
        for (const char* name : {"UTF-8", "ASCII", "GBK", "Unicode", "NoSuchCodec"})
            QTest::addRow("empty, %s", name) << QString::fromLatin1(name) << QString() << QByteArray() << int(Both);
        row("utf8", "UTF-8", "中", "E4B8AD");
        row("empty name is utf8", "", "中", "E4B8AD");
        row("unknown name is utf8", "NoSuchCodec", "中", "E4B8AD");
        row("utf8 malformed", "UTF-8", QString(2, QChar::ReplacementCharacter), "C4E3", DecodeOnly);
        row("ascii keeps high bytes", "ASCII", "Äã", "C4E3");
        row("ascii keeps nul", "ASCII", QString("a") + QChar(0) + "b", "610062");
        row("ascii cannot hold chinese", "ASCII", "中", "3F", EncodeOnly);
        row("lower-case ascii is the platform's", "ascii", "Äã", "C4E3", Differs);
        // The supported platform is little-endian, which fixes the raw UTF-16 byte order.
        row("unicode", "Unicode", "中A", "2D4E4100");
        row("unicode surrogate pair", "Unicode", "😀", "3DD800DE");
        row("unicode odd last byte", "Unicode", "A", "410042", DecodeOnly);
        row("unicode le bom", "Unicode", "A", "FFFE4100", DecodeOnly);
        row("unicode be bom", "Unicode", "A", "FEFF0041", DecodeOnly);
        row("lower-case unicode is the platform's", "unicode", "A", "4100", Differs);
        row("gbk", "GBK", "id 中文", "6964 20D6D0CEC4");
        row("gb2312", "GB2312", "中文", "D6D0CEC4");
    }

    void converts()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, way);
        // Where the platform has no such codec the rule falls back to UTF-8 by design.
        if (encoding.startsWith("GB") && !QStringEncoder(encoding.toLatin1().constData()).isValid())
            QSKIP("platform has no codec of this name");
        if (way != EncodeOnly)
            QCOMPARE(decodeBytes(bytes, encoding) == text, way != Differs);
        if (way != DecodeOnly)
            QCOMPARE(encodeString(text, encoding) == bytes, way != Differs);
    }

    void hex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("written"); // the form toHexString writes for these bytes
        QTest::newRow("empty") << "" << false << QByteArray() << true;
        QTest::newRow("written form") << "00 7F AB FF" << true << QByteArray::fromHex("007FABFF") << true;
        QTest::newRow("mixed case, hyphens") << "0a-1B" << true << QByteArray::fromHex("0A1B") << false;
        QTest::newRow("spaced digits") << " 0 A 1 B " << true << QByteArray::fromHex("0A1B") << false;
        QTest::newRow("odd count") << "ABC" << false << QByteArray() << false;
        QTest::newRow("0x prefix") << "0x1F2" << false << QByteArray::fromHex("01F2") << false;
        QTest::newRow("tab and line break") << "AB\tCD\nEF" << false << QByteArray::fromHex("ABCDEF") << false;
        QTest::newRow("letter after F") << "AG" << false << QByteArray() << false;
        QTest::newRow("fullwidth digits") << "１２" << false << QByteArray() << false;
    }

    void hex()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, written);
        QCOMPARE(isValidHexString(text), valid);
        QCOMPARE(parseHexString(text), bytes);
        QCOMPARE(toHexString(bytes) == text, written);
    }
};

QTEST_GUILESS_MAIN(TestPayloadCodec)
#include "tst_payloadcodec.moc"

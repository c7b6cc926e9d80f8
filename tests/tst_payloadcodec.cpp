#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <QTest>

#include "PayloadCodec.h"

using namespace PayloadCodec;

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// GBK and GB2312 come from the platform's codec support; where it has none the
// codec falls back to UTF-8 by design, so the byte checks only make sense with it.
bool platformHasCodec(const QString& name)
{
    return QStringEncoder(name.toLatin1().constData()).isValid();
}

} // namespace

class TestPayloadCodec : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void encode_data();
    void encode();
    void roundTrip_data();
    void roundTrip();
    void namesAreCaseSensitive();
    void hexString_data();
    void hexString();
    void hexOfEveryByteParsesBack();
    void validHex_data();
    void validHex();
    void parseHex_data();
    void parseHex();
};

void TestPayloadCodec::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("expected");

    const QByteArray zhong = QByteArray::fromHex("E4B8AD");
    for (const char* name : {"UTF-8", "ASCII", "GBK", "Unicode", "NoSuchCodec"})
        QTest::addRow("empty bytes, %s", name) << QByteArray() << QString::fromLatin1(name) << QString();

    QTest::newRow("utf8") << zhong << "UTF-8" << u8("中");
    QTest::newRow("utf8 malformed") << QByteArray::fromHex("C4E3") << "UTF-8" << QString(2, QChar(0xFFFD));
    QTest::newRow("empty name is utf8") << zhong << QString() << u8("中");
    QTest::newRow("unknown name is utf8") << zhong << "NoSuchCodec" << u8("中");
    QTest::newRow("ascii keeps high bytes") << QByteArray::fromHex("C4E3") << "ASCII" << u8("Äã");
    QTest::newRow("ascii nul byte") << QByteArray("a\0b", 3) << "ASCII" << QString(u8("a") + QChar(0) + u8("b"));
    // The supported platform is little-endian, which fixes the raw UTF-16 byte order.
    QTest::newRow("unicode") << QByteArray::fromHex("41004200") << "Unicode" << u8("AB");
    QTest::newRow("unicode chinese") << QByteArray::fromHex("2D4E8765") << "Unicode" << u8("中文");
    QTest::newRow("unicode odd last byte") << QByteArray::fromHex("410042") << "Unicode" << u8("A");
    QTest::newRow("unicode single byte") << QByteArray::fromHex("41") << "Unicode" << QString();
    QTest::newRow("unicode le bom") << QByteArray::fromHex("FFFE4100") << "Unicode" << u8("A");
    QTest::newRow("unicode be bom") << QByteArray::fromHex("FEFF0041") << "Unicode" << u8("A");
    QTest::newRow("unicode surrogate pair") << QByteArray::fromHex("3DD800DE") << "Unicode" << u8("😀");
    QTest::newRow("gbk") << QByteArray::fromHex("D6D0CEC4") << "GBK" << u8("中文");
    QTest::newRow("gb2312") << QByteArray::fromHex("D6D0CEC4") << "GB2312" << u8("中文");
    QTest::newRow("gbk ascii part") << QByteArray("id=1 ") + QByteArray::fromHex("D6D0") << "GBK" << u8("id=1 中");
}

void TestPayloadCodec::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, encoding);
    QFETCH(QString, expected);
    if (encoding.startsWith(QLatin1String("GB")) && !bytes.isEmpty() && !platformHasCodec(encoding))
        QSKIP("platform has no codec of this name");
    QCOMPARE(decodeBytes(bytes, encoding), expected);
}

void TestPayloadCodec::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("expected");

    for (const char* name : {"UTF-8", "ASCII", "GBK", "Unicode", "NoSuchCodec"})
        QTest::addRow("empty text, %s", name) << QString() << QString::fromLatin1(name) << QByteArray();

    QTest::newRow("utf8") << u8("中") << "UTF-8" << QByteArray::fromHex("E4B8AD");
    QTest::newRow("empty name is utf8") << u8("中") << QString() << QByteArray::fromHex("E4B8AD");
    QTest::newRow("unknown name is utf8") << u8("中") << "NoSuchCodec" << QByteArray::fromHex("E4B8AD");
    QTest::newRow("ascii is latin1") << u8("é") << "ASCII" << QByteArray::fromHex("E9");
    QTest::newRow("ascii cannot hold chinese") << u8("中") << "ASCII" << QByteArray("?");
    QTest::newRow("unicode without bom") << u8("A") << "Unicode" << QByteArray::fromHex("4100");
    QTest::newRow("unicode chinese") << u8("中") << "Unicode" << QByteArray::fromHex("2D4E");
    QTest::newRow("unicode surrogate pair") << u8("😀") << "Unicode" << QByteArray::fromHex("3DD800DE");
    QTest::newRow("gbk") << u8("中文") << "GBK" << QByteArray::fromHex("D6D0CEC4");
    QTest::newRow("gb2312") << u8("中文") << "GB2312" << QByteArray::fromHex("D6D0CEC4");
}

void TestPayloadCodec::encode()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QByteArray, expected);
    if (encoding.startsWith(QLatin1String("GB")) && !text.isEmpty() && !platformHasCodec(encoding))
        QSKIP("platform has no codec of this name");
    QCOMPARE(encodeString(text, encoding), expected);
}

void TestPayloadCodec::roundTrip_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("text");

    const QString chinese = u8("温度 21.5℃，湿度：60%");
    for (const char* name : {"UTF-8", "GBK", "GB2312", "Unicode"})
        QTest::addRow("%s", name) << QString::fromLatin1(name) << chinese;
    QTest::newRow("UTF-8 emoji") << "UTF-8" << u8("a😀b");
    QTest::newRow("Unicode emoji") << "Unicode" << u8("a😀b");
    QTest::newRow("ASCII latin1") << "ASCII" << u8("Grüße ÿ");
}

void TestPayloadCodec::roundTrip()
{
    QFETCH(QString, encoding);
    QFETCH(QString, text);
    if (encoding.startsWith(QLatin1String("GB")) && !platformHasCodec(encoding))
        QSKIP("platform has no codec of this name");
    QCOMPARE(decodeBytes(encodeString(text, encoding), encoding), text);
}

void TestPayloadCodec::namesAreCaseSensitive()
{
    // Lower-case "unicode" must not select the raw UTF-16 rule, whatever the platform's
    // codec makes of that name.
    QVERIFY(encodeString(u8("A"), u8("unicode")) != QByteArray::fromHex("4100"));
    QVERIFY(decodeBytes(QByteArray::fromHex("4100"), u8("unicode")) != u8("A"));
    // Lower-case "ascii" is not the Latin-1 rule: a named codec or UTF-8 applies.
    QVERIFY(decodeBytes(QByteArray::fromHex("C4E3"), u8("ascii")) != u8("Äã"));
    // "utf-8" goes through the named-codec path, which still yields UTF-8.
    QCOMPARE(decodeBytes(QByteArray::fromHex("E4B8AD"), u8("utf-8")), u8("中"));
}

void TestPayloadCodec::hexString_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("one byte") << QByteArray::fromHex("0A") << u8("0A");
    QTest::newRow("bounds") << QByteArray::fromHex("007FFF") << u8("00 7F FF");
    QTest::newRow("Hello") << QByteArray("Hello") << u8("48 65 6C 6C 6F");
    QTest::newRow("upper case digits") << QByteArray::fromHex("abcdef") << u8("AB CD EF");
}

void TestPayloadCodec::hexString()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(toHexString(bytes), expected);
}

void TestPayloadCodec::hexOfEveryByteParsesBack()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QString hex = toHexString(all);
    QCOMPARE(hex.size(), 3 * 256 - 1);
    QVERIFY(isValidHexString(hex));
    QCOMPARE(parseHexString(hex), all);
    QCOMPARE(parseHexString(hex.toLower()), all);
}

void TestPayloadCodec::validHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("mixed case") << u8("0a1B") << true;
    QTest::newRow("hyphen") << u8("0A-1B") << true;
    QTest::newRow("spaced digits") << u8("0 A 1 B") << true;
    QTest::newRow("separator inside a byte") << u8("A-B") << true;
    QTest::newRow("leading and trailing spaces") << u8(" ff ") << true;
    QTest::newRow("odd count") << u8("ABC") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("spaces only") << u8("  ") << false;
    QTest::newRow("hyphen only") << u8("-") << false;
    QTest::newRow("0x prefix") << u8("0x1F") << false;
    QTest::newRow("comma") << u8("AB,CD") << false;
    QTest::newRow("tab") << u8("AB\tCD") << false;
    QTest::newRow("line break") << u8("AB\nCD") << false;
    QTest::newRow("letter after F") << u8("AG") << false;
    QTest::newRow("latin1 letter") << u8("ÄB") << false;
    QTest::newRow("fullwidth digits") << u8("１２") << false;
}

void TestPayloadCodec::validHex()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidHexString(text), valid);
}

void TestPayloadCodec::parseHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("spaced pair") << u8("0a 1B") << QByteArray::fromHex("0A1B");
    QTest::newRow("spaced digits") << u8("1 2 3 4") << QByteArray::fromHex("1234");
    QTest::newRow("hyphens") << u8("DE-AD-BE-EF") << QByteArray::fromHex("DEADBEEF");
    QTest::newRow("zero byte") << u8("00") << QByteArray(1, '\0');
    QTest::newRow("odd count") << u8("ABC") << QByteArray();
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("no digits") << u8("xyz") << QByteArray();
    QTest::newRow("lenient separators") << u8("AB,CD\tEF\n01") << QByteArray::fromHex("ABCDEF01");
    QTest::newRow("x skipped, odd") << u8("0x1F") << QByteArray();
    QTest::newRow("x skipped, even") << u8("0x1F2") << QByteArray::fromHex("01F2");
}

void TestPayloadCodec::parseHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(parseHexString(text), expected);
}

QTEST_GUILESS_MAIN(TestPayloadCodec)
#include "tst_payloadcodec.moc"

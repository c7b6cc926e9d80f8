#include <QtTest>

#include "ChartRule.h"
#include "ValueExtractor.h"

Q_DECLARE_METATYPE(ExtractMethod)

namespace {

QList<double> feedOne(const QString& text, const ChartRule& rule)
{
    QList<double> values;
    feedText(
        text, [&rule] { return QList<ChartRule>{rule}; },
        [&values](const ChartRule&, double value) { values.append(value); });
    return values;
}

} // namespace

class TestChartExtraction : public QObject
{
    Q_OBJECT

private slots:
    void feedsValues_data();
    void feedsValues();
    void classifiesExpressions_data();
    void classifiesExpressions();
    void everyRuleTakesItsValueInOrder();
};

void TestChartExtraction::feedsValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<ExtractMethod>("method");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QList<double>>("expected");

    const QString nested = QStringLiteral("{\"data\":{\"value\":\"3.5\"}}");
    const QString array = QStringLiteral("{\"a\":[10,20,30]}");

    QTest::newRow("blank parts are no lines") << QStringLiteral("25.5\r\n\r\n30") << RegexCapture
                                              << QStringLiteral("\\d+\\.?\\d*") << QList<double>{25.5, 30};
    QTest::newRow("lone CR and blank lines") << QStringLiteral("  \r 7 \n\t\n8\r") << RegexCapture
                                             << QStringLiteral("\\d+") << QList<double>{7, 8};
    QTest::newRow("first match only") << QStringLiteral("temp=42 temp=43") << RegexCapture
                                      << QStringLiteral("temp=(\\d+)") << QList<double>{42};
    QTest::newRow("no match") << QStringLiteral("abc") << RegexCapture << QStringLiteral("\\d+") << QList<double>{};
    QTest::newRow("group 1 did not take part") << QStringLiteral("x") << RegexCapture << QStringLiteral("(\\d+)|(x)")
                                               << QList<double>{};
    QTest::newRow("invalid expression") << QStringLiteral("12") << RegexCapture << QStringLiteral("(\\d+")
                                        << QList<double>{};
    QTest::newRow("json string converted") << nested << JsonPath << QStringLiteral("data.value") << QList<double>{3.5};
    QTest::newRow("json missing key") << nested << JsonPath << QStringLiteral("data.missing") << QList<double>{};
    QTest::newRow("json object is no number") << nested << JsonPath << QStringLiteral("data") << QList<double>{};
    QTest::newRow("json array index") << array << JsonPath << QStringLiteral("a.2") << QList<double>{30};
    QTest::newRow("json index past end") << array << JsonPath << QStringLiteral("a.3") << QList<double>{};
    QTest::newRow("json negative index") << array << JsonPath << QStringLiteral("a.-1") << QList<double>{};
    QTest::newRow("json index not a number") << array << JsonPath << QStringLiteral("a.x") << QList<double>{};
    QTest::newRow("json root array") << QStringLiteral("[{\"v\":1}]") << JsonPath << QStringLiteral("0.v")
                                     << QList<double>{1};
    QTest::newRow("json numeric key on object") << QStringLiteral("{\"0\":7}") << JsonPath << QStringLiteral("0")
                                                << QList<double>{7};
    QTest::newRow("json true") << QStringLiteral("{\"on\":true}") << JsonPath << QStringLiteral("on")
                               << QList<double>{1.0};
    QTest::newRow("json false") << QStringLiteral("{\"on\":false}") << JsonPath << QStringLiteral("on")
                                << QList<double>{0.0};
    QTest::newRow("json null") << QStringLiteral("{\"n\":null}") << JsonPath << QStringLiteral("n") << QList<double>{};
    QTest::newRow("json trimmed first") << QStringLiteral("   {\"x\":5}  ") << JsonPath << QStringLiteral("x")
                                        << QList<double>{5};
    QTest::newRow("json must start with brace") << QStringLiteral("x={\"x\":5}") << JsonPath << QStringLiteral("x")
                                                << QList<double>{};
    QTest::newRow("json parse error") << QStringLiteral("{\"x\":5") << JsonPath << QStringLiteral("x")
                                      << QList<double>{};
    QTest::newRow("json empty segment") << QStringLiteral("{\"\":4}") << JsonPath << QString() << QList<double>{4};
    QTest::newRow("json scalar has no members") << QStringLiteral("{\"x\":5}") << JsonPath << QStringLiteral("x.y")
                                                << QList<double>{};
    QTest::newRow("assignment") << QStringLiteral("[2] = 7.5") << IndexedAssignment << QStringLiteral("2")
                                << QList<double>{7.5};
    QTest::newRow("assignment first only") << QStringLiteral("[1] = 5 [2] = 7") << IndexedAssignment
                                           << QStringLiteral("2") << QList<double>{};
    QTest::newRow("assignment negative") << QStringLiteral("[2]=-3") << IndexedAssignment << QStringLiteral("2")
                                         << QList<double>{-3};
    QTest::newRow("assignment index not a number") << QStringLiteral("[2] = 7.5") << IndexedAssignment
                                                   << QStringLiteral("two") << QList<double>{};
    QTest::newRow("assignment two points") << QStringLiteral("[2] = 1.2.3") << IndexedAssignment
                                           << QStringLiteral("2") << QList<double>{};
    QTest::newRow("assignment huge index reads 0") << QStringLiteral("[99999999999] = 4") << IndexedAssignment
                                                   << QStringLiteral("0") << QList<double>{4};
    QTest::newRow("presence") << QStringLiteral("ERR 17") << RegexPresence << QStringLiteral("ERR")
                              << QList<double>{1.0};
    QTest::newRow("absence") << QStringLiteral("ok") << RegexPresence << QStringLiteral("ERR") << QList<double>{};
    QTest::newRow("unknown method") << QStringLiteral("12") << static_cast<ExtractMethod>(7) << QStringLiteral("\\d+")
                                    << QList<double>{};
}

void TestChartExtraction::feedsValues()
{
    QFETCH(QString, text);
    QFETCH(ExtractMethod, method);
    QFETCH(QString, pattern);
    QFETCH(QList<double>, expected);

    QCOMPARE(feedOne(text, ChartRule{QStringLiteral("r"), method, pattern}), expected);
}

void TestChartExtraction::classifiesExpressions_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<ExtractMethod>("method");

    QTest::newRow("dotted path") << QStringLiteral("data.value") << JsonPath;
    QTest::newRow("plain key") << QStringLiteral("temperature") << JsonPath;
    QTest::newRow("escaped dot") << QStringLiteral("data\\.value") << RegexCapture;
    QTest::newRow("capture") << QStringLiteral("temp=(\\d+)") << RegexCapture;
    const QString syntax = QStringLiteral("\\[]()|*+?^${}");
    for (const QChar c : syntax)
        QTest::addRow("contains %c", c.toLatin1()) << (QStringLiteral("a") + c) << RegexCapture;
    QTest::newRow("other punctuation") << QStringLiteral("a-b_c:d=e") << JsonPath;
}

void TestChartExtraction::classifiesExpressions()
{
    QFETCH(QString, expression);
    QFETCH(ExtractMethod, method);

    QCOMPARE(methodForExpression(expression), method);
}

void TestChartExtraction::everyRuleTakesItsValueInOrder()
{
    const QList<ChartRule> rules{{QStringLiteral("a"), RegexCapture, QStringLiteral("\\d+")},
                                 {QStringLiteral("b"), RegexPresence, QStringLiteral("x")},
                                 {QStringLiteral("c"), RegexCapture, QStringLiteral("\\d+")}};
    QStringList seen;
    feedText(
        QStringLiteral("x 4\ny 5"), [&rules] { return rules; },
        [&seen](const ChartRule& rule, double value) { seen.append(rule.name + QString::number(value)); });

    QCOMPARE(seen, (QStringList{"a4", "b1", "c4", "a5", "c5"}));
}

QTEST_MAIN(TestChartExtraction)
#include "tst_chart_extraction.moc"

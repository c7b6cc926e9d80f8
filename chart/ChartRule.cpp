#include "ChartRule.h"

#include <QRegularExpression>

ExtractMethod methodForExpression(const QString& expression)
{
    static const QRegularExpression regexSyntax(QStringLiteral("[\\\\\\[\\]\\(\\)\\|\\*\\+\\?\\^\\$\\{\\}]"));
    return expression.contains(regexSyntax) ? RegexCapture : JsonPath;
}

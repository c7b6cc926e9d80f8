// Guards the negotiate step's pure parts against: /negotiate put after the query or
// doubled at a trailing slash, the version dropped or doubled, http/https and ws/wss mixed
// up, the wrong id taken from a version 0 or 1 answer, ids and tokens not percent-encoded,
// redirects, errors and old servers read as connections, and a hub without WebSockets
// accepted.

#include <QTest>

#include "Negotiation.h"

using Negotiation::Answer;

namespace {

// What the client does next with this answer from this address.
QString outcome(const QString& address, const QByteArray& body, const QString& queryToken)
{
    const Answer answer = Negotiation::parseAnswer(body);
    switch (answer.kind) {
    case Answer::Kind::Connect:
        return (answer.webSockets ? QString() : QStringLiteral("without WebSockets "))
               + Negotiation::webSocketUrl(address, answer.connectionToken, queryToken);
    case Answer::Kind::Redirect:
        return QStringLiteral("redirect %1 %2").arg(answer.url, answer.accessToken);
    case Answer::Kind::HubError:
        return QStringLiteral("error ") + answer.error;
    case Answer::Kind::OldServer:
        return QStringLiteral("old server");
    case Answer::Kind::NotNegotiate:
        break;
    }
    return QStringLiteral("not negotiate");
}

const QByteArray V1 = "{\"negotiateVersion\":1,\"connectionId\":\"c\",\"connectionToken\":\"t+1\","
                      "\"availableTransports\":[{\"transport\":\"WebSockets\",\"transferFormats\":[\"Text\",\"Binary\"]}]}";

} // namespace

class TestNegotiation : public QObject
{
    Q_OBJECT

private slots:
    void negotiateStep_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("queryToken");
        QTest::addColumn<QString>("negotiateUrl");
        QTest::addColumn<QString>("next");
        QTest::newRow("ws, v1 takes connectionToken")
            << "ws://h:5000/hub" << V1 << "" << "http://h:5000/hub/negotiate?negotiateVersion=1"
            << "ws://h:5000/hub?id=t%2B1";
        QTest::newRow("https, query and trailing slash, v0 takes connectionId, token in query")
            << "https://h/client/?hub=chat"
            << QByteArray("{\"connectionId\":\"c0\",\"availableTransports\":[{\"transport\":\"WebSockets\"}]}") << "a b&c"
            << "https://h/client/negotiate?hub=chat&negotiateVersion=1"
            << "wss://h/client/?hub=chat&id=c0&access_token=a%20b%26c";
        QTest::newRow("no scheme, version already asked, redirect")
            << "h/hub?negotiateVersion=1" << QByteArray("{\"url\":\"https://x/client/?hub=h\",\"accessToken\":\"tk\"}")
            << "" << "http://h/hub/negotiate?negotiateVersion=1" << "redirect https://x/client/?hub=h tk";
        QTest::newRow("wss root, error") << "wss://h/" << QByteArray("{\"error\":\"Negotiate refused\"}") << ""
                                         << "https://h/negotiate?negotiateVersion=1" << "error Negotiate refused";
        QTest::newRow("old ASP.NET SignalR")
            << "http://h/signalr" << QByteArray("{\"Url\":\"/signalr\",\"ProtocolVersion\":\"1.5\"}") << ""
            << "http://h/signalr/negotiate?negotiateVersion=1" << "old server";
        QTest::newRow("upper-case scheme, no WebSockets")
            << "HTTP://h/hub"
            << QByteArray("{\"negotiateVersion\":1,\"connectionToken\":\"t\",\"availableTransports\":[{\"transport\":\"LongPolling\"}]}")
            << "" << "http://h/hub/negotiate?negotiateVersion=1" << "without WebSockets ws://h/hub?id=t";
        QTest::newRow("v1 without its token") << "ws://h/hub" << QByteArray("{\"negotiateVersion\":1,\"connectionId\":\"c\"}")
                                              << "" << "http://h/hub/negotiate?negotiateVersion=1" << "not negotiate";
        QTest::newRow("a web page") << "ws://h/hub" << QByteArray("<html></html>") << ""
                                    << "http://h/hub/negotiate?negotiateVersion=1" << "not negotiate";
    }

    void negotiateStep()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, answer);
        QFETCH(QString, queryToken);
        QFETCH(QString, negotiateUrl);
        QFETCH(QString, next);
        QCOMPARE(Negotiation::negotiateUrl(address), negotiateUrl);
        QCOMPARE(outcome(address, answer, queryToken), next);
    }
};

QTEST_GUILESS_MAIN(TestNegotiation)
#include "tst_negotiation.moc"

// Guards the negotiate step's pure parts against: /negotiate put after the query or
// doubled at a trailing slash, the version dropped or doubled, http/https and ws/wss mixed
// up, the wrong id taken from a version 0 or 1 answer, ids and tokens not percent-encoded,
// redirects, errors and old servers read as connections, and a hub without WebSockets
// accepted.

#include <QTest>

#include "Negotiation.h"

using Kind = Negotiation::Answer::Kind;

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
        QTest::addColumn<QString>("next"); // what the client does with the answer
        const QString plain = QStringLiteral("http://h/hub/negotiate?negotiateVersion=1");
        QTest::newRow("ws, v1 takes connectionToken")
            << "ws://h:5000/hub" << QByteArray(R"({"connectionId":"c","connectionToken":"t+1","negotiateVersion":1)"
                                               R"(,"availableTransports":[{"transport":"WebSockets"}]})")
            << "" << "http://h:5000/hub/negotiate?negotiateVersion=1" << "ws://h:5000/hub?id=t%2B1";
        QTest::newRow("https, query and trailing slash, v0 takes connectionId, token in query")
            << "https://h/client/?hub=chat" << QByteArray(R"({"connectionId":"c0","availableTransports":[{"transport":"WebSockets"}]})")
            << "a b&c" << "https://h/client/negotiate?hub=chat&negotiateVersion=1"
            << "wss://h/client/?hub=chat&id=c0&access_token=a%20b%26c";
        QTest::newRow("no scheme, version already asked, redirect")
            << "h/hub?negotiateVersion=1" << QByteArray("{\"url\":\"https://x/client/?hub=h\",\"accessToken\":\"tk\"}") << ""
            << plain << "redirect https://x/client/?hub=h tk";
        QTest::newRow("wss root, error") << "wss://h/" << QByteArray(R"({"error":"Negotiate refused"})") << ""
                                         << "https://h/negotiate?negotiateVersion=1" << "error Negotiate refused";
        QTest::newRow("old ASP.NET SignalR") << "http://h/hub" << QByteArray(R"({"Url":"/x","ProtocolVersion":"1.5"})")
                                             << "" << plain << "old server";
        QTest::newRow("upper-case scheme, no WebSockets")
            << "HTTP://h/hub" << QByteArray(R"({"negotiateVersion":1,"connectionToken":"t","availableTransports":[{"transport":"LongPolling"}]})")
            << "" << plain << "without WebSockets ws://h/hub?id=t";
        QTest::newRow("v1 without its token") << "ws://h/hub" << QByteArray(R"({"negotiateVersion":1,"connectionId":"c"})")
                                              << "" << plain << "not negotiate";
        QTest::newRow("a web page") << "ws://h/hub" << QByteArray("<html></html>") << "" << plain << "not negotiate";
    }

    void negotiateStep()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, answer);
        QFETCH(QString, queryToken);
        QFETCH(QString, negotiateUrl);
        QFETCH(QString, next);
        QCOMPARE(Negotiation::negotiateUrl(address), negotiateUrl);
        const Negotiation::Answer a = Negotiation::parseAnswer(answer);
        const QString webSocket = (a.webSockets ? "" : "without WebSockets ")
                                  + Negotiation::webSocketUrl(address, a.connectionToken, queryToken);
        const QMap<Kind, QString> outcomes{{Kind::Connect, webSocket}, {Kind::Redirect, "redirect " + a.url + ' ' + a.accessToken},
                                           {Kind::HubError, "error " + a.error}, {Kind::OldServer, "old server"},
                                           {Kind::NotNegotiate, "not negotiate"}};
        QCOMPARE(outcomes.value(a.kind), next);
    }
};

QTEST_GUILESS_MAIN(TestNegotiation)
#include "tst_negotiation.moc"

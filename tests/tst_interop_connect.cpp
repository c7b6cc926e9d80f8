// Guards the connect pipeline against real ASP.NET Core hubs (tests/interop/ConnectHub):
// negotiate answers of either version misread, redirects not followed or their token not
// used, the negotiate cookie of sticky sessions not carried to the upgrade, the access
// token not reaching an [Authorize] hub by header or query, or reaching the log, extra
// headers lost or malformed ones sent, a refusal that does not say why, a self-signed
// certificate accepted silently or refused although the user accepts it, and a redirect
// loop or a silent negotiate that never ends.

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "ChildProcess.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogLines.h"

namespace {

constexpr int Timeout = ChildProcess::Timeout;
constexpr int NegotiateTimeoutMs = 2000;
// Needs percent-encoding in a query.
const QString Token = QStringLiteral("k0rva+h/ub=");
const QString Handshaken = QStringLiteral("SignalR协议握手成功");
const QString SelfSigned = QStringLiteral("证书错误: The certificate is self-signed, and untrusted");

// The first of `wanted` that is not found in `lines` at or after the line where the one
// before it was (once: in exactly one line), or -1.
qsizetype firstMissing(const QStringList& lines, const QStringList& wanted, bool once)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const QStringList matching = lines.filter(wanted.at(i));
        const qsizetype at = matching.isEmpty() ? -1 : lines.indexOf(matching.first());
        if (at < from || (once && matching.size() != 1))
            return i;
        from = at;
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(ConnectOptions)

class TestInteropConnect : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_certificates;
    std::unique_ptr<ChildProcess> m_hub;

    // The hubs' address for this scheme, or empty.
    QString origin(const QString& scheme) const
    {
        const QString prefix = scheme + QStringLiteral("://");
        const QStringList found = m_hub->after(QStringLiteral("LISTENING ") + prefix);
        return found.isEmpty() ? QString() : prefix + found.first();
    }

private slots:
    // Builds the hubs once into the build tree, again only when their sources change;
    // makes a self-signed certificate for 127.0.0.1 and starts the hubs.
    void initTestCase()
    {
        const QString dotnet = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (dotnet.isEmpty())
            QSKIP("dotnet is not on PATH: the connect interop test needs the .NET SDK");
        const QString dll = builtDotnetApp(dotnet, QFINDTESTDATA("interop/ConnectHub/ConnectHub.csproj"));
        QVERIFY(!dll.isEmpty());
        QStringList arguments{dll, Token};
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (!openssl.isEmpty()) {
            const QString cert = m_certificates.filePath(QStringLiteral("cert.pem"));
            const QString key = m_certificates.filePath(QStringLiteral("key.pem"));
            ChildProcess make(openssl, QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                                      "-days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1")
                                               .split(QLatin1Char(' '))
                                           << "-keyout" << key << "-out" << cert);
            QVERIFY(make.process.waitForFinished(Timeout) && make.process.exitCode() == 0);
            arguments << cert << key;
        }
        m_hub = std::make_unique<ChildProcess>(dotnet, arguments);
        QTRY_VERIFY2_WITH_TIMEOUT(!origin("http").isEmpty(), qPrintable(m_hub->transcript()), Timeout);
    }

    void cleanupTestCase() { m_hub.reset(); }

    void connect_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("path");
        QTest::addColumn<ConnectOptions>("options"); // negotiate, token, in query, headers, ignore errors
        QTest::addColumn<QStringList>("logged");      // in order, each in exactly one entry
        QTest::addColumn<QStringList>("serverSaw");   // in order
        const QString bearer = QStringLiteral(" (请求头: Authorization: Bearer ***");

        QTest::newRow("negotiate v1, token and header on both requests")
            << false << "/secure" << ConnectOptions{true, Token, false, {"X-Trace: abc"}, false}
            << QStringList{"协商: POST http", "/secure/negotiate?negotiateVersion=1" + bearer + ", X-Trace)",
                           "协商应答: 版本 1, connectionId ", "WebSockets (Text, Binary)", "/secure?id=", Handshaken}
            << QStringList{"POST /secure/negotiate auth=header trace=abc affinity=-",
                           "GET /secure auth=header trace=abc affinity=server-1"};
        QTest::newRow("negotiate v0: the connection id is the WebSocket's id")
            << false << "/v0" << ConnectOptions{true} << QStringList{"协商应答: 版本 0", "/v0?id=", Handshaken}
            << QStringList{"POST /v0/negotiate auth=none trace=-", "GET /v0 auth=none trace=-"};
        QTest::newRow("redirect chain, its token in the query")
            << false << "/redirect" << ConnectOptions{true, QString(), true}
            << QStringList{"/redirect/negotiate?negotiateVersion=1", "协商重定向 1/100: http",
                           "redirect2/，改用应答中的访问令牌", "/redirect2/negotiate?negotiateVersion=1" + bearer + ")",
                           "协商重定向 2/100: ", "/secure/negotiate?hub=chat&negotiateVersion=1" + bearer + ")",
                           "/secure?hub=chat&id=", "&access_token=***...", Handshaken}
            << QStringList{"POST /redirect/negotiate auth=none", "POST /redirect2/negotiate auth=header",
                           "POST /secure/negotiate auth=header", "GET /secure auth=query"};
        QTest::newRow("direct, token in the query, malformed headers refused")
            << false << "/secure" << ConnectOptions{false, Token, true, {"X-Trace: abc", " ", "no colon", "Bad Name: v"}}
            << QStringList{"未发送: no colon", "未发送: Bad Name: v", "/secure?access_token=***... (请求头: X-Trace)", Handshaken}
            << QStringList{"GET /secure auth=query trace=abc"};
        QTest::newRow("negotiate refused without a token")
            << false << "/secure" << ConnectOptions{true} << QStringList{"协商失败: HTTP 401 Unauthorized，访问令牌缺失或被拒绝"}
            << QStringList{"POST /secure/negotiate auth=none"};
        QTest::newRow("upgrade refused without a token")
            << false << "/secure" << ConnectOptions{} << QStringList{"连接错误: ", "status code: 401 (Unauthorized)，访问令牌缺失或被拒绝"}
            << QStringList{"GET /secure auth=none"};
        QTest::newRow("redirect loop") << false << "/loop" << ConnectOptions{true}
                                       << QStringList{"协商重定向 100/100", "协商失败: 重定向超过 100 次"}
                                       << QStringList{"POST /loop/negotiate"};
        QTest::newRow("silent negotiate") << false << "/silent" << ConnectOptions{true}
                                          << QStringList{"协商失败: 2 秒内没有应答 (超时)"} << QStringList();
        QTest::newRow("wss, self-signed refused") << true << "/open" << ConnectOptions{}
                                                  << QStringList{SelfSigned, "连接错误: ", "证书不受信任"} << QStringList();
        QTest::newRow("https negotiate, self-signed refused") << true << "/open" << ConnectOptions{true}
                                                              << QStringList{SelfSigned, "协商失败: ", "证书不受信任"} << QStringList();
        QTest::newRow("self-signed accepted when ticked, logged once")
            << true << "/open" << ConnectOptions{true, Token, false, {}, true}
            << QStringList{"已忽略" + SelfSigned, "协商应答: 版本 1", "正在连接 wss://", Handshaken}
            << QStringList{"POST /open/negotiate auth=header", "GET /open auth=header"};
    }

    void connect()
    {
        QFETCH(bool, tls);
        QFETCH(QString, path);
        QFETCH(ConnectOptions, options);
        QFETCH(QStringList, logged);
        QFETCH(QStringList, serverSaw);
        const QString address = origin(tls ? "https" : "http");
        if (address.isEmpty())
            QSKIP("openssl is not on PATH: no certificate for the TLS hub");
        CommunicationBase log;
        HubClient client(&log);
        client.setNegotiateTimeout(NegotiateTimeoutMs);
        client.setConnectOptions(options);
        const qsizetype seen = m_hub->lines.size();
        client.open(address + path);

        QTRY_VERIFY2_WITH_TIMEOUT(logLines(&log).join(QLatin1Char('\n')).contains(logged.last()),
                                  qPrintable(logLines(&log).join(QLatin1Char('\n'))), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(firstMissing(m_hub->lines.mid(seen), serverSaw, false), qsizetype(-1), Timeout);
        const QStringList lines = logLines(&log);
        QVERIFY2(firstMissing(lines, logged, true) < 0, qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(lines.filter(Token).isEmpty() && lines.filter(QString::fromLatin1(QUrl::toPercentEncoding(Token))).isEmpty());
        client.close();
    }
};

QTEST_GUILESS_MAIN(TestInteropConnect)
#include "tst_interop_connect.moc"

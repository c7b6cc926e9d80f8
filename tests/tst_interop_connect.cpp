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

#include <algorithm>
#include <memory>

#include "ChildProcess.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogLines.h"

namespace {

constexpr int Timeout = ChildProcess::Timeout;
const QString Token = QStringLiteral("k0rva+h/ub="); // needs percent-encoding in a query
const QString Handshaken = QStringLiteral("SignalR协议握手成功");
const QString SelfSigned = QStringLiteral("证书错误: The certificate is self-signed, and untrusted");

// Whether each of `wanted` is found in `lines` at or after the line of the one before it
// (once: in exactly one line).
bool inOrder(const QStringList& lines, const QStringList& wanted, bool once)
{
    auto from = lines.begin();
    for (const QString& text : wanted) {
        from = std::find_if(from, lines.end(), [&text](const QString& line) { return line.contains(text); });
        if (from == lines.end() || (once && lines.filter(text).size() != 1))
            return false;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(ConnectOptions)

class TestInteropConnect : public QObject
{
    Q_OBJECT

    QTemporaryDir m_certificates;
    std::unique_ptr<ChildProcess> m_hub;

private slots:
    // Builds the hubs (again only when their sources change), makes a self-signed
    // certificate for 127.0.0.1 and starts the hubs.
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
            arguments << m_certificates.filePath("cert.pem") << m_certificates.filePath("key.pem");
            ChildProcess make(openssl, QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                                      "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1").split(' ')
                                           << "-out" << arguments[2] << "-keyout" << arguments[3]);
            QVERIFY(make.process.waitForFinished(Timeout) && make.process.exitCode() == 0);
        }
        m_hub = std::make_unique<ChildProcess>(dotnet, arguments);
        QTRY_VERIFY2_WITH_TIMEOUT(!m_hub->after("LISTENING http://").isEmpty(), qPrintable(m_hub->transcript()), Timeout);
    }

    void cleanupTestCase() { m_hub.reset(); }

    void connect_data()
    {
        QTest::addColumn<QString>("address");          // scheme and path
        QTest::addColumn<ConnectOptions>("options");   // negotiate, token, in query, headers, ignore errors
        QTest::addColumn<QStringList>("logged");       // in order, each in exactly one entry
        QTest::addColumn<QStringList>("serverSaw");    // in order
        const QString bearer = QStringLiteral(" (请求头: Authorization: Bearer ***");
        QTest::newRow("negotiate v1, token and header on both requests")
            << "http/secure" << ConnectOptions{true, Token, false, {"X-Trace: abc"}, false}
            << QStringList{"协商: POST http", "/secure/negotiate?negotiateVersion=1" + bearer + ", X-Trace)",
                           "协商应答: 版本 1, connectionId ", "WebSockets (Text, Binary)", "/secure?id=", Handshaken}
            << QStringList{"POST /secure/negotiate auth=header trace=abc affinity=-", "GET /secure auth=header trace=abc affinity=server-1"};
        QTest::newRow("negotiate v0: the connection id is the WebSocket's id")
            << "http/v0" << ConnectOptions{true} << QStringList{"协商应答: 版本 0", "/v0?id=", Handshaken}
            << QStringList{"POST /v0/negotiate auth=none trace=-", "GET /v0 auth=none trace=-"};
        QTest::newRow("redirect chain, its token in the query")
            << "http/redirect" << ConnectOptions{true, QString(), true}
            << QStringList{"/redirect/negotiate?negotiateVersion=1", "协商重定向 1/100: http", "redirect2/，改用应答中的访问令牌",
                           "/redirect2/negotiate?negotiateVersion=1" + bearer + ")", "协商重定向 2/100: ",
                           "/secure/negotiate?hub=chat&negotiateVersion=1" + bearer + ")", "/secure?hub=chat&id=", "&access_token=***...", Handshaken}
            << QStringList{"POST /redirect/negotiate auth=none", "POST /redirect2/negotiate auth=header",
                           "POST /secure/negotiate auth=header", "GET /secure auth=query"};
        QTest::newRow("direct, token in the query, malformed headers refused")
            << "http/secure" << ConnectOptions{false, Token, true, {"X-Trace: abc", " ", "no colon", "Bad Name: v"}}
            << QStringList{"未发送: no colon", "未发送: Bad Name: v", "/secure?access_token=***... (请求头: X-Trace)", Handshaken}
            << QStringList{"GET /secure auth=query trace=abc"};
        QTest::newRow("negotiate refused without a token") << "http/secure" << ConnectOptions{true}
            << QStringList{"协商失败: HTTP 401 Unauthorized，访问令牌缺失或被拒绝"} << QStringList{"POST /secure/negotiate auth=none"};
        QTest::newRow("upgrade refused without a token") << "http/secure" << ConnectOptions{}
            << QStringList{"连接错误: ", "status code: 401 (Unauthorized)，访问令牌缺失或被拒绝"} << QStringList{"GET /secure auth=none"};
        QTest::newRow("redirect loop") << "http/loop" << ConnectOptions{true}
            << QStringList{"协商重定向 100/100", "协商失败: 重定向超过 100 次"} << QStringList{"POST /loop/negotiate"};
        QTest::newRow("silent negotiate") << "http/silent" << ConnectOptions{true} << QStringList{"协商失败: 2 秒内没有应答 (超时)"} << QStringList();
        QTest::newRow("wss, self-signed refused") << "https/open" << ConnectOptions{}
            << QStringList{SelfSigned, "连接错误: ", "证书不受信任"} << QStringList();
        QTest::newRow("https negotiate, self-signed refused") << "https/open" << ConnectOptions{true}
            << QStringList{SelfSigned, "协商失败: ", "证书不受信任"} << QStringList();
        QTest::newRow("self-signed accepted when ticked, logged once") << "https/open" << ConnectOptions{true, Token, false, {}, true}
            << QStringList{"已忽略" + SelfSigned, "协商应答: 版本 1", "正在连接 wss://", Handshaken}
            << QStringList{"POST /open/negotiate auth=header", "GET /open auth=header"};
    }

    void connect()
    {
        QFETCH(QString, address);
        QFETCH(ConnectOptions, options);
        QFETCH(QStringList, logged);
        QFETCH(QStringList, serverSaw);
        const QString scheme = address.section('/', 0, 0);
        const QStringList origin = m_hub->after("LISTENING " + scheme + "://");
        if (origin.isEmpty())
            QSKIP("openssl is not on PATH: no certificate for the TLS hub");
        CommunicationBase log;
        HubClient client(&log);
        client.setNegotiateTimeout(2000);
        client.setConnectOptions(options);
        const qsizetype seen = m_hub->lines.size();
        client.open(scheme + "://" + origin.first() + address.mid(scheme.size()));
        const auto transcript = [&log] { return logLines(&log).join('\n'); };
        QTRY_VERIFY2_WITH_TIMEOUT(transcript().contains(logged.last()), qPrintable(transcript()), Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(inOrder(m_hub->lines.mid(seen), serverSaw, false), Timeout);
        QVERIFY2(inOrder(logLines(&log), logged, true), qPrintable(transcript()));
        QVERIFY(!transcript().contains(Token) && !transcript().contains(QString::fromLatin1(QUrl::toPercentEncoding(Token))));
        client.close();
    }
};

QTEST_GUILESS_MAIN(TestInteropConnect)
#include "tst_interop_connect.moc"

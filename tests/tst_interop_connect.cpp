// Guards the connect pipeline against real ASP.NET Core hubs (tests/interop/ConnectHub):
// negotiate answers of either version misread, redirects not followed or their token not
// used, the access token not reaching an [Authorize] hub by header or query, or reaching
// the log, extra headers lost or malformed ones sent, a refusal that does not say why, a
// self-signed certificate accepted silently or refused although the user accepts it, and
// a redirect loop or a silent negotiate that never ends.

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "CommunicationBase.h"
#include "HubClient.h"
#include "LogLines.h"

namespace {

constexpr int BuildTimeoutMs = 300000; // a first build on a busy two-core machine
constexpr int Timeout = 20000;
constexpr int NegotiateTimeoutMs = 2000;
// Needs percent-encoding in a query.
const QString Token = QStringLiteral("k0rva+h/ub=");
const QString Handshaken = QStringLiteral("SignalR协议握手成功");
const QString SelfSigned = QStringLiteral("证书错误: The certificate is self-signed, and untrusted");

QProcessEnvironment dotnetEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DOTNET_CLI_TELEMETRY_OPTOUT"), QStringLiteral("1"));
    env.insert(QStringLiteral("DOTNET_NOLOGO"), QStringLiteral("1"));
    return env;
}

bool builtAfterSources(const QString& dll, const QString& projectDir)
{
    const QFileInfo built(dll);
    QDirIterator it(projectDir, {QStringLiteral("*.cs"), QStringLiteral("*.csproj")}, QDir::Files);
    while (built.exists() && it.hasNext()) {
        if (QFileInfo(it.next()).lastModified() > built.lastModified())
            return false;
    }
    return built.exists();
}

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

struct HubProcess
{
    QProcess process;
    QStringList lines;

    HubProcess()
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
        });
    }
    ~HubProcess()
    {
        process.terminate(); // ASP.NET Core shuts down on SIGTERM
        if (!process.waitForFinished(Timeout))
            process.kill();
    }
    QString listening(const char* scheme) const
    {
        const QStringList found = lines.filter(QStringLiteral("LISTENING %1://").arg(QLatin1String(scheme)));
        return found.isEmpty() ? QString() : found.first().section(QLatin1Char(' '), 1);
    }
};

} // namespace

class TestInteropConnect : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_certificates;
    std::unique_ptr<HubProcess> m_hub;

private slots:
    // Builds the hubs once into the build tree, again only when their sources change;
    // makes a self-signed certificate for 127.0.0.1 and starts the hubs.
    void initTestCase()
    {
        const QString dotnet = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (dotnet.isEmpty())
            QSKIP("dotnet is not on PATH: the connect interop test needs the .NET SDK");
        const QString project = QFINDTESTDATA("interop/ConnectHub/ConnectHub.csproj");
        QVERIFY(!project.isEmpty());
        const QString outDir = QCoreApplication::applicationDirPath() + QStringLiteral("/interop-connecthub");
        const QString dll = outDir + QStringLiteral("/bin/ConnectHub.dll");
        if (!builtAfterSources(dll, QFileInfo(project).absolutePath())) {
            QProcess build;
            build.setProcessEnvironment(dotnetEnvironment());
            build.setProcessChannelMode(QProcess::MergedChannels);
            // --artifacts-path keeps obj/ out of the source tree; no build server may
            // outlive the test.
            build.start(dotnet, {QStringLiteral("build"), project, QStringLiteral("-c"), QStringLiteral("Release"),
                                 QStringLiteral("-o"), outDir + QStringLiteral("/bin"), QStringLiteral("--artifacts-path"),
                                 outDir + QStringLiteral("/artifacts"), QStringLiteral("--disable-build-servers"),
                                 QStringLiteral("-nologo"), QStringLiteral("-v:q")});
            const bool built = build.waitForFinished(BuildTimeoutMs) && build.exitCode() == 0;
            QVERIFY2(built && QFileInfo::exists(dll), build.readAll().constData());
        }

        QStringList arguments{dll, Token};
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (!openssl.isEmpty()) {
            const QString cert = m_certificates.filePath(QStringLiteral("cert.pem"));
            const QString key = m_certificates.filePath(QStringLiteral("key.pem"));
            QProcess make;
            make.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                                 QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                                 QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("2"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                                 QStringLiteral("subjectAltName=IP:127.0.0.1")});
            QVERIFY2(make.waitForFinished(Timeout) && make.exitCode() == 0, make.readAllStandardError().constData());
            arguments << cert << key;
        }
        m_hub = std::make_unique<HubProcess>();
        m_hub->process.setProcessEnvironment(dotnetEnvironment());
        m_hub->process.start(dotnet, arguments);
        QTRY_VERIFY2_WITH_TIMEOUT(!m_hub->listening("http").isEmpty() || m_hub->process.state() == QProcess::NotRunning,
                                  qPrintable(m_hub->lines.join(QLatin1Char('\n'))), Timeout);
        QVERIFY2(!m_hub->listening("http").isEmpty(), m_hub->process.readAllStandardError().constData());
    }

    void cleanupTestCase() { m_hub.reset(); }

    void connect_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("negotiate");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("tokenInQuery");
        QTest::addColumn<QStringList>("headers");
        QTest::addColumn<bool>("ignoreCertificates");
        QTest::addColumn<QStringList>("logged");    // in order, each in exactly one entry
        QTest::addColumn<QStringList>("serverSaw"); // in order
        const QStringList none;
        const QString bearer = QStringLiteral(" (请求头: Authorization: Bearer ***");

        QTest::newRow("negotiate v1, token and header on both requests")
            << false << "/secure" << true << Token << false << QStringList{"X-Trace: abc"} << false
            << QStringList{"协商: POST http", "/secure/negotiate?negotiateVersion=1" + bearer + ", X-Trace)",
                           "协商成功: 版本 1, connectionId ", "WebSockets (Text, Binary)", "/secure?id=", Handshaken}
            << QStringList{"POST /secure/negotiate auth=header trace=abc", "GET /secure auth=header trace=abc"};
        QTest::newRow("negotiate v0: the connection id is the WebSocket's id")
            << false << "/v0" << true << QString() << false << none << false
            << QStringList{"协商成功: 版本 0", "/v0?id=", Handshaken}
            << QStringList{"POST /v0/negotiate auth=none trace=-", "GET /v0 auth=none trace=-"};
        QTest::newRow("redirect chain, its token in the query")
            << false << "/redirect" << true << QString() << true << none << false
            << QStringList{"/redirect/negotiate?negotiateVersion=1", "协商重定向 1/100: http",
                           "redirect2/，改用应答中的访问令牌", "/redirect2/negotiate?negotiateVersion=1" + bearer + ")",
                           "协商重定向 2/100: ", "/secure/negotiate?hub=chat&negotiateVersion=1" + bearer + ")",
                           "/secure?hub=chat&id=", "&access_token=***...", Handshaken}
            << QStringList{"POST /redirect/negotiate auth=none", "POST /redirect2/negotiate auth=header",
                           "POST /secure/negotiate auth=header", "GET /secure auth=query"};
        QTest::newRow("direct, token in the query, a malformed header refused")
            << false << "/secure" << false << Token << true << QStringList{"X-Trace: abc", "", "no colon here"} << false
            << QStringList{"请求头格式错误，未发送: no colon here", "/secure?access_token=***... (请求头: X-Trace)", Handshaken}
            << QStringList{"GET /secure auth=query trace=abc"};
        QTest::newRow("negotiate refused without a token")
            << false << "/secure" << true << QString() << false << none << false
            << QStringList{"协商失败: HTTP 401 Unauthorized，访问令牌缺失或被拒绝"}
            << QStringList{"POST /secure/negotiate auth=none"};
        QTest::newRow("upgrade refused without a token")
            << false << "/secure" << false << QString() << false << none << false
            << QStringList{"连接错误: ", "status code: 401 (Unauthorized)，访问令牌缺失或被拒绝"}
            << QStringList{"GET /secure auth=none"};
        QTest::newRow("redirect loop")
            << false << "/loop" << true << QString() << false << none << false
            << QStringList{"协商重定向 100/100", "协商失败: 重定向超过 100 次"} << QStringList{"POST /loop/negotiate"};
        QTest::newRow("silent negotiate") << false << "/silent" << true << QString() << false << none << false
                                          << QStringList{"协商失败: 2 秒内没有应答 (超时)"} << none;
        QTest::newRow("wss, self-signed refused") << true << "/open" << false << QString() << false << none << false
                                                  << QStringList{SelfSigned, "连接错误: ", "证书不受信任"} << none;
        QTest::newRow("https negotiate, self-signed refused")
            << true << "/open" << true << QString() << false << none << false
            << QStringList{SelfSigned, "协商失败: ", "证书不受信任"} << none;
        QTest::newRow("self-signed accepted when ticked, logged once")
            << true << "/open" << true << Token << false << none << true
            << QStringList{"已忽略" + SelfSigned, "协商成功: 版本 1", "正在连接 wss://", Handshaken}
            << QStringList{"POST /open/negotiate auth=header", "GET /open auth=header"};
    }

    void connect()
    {
        QFETCH(bool, tls);
        QFETCH(QString, path);
        QFETCH(QStringList, logged);
        QFETCH(QStringList, serverSaw);
        const QString origin = m_hub->listening(tls ? "https" : "http");
        if (origin.isEmpty())
            QSKIP("openssl is not on PATH: no certificate for the TLS hub");
        ConnectOptions options;
        QFETCH(bool, negotiate);
        QFETCH(QString, token);
        QFETCH(bool, tokenInQuery);
        QFETCH(QStringList, headers);
        QFETCH(bool, ignoreCertificates);
        options.negotiate = negotiate;
        options.accessToken = token;
        options.tokenInQuery = tokenInQuery;
        options.headerLines = headers;
        options.ignoreCertificateErrors = ignoreCertificates;

        CommunicationBase log;
        HubClient client(&log);
        client.setNegotiateTimeout(NegotiateTimeoutMs);
        client.setConnectOptions(options);
        const qsizetype seen = m_hub->lines.size();
        client.open(origin + path);

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

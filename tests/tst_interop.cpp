// Guards Korvahub's hub ends against disagreeing with the official SignalR implementations:
// the ASP.NET Core hubs and the .NET client of tests/interop/Peers (built once, started
// once per run) and the JavaScript client of tests/interop/node/client.mjs.
// - The simulated hub failing the official clients: Echo answered and pushed, a push meant
//   for one client that a bystander gets too, a stop, the call and the leaving not logged;
//   the JavaScript client through a silence longer than its server time-out that only the
//   hub's pings bridge, in MessagePack (Echo with a map, the Counter stream), and, like the
//   .NET client, with default options (negotiate once, then its token as the id) calling a
//   method only auto-reply rules answer.
// - The connect pipeline: negotiate answers of either version misread, redirects not
//   followed or their token not used, the sticky-session cookie of negotiate not carried to
//   the upgrade, the access token not reaching a hub that wants it by header or query, or
//   reaching the log, extra headers lost or malformed ones sent, a refusal that does not say
//   why, a self-signed certificate accepted silently, refused although the user accepts it
//   or not logged once, and a redirect loop or a silent negotiate that never ends.
// - The hub client reading a real hub, in JSON and from a hub that speaks only MessagePack:
//   results, hub errors, pushes, stream items and completions losing their text, id or round
//   trip; maps, numbers, timestamps and bytes misread in rows or chart texts; a client-result
//   request left hanging; a cancellation the hub never sees.
// - Keep-alive and closes: the client's pings not reaching the hub well within its 2 s
//   time-out all through a silence (the control: the hub drops it once they stop), the hub's
//   pings not holding off the client's time-out, a close allowing reconnecting that does not
//   reconnect and resubscribe, one forbidding it that is not final, a silent hub never given
//   up or the hub not seeing the client go.
// Intervals are short so that keep-alive shows in seconds. Each case skips with one line
// when its runtime (dotnet; node with tests/interop/node/node_modules) is missing.

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <memory>

#include "CommunicationBase.h"
#include "HubClient.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "SimulatedHub.h"

namespace {

constexpr int Timeout = 20000;      // a runtime starting on a busy machine
constexpr int KeepAliveMs = 500;    // quiet time after which Korvahub's ends ping
constexpr int PeerTimeoutMs = 2000; // the real peers' time-out for a silent other end
constexpr int SilenceMs = 5000;
const QString Token = QStringLiteral("k0rva+h/ub="); // needs percent-encoding in a query
const QString Handshaken = QStringLiteral("SignalR协议握手成功");
const QString SelfSigned = QStringLiteral("证书错误: The certificate is self-signed, and untrusted");

// A real peer run as a program: its standard output read line by line (standard error goes
// to the test's own), killed however the test ends.
struct ChildProcess
{
    QProcess process;
    QStringList lines;

    ChildProcess(const QString& program, const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
        });
        process.start(program, arguments);
    }
    ~ChildProcess()
    {
        process.kill();
        process.waitForFinished(Timeout);
    }
    // The rest of each line from the `from`-th on that starts with `prefix`.
    QStringList after(const QString& prefix, qsizetype from = 0) const
    {
        QStringList found;
        for (const QString& line : lines.mid(from))
            if (line.startsWith(prefix))
                found.append(line.mid(prefix.size()));
        return found;
    }
    QString transcript() const { return lines.join(QLatin1Char('\n')); }
};

// Builds tests/interop/Peers under the build tree, again only when its sources are newer;
// the path of its DLL, or empty when the build failed.
QString builtPeers(const QString& dotnet)
{
    const QFileInfo project(QFINDTESTDATA("interop/Peers/Peers.csproj"));
    const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/interop-peers");
    const QFileInfo dll(out + QStringLiteral("/bin/Peers.dll"));
    if (dll.exists()
        && dll.lastModified() >= project.dir().entryInfoList({"*.cs", "*.csproj"}, QDir::Files, QDir::Time).first().lastModified())
        return dll.filePath();
    qputenv("DOTNET_CLI_TELEMETRY_OPTOUT", "1"); // nothing leaves the machine
    // --artifacts-path keeps obj/ out of the source tree; no build server may outlive the test.
    ChildProcess build(dotnet, {"build", project.filePath(), "-c", "Release", "-o", out + "/bin", "--artifacts-path",
                                out + "/artifacts", "--disable-build-servers", "-nologo", "-v:q"});
    constexpr int BuildTimeoutMs = 300000; // a first build on a busy two-core machine
    if (build.process.waitForFinished(BuildTimeoutMs) && build.process.exitCode() == 0)
        return dll.filePath();
    qWarning("%s", qPrintable(build.transcript()));
    return QString();
}

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

// A hub client with its log and chart texts, pinging after KeepAliveMs of quiet.
struct Client
{
    CommunicationBase log;
    HubClient hub{&log};
    QSignalSpy disconnected{&hub, &HubClient::disconnected};
    QStringList charted;

    Client()
    {
        hub.setKeepAliveInterval(KeepAliveMs);
        QObject::connect(&hub, &HubClient::argumentReceived, &hub, [this](const QString& text) { charted.append(text); });
    }
    QString transcript() const { return logLines(&log).join('\n'); }
    // Waits for a row that reads `text` as a whole, "%ms" standing for a round trip and
    // "%id" for an id.
    bool row(const QString& text)
    {
        const QRegularExpression whole(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(text)
                .replace(QLatin1String("\\%ms"), QLatin1String(" \\(\\d+ ms\\)"))
                .replace(QLatin1String("\\%id"), QLatin1String("\\w+"))));
        return QTest::qWaitFor([&] { return !logLines(&log).filter(whole).isEmpty(); }, Timeout);
    }
};

} // namespace

Q_DECLARE_METATYPE(ConnectOptions)

class TestInterop : public QObject
{
    Q_OBJECT

    QString m_node; // empty without node or the packages of tests/interop/node
    QString m_dotnet;
    QString m_peersDll;
    std::unique_ptr<ChildProcess> m_peers; // empty without dotnet
    QString m_ws;                          // ws://127.0.0.1:port of the peers' hubs
    qsizetype m_seen = 0;                  // lines the peers printed before the current case

    // Waits for a line of the peers, printed during the current case, that starts with `prefix`.
    bool peersSaid(const QString& prefix)
    {
        return QTest::qWaitFor([&] { return !m_peers->after(prefix, m_seen).isEmpty(); }, Timeout);
    }
    // The n-th (0-based) connection the hubs took during the current case, once they say so.
    QString connection(int n)
    {
        (void)QTest::qWaitFor([&] { return m_peers->after("CONNECTED ", m_seen).size() > n; }, Timeout);
        return m_peers->after("CONNECTED ", m_seen).value(n);
    }

private slots:
    void initTestCase()
    {
        if (QDir(QFINDTESTDATA("interop/node")).exists(QStringLiteral("node_modules/@microsoft/signalr-protocol-msgpack")))
            m_node = QStandardPaths::findExecutable(QStringLiteral("node"));
        m_dotnet = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (m_dotnet.isEmpty())
            return;
        QVERIFY(!(m_peersDll = builtPeers(m_dotnet)).isEmpty());
        m_peers = std::make_unique<ChildProcess>(m_dotnet, QStringList{m_peersDll, Token});
        QTRY_VERIFY2_WITH_TIMEOUT(m_peers->after("LISTENING ").size() == 2, qPrintable(m_peers->transcript()), Timeout);
        m_ws = "ws://" + m_peers->after("LISTENING http://").first();
    }

    void init()
    {
        m_seen = m_peers ? m_peers->lines.size() : 0;
        // The JavaScript client's cases need node instead of the peers.
        const bool javaScript = QByteArray(QTest::currentDataTag()).startsWith("javascript");
        if (javaScript ? m_node.isEmpty() : !m_peers)
            QSKIP(javaScript ? "needs node and tests/interop/node/node_modules (scripts/setup-interop.sh)"
                             : "needs the .NET SDK (dotnet) for tests/interop/Peers");
    }

    void officialClients_data()
    {
        QTest::addColumn<QString>("mode");           // of client.mjs, or "client" of Peers: the .NET client
        QTest::addColumn<QStringList>("printed");    // in any order: a push may pass a completion
        QTest::addColumn<QStringList>("loggedOnce"); // each in exactly one entry of the hub's log
        const QString map = QStringLiteral(R"({"name":"korva","values":[1,2.5,true]})");
        const QStringList stopped{"ready", "push Private for-you", "stopped Disconnected"};
        const QStringList app = stopped + QStringList{"echo hello", "push Echo hello", "push Notify configured", R"(result {"level":3})"};
        const QStringList negotiatedOnce{"POST /debughub/negotiate?negotiateVersion=1 → 200", "\"target\":\"GetConfig\""};
        QTest::newRow("javascript, a silence") << "session" << stopped + QStringList{"echo hello", "push Echo hello"}
            << QStringList{R"(RX {"target":"Echo","arguments":["hello"],"invocationId":"0","type":1})"};
        QTest::newRow("javascript, MessagePack") << "msgpack" << stopped + QStringList{"echo " + map, "push Echo " + map, "stream 0,1,2"}
            << QStringList{R"(RX {"arguments":[)" + map + R"(],"invocationId":"0","target":"Echo","type":1})"};
        QTest::newRow("javascript application") << "app" << app << negotiatedOnce;
        QTest::newRow("dotnet application") << "client" << app << negotiatedOnce;
    }

    void officialClients()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, printed);
        QFETCH(QStringList, loggedOnce);
        CommunicationBase log;
        SimulatedHub hub(&log);
        hub.setKeepAliveInterval(KeepAliveMs);
        AutoReplyRules rules;
        rules.add({"getconfig", AutoReplyRule::Action::Return, {}, "{\"level\":3}"});
        rules.add({"GetConfig", AutoReplyRule::Action::PushToCaller, "Notify", "\"configured\""});
        hub.setAutoReplies(rules);
        QVERIFY(hub.listen(0, QStringLiteral("/debughub")));
        QSignalSpy joined(&hub, &SimulatedHub::peerJoined);
        HubTestKit::Peer bystander(hub.port()); // must not get the other client's push
        QVERIFY(bystander.handshake());

        const bool dotnet = mode == "client";
        ChildProcess client(dotnet ? m_dotnet : m_node, {dotnet ? m_peersDll : QFINDTESTDATA("interop/node/client.mjs"), mode,
                            QStringLiteral("http://127.0.0.1:%1/debughub").arg(hub.port()), QString::number(PeerTimeoutMs),
                            QString::number(SilenceMs)});
        QSignalSpy finished(&client.process, &QProcess::finished);
        QTRY_VERIFY2_WITH_TIMEOUT(client.lines.contains("ready"), qPrintable(client.transcript()), Timeout);
        const QString id = joined.last().first().toString();
        QVERIFY(hub.sendTo(id, QStringLiteral("Private"), "for-you"));
        QVERIFY2(finished.wait(SilenceMs + Timeout) && client.process.exitCode() == 0, qPrintable(client.transcript()));

        // Connected all through the silence, on enough of the hub's pings.
        const QStringList silent = client.after(QStringLiteral("silent Connected pings "));
        QVERIFY2(mode != "session" || silent.value(0).toInt() >= SilenceMs / KeepAliveMs / 2, qPrintable(client.transcript()));
        QStringList seen = client.lines.filter(QRegularExpression(QStringLiteral("^(?!silent )")));
        seen.sort();
        printed.sort();
        QCOMPARE(seen, printed);
        QTRY_VERIFY_WITH_TIMEOUT(logContains(&log, "SYS 客户端断开: " + id), Timeout);
        for (const QString& text : loggedOnce)
            QVERIFY2(logLines(&log).filter(text).size() == 1, qPrintable(text + "\n---\n" + logLines(&log).join('\n')));
        QVERIFY(!bystander.received.join(QString()).contains(QStringLiteral("for-you")));
    }

    void connect_data()
    {
        QTest::addColumn<QString>("address");          // scheme and path
        QTest::addColumn<ConnectOptions>("options");   // negotiate, token, in query, headers, ignore errors
        QTest::addColumn<QStringList>("logged");       // in order, each in exactly one entry
        QTest::addColumn<QStringList>("serverSaw");    // in order
        const QString bearer = QStringLiteral(" (请求头: Authorization: Bearer ***");
        QTest::newRow("negotiate v1, token and header on both requests")
            << "http/secure" << ConnectOptions{true, Token, false, {"X-Trace: abc"}}
            << QStringList{"协商: POST http", "/secure/negotiate?negotiateVersion=1" + bearer + ", X-Trace)",
                           "协商应答: 版本 1, connectionId ", "WebSockets (Text, Binary)", "/secure?id=", Handshaken}
            << QStringList{"POST /secure/negotiate auth=header trace=abc affinity=-", "GET /secure auth=header trace=abc affinity=server-1"};
        QTest::newRow("negotiate v0: the connection id is the WebSocket's id")
            << "http/v0" << ConnectOptions{true} << QStringList{"协商应答: 版本 0", "/v0?id=", Handshaken}
            << QStringList{"POST /v0/negotiate auth=none trace=-", "GET /v0 auth=none trace=-"};
        QTest::newRow("redirect chain, its token in the query") << "http/redirect" << ConnectOptions{true, QString(), true}
            << QStringList{"/redirect/negotiate?negotiateVersion=1", "协商重定向 1/100: http", "redirect2/，改用应答中的访问令牌",
                           "/redirect2/negotiate?negotiateVersion=1" + bearer + ")", "协商重定向 2/100: ",
                           "/secure/negotiate?hub=chat&negotiateVersion=1" + bearer + ")", "/secure?hub=chat&id=",
                           "&access_token=***...", Handshaken}
            << QStringList{"POST /redirect/negotiate auth=none", "POST /redirect2/negotiate auth=header",
                           "POST /secure/negotiate auth=header", "GET /secure auth=query"};
        QTest::newRow("direct, token in query, malformed headers refused")
            << "http/secure" << ConnectOptions{false, Token, true, {"X-Trace: abc", " ", "no colon", "Bad Name: v"}}
            << QStringList{"未发送: no colon", "未发送: Bad Name: v", "/secure?access_token=***... (请求头: X-Trace)", Handshaken}
            << QStringList{"GET /secure auth=query trace=abc"};
        QTest::newRow("negotiate refused without a token") << "http/secure" << ConnectOptions{true}
            << QStringList{"协商失败: HTTP 401 Unauthorized，访问令牌缺失或被拒绝"} << QStringList{"POST /secure/negotiate auth=none"};
        QTest::newRow("upgrade refused without a token") << "http/secure" << ConnectOptions{}
            << QStringList{"连接错误: ", "status code: 401 (Unauthorized)，访问令牌缺失或被拒绝"} << QStringList{"GET /secure auth=none"};
        QTest::newRow("redirect loop") << "http/loop" << ConnectOptions{true}
            << QStringList{"协商重定向 100/100", "协商失败: 重定向超过 100 次"} << QStringList{"POST /loop/negotiate"};
        QTest::newRow("silent negotiate") << "http/silent" << ConnectOptions{true} << QStringList{"协商失败: 2 秒内没有应答 (超时)"}
            << QStringList();
        QTest::newRow("wss, self-signed refused")
            << "https/open" << ConnectOptions{} << QStringList{SelfSigned, "连接错误: ", "证书不受信任"} << QStringList();
        QTest::newRow("https negotiate, self-signed refused")
            << "https/open" << ConnectOptions{true} << QStringList{SelfSigned, "协商失败: ", "证书不受信任"} << QStringList();
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
        Client c;
        c.hub.setNegotiateTimeout(2000);
        c.hub.setConnectOptions(options);
        c.hub.open(scheme + "://" + m_peers->after("LISTENING " + scheme + "://").first() + address.mid(scheme.size()));
        QTRY_VERIFY2_WITH_TIMEOUT(c.transcript().contains(logged.last()), qPrintable(c.transcript()), Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(inOrder(m_peers->lines.mid(m_seen), serverSaw, false), Timeout);
        QVERIFY2(inOrder(logLines(&c.log), logged, true), qPrintable(c.transcript()));
        QVERIFY(!c.transcript().contains(Token) && !c.transcript().contains(QString::fromLatin1(QUrl::toPercentEncoding(Token))));
    }

    void calls_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("calls");   // "method payload"
        QTest::addColumn<QStringList>("rows");    // as Client::row reads them
        QTest::addColumn<QString>("peersSaw");    // what the hub made of a call
        QTest::addColumn<QStringList>("charted");
        QTest::newRow("json") << "/messages" << QStringList{"Shout hi", "Fail x", "Counter 3,10", "AskClient GetName"}
            << QStringList{"RX [结果 #0] HI%ms",
                           "RX [错误 #1] An unexpected error occurred invoking 'Fail' on the server. HubException: refused: x%ms",
                           "RX [流 #2] 2", "RX [结果 #2]%ms", "RX [GetName]()",
                           "SYS 服务端请求客户端结果 (#%id)，已回复: Client didn't provide a result.",
                           "RX [结果 #3] Client didn't provide a result.%ms"}
            << "CLIENTRESULT Client didn't provide a result." << QStringList{"0", "1", "2"};
        QTest::newRow("messagepack only") << "/msgpack"
            << QStringList{R"(Sum {"a":1,"b":2.5})", "Sample 2", "Odd x", "Counter 3,0"}
            << QStringList{"RX [结果 #0] 3.5%ms", R"(RX [Reading]({"n":1,"temp":21.5}, 10))", "RX [结果 #1] null%ms",
                           R"j(RX [结果 #2] ["2024-05-01T12:00:00Z","base64(AQID)"]%ms)j", "RX [流 #3] 2", "RX [结果 #3]%ms"}
            << "SUM 3.5" << QStringList{R"({"n":0,"temp":20.5})", "0", R"({"n":1,"temp":21.5})", "10", "0", "1", "2"};
    }

    void calls()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, rows);
        QFETCH(QString, peersSaw);
        QFETCH(QStringList, charted);
        Client c;
        c.hub.setMessagePack(path == "/msgpack");
        c.hub.open(m_ws + path);
        QTRY_VERIFY_WITH_TIMEOUT(c.hub.isConnected(), Timeout);
        for (const QString& call : calls) { // Counter streams
            const QString method = call.section(' ', 0, 0);
            const QByteArray payload = call.section(' ', 1).toUtf8();
            QVERIFY(method == "Counter" ? c.hub.stream(method, payload) : c.hub.invoke(method, payload));
        }
        for (const QString& row : rows)
            QVERIFY2(c.row(row), qPrintable(row + "\n---\n" + c.transcript()));
        QVERIFY(peersSaid(peersSaw));
        QCOMPARE(c.charted, charted);
    }

    void keepAliveAndReconnect()
    {
        Client c;
        c.hub.setAutoReconnect(true);
        c.hub.setReconnectDelays({0});
        // The hub is asked to ping every 200 ms; ASP.NET Core checks that once a second.
        c.hub.setServerTimeout(2500);
        c.hub.addSubscription(QStringLiteral("S"));
        c.hub.open(m_ws + "/messages");
        const QString first = connection(0);
        QVERIFY(peersSaid("SUBSCRIBE " + first + " S"));
        QVERIFY2(c.row("RX [S](hub, hello)"), qPrintable(c.transcript()));
        c.hub.stream(QStringLiteral("Counter"), "100000,20");
        QVERIFY(c.row("RX [流 #0] 1"));
        c.hub.cancelStreams();
        QVERIFY(peersSaid("STREAM CANCELLED"));
        QVERIFY2(c.row("RX [结果 #0]%ms"), qPrintable(c.transcript()));

        // Through a silence the hub hears a ping well within its time-out, and its own pings
        // keep the client from reconnecting.
        QSignalSpy reconnecting(&c.hub, &HubClient::reconnecting);
        const qsizetype before = m_peers->lines.size();
        QTest::qWait(SilenceMs);
        const QStringList pings = m_peers->after("PING " + first + ' ', before);
        QVERIFY2(pings.size() >= SilenceMs / KeepAliveMs / 2, qPrintable(m_peers->transcript()));
        for (qsizetype i = 1; i < pings.size(); ++i)
            QVERIFY2(pings.at(i).toLongLong() - pings.at(i - 1).toLongLong() < PeerTimeoutMs, qPrintable(m_peers->transcript()));
        QVERIFY2(reconnecting.isEmpty(), qPrintable(c.transcript()));

        // A result the hub cannot write: it closes with the error and allows reconnecting.
        c.hub.invoke(QStringLiteral("Explode"), "now");
        QVERIFY2(c.row("RX 服务端关闭连接: Connection closed with an error. InvalidOperationException: "
                       "cannot be written (允许重连)"), qPrintable(c.transcript()));
        const QString second = connection(1);
        QVERIFY2(peersSaid("SUBSCRIBE " + second + " S"), qPrintable(m_peers->transcript()));
        QVERIFY(peersSaid("DISCONNECTED " + first));

        // The control: once the client's pings stop, the hub (armed by a first ping) drops it.
        QVERIFY(peersSaid("PING " + second));
        c.hub.setAutoReconnect(false);
        c.hub.setKeepAliveInterval(SilenceMs * 10);
        QVERIFY(c.disconnected.wait(3 * PeerTimeoutMs));
        QVERIFY2(peersSaid("DISCONNECTED " + second + " Client hasn't sent a message/ping"), qPrintable(m_peers->transcript()));
    }

    void closes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("messagePack");
        QTest::addColumn<QString>("logged");
        const QString refused = QStringLiteral("RX 服务端关闭连接: Connection closed with an error. HubException: not today (不允许重连)");
        QTest::newRow("close forbids reconnecting") << "/refusing" << false << refused;
        QTest::newRow("close forbids reconnecting, MessagePack") << "/refusing" << true << refused;
        // This hub pings every 15 s, as hubs do by default.
        QTest::newRow("silent hub given up") << "/msgpack" << true << "SYS 服务端超时: 0.8 秒内没有收到任何消息，断开连接";
    }

    void closes()
    {
        QFETCH(QString, path);
        QFETCH(bool, messagePack);
        QFETCH(QString, logged);
        Client c;
        c.hub.setMessagePack(messagePack);
        c.hub.setAutoReconnect(path == "/refusing"); // a close that forbids it is final even so
        c.hub.setReconnectDelays({0});
        c.hub.setServerTimeout(800);
        c.hub.open(m_ws + path);
        QVERIFY2(c.disconnected.wait(Timeout), qPrintable(c.transcript()));
        QVERIFY2(logContains(&c.log, logged), qPrintable(c.transcript()));
        // The hub saw the client go; a close that forbids reconnecting is final.
        QVERIFY(path == "/msgpack" ? peersSaid("DISCONNECTED " + connection(0)) : !c.hub.isReconnecting());
    }
};

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"

// Guards the simulated hub against turning away applications that use the official
// SignalR clients unchanged: the JavaScript and the .NET client, with their default
// options, negotiate (version 1, then the token as the WebSocket's id), invoke Echo and a
// method that only an auto-reply rule answers, take a push meant for them alone and stop
// cleanly. Each checks what the client printed and what the hub logged; each skips when
// its runtime is missing.

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "AutoReplyRules.h"
#include "CommunicationBase.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "SimulatedHub.h"

namespace {

constexpr int Timeout = 30000;         // a runtime starting on a busy machine
constexpr int BuildTimeoutMs = 300000; // a first build restores the client from NuGet

// A child process whose standard output is read line by line; killed however the test ends.
struct Child
{
    QProcess process;
    QStringList lines;

    Child(const QString& program, const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
        });
        process.start(program, arguments);
    }
    ~Child()
    {
        process.kill();
        process.waitForFinished(Timeout);
    }
    QByteArray transcript() const { return lines.join(QLatin1Char('\n')).toUtf8(); }
};

// Builds the .NET client under the build tree, again only when its sources are newer.
QString builtDotnetClient(const QString& dotnet)
{
    const QFileInfo project(QFINDTESTDATA("interop/DotnetClient/DotnetClient.csproj"));
    const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/interop-dotnetclient");
    const QFileInfo dll(out + QStringLiteral("/bin/DotnetClient.dll"));
    const QDateTime newest =
        project.dir().entryInfoList({"*.cs", "*.csproj"}, QDir::Files, QDir::Time).first().lastModified();
    if (dll.exists() && dll.lastModified() >= newest)
        return dll.filePath();
    Child build(dotnet, {"build", project.filePath(), "-c", "Release", "-o", out + "/bin", "--artifacts-path",
                         out + "/artifacts", "--disable-build-servers", "-nologo", "-v:q"});
    const bool built = build.process.waitForFinished(BuildTimeoutMs) && build.process.exitCode() == 0;
    if (!built)
        qWarning("%s", build.transcript().constData());
    return built ? dll.filePath() : QString();
}

} // namespace

class TestInteropApps : public QObject
{
    Q_OBJECT

private slots:
    void officialClientUnchanged_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::newRow("javascript") << "node";
        QTest::newRow("dotnet") << "dotnet";
    }

    void officialClientUnchanged()
    {
        QFETCH(QString, runtime);
        const QString program = QStandardPaths::findExecutable(runtime);
        QString client;
        if (runtime == QLatin1String("node")) {
            client = QFINDTESTDATA("interop/node/app-client.mjs");
            if (program.isEmpty() || !QFileInfo::exists(QFileInfo(client).path() + "/node_modules/@microsoft/signalr"))
                QSKIP("needs node and tests/interop/node/node_modules (scripts/setup-interop.sh)");
        } else {
            if (program.isEmpty())
                QSKIP("needs the .NET SDK (dotnet) to build tests/interop/DotnetClient");
            qputenv("DOTNET_CLI_TELEMETRY_OPTOUT", "1");
            qputenv("DOTNET_NOLOGO", "1");
            client = builtDotnetClient(program);
            QVERIFY(!client.isEmpty());
        }

        CommunicationBase log;
        SimulatedHub hub(&log);
        AutoReplyRules rules;
        rules.add({"getconfig", AutoReplyRule::Action::Return, {}, "{\"level\":3}"});
        rules.add({"GetConfig", AutoReplyRule::Action::PushToCaller, "Notify", "\"configured\""});
        hub.setAutoReplies(rules);
        QVERIFY(hub.listen(0, QStringLiteral("/debughub")));
        QSignalSpy joined(&hub, &SimulatedHub::peerJoined);
        HubTestKit::Peer bystander(hub.port()); // must not get the other client's push
        QVERIFY(bystander.handshake());

        Child app(program, {client, QStringLiteral("http://127.0.0.1:%1/debughub").arg(hub.port())});
        QSignalSpy finished(&app.process, &QProcess::finished);
        QTRY_VERIFY2_WITH_TIMEOUT(app.lines.contains("ready"), app.transcript(), Timeout);
        QVERIFY(hub.sendTo(joined.last().first().toString(), QStringLiteral("Private"), "for-you"));
        QVERIFY2(finished.wait(Timeout), app.transcript());
        QCOMPARE(app.process.exitCode(), 0);

        // Pushes may be printed before or after the completions that follow them.
        QStringList seen = app.lines;
        seen.sort();
        QCOMPARE(seen, QStringList({"connected", "echo hello", "push Echo hello", "push Notify configured",
                                    "push Private for-you", "ready", "result {\"level\":3}", "stopped Disconnected"}));
        const QStringList logged = logLines(&log);
        QCOMPARE(logged.filter(QRegularExpression(
                     "^SYS HTTP 127\\.0\\.0\\.1:\\d+ POST /debughub/negotiate\\?negotiateVersion=1 → 200$")).size(), 1);
        QCOMPARE(logged.filter(QStringLiteral("\"target\":\"GetConfig\"")).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(logLines(&log).contains(QStringLiteral("RX {\"type\":7}\x1e")), Timeout);
        QVERIFY(!bystander.received.join(QString()).contains(QStringLiteral("for-you")));
    }
};

QTEST_GUILESS_MAIN(TestInteropApps)
#include "tst_interop_apps.moc"

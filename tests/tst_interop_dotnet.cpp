#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QWebSocket>

#include "CommunicationBase.h"
#include "LogLines.h"
#include "SignalRWidget.h"
#include "SignalRWidgetProbe.h"

namespace {

constexpr int BuildTimeoutMs = 300000; // a first build on a busy two-core machine
constexpr int Timeout = 20000;
// Half again the hub's 30 s client time-out: a client that does not ping is dropped within it.
constexpr int SilenceMs = 45000;

const QString Handshaken = QStringLiteral("SYS SignalR协议握手成功");
const QString Dropped = QStringLiteral("SYS SignalR连接已断开");

QString logText(const CommunicationBase* comm)
{
    return logLines(comm).join(QLatin1Char('\n'));
}

// The received entries of the log, in order, one a line.
QString receivedLines(const CommunicationBase* comm)
{
    QStringList received;
    for (const QString& line : logLines(comm)) {
        if (line.startsWith(QLatin1String("RX ")))
            received.append(line);
    }
    return received.join(QLatin1Char('\n'));
}

QProcessEnvironment dotnetEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DOTNET_CLI_TELEMETRY_OPTOUT"), QStringLiteral("1"));
    env.insert(QStringLiteral("DOTNET_NOLOGO"), QStringLiteral("1"));
    env.insert(QStringLiteral("DOTNET_SKIP_FIRST_TIME_EXPERIENCE"), QStringLiteral("1"));
    return env;
}

// Newest modification time of the hub's sources, to tell whether the built hub is stale.
QDateTime newestSource(const QString& projectDir)
{
    QDateTime newest;
    QDirIterator it(projectDir, {QStringLiteral("*.cs"), QStringLiteral("*.csproj")}, QDir::Files);
    while (it.hasNext()) {
        const QDateTime modified = QFileInfo(it.next()).lastModified();
        if (!newest.isValid() || modified > newest)
            newest = modified;
    }
    return newest;
}

// The ASP.NET Core hub as a child process; stopped however the test ends.
struct HubProcess
{
    QStringList lines;
    QByteArray pending;
    QProcess process;

    HubProcess()
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            pending += process.readAllStandardOutput();
            qsizetype end;
            while ((end = pending.indexOf('\n')) >= 0) {
                lines.append(QString::fromUtf8(pending.left(end)).trimmed());
                pending.remove(0, end + 1);
            }
        });
    }

    ~HubProcess()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate(); // ASP.NET Core shuts down on SIGTERM
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    QStringList linesStartingWith(const QString& prefix) const
    {
        QStringList found;
        for (const QString& line : lines) {
            if (line.startsWith(prefix))
                found.append(line);
        }
        return found;
    }

    QString transcript()
    {
        return lines.join(QLatin1Char('\n')) + QStringLiteral("\n--- stderr ---\n")
               + QString::fromUtf8(process.readAllStandardError());
    }
};

} // namespace

// The hub client against a real ASP.NET Core SignalR hub, the kind it is made for.
class TestInteropDotnet : public QObject
{
    Q_OBJECT

private:
    QString dotnetProgram;
    QString hubDll;

private slots:
    // Builds the hub once, outside the source tree, and again only when its sources change.
    void initTestCase()
    {
        dotnetProgram = QStandardPaths::findExecutable(QStringLiteral("dotnet"));
        if (dotnetProgram.isEmpty())
            QSKIP("dotnet is not on PATH: the ASP.NET Core interop test needs the .NET SDK");
        const QString project = QFINDTESTDATA("interop/DebugHub/DebugHub.csproj");
        QVERIFY2(!project.isEmpty(), "tests/interop/DebugHub/DebugHub.csproj not found");
        const QString projectDir = QFileInfo(project).absolutePath();

        const QString outDir = QCoreApplication::applicationDirPath() + QStringLiteral("/interop-hub");
        hubDll = outDir + QStringLiteral("/bin/DebugHub.dll");
        const QFileInfo built(hubDll);
        if (built.exists() && built.lastModified() >= newestSource(projectDir))
            return;

        QProcess build;
        build.setProcessEnvironment(dotnetEnvironment());
        build.setWorkingDirectory(projectDir);
        build.setProcessChannelMode(QProcess::MergedChannels);
        // --artifacts-path keeps obj/ out of the source tree too; no build server may
        // outlive the test.
        build.start(dotnetProgram, {QStringLiteral("build"), project, QStringLiteral("-c"), QStringLiteral("Release"),
                                    QStringLiteral("-o"), outDir + QStringLiteral("/bin"),
                                    QStringLiteral("--artifacts-path"), outDir + QStringLiteral("/artifacts"),
                                    QStringLiteral("--disable-build-servers"), QStringLiteral("-nologo"),
                                    QStringLiteral("-v:q")});
        QVERIFY2(build.waitForStarted(Timeout), qPrintable(build.errorString()));
        if (!build.waitForFinished(BuildTimeoutMs)) {
            build.kill();
            build.waitForFinished(Timeout);
            QFAIL("dotnet build of the test hub did not finish in time");
        }
        const QString output = QString::fromUtf8(build.readAll());
        QVERIFY2(build.exitStatus() == QProcess::NormalExit && build.exitCode() == 0, qPrintable(output));
        QVERIFY2(QFileInfo::exists(hubDll), qPrintable(output));
    }

    // Handshake, Subscribe with the hub's greetings, an invocation with its push and
    // completion, then a silence past the hub's client time-out that the pings bridge.
    void subscribeInvokeAndOutlastClientTimeout()
    {
        HubProcess hub;
        hub.process.setProcessEnvironment(dotnetEnvironment());
        hub.process.start(dotnetProgram, {hubDll, QStringLiteral("0")}); // port 0: the hub picks a free one
        QVERIFY2(hub.process.waitForStarted(Timeout), qPrintable(hub.process.errorString()));
        QTRY_VERIFY2_WITH_TIMEOUT(!hub.linesStartingWith(QStringLiteral("LISTENING ")).isEmpty()
                                      || hub.process.state() == QProcess::NotRunning,
                                  qPrintable(hub.lines.join(QLatin1Char('\n'))), Timeout);
        const QStringList listening = hub.linesStartingWith(QStringLiteral("LISTENING "));
        QVERIFY2(!listening.isEmpty(), qPrintable(hub.transcript()));
        const QUrl address(listening.first().mid(10));
        QVERIFY2(address.port() > 0, qPrintable(listening.first()));

        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.subscribeEdit()->setText(QStringLiteral("ReceiveMessage"));
        w.addSubscription();
        p.hubUrlEdit()->setText(QStringLiteral("ws://127.0.0.1:%1/debughub").arg(address.port()));
        w.toggleConnection();

        QTRY_VERIFY2_WITH_TIMEOUT(logContains(p.comm(), Handshaken), qPrintable(logText(p.comm())), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(hub.linesStartingWith(QStringLiteral("CONNECTED ")).size(), 1, Timeout);
        const QString id = hub.linesStartingWith(QStringLiteral("CONNECTED ")).first().mid(10);

        // The Subscribe invocation reaches the hub, which greets the subscriber.
        QTRY_VERIFY2_WITH_TIMEOUT(hub.lines.contains("SUBSCRIBE " + id + " ReceiveMessage"),
                                  qPrintable(hub.lines.join(QLatin1Char('\n'))), Timeout);
        for (int n = 1; n <= 3; ++n)
            QTRY_VERIFY2_WITH_TIMEOUT(logContains(p.comm(), QStringLiteral("RX [ReceiveMessage](hub, hello %1)").arg(n)),
                                      qPrintable(logText(p.comm())), Timeout);

        // An invocation from the send area: the hub runs it, pushes back, then completes it.
        // A completion carries "type" 3 and no target or arguments, so it shows as [](), right
        // after the push that the method awaits before it returns. (A hub ping looks the same,
        // but one falls into those few milliseconds only once in thousands of runs.)
        const auto invoke = [&](const QString& text) {
            p.methodEdit()->setText(QStringLiteral("SendMessage"));
            p.sendEdit()->setPlainText(text);
            w.sendData();
            QVERIFY(logContains(p.comm(), "SYS [SendMessage] -> " + text));
            const QString push = QStringLiteral("RX [ReceiveMessage](hub, got %1)").arg(text);
            QTRY_VERIFY2_WITH_TIMEOUT(logContains(p.comm(), push),
                                      qPrintable(logText(p.comm())), Timeout);
            // The hub's standard output and the socket are read in any order.
            QTRY_VERIFY2_WITH_TIMEOUT(hub.lines.contains("INVOKE " + id + " SendMessage " + text),
                                      qPrintable(hub.lines.join(QLatin1Char('\n'))), Timeout);
            QTRY_VERIFY2_WITH_TIMEOUT(receivedLines(p.comm()).contains(push + QStringLiteral("\nRX []()")),
                                      qPrintable(logText(p.comm())), Timeout);
        };
        invoke(QStringLiteral("from-korvahub"));
        if (QTest::currentTestFailed())
            return;
        QVERIFY(logLines(p.comm()).filter(QStringLiteral("调用错误")).isEmpty());

        // Silence from the user's side: only the window's own pings can keep the hub from
        // dropping it after 30 s. ASP.NET Core watches a client only from its first ping on,
        // so the pings are counted too: without them "not dropped" would prove nothing.
        const int pingsBefore = hub.lines.count(QStringLiteral("PING"));
        QTest::qWait(SilenceMs);
        const int pings = hub.lines.count(QStringLiteral("PING")) - pingsBefore;
        QVERIFY2(pings >= 2, qPrintable(QStringLiteral("%1 ping(s) from the window in %2 s of silence")
                                            .arg(pings)
                                            .arg(SilenceMs / 1000)));
        QVERIFY2(p.running(), qPrintable(logText(p.comm())));
        QVERIFY(p.clientSocket());
        QCOMPARE(p.clientSocket()->state(), QAbstractSocket::ConnectedState);
        QVERIFY2(!logContains(p.comm(), Dropped), qPrintable(logText(p.comm())));
        QVERIFY2(hub.linesStartingWith(QStringLiteral("DISCONNECTED ")).isEmpty(),
                 qPrintable(hub.lines.join(QLatin1Char('\n'))));
        // Still a working session, not only an open socket.
        invoke(QStringLiteral("after-silence"));
        if (QTest::currentTestFailed())
            return;

        // The user's stop is a normal closure on the hub's side.
        w.toggleConnection();
        QVERIFY(!p.running());
        QTRY_VERIFY2_WITH_TIMEOUT(!hub.linesStartingWith(QStringLiteral("DISCONNECTED ")).isEmpty(),
                                  qPrintable(hub.lines.join(QLatin1Char('\n'))), Timeout);
        QCOMPARE(hub.linesStartingWith(QStringLiteral("DISCONNECTED ")),
                 QStringList({"DISCONNECTED " + id + " closed"}));
    }
};

QTEST_MAIN(TestInteropDotnet)
#include "tst_interop_dotnet.moc"

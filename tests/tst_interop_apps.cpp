// Guards the simulated hub against turning away applications that use the official
// SignalR clients unchanged: the JavaScript and the .NET client, with their default
// options, negotiate (version 1, then the token as the WebSocket's id), invoke Echo and a
// method that only auto-reply rules answer, take a push meant for them alone and stop
// cleanly. Checks what the client printed and what the hub logged; each client skips
// when its runtime is missing.

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "ChildProcess.h"
#include "CommunicationBase.h"
#include "HubTestKit.h"
#include "LogLines.h"
#include "SimulatedHub.h"

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
        constexpr int Timeout = 30000; // a runtime starting on a busy machine
        const QString program = QStandardPaths::findExecutable(runtime);
        QString client = QFINDTESTDATA("interop/node/app-client.mjs");
        if (program.isEmpty() || (runtime == "node" && !QFileInfo::exists(QFileInfo(client).path() + "/node_modules/@microsoft/signalr")))
            QSKIP("needs node and tests/interop/node/node_modules (scripts/setup-interop.sh), or the .NET SDK (dotnet)");
        if (runtime == "dotnet")
            QVERIFY(!(client = builtDotnetApp(program, QFINDTESTDATA("interop/DotnetClient/DotnetClient.csproj"))).isEmpty());

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

        ChildProcess app(program, {client, QStringLiteral("http://127.0.0.1:%1/debughub").arg(hub.port())});
        QSignalSpy finished(&app.process, &QProcess::finished);
        QTRY_VERIFY2_WITH_TIMEOUT(app.lines.contains("ready"), qPrintable(app.transcript()), Timeout);
        QVERIFY(hub.sendTo(joined.last().first().toString(), QStringLiteral("Private"), "for-you"));
        QVERIFY2(finished.wait(Timeout) && app.process.exitCode() == 0, qPrintable(app.transcript()));
        // Pushes may be printed before or after the completions that follow them.
        QStringList seen = app.lines;
        seen.sort();
        QCOMPARE(seen, QStringList({"connected", "echo hello", "push Echo hello", "push Notify configured",
                                    "push Private for-you", "ready", "result {\"level\":3}", "stopped Disconnected"}));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(&log, QStringLiteral("RX {\"type\":7}\x1e")), Timeout);
        const QStringList logged = logLines(&log);
        QCOMPARE(logged.filter(QRegularExpression("^SYS HTTP 127\\.0\\.0\\.1:\\d+ POST /debughub/negotiate\\?negotiateVersion=1 → 200$")).size(), 1);
        QCOMPARE(logged.filter(QStringLiteral("\"target\":\"GetConfig\"")).size(), 1);
        QVERIFY(!bystander.received.join(QString()).contains(QStringLiteral("for-you")));
    }
};

QTEST_GUILESS_MAIN(TestInteropApps)
#include "tst_interop_apps.moc"

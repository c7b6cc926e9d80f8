#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>

#include "CommunicationBase.h"
#include "LogLines.h"
#include "SignalRWidget.h"
#include "HubTestKit.h"
#include "SignalRWidgetProbe.h"

namespace {

// The script's own limits add up to well under this: 20 s per step plus the silence.
constexpr int ScriptTimeoutMs = 90000;
constexpr int Timeout = 10000;
// Longer than the client's 30 s server time-out, so only the hub's pings can carry it through.
constexpr int SilenceMs = 40000;

const QString PushText = QStringLiteral("pushed-by-korvahub");
const QString EchoText = QStringLiteral("ping-from-node");
const QString Handshake = QStringLiteral("{\"protocol\":\"json\",\"version\":1}\x1e");
const QString ConnectedPrefix = QStringLiteral("SYS 客户端连接 ");

// The hub message carried by one received log entry, or an empty object when the entry
// is not exactly one JSON object followed by the record separator.
QJsonObject receivedRecord(const QString& line)
{
    if (!line.startsWith(QLatin1String("RX ")) || !line.endsWith(QChar(0x1e)))
        return {};
    const QString json = line.mid(3, line.size() - 4);
    if (json.contains(QChar(0x1e)))
        return {};
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// Runs the @microsoft/signalr client script and collects its output line by line.
struct NodeClient
{
    QStringList lines;
    QByteArray pending;
    QString errors;
    bool ready = false;
    // Last, so that it goes first: a script still running is killed while the
    // buffers that its output handler fills are still there.
    QProcess process;

    // Takes in what is left in the pipes once the script has ended.
    void collectRest()
    {
        pending += process.readAllStandardOutput();
        if (!pending.isEmpty())
            lines.append(QString::fromUtf8(pending));
        pending.clear();
        errors += QString::fromUtf8(process.readAllStandardError());
    }

    QString transcript() const
    {
        return lines.join(QLatin1Char('\n')) + QStringLiteral("\n--- stderr ---\n") + errors;
    }

    QJsonObject result(bool* passed) const
    {
        for (const QString& line : lines) {
            if (line.startsWith(QLatin1String("RESULT "))) {
                *passed = line.startsWith(QLatin1String("RESULT PASS "));
                return QJsonDocument::fromJson(line.section(QLatin1Char(' '), 2).toUtf8()).object();
            }
        }
        *passed = false;
        return {};
    }
};

} // namespace

// The simulated hub against the official JavaScript SignalR client under Node.js.
class TestInteropNode : public QObject
{
    Q_OBJECT

private:
    QString scriptDir;
    QString nodeProgram;

private slots:
    void initTestCase()
    {
        nodeProgram = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (nodeProgram.isEmpty())
            QSKIP("node is not on PATH: the Node.js interop test needs Node.js and npm");
        const QString script = QFINDTESTDATA("interop/node/interop-client.mjs");
        QVERIFY2(!script.isEmpty(), "tests/interop/node/interop-client.mjs not found");
        scriptDir = QFileInfo(script).absolutePath();
        if (!QFileInfo::exists(scriptDir + QStringLiteral("/node_modules/@microsoft/signalr/package.json")))
            QSKIP("tests/interop/node/node_modules is missing: run scripts/setup-interop.sh first");
    }

    // Handshake, an invocation with completion and push, a push from the send area,
    // a silence longer than the client's server time-out, and a clean stop.
    void officialClientSession()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(HubTestKit::startWindowServer(p));
        const int port = p.portSpin()->value();

        NodeClient node;
        node.process.setWorkingDirectory(scriptDir);
        node.process.setProgram(nodeProgram);
        node.process.setArguments({QStringLiteral("interop-client.mjs"),
                                   QStringLiteral("ws://127.0.0.1:%1/debughub").arg(port),
                                   QStringLiteral("--push-text"), PushText, QStringLiteral("--silence-ms"),
                                   QString::number(SilenceMs)});
        // The push goes out from the send area as soon as the script says it listens for it.
        QObject::connect(&node.process, &QProcess::readyReadStandardOutput, &w, [&] {
            node.pending += node.process.readAllStandardOutput();
            qsizetype end;
            while ((end = node.pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(node.pending.left(end));
                node.pending.remove(0, end + 1);
                node.lines.append(line);
                if (line == QLatin1String("READY") && !node.ready) {
                    node.ready = true;
                    p.methodEdit()->setText(QStringLiteral("ReceiveMessage"));
                    p.sendEdit()->setPlainText(PushText);
                    w.sendData();
                }
            }
        });
        node.process.start();
        QVERIFY2(node.process.waitForStarted(Timeout), qPrintable(node.process.errorString()));

        QTRY_VERIFY_WITH_TIMEOUT(node.process.state() == QProcess::NotRunning, ScriptTimeoutMs);
        node.collectRest();

        const QString transcript = node.transcript();
        bool passed = false;
        const QJsonObject result = node.result(&passed);
        QVERIFY2(node.process.exitStatus() == QProcess::NormalExit, qPrintable(transcript));
        QVERIFY2(passed && node.process.exitCode() == 0, qPrintable(transcript));
        QVERIFY2(node.ready, qPrintable(transcript));
        const QJsonObject silence = result.value(QLatin1String("silence")).toObject();
        const QJsonArray echoResult({result.value(QLatin1String("echoResult"))});
        qInfo("@microsoft/signalr %s under Node.js %s; Echo completion: %s; silence: %s",
              qPrintable(result.value(QLatin1String("signalr")).toString()),
              qPrintable(result.value(QLatin1String("node")).toString()),
              QJsonDocument(echoResult).toJson(QJsonDocument::Compact).constData(),
              QJsonDocument(silence).toJson(QJsonDocument::Compact).constData());
        // The silence began right after the last push, so a hub that pings every 15 s of
        // quiet reached the client at least twice in it.
        QVERIFY2(silence.value(QLatin1String("pingsReceived")).toInt() >= 2, qPrintable(transcript));

        // The window's side of the same session.
        const QStringList connected = logLines(p.comm()).filter(ConnectedPrefix);
        QCOMPARE(connected.size(), 1);
        const QString id = connected.first().mid(ConnectedPrefix.size());
        QVERIFY2(id.startsWith(QLatin1String("::ffff:127.0.0.1:")), qPrintable(id));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(p.comm(), "SYS 客户端断开: " + id), Timeout);
        QCOMPARE(p.clientList()->count(), 0);
        QVERIFY(p.running()); // a client that leaves by itself leaves the hub listening

        const QStringList lines = logLines(p.comm());
        const qsizetype handshakeAt = lines.indexOf("RX " + Handshake);
        QVERIFY2(handshakeAt >= 0, qPrintable(lines.join(QLatin1Char('\n'))));
        qsizetype echoAt = -1;
        qsizetype closeAt = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QJsonObject record = receivedRecord(lines.at(i));
            if (echoAt < 0 && record.value(QLatin1String("type")).toInt() == 1
                && record.value(QLatin1String("target")).toString() == QLatin1String("Echo")
                && record.value(QLatin1String("arguments")).toArray() == QJsonArray({EchoText})
                && !record.value(QLatin1String("invocationId")).toString().isEmpty())
                echoAt = i;
            if (record.value(QLatin1String("type")).toInt() == 7)
                closeAt = i;
        }
        QVERIFY2(echoAt > handshakeAt, qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY2(closeAt > echoAt, qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(lines.contains("TX " + PushText));

        w.toggleConnection();
        QVERIFY(!p.running());
    }
};

QTEST_MAIN(TestInteropNode)
#include "tst_interop_node.moc"

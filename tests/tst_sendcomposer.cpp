#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <memory>

#include "CommunicationBase.h"
#include "LogLines.h"
#include "RecordingHub.h"
#include "SignalRWidget.h"
#include "HubTestKit.h"
#include "SignalRWidgetProbe.h"

namespace {

QString clientInvocation(const QString& argument, int id, const QString& method = QStringLiteral("SendMessage"))
{
    return QStringLiteral("{\"arguments\":[\"%1\"],\"invocationId\":\"%2\",\"target\":\"%3\",\"type\":1}\x1e")
        .arg(argument)
        .arg(id)
        .arg(method);
}

} // namespace

using namespace HubTestKit;

// The send composer: payload building, invocation bytes and numbering, Enter handling
// and auto-send, in client mode against a recording hub and in server mode.
class TestSendComposer : public QObject
{
    Q_OBJECT

private slots:
    void clientInvocationBytesAndNumbering()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.sendEdit()->setPlainText(QStringLiteral("hi"));
        for (int i = 0; i < 3; ++i)
            w.sendData(); // disconnected: nothing sent or logged, numbers still used
        QCOMPARE(p.invocationCounter(), 3);
        QVERIFY(p.comm()->entries().isEmpty());

        QVERIFY(connectWindow(p, hub));
        const qsizetype before = logLines(p.comm()).size();
        w.sendData();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received, QStringList({clientInvocation("hi", 3)}), Timeout);
        QCOMPARE(logLines(p.comm()).mid(before), QStringList({"SYS [SendMessage] -> hi"}));
        QCOMPARE(p.comm()->txBytes(), qint64(0));
        QCOMPARE(p.sendEdit()->toPlainText(), QStringLiteral("hi")); // text stays for repeats
    }

    void counterWrapsInsteadOfOverflowing()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.invocationCounter() = std::numeric_limits<qint32>::max();
        p.sendEdit()->setPlainText(QStringLiteral("x"));
        w.sendData();
        QCOMPARE(p.invocationCounter(), 0);
    }

    void payloadRules_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sentBytes"); // empty: nothing sent
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("hex hello") << true << "UTF-8" << "SendMessage" << "48 65 6C 6C 6F"
                                   << QByteArray("Hello") << QStringList({"TX Hello"});
        QTest::newRow("hex with hyphens") << true << "UTF-8" << "M" << "48-69" << QByteArray("Hi")
                                          << QStringList({"TX Hi"});
        QTest::newRow("odd hex digit") << true << "UTF-8" << "SendMessage" << "4" << QByteArray()
                                       << QStringList({"SYS 无效的十六进制数据"});
        QTest::newRow("hex with a comma") << true << "UTF-8" << "SendMessage" << "41,42" << QByteArray()
                                          << QStringList({"SYS 无效的十六进制数据"});
        QTest::newRow("empty hex text") << true << "UTF-8" << "SendMessage" << "" << QByteArray()
                                        << QStringList();
        QTest::newRow("empty method") << false << "UTF-8" << "" << "abc" << QByteArray() << QStringList();
        QTest::newRow("gb2312 text") << false << "GB2312" << "SendMessage" << "中文"
                                     << QByteArray("\xD6\xD0\xCE\xC4") << QStringList({"TX 中文"});
    }

    // Server mode shows the bytes in the log with the selected encoding.
    void payloadRules()
    {
        QFETCH(bool, hex);
        QFETCH(QString, encoding);
        QFETCH(QString, method);
        QFETCH(QString, text);
        QFETCH(QByteArray, sentBytes);
        QFETCH(QStringList, logged);
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(startWindowServer(p));
        Peer peer(p.portSpin()->value());
        QVERIFY(peer.waitConnected());
        QTRY_COMPARE_WITH_TIMEOUT(p.serverClients().size(), 1, Timeout);
        QStringList& received = peer.received;

        p.encodingCombo()->setCurrentText(encoding);
        p.hexSendCheck()->setChecked(hex);
        p.methodEdit()->setText(method);
        p.sendEdit()->setPlainText(text);
        const qsizetype before = logLines(p.comm()).size();
        const int counterBefore = p.invocationCounter();
        w.sendData();
        QCOMPARE(logLines(p.comm()).mid(before), logged);
        if (sentBytes.isEmpty()) {
            QCOMPARE(p.invocationCounter(), counterBefore);
            QTest::qWait(20);
            QVERIFY(received.isEmpty());
            return;
        }
        QCOMPARE(p.comm()->entries().last().data, sentBytes);
        QCOMPARE(p.comm()->txBytes(), qint64(sentBytes.size()));
        // On the wire the argument is the payload read as UTF-8, whatever the encoding.
        const QString expected = QStringLiteral("{\"arguments\":[\"%1\"],\"target\":\"%2\",\"type\":1}\x1e")
                                     .arg(QString::fromUtf8(sentBytes), method);
        QTRY_COMPARE_WITH_TIMEOUT(received, QStringList({expected}), Timeout);
    }

    void gb2312InClientModeShowsUtf8Reading()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QVERIFY(connectWindow(p, hub));
        p.encodingCombo()->setCurrentText(QStringLiteral("GB2312"));
        p.sendEdit()->setPlainText(QStringLiteral("中文"));
        w.sendData();
        const QString replaced = QString::fromUtf8(QByteArray("\xD6\xD0\xCE\xC4"));
        QVERIFY(replaced.contains(QChar(0xFFFD)));
        QTRY_COMPARE_WITH_TIMEOUT(hub.received, QStringList({clientInvocation(replaced, 0)}), Timeout);
        QCOMPARE(logLines(p.comm()).last(), "SYS [SendMessage] -> " + replaced);
    }

    void enterKey_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("enterSends");
        QTest::addColumn<bool>("sends");
        QTest::newRow("enter, enter-send on") << Qt::KeyboardModifiers() << true << true;
        QTest::newRow("enter, enter-send off") << Qt::KeyboardModifiers() << false << false;
        QTest::newRow("shift+enter, on") << Qt::KeyboardModifiers(Qt::ShiftModifier) << true << false;
        QTest::newRow("shift+enter, off") << Qt::KeyboardModifiers(Qt::ShiftModifier) << false << false;
        QTest::newRow("ctrl+enter, on") << Qt::KeyboardModifiers(Qt::ControlModifier) << true << false;
        QTest::newRow("ctrl+enter, off") << Qt::KeyboardModifiers(Qt::ControlModifier) << false << true;
        QTest::newRow("shift+ctrl+enter, off")
            << Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier) << false << false;
    }

    void enterKey()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, enterSends);
        QFETCH(bool, sends);
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.enterSendCheck()->setChecked(enterSends);
        p.sendEdit()->setPlainText(QStringLiteral("ab"));
        p.sendEdit()->moveCursor(QTextCursor::End);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            const int counter = p.invocationCounter();
            const QString textBefore = p.sendEdit()->toPlainText();
            QTest::keyClick(p.sendEdit(), key, modifiers);
            if (sends) {
                QCOMPARE(p.invocationCounter(), counter + 1);
                QCOMPARE(p.sendEdit()->toPlainText(), textBefore);
            } else {
                QCOMPARE(p.invocationCounter(), counter);
                QCOMPARE(p.sendEdit()->toPlainText(), textBefore + QLatin1Char('\n'));
            }
        }
    }

    void placeholderFollowsFocus()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        p.sendEdit()->setFocus();
        QTRY_VERIFY(p.sendEdit()->placeholderText().isEmpty());
        p.methodEdit()->setFocus();
        QTRY_COMPARE(p.sendEdit()->placeholderText(), QStringLiteral("输入要发送的消息..."));
    }

    void autoSend()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.intervalSpin()->setValue(20);
        p.autoSendCheck()->setChecked(true); // idle: the timer does not start
        QVERIFY(!p.autoSendTimer()->isActive());
        QVERIFY(connectWindow(p, hub));
        QVERIFY(!p.autoSendTimer()->isActive()); // nor does a later connection start it

        p.sendEdit()->setPlainText(QStringLiteral("tick"));
        p.intervalSpin()->setValue(30);
        p.autoSendCheck()->setChecked(false);
        p.autoSendCheck()->setChecked(true);
        QVERIFY(p.autoSendTimer()->isActive());
        QCOMPARE(p.autoSendTimer()->interval(), 30);
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.size() >= 3, Timeout);
        QCOMPARE(hub.received.at(0), clientInvocation("tick", 0));
        QCOMPARE(hub.received.at(2), clientInvocation("tick", 2));

        w.disconnectAll();
        QVERIFY(!p.autoSendTimer()->isActive());
        QVERIFY(p.autoSendCheck()->isChecked());
    }

    void intervalClamps()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.intervalSpin()->setValue(5);
        QCOMPARE(p.intervalSpin()->value(), 10);
        p.intervalSpin()->setValue(100000);
        QCOMPARE(p.intervalSpin()->value(), 60000);
        QCOMPARE(p.intervalSpin()->singleStep(), 100);
    }
};

QTEST_MAIN(TestSendComposer)
#include "tst_sendcomposer.moc"

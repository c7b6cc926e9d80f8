// Guards what only the window does: the mode switch showing the wrong settings or button
// text, the connect button and status label not following the connection, the Enter-key
// rules of the send editor, payload rules (hex, encodings, empty method) and where a send
// goes in each mode, the client list not following the simulated hub, a send meant for
// the selected client reaching others, auto replies added in the panel not reaching the
// hub or invalid ones taken without a reason, texts set while running (log rows
// included) not following the language, connect settings not reaching the client, and
// the client's call kinds, stream cancel button and auto-reconnect box not reaching it.

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QSpinBox>
#include <QTest>

#include "AutoReplyPanel.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "HubTestKit.h"
#include "LanguageManager.h"
#include "LogLines.h"
#include "RecordingHub.h"
#include "SignalRWidget.h"
#include "SimulatedHub.h"

using HubTestKit::Timeout;

namespace {

template <typename T>
T* child(const SignalRWidget& w, const char* name)
{
    return w.findChild<T*>(QLatin1String(name));
}

QPushButton* buttonWithRole(const SignalRWidget& w, const char* role)
{
    for (QPushButton* button : w.findChildren<QPushButton*>())
        if (button->property("role").toString() == QLatin1String(role))
            return button;
    return nullptr;
}

QString status(const SignalRWidget& w)
{
    return child<QLabel>(w, "connStatus")->text();
}

// Connects the window to the hub and waits for the handshake request, then forgets it.
bool connectTo(SignalRWidget& w, RecordingHub& hub)
{
    child<QLineEdit>(w, "hubUrlEdit")->setText(hub.url().toString());
    w.toggleConnection();
    const bool ok = QTest::qWaitFor([&] { return !hub.received.isEmpty(); }, Timeout);
    hub.received.clear();
    return ok && w.isRunning();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // Sizes the theme could override: the window is shown with the real style sheet.
    void fixedSizesHoldUnderTheTheme()
    {
        QFile theme(QStringLiteral(":/styles/DarkTheme.qss"));
        QVERIFY(theme.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(theme.readAll()));
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QPushButton* connect = buttonWithRole(w, "connect");
        QCOMPARE(connect->height(), 36);
        QCOMPARE(buttonWithRole(w, "send")->size(), QSize(120, 32));
        QCOMPARE(child<QPushButton>(w, "docButton")->height(), 24);
        // Auto-send ticked before connecting starts once connected.
        child<QCheckBox>(w, "autoSendCheck")->setChecked(true);
        child<QSpinBox>(w, "intervalSpin")->setValue(50);
        child<QPlainTextEdit>(w, "sendEdit")->setPlainText(QStringLiteral("tick"));
        QVERIFY(connectTo(w, hub));
        QTRY_COMPARE_WITH_TIMEOUT(connect->height(), 36, Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.size() >= 2, Timeout);
        qApp->setStyleSheet(QString());
    }

    void modeSwitch()
    {
        SignalRWidget w;
        w.show();
        QPushButton* connect = buttonWithRole(w, "connect");
        QCOMPARE(connect->text(), QStringLiteral("连接"));
        child<QRadioButton>(w, "serverRadio")->setChecked(true);
        QCOMPARE(connect->text(), QStringLiteral("启动"));
        QVERIFY(child<QWidget>(w, "serverSettings")->isVisible());
        QVERIFY(!child<QWidget>(w, "clientSettings")->isVisible());
        QVERIFY(child<QListWidget>(w, "clientList")->isVisible());
        QVERIFY(!child<QListWidget>(w, "subscriptionList")->isVisible());
    }

    void buttonAndStatusFollowTheConnection()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        QPushButton* connect = buttonWithRole(w, "connect");
        QCOMPARE(status(w), QStringLiteral("◆未连接"));
        QVERIFY(connectTo(w, hub));
        QCOMPARE(connect->text(), QStringLiteral("断开"));
        QCOMPARE(status(w), QStringLiteral("🟢 已连接"));
        LanguageManager::instance().setLanguage(1);
        QCOMPARE(status(w), QStringLiteral("🟢 Connected"));
        LanguageManager::instance().setLanguage(0);
        hub.closeAll();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isRunning(), Timeout);
        QCOMPARE(connect->text(), QStringLiteral("连接"));
        QCOMPARE(connect->objectName(), QStringLiteral("accentButton"));
        QCOMPARE(status(w), QStringLiteral("⚫未连接"));
    }

    void connectSettingsReachTheClient()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        child<QLineEdit>(w, "accessTokenEdit")->setText(QStringLiteral("secret"));
        child<QCheckBox>(w, "tokenInQueryCheck")->setChecked(true);
        child<QPlainTextEdit>(w, "headersEdit")->setPlainText(QStringLiteral("X-Trace: 1"));
        QVERIFY(connectTo(w, hub));
        QVERIFY(logContains(w.communication(),
                            "SYS 正在连接 " + hub.url().toString() + "?access_token=***... (请求头: X-Trace)"));
    }

    void enterKey_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("enterSends");
        QTest::addColumn<bool>("sends");
        QTest::newRow("enter, enter-send on") << Qt::KeyboardModifiers() << true << true;
        QTest::newRow("enter, enter-send off") << Qt::KeyboardModifiers() << false << false;
        QTest::newRow("shift+enter, on") << Qt::KeyboardModifiers(Qt::ShiftModifier) << true << false;
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
        child<QRadioButton>(w, "serverRadio")->setChecked(true); // a send logs even without clients
        child<QCheckBox>(w, "enterSendCheck")->setChecked(enterSends);
        auto* editor = child<QPlainTextEdit>(w, "sendEdit");
        editor->setPlainText(QStringLiteral("ab"));
        editor->moveCursor(QTextCursor::End);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            const QString before = editor->toPlainText();
            const qint64 sentBefore = w.communication()->txBytes();
            QTest::keyClick(editor, key, modifiers);
            QCOMPARE(w.communication()->txBytes() > sentBefore, sends);
            QCOMPARE(editor->toPlainText(), sends ? before : before + QLatin1Char('\n'));
        }
    }

    void payloadRules_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("onWire"); // the argument; empty: nothing sent
        QTest::addColumn<QString>("logged");
        QTest::newRow("hex with spaces") << true << "UTF-8" << "M" << "48 65 6C 6C 6F" << "Hello" << "SYS [M] -> Hello";
        QTest::newRow("hex with hyphens") << true << "UTF-8" << "M" << "48-69" << "Hi" << "SYS [M] -> Hi";
        QTest::newRow("odd hex digit") << true << "UTF-8" << "M" << "4" << "" << "SYS 无效的十六进制数据";
        QTest::newRow("empty method") << false << "UTF-8" << "" << "abc" << "" << "";
        // The argument on the wire is the payload read as UTF-8, whatever the encoding.
        QTest::newRow("gb2312") << false << "GB2312" << "M" << "中文"
                                << QString::fromUtf8("\xD6\xD0\xCE\xC4") << "SYS [M] -> " + QString::fromUtf8("\xD6\xD0\xCE\xC4");
    }

    void payloadRules()
    {
        QFETCH(bool, hex);
        QFETCH(QString, encoding);
        QFETCH(QString, method);
        QFETCH(QString, text);
        QFETCH(QString, onWire);
        QFETCH(QString, logged);
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        QVERIFY(connectTo(w, hub));
        child<QComboBox>(w, "encodingCombo")->setCurrentText(encoding);
        child<QCheckBox>(w, "hexSendCheck")->setChecked(hex);
        child<QLineEdit>(w, "methodEdit")->setText(method);
        child<QPlainTextEdit>(w, "sendEdit")->setPlainText(text);
        const qsizetype before = logLines(w.communication()).size();
        buttonWithRole(w, "send")->click();
        QCOMPARE(logLines(w.communication()).mid(before), logged.isEmpty() ? QStringList() : QStringList{logged});
        if (onWire.isEmpty())
            return;
        QTRY_COMPARE_WITH_TIMEOUT(hub.received.size(), 1, Timeout);
        QCOMPARE(hub.received.first(), HubProtocol::clientInvocation(method, onWire.toUtf8(), 0));
    }

    void clientCallKinds()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        QVERIFY(connectTo(w, hub));
        hub.sendToAll(QStringLiteral("{}\x1e")); // handshaken: worth reconnecting to
        child<QLineEdit>(w, "methodEdit")->setText(QStringLiteral("M"));
        child<QPlainTextEdit>(w, "sendEdit")->setPlainText(QStringLiteral("p"));
        auto* stream = child<QCheckBox>(w, "streamCheck");
        auto* fireAndForget = child<QCheckBox>(w, "fireAndForgetCheck");
        auto* cancel = child<QPushButton>(w, "cancelStreamButton");
        fireAndForget->setChecked(true);
        buttonWithRole(w, "send")->click();
        stream->setChecked(true); // the kinds exclude each other
        QVERIFY(!fireAndForget->isChecked());
        buttonWithRole(w, "send")->click();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received, QStringList({HubProtocol::serverInvocation("M", "p"),
                                                             HubProtocol::streamInvocation("M", "p", 0)}), Timeout);
        QVERIFY(cancel->isEnabled());
        LanguageManager::instance().setLanguage(1); // rows made from now on speak English
        hub.sendToAll(HubProtocol::streamItem("0", 5));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(w.communication(), QStringLiteral("RX [stream #0] 5")), Timeout);
        LanguageManager::instance().setLanguage(0);
        cancel->click();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received.last(), HubProtocol::cancelInvocation("0"), Timeout);
        QVERIFY(!cancel->isEnabled());

        hub.received.clear();
        child<QCheckBox>(w, "autoReconnectCheck")->setChecked(true);
        hub.closeAll();
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.contains(HubProtocol::handshakeRequest()), Timeout);
        QVERIFY(w.isRunning());
    }

    void clientListFollowsTheHub()
    {
        SignalRWidget w;
        QVERIFY(w.simulatedHub()->listen(0, QStringLiteral("/hub")));
        auto* list = child<QListWidget>(w, "clientList");
        HubTestKit::Peer peer(w.simulatedHub()->port());
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 1, Timeout);
        QCOMPARE(list->item(0)->text(), peer.identifier());
        list->setCurrentRow(0);
        for (QPushButton* button : w.findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("断开选中客户端"))
                button->click();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 0, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(peer.socket->state(), QAbstractSocket::UnconnectedState, Timeout);
    }

    void selectedClientAndAutoReplies()
    {
        SignalRWidget w;
        child<QRadioButton>(w, "serverRadio")->setChecked(true);
        QVERIFY(w.simulatedHub()->listen(0, QStringLiteral("/hub")));
        HubTestKit::Peer first(w.simulatedHub()->port());
        HubTestKit::Peer second(w.simulatedHub()->port());
        QVERIFY(first.handshake() && second.handshake());

        auto* panel = w.findChild<AutoReplyPanel*>();
        auto* problem = child<QLabel>(w, "autoReplyProblem");
        auto* json = child<QLineEdit>(w, "autoReplyJsonEdit");
        child<QLineEdit>(w, "autoReplyMethodEdit")->setText(QStringLiteral("Ask"));
        json->setText(QStringLiteral("{bad"));
        QVERIFY(!panel->addRule());
        QVERIFY2(problem->text().startsWith(QStringLiteral("JSON 无效 (位置 2)")), qPrintable(problem->text()));
        json->setText(QStringLiteral("42"));
        QVERIFY(panel->addRule() && problem->isHidden());
        first.socket->sendTextMessage(QStringLiteral("{\"type\":1,\"invocationId\":\"1\",\"target\":\"ask\",\"arguments\":[]}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(first.received, QStringList({"{\"invocationId\":\"1\",\"result\":42,\"type\":3}\x1e"}), Timeout);

        auto* list = child<QListWidget>(w, "clientList");
        QTRY_COMPARE_WITH_TIMEOUT(list->findItems(second.identifier(), Qt::MatchExactly).size(), 1, Timeout);
        list->setCurrentItem(list->findItems(second.identifier(), Qt::MatchExactly).first());
        child<QCheckBox>(w, "selectedOnlyCheck")->setChecked(true);
        child<QLineEdit>(w, "methodEdit")->setText(QStringLiteral("M"));
        child<QPlainTextEdit>(w, "sendEdit")->setPlainText(QStringLiteral("x"));
        buttonWithRole(w, "send")->click();
        QTRY_COMPARE_WITH_TIMEOUT(second.received, QStringList({HubProtocol::serverInvocation("M", "x")}), Timeout);
        QCOMPARE(first.received.size(), 1);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

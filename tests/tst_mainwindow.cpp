// Guards what only the window does: sizes the theme could override (connect, send and
// documentation buttons), auto-send ticked before connecting never starting, the connect
// button and status label not following the connection (in either language), connect
// settings not reaching the client, the mode switch showing the wrong settings or button
// text, the Enter-key rules of the send editor, payload rules (hex, encodings, empty
// method), the client's call kinds, stream cancel button and auto-reconnect box not
// reaching it, the window not staying "running" while it reconnects, and in server mode the client list not following the simulated hub, a send
// meant for the selected client reaching others, auto replies added in the panel not
// reaching the hub or invalid ones taken without a reason. And the language walk: a kind
// of widget left untranslated, Chinese texts not restored exactly (or remembered from a
// later text), data combo boxes and sign-only labels rewritten, and inexact table
// look-ups. (Listeners go with their context object because they are plain connections
// to languageChanged: Qt's to guarantee, not tested here.)

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "AutoReplyPanel.h"
#include "CommunicationBase.h"
#include "HubClient.h"
#include "HubTestKit.h"
#include "LanguageManager.h"
#include "LogLines.h"
#include "SignalRWidget.h"
#include "SimulatedHub.h"

using HubTestKit::Timeout;

namespace {

QPushButton* buttonWithRole(const SignalRWidget& w, const char* role)
{
    for (QPushButton* button : w.findChildren<QPushButton*>())
        if (button->property("role").toString() == QLatin1String(role))
            return button;
    return nullptr;
}

// Connects the window to the hub and waits for the handshake request, then forgets it.
bool connectTo(SignalRWidget& w, RecordingHub& hub)
{
    w.findChild<QLineEdit*>("hubUrlEdit")->setText(hub.url().toString());
    w.toggleConnection();
    const bool ok = QTest::qWaitFor([&] { return !hub.received.isEmpty(); }, Timeout);
    hub.received.clear();
    return ok && w.isRunning();
}

// Sets the method and payload fields and presses the send button.
void send(const SignalRWidget& w, const QString& method, const QString& payload)
{
    w.findChild<QLineEdit*>("methodEdit")->setText(method);
    w.findChild<QPlainTextEdit*>("sendEdit")->setPlainText(payload);
    buttonWithRole(w, "send")->click();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void connectingFromTheWindow()
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
        auto* status = w.findChild<QLabel*>("connStatus");
        const auto shown = [&] { return QStringList{connect->text(), status->text(), QString::number(connect->height())}; };
        QCOMPARE(buttonWithRole(w, "send")->size(), QSize(120, 32));
        QCOMPARE(w.findChild<QWidget*>("docButton")->height(), 24);
        w.findChild<QLineEdit*>("accessTokenEdit")->setText(QStringLiteral("secret"));
        w.findChild<QCheckBox*>("tokenInQueryCheck")->setChecked(true);
        w.findChild<QPlainTextEdit*>("headersEdit")->setPlainText(QStringLiteral("X-Trace: 1"));
        w.findChild<QCheckBox*>("autoSendCheck")->setChecked(true); // ticked before connecting
        w.findChild<QSpinBox*>("intervalSpin")->setValue(50);
        w.findChild<QPlainTextEdit*>("sendEdit")->setPlainText(QStringLiteral("tick"));

        QVERIFY(connectTo(w, hub));
        QVERIFY(logContains(w.communication(), "SYS 正在连接 " + hub.url().toString() + "?access_token=***... (请求头: X-Trace)"));
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.size() >= 2, Timeout);
        QCOMPARE(shown(), QStringList({"断开", "🟢 已连接", "36"}));
        LanguageManager::instance().setLanguage(1);
        QCOMPARE(shown(), QStringList({"Disconnect", "🟢 Connected", "36"}));
        LanguageManager::instance().setLanguage(0);
        hub.closeAll();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isRunning(), Timeout);
        QCOMPARE(shown(), QStringList({"连接", "⚫未连接", "36"}));
        qApp->setStyleSheet(QString());

        w.findChild<QRadioButton*>("serverRadio")->setChecked(true);
        QCOMPARE(connect->text(), QStringLiteral("启动"));
        QVERIFY(w.findChild<QWidget*>("serverSettings")->isVisible() && !w.findChild<QWidget*>("clientSettings")->isVisible());
        QVERIFY(w.findChild<QWidget*>("clientList")->isVisible() && !w.findChild<QWidget*>("subscriptionList")->isVisible());
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
        QTest::newRow("shift+ctrl+enter, off") << (Qt::ShiftModifier | Qt::ControlModifier) << false << false;
    }

    void enterKey()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, enterSends);
        QFETCH(bool, sends);
        SignalRWidget w;
        w.findChild<QRadioButton*>("serverRadio")->setChecked(true); // a send logs even without clients
        w.findChild<QCheckBox*>("enterSendCheck")->setChecked(enterSends);
        auto* editor = w.findChild<QPlainTextEdit*>("sendEdit");
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

    void clientCallsAndPayloads()
    {
        RecordingHub hub;
        QVERIFY(hub.listen());
        SignalRWidget w;
        QVERIFY(connectTo(w, hub));
        hub.sendToAll(QStringLiteral("{}\x1e")); // handshaken: worth reconnecting to
        // Nothing goes out without a method or with an odd hex digit; hex may hold hyphens;
        // the argument on the wire is the payload read as UTF-8, whatever the encoding.
        auto* hex = w.findChild<QCheckBox*>("hexSendCheck");
        hex->setChecked(true);
        send(w, "", "48");
        send(w, "H", "4");
        send(w, "H", "48-69");
        hex->setChecked(false);
        w.findChild<QComboBox*>("encodingCombo")->setCurrentText("GB2312");
        send(w, "G", "中文");
        auto* stream = w.findChild<QCheckBox*>("streamCheck");
        auto* fireAndForget = w.findChild<QCheckBox*>("fireAndForgetCheck");
        auto* cancel = w.findChild<QPushButton*>("cancelStreamButton");
        fireAndForget->setChecked(true);
        send(w, "M", "p");
        stream->setChecked(true); // the kinds exclude each other
        QVERIFY(!fireAndForget->isChecked());
        buttonWithRole(w, "send")->click();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received, QStringList({HubProtocol::clientInvocation("H", "Hi", 0),
                                                             HubProtocol::clientInvocation("G", "\xD6\xD0\xCE\xC4", 1),
                                                             HubProtocol::serverInvocation("M", "p"),
                                                             HubProtocol::streamInvocation("M", "p", 2)}), Timeout);
        QCOMPARE(logLines(w.communication()).filter("十六进制"), QStringList{"SYS 无效的十六进制数据"});
        QVERIFY(cancel->isEnabled());
        LanguageManager::instance().setLanguage(1); // rows made from now on speak English
        hub.sendToAll(HubProtocol::streamItem("2", 5));
        QTRY_VERIFY_WITH_TIMEOUT(logContains(w.communication(), QStringLiteral("RX [stream #2] 5")), Timeout);
        LanguageManager::instance().setLanguage(0);
        cancel->click();
        QTRY_COMPARE_WITH_TIMEOUT(hub.received.last(), HubProtocol::cancelInvocation("2"), Timeout);
        QVERIFY(!cancel->isEnabled());

        hub.received.clear();
        w.findChild<QCheckBox*>("autoReconnectCheck")->setChecked(true);
        hub.closeAll();
        QTRY_VERIFY_WITH_TIMEOUT(hub.received.contains(HubProtocol::handshakeRequest()), Timeout);
        // While the hub cannot be reached the window keeps trying, and "断开" would stop it.
        hub.sendToAll(QStringLiteral("{}\x1e"));
        hub.server.close();
        hub.closeAll();
        const auto* status = w.findChild<QLabel*>("connStatus");
        QTRY_COMPARE_WITH_TIMEOUT(status->text() + ' ' + buttonWithRole(w, "connect")->text(), "🟡 重连中 断开", Timeout);
    }

    void serverModeClientsAndAutoReplies()
    {
        SignalRWidget w;
        w.findChild<QRadioButton*>("serverRadio")->setChecked(true);
        QVERIFY(w.simulatedHub()->listen(0, QStringLiteral("/hub")));
        HubTestKit::Peer first(w.simulatedHub()->port());
        HubTestKit::Peer second(w.simulatedHub()->port());
        QVERIFY(first.handshake() && second.handshake());
        auto* list = w.findChild<QListWidget*>("clientList");
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 2, Timeout);
        const auto item = [list](const HubTestKit::Peer& peer) { return list->findItems(peer.identifier(), Qt::MatchExactly).value(0); };

        auto* panel = w.findChild<AutoReplyPanel*>();
        auto* problem = w.findChild<QLabel*>("autoReplyProblem");
        w.findChild<QLineEdit*>("autoReplyMethodEdit")->setText(QStringLiteral("Ask"));
        w.findChild<QLineEdit*>("autoReplyJsonEdit")->setText(QStringLiteral("{bad"));
        QVERIFY(!panel->addRule());
        QVERIFY2(problem->text().startsWith(QStringLiteral("JSON 无效 (位置 2)")), qPrintable(problem->text()));
        w.findChild<QLineEdit*>("autoReplyJsonEdit")->setText(QStringLiteral("42"));
        QVERIFY(panel->addRule() && problem->isHidden());
        first.socket->sendTextMessage(QStringLiteral("{\"type\":1,\"invocationId\":\"1\",\"target\":\"ask\",\"arguments\":[]}\x1e"));
        QTRY_COMPARE_WITH_TIMEOUT(first.received, QStringList({"{\"invocationId\":\"1\",\"result\":42,\"type\":3}\x1e"}), Timeout);

        list->setCurrentItem(item(second));
        w.findChild<QCheckBox*>("selectedOnlyCheck")->setChecked(true);
        send(w, "M", "x");
        QTRY_COMPARE_WITH_TIMEOUT(second.received, QStringList({HubProtocol::serverInvocation("M", "x")}), Timeout);
        QCOMPARE(first.received.size(), 1);

        for (QPushButton* button : w.findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("断开选中客户端"))
                button->click();
        QTRY_COMPARE_WITH_TIMEOUT(second.socket->state(), QAbstractSocket::UnconnectedState, Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(list->count() == 1 && item(first), Timeout);
    }

    void walkSwitchesEveryKindAndComesBack()
    {
        LanguageManager& language = LanguageManager::instance();
        QWidget root;
        language.addListener(&root, [&root] { applyLanguage(&root); });
        auto* group = new QGroupBox(&root);
        auto* tabs = new QTabWidget(&root);
        tabs->addTab(new QWidget, QStringLiteral("通信日志"));
        auto* combo = new QComboBox(&root);
        combo->addItems({QStringLiteral("折线图"), QStringLiteral("UTF-8")});
        auto* dataCombo = new QComboBox(&root); // 20 items or more hold data, not captions
        for (int i = 0; i < 20; ++i)
            dataCombo->addItem(QStringLiteral("饼图"));
        struct Part { QWidget* widget; const char* property; QString chinese, english; };
        const QList<Part> parts{{&root, "windowTitle", "SignalR调试助手", "SignalR Debug Tool"},
                                {new QLabel(&root), "text", "连接设置", "Connection"},
                                {new QLabel(&root), "text", "◆", "◆"},
                                {new QLabel(&root), "text", "连接设置x", "连接设置x"}, // look-ups are exact
                                {new QLabel(&root), "text", " 连接", " 连接"},
                                {new QPushButton(&root), "text", "连接", "Connect"},
                                {new QCheckBox(&root), "text", "自动滚动", "Auto Scroll"},
                                {group, "title", "显示设置", "Display"},
                                {new QRadioButton(group), "text", "SignalR 客户端", "SignalR Client"},
                                {new QPlainTextEdit(&root), "placeholderText", "输入要发送的消息...", "Enter message to send..."},
                                {new QLineEdit(&root), "placeholderText", "规则名称", "Rule Name"}};
        for (const Part& part : parts)
            part.widget->setProperty(part.property, part.chinese);
        const auto shown = [&] {
            QStringList texts{tabs->tabText(0), combo->itemText(0), combo->itemText(1), dataCombo->itemText(0)};
            for (const Part& part : parts)
                texts << part.widget->property(part.property).toString();
            return texts;
        };
        QStringList english{"Log", "Line Chart", "UTF-8", "饼图"};
        for (const Part& part : parts)
            english << part.english;
        const QStringList chinese = shown();
        for (int round = 0; round < 2; ++round) {
            language.setLanguage(1);
            QCOMPARE(shown(), english);
            language.setLanguage(0);
            QCOMPARE(shown(), chinese);
        }
        QVERIFY(parts[2].widget->dynamicPropertyNames().isEmpty()); // the sign is left alone

        // The look-up uses what is shown now; going back restores what was there first.
        parts[1].widget->setProperty("text", QStringLiteral("断开"));
        language.setLanguage(1);
        QCOMPARE(parts[1].widget->property("text"), QStringLiteral("Disconnect"));
        language.setLanguage(0);
        QCOMPARE(parts[1].widget->property("text"), QStringLiteral("连接设置"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

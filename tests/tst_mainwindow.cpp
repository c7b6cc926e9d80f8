#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "LanguageManager.h"
#include "LogLines.h"
#include "SignalRWidget.h"
#include "HubTestKit.h"
#include "SignalRWidgetProbe.h"

// The window's shape: defaults, the mode switch, the connect button and status label.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void defaults()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        QCOMPARE(w.size(), QSize(1120, 760));
        QCOMPARE(w.minimumSize(), QSize(900, 600));
        QCOMPARE(w.windowTitle(), QStringLiteral("SignalR调试助手"));
        QCOMPARE(p.hubUrlEdit()->text(), QStringLiteral("ws://localhost:5000/debughub"));
        QCOMPARE(p.portSpin()->value(), 5000);
        QCOMPARE(p.hubPathEdit()->text(), QStringLiteral("/debughub"));
        QCOMPARE(p.subscribeEdit()->text(), QStringLiteral("ReceiveMessage"));
        QVERIFY(p.subscriptions().isEmpty());
        QCOMPARE(p.methodEdit()->text(), QStringLiteral("SendMessage"));
        QCOMPARE(p.intervalSpin()->value(), 1000);
        QVERIFY(p.enterSendCheck()->isChecked());
        QVERIFY(!p.hexSendCheck()->isChecked());
        QCOMPARE(p.encodingCombo()->count(), 5);
        QCOMPARE(p.encodingCombo()->currentText(), QStringLiteral("UTF-8"));
        QCOMPARE(p.tabWidget()->count(), 2);
        QCOMPARE(p.tabWidget()->tabText(0), QStringLiteral("通信日志"));
        QCOMPARE(p.tabWidget()->tabText(1), QStringLiteral("数据图表"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("connStatus"))->text(), QStringLiteral("◆未连接"));
        QCOMPARE(p.connectButton()->objectName(), QStringLiteral("accentButton"));
    }

    void modeSwitch()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        p.serverRadio()->setChecked(true);
        QVERIFY(!p.clientSettings()->isVisible());
        QVERIFY(p.serverSettings()->isVisible());
        QVERIFY(!p.subscriptionGroup()->isVisible());
        QVERIFY(p.clientsGroup()->isVisible());
        QVERIFY(p.serverMode());
        QCOMPARE(p.connectButton()->text(), QStringLiteral("启动"));

        p.clientRadio()->setChecked(true);
        QVERIFY(p.clientSettings()->isVisible());
        QVERIFY(!p.serverSettings()->isVisible());
        QVERIFY(p.subscriptionGroup()->isVisible());
        QVERIFY(!p.clientsGroup()->isVisible());
        QCOMPARE(p.connectButton()->text(), QStringLiteral("连接"));
    }

    void controlsFeedTheLogSettings()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        p.hexDisplayCheck()->setChecked(true);
        p.timestampCheck()->setChecked(false);
        p.autoScrollCheck()->setChecked(false);
        p.encodingCombo()->setCurrentText(QStringLiteral("GBK"));
        QVERIFY(p.comm()->hexDisplay());
        QVERIFY(!p.comm()->showTimestamp());
        QVERIFY(!p.comm()->autoScroll());
        QCOMPARE(p.comm()->encoding(), QStringLiteral("GBK"));
        p.fontSizeSpin()->setValue(14);
        p.lineSpacingSpin()->setValue(-3);
        QCOMPARE(p.logView()->fontSize(), 14);
        QCOMPARE(p.logView()->lineSpacing(), -3);
    }

    // Listening, switching the mode while running and stopping: the button and status
    // follow the running state, not the radio buttons.
    void runningStateDrivesButtonAndStatus()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        auto* status = w.findChild<QLabel*>(QStringLiteral("connStatus"));
        QVERIFY(HubTestKit::startWindowServer(p));
        QVERIFY(p.running());
        QCOMPARE(p.connectButton()->text(), QStringLiteral("断开"));
        QVERIFY(p.connectButton()->styleSheet().contains(QStringLiteral("#EF4444")));
        QCOMPARE(status->text(), QStringLiteral("🟢 已连接"));

        p.clientRadio()->setChecked(true);
        QVERIFY(p.running());
        QVERIFY(p.server());
        QCOMPARE(p.connectButton()->text(), QStringLiteral("断开"));

        w.toggleConnection();
        QVERIFY(!p.running());
        QCOMPARE(p.connectButton()->text(), QStringLiteral("连接"));
        QCOMPARE(p.connectButton()->objectName(), QStringLiteral("accentButton"));
        QVERIFY(p.connectButton()->styleSheet().isEmpty());
        QCOMPARE(p.connectButton()->height(), 36);
        QCOMPARE(status->text(), QStringLiteral("⚫未连接"));
        QCOMPARE(logLines(p.comm()).last(), QStringLiteral("SYS 已断开"));
    }

    // The language walk must not bring back a status text from an earlier state.
    void statusLabelSurvivesLanguageSwitches()
    {
        SignalRWidget w;
        SignalRWidgetProbe p(w);
        auto* status = w.findChild<QLabel*>(QStringLiteral("connStatus"));
        LanguageManager::instance().setLanguage(1);
        QVERIFY(HubTestKit::startWindowServer(p));
        QCOMPARE(status->text(), QStringLiteral("🟢 Connected"));
        LanguageManager::instance().setLanguage(0);
        QCOMPARE(status->text(), QStringLiteral("🟢 已连接"));
        w.disconnectAll();
        QCOMPARE(status->text(), QStringLiteral("⚫未连接"));
        LanguageManager::instance().setLanguage(1);
        QCOMPARE(status->text(), QStringLiteral("○ Disconnected"));
        p.sendEdit()->setFocus();
        LanguageManager::instance().setLanguage(0);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

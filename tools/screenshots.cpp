// Takes the README's screenshots from the real program: one window as the simulated
// hub with scripted replies, one as a client connected to it, a short conversation,
// then a PNG of each, the chart tab, and the server's log filtered with an entry open in
// the detail pane, and a client in MessagePack with a message's bytes open. Given the address of a hub that negotiates, a further window shows the
// connect settings and the negotiate steps in its log.
// Usage: screenshots <output folder> [hub address]   (needs a display or QT_QPA_PLATFORM=offscreen)

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTextStream>

#include "AutoReplyPanel.h"
#include "LanguageManager.h"
#include "SignalRWidget.h"

namespace {

template <typename T>
T* child(QWidget& w, const QString& text)
{
    const QList<T*> all = w.findChildren<T*>();
    for (T* c : all)
        if (c->property("text").toString() == text)
            return c;
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    QFile theme(QStringLiteral(":/styles/DarkTheme.qss"));
    if (theme.open(QIODevice::ReadOnly | QIODevice::Text))
        app.setStyleSheet(QTextStream(&theme).readAll());

    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    const int port = probe.serverPort();
    probe.close();

    SignalRWidget server;
    server.show();
    child<QRadioButton>(server, QStringLiteral("SignalR 服务端(模拟)"))->setChecked(true);
    server.findChild<QSpinBox*>(QStringLiteral("portSpin"))->setValue(port);
    child<QPushButton>(server, QStringLiteral("启动"))->click();

    // Scripted replies, added through the panel's fields as a user would.
    struct Rule { const char* method; int action; const char* target; const char* json; };
    const Rule rules[] = {{"GetConfig", 0, "", "{\"level\":3}"},
                          {"GetConfig", 1, "Notify", "\"configured\""},
                          {"JoinRoom", 2, "UserJoined", "[\"guest\",1]"}};
    auto* replies = server.findChild<AutoReplyPanel*>();
    for (const Rule& rule : rules) {
        server.findChild<QLineEdit*>(QStringLiteral("autoReplyMethodEdit"))->setText(QString::fromUtf8(rule.method));
        server.findChild<QComboBox*>(QStringLiteral("autoReplyActionCombo"))->setCurrentIndex(rule.action);
        server.findChild<QLineEdit*>(QStringLiteral("autoReplyTargetEdit"))->setText(QString::fromUtf8(rule.target));
        server.findChild<QLineEdit*>(QStringLiteral("autoReplyJsonEdit"))->setText(QString::fromUtf8(rule.json));
        replies->addRule();
    }
    // An application's negotiation, as the official clients start.
    QNetworkAccessManager network;
    QNetworkRequest negotiate(QUrl(QStringLiteral("http://127.0.0.1:%1/debughub/negotiate?negotiateVersion=1").arg(port)));
    negotiate.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain"));
    network.post(negotiate, QByteArray());
    QTest::qWait(300);

    SignalRWidget client;
    client.show();
    client.findChild<QLineEdit*>(QStringLiteral("hubUrlEdit"))->setText(QStringLiteral("ws://localhost:%1/debughub").arg(port));
    child<QPushButton>(client, QStringLiteral("订阅"))->click();
    child<QPushButton>(client, QStringLiteral("连接"))->click();
    QTest::qWait(800);

    // A chart rule on the client, fed by values the simulated hub pushes.
    client.findChild<QCheckBox*>(QStringLiteral("enableCheck"))->setChecked(true);
    client.findChild<QLineEdit*>(QStringLiteral("ruleNameEdit"))->setText(QStringLiteral("温度"));
    client.findChild<QLineEdit*>(QStringLiteral("ruleExprEdit"))->setText(QStringLiteral("data.value"));
    child<QPushButton>(client, QStringLiteral("添加规则"))->click();

    auto* clientEdit = client.findChild<QPlainTextEdit*>(QStringLiteral("sendEdit"));
    for (const char* text : {"hello from the client", "{\"data\":{\"value\":21.5}}"}) {
        clientEdit->setPlainText(QString::fromUtf8(text));
        child<QPushButton>(client, QStringLiteral("刷新"))->click();
        QTest::qWait(150);
    }
    auto* clientMethod = client.findChild<QLineEdit*>(QStringLiteral("methodEdit"));
    clientMethod->setText(QStringLiteral("GetConfig"));
    child<QPushButton>(client, QStringLiteral("刷新"))->click();
    QTest::qWait(150);
    clientMethod->setText(QStringLiteral("SendMessage"));
    auto* serverEdit = server.findChild<QPlainTextEdit*>(QStringLiteral("sendEdit"));
    for (const char* text : {"推送一条消息", "temp=23.4"}) {
        serverEdit->setPlainText(QString::fromUtf8(text));
        child<QPushButton>(server, QStringLiteral("刷新"))->click();
        QTest::qWait(150);
    }
    QTest::qWait(400);
    // The server's log is shot before the chart feed buries the conversation.
    server.findChild<QScrollArea*>()->ensureWidgetVisible(replies);
    QTest::qWait(100);
    server.grab().save(out + QStringLiteral("/server-mode.png"));
    for (int i = 0; i < 24; ++i) {
        const double value = 20.0 + i * 0.4 + ((i * 7) % 5) * 0.6;
        serverEdit->setPlainText(QStringLiteral("{\"data\":{\"value\":%1}}").arg(value));
        child<QPushButton>(server, QStringLiteral("刷新"))->click();
        QTest::qWait(120);
    }
    QTest::qWait(400);

    client.grab().save(out + QStringLiteral("/client-mode.png"));

    // The server's log filtered to the client's invocations, one of them open in the
    // detail pane: rows with their record-separator marks, the JSON indented below.
    server.resize(1360, 900);
    server.findChild<QSplitter*>(QStringLiteral("logSplitter"))->setSizes({280, 300});
    server.findChild<QLineEdit*>(QStringLiteral("filterMethod"))->setText(QStringLiteral("SendMessage"));
    QTest::qWait(600);
    auto* serverLog = server.findChild<QListView*>(QStringLiteral("logOutput"));
    serverLog->setCurrentIndex(serverLog->model()->index(serverLog->model()->rowCount() - 1, 0));
    QTest::qWait(200);
    server.grab().save(out + QStringLiteral("/log-detail.png"));
    client.findChild<QTabWidget*>()->setCurrentIndex(1);
    QTest::qWait(600);
    client.grab().save(out + QStringLiteral("/chart.png"));
    if (qEnvironmentVariableIsSet("KORVAHUB_SHOT_ALL_CHARTS")) {
        auto* type = client.findChild<QComboBox*>(QStringLiteral("chartTypeCombo"));
        const char* names[] = {"line", "spline", "scatter", "area", "bar", "pie"};
        for (int i = 0; i < 6; ++i) {
            type->setCurrentIndex(i);
            serverEdit->setPlainText(QStringLiteral("{\"data\":{\"value\":%1}}").arg(25 + i));
            child<QPushButton>(server, QStringLiteral("刷新"))->click();
            QTest::qWait(700);
            client.grab().save(out + QStringLiteral("/chart-%1.png").arg(QLatin1String(names[i])));
        }
        // A new window's chart tab before charts are enabled.
        SignalRWidget idle;
        idle.show();
        idle.findChild<QTabWidget*>()->setCurrentIndex(1);
        QTest::qWait(300);
        idle.grab().save(out + QStringLiteral("/chart-idle.png"));
        auto* language = idle.findChild<QComboBox*>(QStringLiteral("languageCombo"));
        language->showPopup();
        QTest::qWait(300);
        language->view()->window()->grab().save(out + QStringLiteral("/language-popup.png"));
        language->hidePopup();
        // Both modes in English, and the client at the smallest window size.
        LanguageManager::instance().setLanguage(1);
        client.findChild<QTabWidget*>()->setCurrentIndex(0);
        QTest::qWait(300);
        client.grab().save(out + QStringLiteral("/client-mode-en.png"));
        server.grab().save(out + QStringLiteral("/server-mode-en.png"));
        LanguageManager::instance().setLanguage(0);
        client.resize(client.minimumSize());
        QTest::qWait(300);
        client.grab().save(out + QStringLiteral("/client-900x600.png"));
    }
    // A client speaking MessagePack to the same simulated hub: its rows read as JSON
    // ones, and the detail pane's hex view holds the bytes that came.
    SignalRWidget binary;
    binary.show();
    binary.resize(1360, 900);
    binary.findChild<QComboBox*>(QStringLiteral("protocolCombo"))->setCurrentIndex(1);
    binary.findChild<QLineEdit*>(QStringLiteral("hubUrlEdit"))->setText(QStringLiteral("ws://localhost:%1/debughub").arg(port));
    child<QPushButton>(binary, QStringLiteral("连接"))->click();
    QTest::qWait(800);
    auto* binaryMethod = binary.findChild<QLineEdit*>(QStringLiteral("methodEdit"));
    auto* binaryEdit = binary.findChild<QPlainTextEdit*>(QStringLiteral("sendEdit"));
    const char* const calls[][2] = {{"Echo", "{\"sensor\":\"t1\",\"temp\":21.5,\"ok\":true}"}, {"GetConfig", "1"}, {"Counter", "3,100"}};
    for (const auto& [method, text] : calls) {
        binaryMethod->setText(QString::fromUtf8(method));
        binaryEdit->setPlainText(QString::fromUtf8(text));
        binary.findChild<QCheckBox*>(QStringLiteral("streamCheck"))->setChecked(QLatin1String(method) == QLatin1String("Counter"));
        child<QPushButton>(binary, QStringLiteral("刷新"))->click();
        QTest::qWait(200);
    }
    QTest::qWait(600);
    binary.findChild<QSplitter*>(QStringLiteral("logSplitter"))->setSizes({420, 220});
    auto* binaryLog = binary.findChild<QListView*>(QStringLiteral("logOutput"));
    const QAbstractItemModel* binaryRows = binaryLog->model();
    for (int row = 0; row < binaryRows->rowCount(); ++row)
        if (binaryRows->index(row, 0).data().toString().contains(QLatin1String("[Echo](")))
            binaryLog->setCurrentIndex(binaryRows->index(row, 0));
    child<QPushButton>(binary, QStringLiteral("十六进制"))->click();
    QTest::qWait(300);
    binary.grab().save(out + QStringLiteral("/messagepack.png"));

    if (argc > 2) {
        SignalRWidget negotiating;
        negotiating.show();
        auto* address = negotiating.findChild<QLineEdit*>(QStringLiteral("hubUrlEdit"));
        address->setText(QString::fromLocal8Bit(argv[2]));
        address->home(false);
        negotiating.findChild<QCheckBox*>(QStringLiteral("negotiateCheck"))->setChecked(true);
        negotiating.findChild<QLineEdit*>(QStringLiteral("accessTokenEdit"))->setText(QStringLiteral("dev-token"));
        negotiating.findChild<QPlainTextEdit*>(QStringLiteral("headersEdit"))
            ->setPlainText(QStringLiteral("X-Trace: korvahub"));
        child<QPushButton>(negotiating, QStringLiteral("连接"))->click();
        QTest::qWait(2000);
        negotiating.grab().save(out + QStringLiteral("/connect-settings.png"));
    }
    return 0;
}

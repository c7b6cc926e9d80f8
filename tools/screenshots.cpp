// Takes the README's screenshots from the real program: one window as the simulated
// hub, one as a client connected to it, a short conversation, then a PNG of each, the
// chart tab, and the server's log filtered with an entry open in the detail pane.
// Usage: screenshots <output folder>   (needs a display or QT_QPA_PLATFORM=offscreen)

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTextStream>

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
    auto* serverEdit = server.findChild<QPlainTextEdit*>(QStringLiteral("sendEdit"));
    for (const char* text : {"推送一条消息", "temp=23.4"}) {
        serverEdit->setPlainText(QString::fromUtf8(text));
        child<QPushButton>(server, QStringLiteral("刷新"))->click();
        QTest::qWait(150);
    }
    QTest::qWait(400);
    // The server's log is shot before the chart feed buries the conversation.
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
    auto* serverLog = server.findChild<QListWidget*>(QStringLiteral("logOutput"));
    serverLog->setCurrentRow(serverLog->count() - 1);
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
    }
    return 0;
}

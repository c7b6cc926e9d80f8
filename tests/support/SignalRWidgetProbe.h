#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include "LogViewWidget.h"
#include "SignalRWidget.h"

// White-box access to the window's state for the tests (a friend of SignalRWidget).
struct SignalRWidgetProbe
{
    explicit SignalRWidgetProbe(SignalRWidget& window)
        : w(window)
    {
    }

    CommunicationBase* comm() const { return w.comm; }
    LogViewWidget* logView() const { return w.logView; }
    QWebSocket* clientSocket() const { return w.clientSocket; }
    QWebSocketServer* server() const { return w.server; }
    QList<QWebSocket*> serverClients() const { return w.serverClients; }
    bool running() const { return w.running; }
    bool serverMode() const { return w.serverMode; }
    qint32& invocationCounter() const { return w.invocationCounter; }
    QStringList subscriptions() const { return w.subscriptions; }
    QTimer* autoSendTimer() const { return w.autoSendTimer; }
    int& keepAliveMs() const { return w.keepAliveMs; }
    quint64& maxMessageBytes() const { return w.maxMessageBytes; }

    QRadioButton* clientRadio() const { return w.clientRadio; }
    QRadioButton* serverRadio() const { return w.serverRadio; }
    QWidget* clientSettings() const { return w.clientSettings; }
    QWidget* serverSettings() const { return w.serverSettings; }
    QGroupBox* subscriptionGroup() const { return w.subscriptionGroup; }
    QGroupBox* clientsGroup() const { return w.clientsGroup; }
    QLineEdit* hubUrlEdit() const { return w.hubUrlEdit; }
    QSpinBox* portSpin() const { return w.portSpin; }
    QLineEdit* hubPathEdit() const { return w.hubPathEdit; }
    QComboBox* encodingCombo() const { return w.encodingCombo; }
    QPushButton* connectButton() const { return w.connectButton; }
    QLineEdit* subscribeEdit() const { return w.subscribeEdit; }
    QListWidget* subscriptionList() const { return w.subscriptionList; }
    QListWidget* clientList() const { return w.clientList; }
    QPushButton* disconnectClientButton() const { return w.disconnectClientButton; }
    QCheckBox* hexDisplayCheck() const { return w.hexDisplayCheck; }
    QCheckBox* timestampCheck() const { return w.timestampCheck; }
    QCheckBox* autoScrollCheck() const { return w.autoScrollCheck; }
    QLineEdit* methodEdit() const { return w.methodEdit; }
    QPlainTextEdit* sendEdit() const { return w.sendEdit; }
    QCheckBox* hexSendCheck() const { return w.hexSendCheck; }
    QCheckBox* enterSendCheck() const { return w.enterSendCheck; }
    QCheckBox* autoSendCheck() const { return w.autoSendCheck; }
    QSpinBox* intervalSpin() const { return w.intervalSpin; }
    QSpinBox* lineSpacingSpin() const { return w.lineSpacingSpin; }
    QSpinBox* fontSizeSpin() const { return w.fontSizeSpin; }
    QTabWidget* tabWidget() const { return w.tabWidget; }

    SignalRWidget& w;
};

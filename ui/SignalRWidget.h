#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "HubProtocol.h"

class ChartEngine;
class CommunicationBase;
class LogViewWidget;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QJsonObject;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QTabWidget;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// The program's one window. Besides the widgets it owns both ends of the hub protocol:
// the hub client (hub/SignalRWidgetClient.cpp), the simulated hub server
// (hub/SignalRWidgetServer.cpp) and the send composer (ui/SignalRWidgetSend.cpp).
class SignalRWidget : public QWidget
{
    Q_OBJECT

public:
    explicit SignalRWidget(QWidget* parent = nullptr);
    ~SignalRWidget() override;

public slots:
    void toggleConnection();
    void sendData();
    void addSubscription();
    void removeSubscription();
    void connectClient();
    void startServer();
    void disconnectAll();
    void feedChartData(const QString& text);
    void onWsConnected();
    void onWsDisconnected();
    void onWsTextReceived(const QString& message);
    void toggleAutoSend(bool enabled);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend struct SignalRWidgetProbe; // white-box access for the tests

    void setupUI();
    QWidget* createControlPanel();
    QWidget* createWorkArea();
    QWidget* createSendArea();
    QGroupBox* createChartGroup();
    void onModeToggled(bool clientChecked);
    void updateConnectButton();
    void updateStatusLabel();

    // client side
    void sendSubscribe(const QString& method);
    void handleHubMessage(const QJsonObject& object);
    void handleRecord(const HubProtocol::Record& record);
    void onWsError(QWebSocket* socket);
    void sendOnClient(const QString& text);
    void queueWsText(const QString& message);
    void processInbound(qint64 budgetNs);
    QString oversizeMessage() const;
    void discardClientSocket();

    // server side
    void onNewConnection();
    void onClientText(QWebSocket* socket, const QString& message);
    void onClientDisconnected(QWebSocket* socket, const QString& identifier);
    void disconnectSelectedClient();
    void sendToClient(QWebSocket* socket, const QString& text);

    // send composer
    QByteArray buildPayload();
    int nextInvocationNumber();

    QScrollArea* controlScroll = nullptr;
    CommunicationBase* comm = nullptr;
    LogViewWidget* logView = nullptr;
    QTabWidget* tabWidget = nullptr;
    ChartEngine* chartEngine = nullptr;
    QWebSocket* clientSocket = nullptr;
    QWebSocketServer* server = nullptr;
    QList<QWebSocket*> serverClients;
    QRadioButton* clientRadio = nullptr;
    QRadioButton* serverRadio = nullptr;
    QWidget* clientSettings = nullptr;
    QWidget* serverSettings = nullptr;
    QLineEdit* hubUrlEdit = nullptr;
    QSpinBox* portSpin = nullptr;
    QLineEdit* hubPathEdit = nullptr;
    QComboBox* encodingCombo = nullptr;
    QPushButton* connectButton = nullptr;
    QGroupBox* subscriptionGroup = nullptr;
    QLineEdit* subscribeEdit = nullptr;
    QPushButton* subscribeButton = nullptr;
    QListWidget* subscriptionList = nullptr;
    QPushButton* unsubscribeButton = nullptr;
    QGroupBox* clientsGroup = nullptr;
    QListWidget* clientList = nullptr;
    QPushButton* disconnectClientButton = nullptr;
    QCheckBox* hexDisplayCheck = nullptr;
    QCheckBox* timestampCheck = nullptr;
    QCheckBox* autoScrollCheck = nullptr;
    QSpinBox* lineSpacingSpin = nullptr;
    QSpinBox* fontSizeSpin = nullptr;
    QLineEdit* methodEdit = nullptr;
    QPlainTextEdit* sendEdit = nullptr;
    QCheckBox* hexSendCheck = nullptr;
    QCheckBox* enterSendCheck = nullptr;
    QPushButton* sendPushButton = nullptr;
    QCheckBox* autoSendCheck = nullptr;
    QSpinBox* intervalSpin = nullptr;
    QTimer* autoSendTimer = nullptr;
    QTimer* clientKeepAlive = nullptr;
    // Received messages not handled yet, and the zero-delay timer that handles them in
    // slices so a flood never holds the event loop for long.
    QList<QString> inbound;
    qsizetype inboundChars = 0;
    QTimer* inboundTimer = nullptr;
    // Quiet time after which either side pings its peer.
    int keepAliveMs = 15000;
    quint64 maxMessageBytes = HubProtocol::MaxMessageBytes;
    QStringList subscriptions;
    qint32 invocationCounter = 0;
    bool serverMode = false;
    bool running = false;
    // True from the handshake request until the first record answers it.
    bool awaitingHandshake = false;
    // True once the status label shows a state rather than its initial text.
    bool statusShown = false;
    QComboBox* languageCombo = nullptr;
};

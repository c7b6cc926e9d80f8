#pragma once

#include <QWidget>

class AutoReplyPanel;
class ChartEngine;
class ChartFeed;
class ClientOptions;
class CommunicationBase;
class ConnectionOptionsPanel;
class HubClient;
class LogViewWidget;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QTabWidget;
class QTimer;
class Settings;
class SimulatedHub;
class WindowSettings;

// The program's one window: header, control column, log and chart tabs and the send
// area. Both ends of the hub protocol live in their own objects (HubClient,
// SimulatedHub); the window builds the widgets, wires them to those objects and follows
// their state. Widgets that tests and the screenshot tool look up carry object names.
class SignalRWidget : public QWidget
{
    Q_OBJECT

public:
    explicit SignalRWidget(QWidget* parent = nullptr);
    ~SignalRWidget() override;

    CommunicationBase* communication() const { return m_comm; }
    HubClient* hubClient() const { return m_client; }
    SimulatedHub* simulatedHub() const { return m_hub; }
    ChartEngine* chartEngine() const { return m_chartEngine; }
    // Client connected, or server listening.
    bool isRunning() const { return m_running; }

    // Restores the set-up kept in `settings` and keeps it there from now on (until the
    // window closes). A window never given settings reads and writes nothing, as in
    // tests and tools.
    void useSettings(Settings* settings);

public slots:
    void toggleConnection();
    void sendData();
    void addSubscription();
    void removeSubscription();
    void connectClient();
    void startServer();
    void disconnectAll();
    void onWsConnected();
    void onWsDisconnected();
    void onWsTextReceived(const QString& message);
    void toggleAutoSend(bool enabled);

private:
    void setupUI();
    QWidget* createHeader();
    QWidget* createControlPanel();
    QGroupBox* createConnectionGroup(QWidget* parent);
    QGroupBox* createDisplayGroup(QWidget* parent);
    QGroupBox* createChartGroup(QWidget* parent);
    QWidget* createWorkArea();
    QWidget* createSendArea(QWidget* parent);
    void onModeToggled(bool clientChecked);
    void showClientMenu(const QPoint& position);
    void setRunning(bool running);
    void updateConnectButton();
    void updateStatusLabel();
    QByteArray buildPayload();
    void saveSubscriptions();

    CommunicationBase* m_comm = nullptr;
    HubClient* m_client = nullptr;
    SimulatedHub* m_hub = nullptr;
    ClientOptions* m_clientOptions = nullptr;
    QWidget* m_clientSendOptions = nullptr;
    QTimer* m_autoSendTimer = nullptr;
    ChartEngine* m_chartEngine = nullptr;
    ChartFeed* m_chartFeed = nullptr;
    LogViewWidget* m_logView = nullptr;
    QScrollArea* m_controlScroll = nullptr;
    QTabWidget* m_tabWidget = nullptr;
    QLabel* m_statusLabel = nullptr;
    QRadioButton* m_clientRadio = nullptr;
    QRadioButton* m_serverRadio = nullptr;
    QWidget* m_clientSettings = nullptr;
    QWidget* m_serverSettings = nullptr;
    QLineEdit* m_hubUrlEdit = nullptr;
    ConnectionOptionsPanel* m_connectOptions = nullptr;
    QSpinBox* m_portSpin = nullptr;
    QLineEdit* m_hubPathEdit = nullptr;
    QComboBox* m_encodingCombo = nullptr;
    QPushButton* m_connectButton = nullptr;
    QGroupBox* m_subscriptionGroup = nullptr;
    QLineEdit* m_subscribeEdit = nullptr;
    QListWidget* m_subscriptionList = nullptr;
    QGroupBox* m_clientsGroup = nullptr;
    QListWidget* m_clientList = nullptr;
    AutoReplyPanel* m_autoReplyPanel = nullptr;
    QCheckBox* m_hexDisplayCheck = nullptr;
    QCheckBox* m_timestampCheck = nullptr;
    QCheckBox* m_autoScrollCheck = nullptr;
    QSpinBox* m_lineSpacingSpin = nullptr;
    QSpinBox* m_fontSizeSpin = nullptr;
    QLineEdit* m_methodEdit = nullptr;
    QPlainTextEdit* m_sendEdit = nullptr;
    QCheckBox* m_hexSendCheck = nullptr;
    QCheckBox* m_enterSendCheck = nullptr;
    QCheckBox* m_selectedOnlyCheck = nullptr;
    QCheckBox* m_autoSendCheck = nullptr;
    QSpinBox* m_intervalSpin = nullptr;
    QComboBox* m_languageCombo = nullptr;
    WindowSettings* m_windowSettings = nullptr;
    bool m_serverMode = false;
    bool m_running = false;
    // True once the status label shows a state rather than its initial text.
    bool m_statusShown = false;
};

#include "SignalRWidget.h"

#include <QButtonGroup>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "AdBanner.h"
#include "AutoReplyPanel.h"
#include "ChartEngine.h"
#include "ChartFeed.h"
#include "ClientOptions.h"
#include "CommunicationBase.h"
#include "ConnectionOptionsPanel.h"
#include "Documentation.h"
#include "HubClient.h"
#include "LanguageManager.h"
#include "LogViewWidget.h"
#include "Palette.h"
#include "PayloadCodec.h"
#include "SendKeys.h"
#include "Settings.h"
#include "SimulatedHub.h"
#include "WindowSettings.h"

namespace {

constexpr int DefaultPort = 5000;
constexpr int DefaultAutoSendMs = 1000;
constexpr int HeaderControlHeight = 24;
constexpr int ControlColumnWidth = 254;
// The theme's vertical scroll bar; the control column's scroll area leaves room for it so
// that the bar never covers the right borders of the groups.
constexpr int ThemeScrollBarWidth = 10;

const QString SubscriptionsKey = QStringLiteral("client/subscriptions");
const QString ChartRulesKey = QStringLiteral("chart/rules");
const QString RecentAddressesKey = QStringLiteral("recent/addresses");
const QString RecentMethodsKey = QStringLiteral("recent/methods");

// A label followed by an editor, one under the other.
void addLabelled(QVBoxLayout* layout, const QString& label, QWidget* editor)
{
    layout->addWidget(new QLabel(label, editor->parentWidget()));
    layout->addWidget(editor);
}

QCheckBox* addCheck(QLayout* layout, QWidget* parent, const QString& text, bool checked)
{
    auto* check = new QCheckBox(text, parent);
    check->setChecked(checked);
    layout->addWidget(check);
    return check;
}

} // namespace

SignalRWidget::SignalRWidget(QWidget* parent)
    : QWidget(parent)
    , m_comm(new CommunicationBase(this))
    , m_client(new HubClient(m_comm, this))
    , m_hub(new SimulatedHub(m_comm, this))
    , m_clientOptions(new ClientOptions(m_client, this))
    , m_autoSendTimer(new QTimer(this))
{
    m_comm->setEnglishTexts(LanguageManager::instance().isEnglish());
    connect(m_autoSendTimer, &QTimer::timeout, this, &SignalRWidget::sendData);
    connect(m_client, &HubClient::connected, this, &SignalRWidget::onWsConnected);
    connect(m_client, &HubClient::disconnected, this, &SignalRWidget::onWsDisconnected);
    // Still "running" while reconnecting, so that "断开" stops the attempts.
    connect(m_client, &HubClient::reconnecting, this, [this] { setRunning(true); });
    setupUI();
    m_chartFeed = new ChartFeed(m_chartEngine, m_comm, this);
    // Arguments reach the charts only while a rule could take a value from them: a
    // flood with no rules then costs nothing there.
    const auto followRules = [this] {
        if (m_chartEngine->rules().isEmpty())
            disconnect(m_client, &HubClient::argumentReceived, m_chartFeed, &ChartFeed::enqueue);
        else
            connect(m_client, &HubClient::argumentReceived, m_chartFeed, &ChartFeed::enqueue, Qt::UniqueConnection);
    };
    connect(m_chartEngine, &ChartEngine::rulesChanged, this, followRules);
    followRules();
    connect(m_hub, &SimulatedHub::peerJoined, m_clientList,
            [this](const QString& identifier) { m_clientList->addItem(identifier); });
    connect(m_hub, &SimulatedHub::peerLeft, m_clientList, [this](const QString& identifier) {
        const QList<QListWidgetItem*> items = m_clientList->findItems(identifier, Qt::MatchExactly);
        if (!items.isEmpty())
            delete items.first();
    });
}

SignalRWidget::~SignalRWidget()
{
    disconnectAll();
}

void SignalRWidget::setupUI()
{
    setWindowTitle(QStringLiteral("SignalR调试助手"));
    // Reading the icon file decodes every size in it: done once the window is up.
    QTimer::singleShot(0, this, [this] { setWindowIcon(QIcon(QStringLiteral(":/icon/SignalR.ico"))); });
    setMinimumSize(900, 600);
    resize(1120, 760);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(createHeader());

    auto* body = new QHBoxLayout;
    body->setContentsMargins(16, 4, 16, 12);
    body->setSpacing(12);
    m_controlScroll = new QScrollArea(this);
    m_controlScroll->setWidgetResizable(false);
    m_controlScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_controlScroll->setFixedWidth(ControlColumnWidth + ThemeScrollBarWidth + 2);
    m_controlScroll->setWidget(createControlPanel());
    body->addWidget(m_controlScroll, 0);
    body->addWidget(createWorkArea(), 1);
    root->addLayout(body);

    connect(m_lineSpacingSpin, &QSpinBox::valueChanged, m_logView, &LogViewWidget::setLineSpacing);
    connect(m_fontSizeSpin, &QSpinBox::valueChanged, m_logView, &LogViewWidget::setFontSize);

    applyLanguage(this);
    m_logView->setEnglish(LanguageManager::instance().isEnglish());
    // The chart panel's texts switch first, then the window's.
    LanguageManager& language = LanguageManager::instance();
    language.addListener(m_chartEngine, [engine = m_chartEngine] { applyLanguage(engine); });
    language.addListener(this, [this] {
        applyLanguage(this);
        m_logView->setEnglish(LanguageManager::instance().isEnglish());
        m_comm->setEnglishTexts(LanguageManager::instance().isEnglish());
        // The walk restores the status text remembered at the first switch, which may
        // belong to an earlier connection state.
        if (m_statusShown)
            updateStatusLabel();
        m_autoReplyPanel->retranslate();
    });
}

QWidget* SignalRWidget::createHeader()
{
    auto* header = new QFrame(this);
    header->setObjectName(QStringLiteral("headerBar"));
    header->setFixedHeight(52);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(20, 0, 20, 0);
    auto* icon = new QLabel(QStringLiteral("◆"), header);
    icon->setObjectName(QStringLiteral("headerIcon"));
    auto* title = new QLabel(QStringLiteral("SignalR调试助手"), header);
    title->setObjectName(QStringLiteral("headerTitle"));
    auto* version = new QLabel(QStringLiteral("v1.0"), header);
    version->setObjectName(QStringLiteral("headerVersion"));
    layout->addWidget(icon);
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addStretch(1);
    layout->addWidget(new AdBanner(QStringLiteral("korvahub"), header), 2);
    layout->addStretch(1);
    m_languageCombo = createLanguageSelector(header);
    m_languageCombo->setObjectName(QStringLiteral("languageCombo"));
    m_languageCombo->setFixedHeight(HeaderControlHeight);
    layout->addWidget(m_languageCombo, 0, Qt::AlignVCenter);
    auto* docButton = new QPushButton(QStringLiteral("📖 文档"), header);
    docButton->setObjectName(QStringLiteral("docButton"));
    docButton->setCursor(Qt::PointingHandCursor);
    docButton->setFixedHeight(HeaderControlHeight);
    // The height is in the sheet too: a sheet's minimum (the theme's for buttons) overrides
    // a fixed height.
    docButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: %1; border: 1px solid %2; "
        "border-radius: 3px; padding: 2px 8px; font-size: 11px; min-height: 18px; max-height: 18px; } "
        "QPushButton:hover { "
        "border-color: %3; color: %4; }")
                                 .arg(Palette::TextMuted, Palette::Border, Palette::Link,
                                      Palette::Accent));
    layout->addWidget(docButton, 0, Qt::AlignVCenter);
    m_statusLabel = new QLabel(QStringLiteral("◆未连接"), header);
    m_statusLabel->setObjectName(QStringLiteral("connStatus"));
    layout->addWidget(m_statusLabel);
    connect(docButton, &QPushButton::clicked, this, [this] {
        const QUrl guide = documentationUrl();
        if (QDesktopServices::openUrl(guide))
            return;
        // Without a browser the click would do nothing visible: say where the guide is.
        const QString where = guide.isLocalFile() ? guide.toLocalFile() : guide.toString();
        m_comm->logSystemMessage(LanguageManager::instance().isEnglish()
                                     ? QStringLiteral("Could not open a browser; the user guide is at %1").arg(where)
                                     : QStringLiteral("无法打开浏览器，用户指南位于 %1").arg(where));
    });
    return header;
}

QWidget* SignalRWidget::createControlPanel()
{
    auto* column = new QWidget(m_controlScroll->viewport());
    column->setFixedWidth(ControlColumnWidth);
    auto* layout = new QVBoxLayout(column);
    layout->setSpacing(8);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* modeGroup = new QGroupBox(QStringLiteral("模式选择"), column);
    auto* modeLayout = new QVBoxLayout(modeGroup);
    m_clientRadio = new QRadioButton(QStringLiteral("SignalR 客户端"), modeGroup);
    m_serverRadio = new QRadioButton(QStringLiteral("SignalR 服务端(模拟)"), modeGroup);
    m_clientRadio->setObjectName(QStringLiteral("clientRadio"));
    m_serverRadio->setObjectName(QStringLiteral("serverRadio"));
    m_clientRadio->setChecked(true);
    auto* modeButtons = new QButtonGroup(modeGroup);
    modeButtons->addButton(m_clientRadio);
    modeButtons->addButton(m_serverRadio);
    modeLayout->addWidget(m_clientRadio);
    modeLayout->addWidget(m_serverRadio);
    layout->addWidget(modeGroup);

    layout->addWidget(createConnectionGroup(column));

    m_subscriptionGroup = new QGroupBox(QStringLiteral("方法订阅"), column);
    auto* subLayout = new QVBoxLayout(m_subscriptionGroup);
    auto* subRow = new QHBoxLayout;
    m_subscribeEdit = new QLineEdit(QStringLiteral("ReceiveMessage"), m_subscriptionGroup);
    m_subscribeEdit->setObjectName(QStringLiteral("subscribeEdit"));
    auto* subscribeButton = new QPushButton(QStringLiteral("订阅"), m_subscriptionGroup);
    subscribeButton->setMinimumWidth(60); // "Subscribe" in English needs more
    subRow->addWidget(m_subscribeEdit);
    subRow->addWidget(subscribeButton);
    subLayout->addLayout(subRow);
    m_subscriptionList = new QListWidget(m_subscriptionGroup);
    m_subscriptionList->setObjectName(QStringLiteral("subscriptionList"));
    m_subscriptionList->setMinimumHeight(50);
    m_subscriptionList->setMaximumHeight(100);
    subLayout->addWidget(m_subscriptionList);
    auto* unsubscribeButton = new QPushButton(QStringLiteral("取消订阅"), m_subscriptionGroup);
    unsubscribeButton->setObjectName(QStringLiteral("dangerButton"));
    subLayout->addWidget(unsubscribeButton);
    layout->addWidget(m_subscriptionGroup);

    m_clientsGroup = new QGroupBox(QStringLiteral("已连接客户端"), column);
    auto* clientsLayout = new QVBoxLayout(m_clientsGroup);
    m_clientList = new QListWidget(m_clientsGroup);
    m_clientList->setObjectName(QStringLiteral("clientList"));
    m_clientList->setMinimumHeight(60);
    m_clientList->setMaximumHeight(120);
    m_clientList->setContextMenuPolicy(Qt::CustomContextMenu);
    clientsLayout->addWidget(m_clientList);
    auto* disconnectClientButton = new QPushButton(QStringLiteral("断开选中客户端"), m_clientsGroup);
    disconnectClientButton->setObjectName(QStringLiteral("dangerButton"));
    clientsLayout->addWidget(disconnectClientButton);
    m_clientsGroup->hide();
    layout->addWidget(m_clientsGroup);
    m_autoReplyPanel = new AutoReplyPanel(column);
    m_autoReplyPanel->hide();
    layout->addWidget(m_autoReplyPanel);

    layout->addWidget(createDisplayGroup(column));
    layout->addWidget(createChartGroup(column));

    connect(m_clientRadio, &QRadioButton::toggled, this, &SignalRWidget::onModeToggled);
    connect(subscribeButton, &QPushButton::clicked, this, &SignalRWidget::addSubscription);
    connect(unsubscribeButton, &QPushButton::clicked, this, &SignalRWidget::removeSubscription);
    connect(m_autoReplyPanel, &AutoReplyPanel::rulesChanged, m_hub, &SimulatedHub::setAutoReplies);
    connect(disconnectClientButton, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* item = m_clientList->currentItem())
            m_hub->disconnectPeer(item->text());
    });
    connect(m_clientList, &QListWidget::customContextMenuRequested, this, &SignalRWidget::showClientMenu);

    column->resize(column->sizeHint());
    return column;
}

QGroupBox* SignalRWidget::createConnectionGroup(QWidget* parent)
{
    auto* group = new QGroupBox(QStringLiteral("连接设置"), parent);
    auto* layout = new QVBoxLayout(group);
    m_clientSettings = new QWidget(group);
    m_clientSettings->setObjectName(QStringLiteral("clientSettings"));
    auto* clientLayout = new QVBoxLayout(m_clientSettings);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    m_hubUrlEdit = new QLineEdit(QStringLiteral("ws://localhost:5000/debughub"), m_clientSettings);
    m_hubUrlEdit->setObjectName(QStringLiteral("hubUrlEdit"));
    addLabelled(clientLayout, QStringLiteral("Hub 地址"), m_hubUrlEdit);
    m_connectOptions = new ConnectionOptionsPanel(m_clientSettings);
    clientLayout->addWidget(m_connectOptions);
    clientLayout->addWidget(m_clientOptions->createConnectionOptions(m_clientSettings));
    layout->addWidget(m_clientSettings);

    m_serverSettings = new QWidget(group);
    m_serverSettings->setObjectName(QStringLiteral("serverSettings"));
    auto* serverLayout = new QVBoxLayout(m_serverSettings);
    serverLayout->setContentsMargins(0, 0, 0, 0);
    m_portSpin = new QSpinBox(m_serverSettings);
    m_portSpin->setObjectName(QStringLiteral("portSpin"));
    m_portSpin->setRange(1, 65535);
    m_portSpin->setValue(DefaultPort);
    addLabelled(serverLayout, QStringLiteral("监听端口"), m_portSpin);
    m_hubPathEdit = new QLineEdit(QStringLiteral("/debughub"), m_serverSettings);
    m_hubPathEdit->setObjectName(QStringLiteral("hubPathEdit"));
    addLabelled(serverLayout, QStringLiteral("Hub 路径"), m_hubPathEdit);
    m_serverSettings->hide();
    layout->addWidget(m_serverSettings);

    m_encodingCombo = new QComboBox(group);
    m_encodingCombo->setObjectName(QStringLiteral("encodingCombo"));
    m_encodingCombo->addItems(CommunicationBase::supportedEncodings());
    addLabelled(layout, QStringLiteral("编码"), m_encodingCombo);
    m_connectButton = new QPushButton(QStringLiteral("连接"), group);
    m_connectButton->setFixedHeight(36);
    m_connectButton->setObjectName(QStringLiteral("accentButton"));
    m_connectButton->setProperty("role", QStringLiteral("connect"));
    layout->addWidget(m_connectButton);

    connect(m_encodingCombo, &QComboBox::currentTextChanged, m_comm, &CommunicationBase::setEncoding);
    connect(m_connectButton, &QPushButton::clicked, this, &SignalRWidget::toggleConnection);
    return group;
}

QGroupBox* SignalRWidget::createDisplayGroup(QWidget* parent)
{
    auto* group = new QGroupBox(QStringLiteral("显示设置"), parent);
    auto* layout = new QVBoxLayout(group);
    m_hexDisplayCheck = addCheck(layout, group, QStringLiteral("十六进制显示"), false);
    m_timestampCheck = addCheck(layout, group, QStringLiteral("显示时间戳"), true);
    m_autoScrollCheck = addCheck(layout, group, QStringLiteral("自动滚动"), true);
    m_hexDisplayCheck->setObjectName(QStringLiteral("hexDisplayCheck"));
    m_timestampCheck->setObjectName(QStringLiteral("timestampCheck"));
    m_autoScrollCheck->setObjectName(QStringLiteral("autoScrollCheck"));

    const auto addSpin = [&](const QString& label, int low, int high, int value, const QString& suffix) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(label, group));
        auto* spin = new QSpinBox(group);
        spin->setRange(low, high);
        spin->setValue(value);
        spin->setSuffix(suffix);
        row->addWidget(spin);
        layout->addLayout(row);
        return spin;
    };
    m_lineSpacingSpin = addSpin(QStringLiteral("行间距"), -10, 10, 0, QStringLiteral(" px"));
    m_fontSizeSpin = addSpin(QStringLiteral("字号"), 7, 16, 11, QStringLiteral(" pt"));
    m_lineSpacingSpin->setObjectName(QStringLiteral("lineSpacingSpin"));
    m_fontSizeSpin->setObjectName(QStringLiteral("fontSizeSpin"));

    connect(m_hexDisplayCheck, &QCheckBox::toggled, m_comm, &CommunicationBase::setHexDisplay);
    connect(m_timestampCheck, &QCheckBox::toggled, m_comm, &CommunicationBase::setShowTimestamp);
    connect(m_autoScrollCheck, &QCheckBox::toggled, m_comm, &CommunicationBase::setAutoScroll);
    return group;
}

QGroupBox* SignalRWidget::createChartGroup(QWidget* parent)
{
    auto* group = new QGroupBox(QStringLiteral("数据可视化"), parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    m_chartEngine = new ChartEngine(group);
    layout->addWidget(m_chartEngine->panel);
    return group;
}

QWidget* SignalRWidget::createWorkArea()
{
    // The user sets how much room the log and the send area get: on a small screen the
    // send area would otherwise take almost half the work area.
    auto* area = new QSplitter(Qt::Vertical, this);
    area->setObjectName(QStringLiteral("workSplitter"));
    area->setChildrenCollapsible(false);
    area->setHandleWidth(8);
    m_tabWidget = new QTabWidget(area);
    // Made where addTab puts it: a page polished under another parent is polished
    // again, all of it, when it moves (with a style sheet on the application).
    m_logView = new LogViewWidget(m_comm, m_tabWidget->findChild<QStackedWidget*>());
    m_tabWidget->addTab(m_logView, QStringLiteral("通信日志"));
    m_tabWidget->addTab(m_chartEngine->chartView, QStringLiteral("数据图表"));
    area->addWidget(m_tabWidget);
    area->addWidget(createSendArea(area));
    area->setStretchFactor(0, 1);
    area->setStretchFactor(1, 0);
    return area;
}

QWidget* SignalRWidget::createSendArea(QWidget* parent)
{
    auto* group = new QGroupBox(QStringLiteral("发送区"), parent);
    auto* layout = new QVBoxLayout(group);

    auto* methodRow = new QHBoxLayout;
    methodRow->addWidget(new QLabel(QStringLiteral("方法名"), group));
    m_methodEdit = new QLineEdit(QStringLiteral("SendMessage"), group);
    m_methodEdit->setObjectName(QStringLiteral("methodEdit"));
    methodRow->addWidget(m_methodEdit, 1);
    layout->addLayout(methodRow);

    m_sendEdit = new QPlainTextEdit(group);
    m_sendEdit->setObjectName(QStringLiteral("sendEdit"));
    m_sendEdit->setPlaceholderText(QStringLiteral("输入要发送的消息..."));
    m_sendEdit->setFixedHeight(60);
    layout->addWidget(m_sendEdit);

    auto* optionRow = new QHBoxLayout;
    m_hexSendCheck = addCheck(optionRow, group, QStringLiteral("Hex发送"), false);
    m_enterSendCheck = addCheck(optionRow, group, QStringLiteral("Enter发送"), true);
    m_hexSendCheck->setObjectName(QStringLiteral("hexSendCheck"));
    m_enterSendCheck->setObjectName(QStringLiteral("enterSendCheck"));
    m_selectedOnlyCheck = addCheck(optionRow, group, QStringLiteral("仅发送给选中客户端"), false);
    m_selectedOnlyCheck->setObjectName(QStringLiteral("selectedOnlyCheck"));
    m_selectedOnlyCheck->hide();
    auto* sendButton = new QPushButton(QStringLiteral("刷新"), group);
    sendButton->setObjectName(QStringLiteral("accentButton"));
    sendButton->setProperty("role", QStringLiteral("send"));
    sendButton->setFixedSize(120, 32);
    optionRow->addStretch();
    optionRow->addWidget(sendButton);
    layout->addLayout(optionRow);

    auto* autoRow = new QHBoxLayout;
    m_autoSendCheck = addCheck(autoRow, group, QStringLiteral("自动发送"), false);
    m_autoSendCheck->setObjectName(QStringLiteral("autoSendCheck"));
    m_intervalSpin = new QSpinBox(group);
    m_intervalSpin->setObjectName(QStringLiteral("intervalSpin"));
    m_intervalSpin->setRange(10, 60000);
    m_intervalSpin->setSingleStep(100);
    m_intervalSpin->setValue(DefaultAutoSendMs);
    m_intervalSpin->setSuffix(QStringLiteral(" ms"));
    autoRow->addWidget(new QLabel(QStringLiteral("间隔:"), group));
    autoRow->addWidget(m_intervalSpin);
    // The client's call kinds share the row: on a small screen every row taken from the
    // send area is a row more of the log.
    m_clientSendOptions = m_clientOptions->createSendOptions(group);
    autoRow->addWidget(m_clientSendOptions);
    autoRow->addStretch();
    layout->addLayout(autoRow);

    connect(sendButton, &QPushButton::clicked, this, &SignalRWidget::sendData);
    connect(new SendKeys(m_sendEdit, m_enterSendCheck), &SendKeys::sendRequested, this, &SignalRWidget::sendData);
    connect(m_autoSendCheck, &QCheckBox::toggled, this, &SignalRWidget::toggleAutoSend);
    return group;
}

void SignalRWidget::useSettings(Settings* settings)
{
    m_windowSettings = new WindowSettings(settings, this);
    if (settings->readFailed()) {
        m_comm->logSystemMessage(
            QStringLiteral("设置文件无法读取, 已使用默认设置: %1").arg(settings->fileName()));
    }
    const QStringList subscriptions = settings->value(SubscriptionsKey).toStringList();
    for (const QString& name : subscriptions) {
        if (m_client->addSubscription(name))
            m_subscriptionList->addItem(name);
    }
    const QList<QPair<QString, QString>> rules = settings->pairs(ChartRulesKey);
    for (const auto& [name, expression] : rules)
        m_chartEngine->addRule(name, expression);
    // The chart type after the rules, as adding a rule rebuilds the chart; the language
    // last, so that its walk meets the texts the other settings leave.
    m_windowSettings->bind({"serverRadio", "hubUrlEdit", "portSpin", "hubPathEdit", "encodingCombo",
                            "hexDisplayCheck", "timestampCheck", "autoScrollCheck", "lineSpacingSpin",
                            "fontSizeSpin", "enableCheck", "chartTypeCombo", "timeWindowSpin",
                            "methodEdit", "hexSendCheck", "enterSendCheck", "intervalSpin",
                            "logSplitter", "protocolCombo", "languageCombo"});
    m_windowSettings->addCompleter(m_hubUrlEdit, RecentAddressesKey);
    m_windowSettings->addCompleter(m_methodEdit, RecentMethodsKey);
    connect(m_chartEngine, &ChartEngine::rulesChanged, m_windowSettings, [this, settings] {
        QList<QPair<QString, QString>> pairs;
        for (const ChartRule& rule : m_chartEngine->rules())
            pairs.append({rule.name, rule.pattern});
        settings->setPairs(ChartRulesKey, pairs);
    });
}

void SignalRWidget::saveSubscriptions()
{
    if (!m_windowSettings)
        return;
    QStringList names;
    for (int row = 0; row < m_subscriptionList->count(); ++row)
        names.append(m_subscriptionList->item(row)->text());
    m_windowSettings->settings()->setValue(SubscriptionsKey, names);
}

void SignalRWidget::onModeToggled(bool clientChecked)
{
    m_clientSettings->setVisible(clientChecked);
    m_serverSettings->setVisible(!clientChecked);
    m_subscriptionGroup->setVisible(clientChecked);
    m_clientsGroup->setVisible(!clientChecked);
    m_autoReplyPanel->setVisible(!clientChecked);
    m_selectedOnlyCheck->setVisible(!clientChecked);
    m_clientSendOptions->setVisible(clientChecked);
    m_serverMode = !clientChecked;
    updateConnectButton();
    if (QWidget* column = m_controlScroll->widget())
        column->resize(column->sizeHint());
}

void SignalRWidget::setRunning(bool running)
{
    m_running = running;
    // Auto-send ticked before connecting starts once there is someone to send to.
    toggleAutoSend(m_autoSendCheck->isChecked());
    updateConnectButton();
    updateStatusLabel();
}

void SignalRWidget::updateConnectButton()
{
    if (m_running) {
        m_connectButton->setText(QStringLiteral("断开"));
        m_connectButton->setStyleSheet(
            QStringLiteral("QPushButton { background-color: %1; color: white; font-weight: 600; "
                           "border: none; border-radius: 4px; padding: 4px 20px; min-height: 28px; max-height: 28px; }"
                           "QPushButton:hover { background-color: %2; }")
                .arg(Palette::Danger, Palette::DangerHover));
        m_connectButton->setFixedHeight(36);
    } else {
        m_connectButton->setText(m_serverMode ? QStringLiteral("启动") : QStringLiteral("连接"));
        m_connectButton->setObjectName(QStringLiteral("accentButton"));
        m_connectButton->setStyleSheet(QString());
    }
}

void SignalRWidget::updateStatusLabel()
{
    m_statusShown = true;
    const bool english = LanguageManager::instance().isEnglish();
    const QString style = QStringLiteral("font-size: 13px; color: %1; background: transparent;");
    if (m_running && m_client->isReconnecting()) {
        m_statusLabel->setText(english ? QStringLiteral("◐ Reconnecting") : QStringLiteral("🟡 重连中"));
        m_statusLabel->setStyleSheet(style.arg(Palette::Warning));
    } else if (m_running) {
        m_statusLabel->setText(english ? QStringLiteral("🟢 Connected") : QStringLiteral("🟢 已连接"));
        m_statusLabel->setStyleSheet(style.arg(Palette::Success));
    } else {
        m_statusLabel->setText(english ? QStringLiteral("○ Disconnected") : QStringLiteral("⚫未连接"));
        m_statusLabel->setStyleSheet(style.arg(Palette::TextDim));
    }
}

void SignalRWidget::toggleConnection()
{
    if (m_running)
        disconnectAll();
    else if (!m_serverMode)
        connectClient();
    else
        startServer();
}

void SignalRWidget::connectClient()
{
    m_client->setConnectOptions(m_connectOptions->options());
    if (m_windowSettings)
        m_windowSettings->remember(RecentAddressesKey, m_hubUrlEdit->text().trimmed());
    m_client->open(m_hubUrlEdit->text());
}

void SignalRWidget::startServer()
{
    if (m_hub->listen(static_cast<quint16>(m_portSpin->value()), m_hubPathEdit->text()))
        setRunning(true);
}

void SignalRWidget::disconnectAll()
{
    m_autoSendTimer->stop();
    m_client->close();
    setRunning(false);
    m_comm->logSystemMessage(QStringLiteral("已断开"));
    // After the close, which hands over what the client still held.
    m_chartFeed->dropBacklog();
    // After the line above: each client's departure is logged as it goes.
    m_hub->stop();
}

void SignalRWidget::onWsConnected()
{
    setRunning(true);
}

void SignalRWidget::onWsDisconnected()
{
    setRunning(false);
}

void SignalRWidget::onWsTextReceived(const QString& message)
{
    m_client->handleMessage(message);
}

void SignalRWidget::addSubscription()
{
    const QString name = m_subscribeEdit->text().trimmed();
    if (!m_client->addSubscription(name))
        return;
    m_subscriptionList->addItem(name);
    m_subscribeEdit->clear();
    saveSubscriptions();
}

void SignalRWidget::removeSubscription()
{
    QListWidgetItem* item = m_subscriptionList->currentItem();
    if (!item)
        return;
    m_client->removeSubscription(item->text());
    delete item;
    saveSubscriptions();
}

QByteArray SignalRWidget::buildPayload()
{
    const QString text = m_sendEdit->toPlainText();
    if (m_hexSendCheck->isChecked() && !text.isEmpty()) {
        if (PayloadCodec::isValidHexString(text))
            return PayloadCodec::parseHexString(text);
        m_comm->logSystemMessage(QStringLiteral("无效的十六进制数据"));
        return QByteArray();
    }
    return m_comm->encodeText(text);
}

void SignalRWidget::sendData()
{
    const QString method = m_methodEdit->text();
    if (method.isEmpty())
        return;
    const QByteArray payload = buildPayload();
    if (payload.isEmpty())
        return;
    if (!m_serverMode) {
        m_clientOptions->call(method, payload);
    } else if (!m_selectedOnlyCheck->isChecked()) {
        m_hub->broadcast(method, payload);
    } else {
        const QListWidgetItem* selected = m_clientList->currentItem();
        if (!selected || !m_hub->sendTo(selected->text(), method, payload))
            m_comm->logSystemMessage(QStringLiteral("未选中已连接的客户端，未发送"));
    }
    if (m_windowSettings)
        m_windowSettings->remember(RecentMethodsKey, method);
}

void SignalRWidget::showClientMenu(const QPoint& position)
{
    QListWidgetItem* item = m_clientList->itemAt(position);
    if (!item)
        return;
    const QString identifier = item->text();
    const LanguageManager& language = LanguageManager::instance();
    QMenu menu(this);
    QAction* forGood = menu.addAction(language.translate(QStringLiteral("发送关闭消息...")));
    QAction* resumable = menu.addAction(language.translate(QStringLiteral("发送关闭消息(允许重连)...")));
    QAction* chosen = menu.exec(m_clientList->viewport()->mapToGlobal(position));
    if (chosen != forGood && chosen != resumable)
        return;
    bool ok = false;
    const QString error = QInputDialog::getText(this, language.translate(QStringLiteral("关闭客户端")),
                                                language.translate(QStringLiteral("错误信息:")),
                                                QLineEdit::Normal, QString(), &ok);
    if (ok)
        m_hub->closePeer(identifier, error, chosen == resumable);
}

void SignalRWidget::toggleAutoSend(bool enabled)
{
    if (enabled && m_running)
        m_autoSendTimer->start(m_intervalSpin->value());
    else
        m_autoSendTimer->stop();
}

#include "SignalRWidget.h"

#include <QButtonGroup>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebSocket>

#include "AdBanner.h"
#include "ChartEngine.h"
#include "Documentation.h"
#include "CommunicationBase.h"
#include "HubProtocol.h"
#include "LanguageManager.h"
#include "LogViewWidget.h"
#include "ValueExtractor.h"

namespace {

// Time spent on received messages before the event loop gets its turn again.
constexpr qint64 InboundSliceNs = 8'000'000;

} // namespace

SignalRWidget::SignalRWidget(QWidget* parent)
    : QWidget(parent)
{
    comm = new CommunicationBase(this);
    autoSendTimer = new QTimer(this);
    connect(autoSendTimer, &QTimer::timeout, this, &SignalRWidget::sendData);
    inboundTimer = new QTimer(this);
    inboundTimer->setSingleShot(true);
    inboundTimer->setInterval(0);
    connect(inboundTimer, &QTimer::timeout, this, [this] { processInbound(InboundSliceNs); });
    clientKeepAlive = new QTimer(this);
    clientKeepAlive->setSingleShot(true);
    connect(clientKeepAlive, &QTimer::timeout, this, [this] {
        if (running && clientSocket && clientSocket->state() == QAbstractSocket::ConnectedState)
            sendOnClient(HubProtocol::pingRecord());
    });
    setupUI();
}

SignalRWidget::~SignalRWidget()
{
    disconnectAll();
}

void SignalRWidget::setupUI()
{
    setWindowTitle(QStringLiteral("SignalR调试助手"));
    setWindowIcon(QIcon(QStringLiteral(":/icon/SignalR.ico")));
    setMinimumSize(900, 600);
    resize(1120, 760);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QFrame(this);
    header->setObjectName(QStringLiteral("headerBar"));
    header->setFixedHeight(52);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(20, 0, 20, 0);
    auto* icon = new QLabel(QStringLiteral("◆"), header);
    icon->setObjectName(QStringLiteral("headerIcon"));
    auto* title = new QLabel(QStringLiteral("SignalR调试助手"), header);
    title->setObjectName(QStringLiteral("headerTitle"));
    auto* version = new QLabel(QStringLiteral("v1.0"), header);
    version->setObjectName(QStringLiteral("headerVersion"));
    headerLayout->addWidget(icon);
    headerLayout->addWidget(title);
    headerLayout->addWidget(version);
    headerLayout->addStretch(1);
    headerLayout->addWidget(new AdBanner(QStringLiteral("korvahub"), header), 2);
    headerLayout->addStretch(1);
    languageCombo = createLanguageSelector(header);
    headerLayout->addWidget(languageCombo);
    auto* docButton = new QPushButton(QStringLiteral("📖 文档"), header);
    docButton->setObjectName(QStringLiteral("docButton"));
    docButton->setCursor(Qt::PointingHandCursor);
    docButton->setFixedHeight(24);
    docButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: #94A3B8; border: 1px solid #2A3A4A; "
        "border-radius: 3px; padding: 2px 8px; font-size: 11px; } QPushButton:hover { "
        "border-color: #60A5FA; color: #00D4FF; }"));
    headerLayout->addWidget(docButton);
    auto* status = new QLabel(QStringLiteral("◆未连接"), header);
    status->setObjectName(QStringLiteral("connStatus"));
    headerLayout->addWidget(status);
    root->addWidget(header);
    connect(docButton, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(documentationUrl()); });

    auto* body = new QHBoxLayout;
    body->setContentsMargins(16, 4, 16, 12);
    body->setSpacing(12);
    controlScroll = new QScrollArea(this);
    controlScroll->setWidgetResizable(false);
    controlScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    controlScroll->setFixedWidth(260);
    controlScroll->setWidget(createControlPanel());
    body->addWidget(controlScroll, 0);
    body->addWidget(createWorkArea(), 1);
    root->addLayout(body);

    connect(lineSpacingSpin, &QSpinBox::valueChanged, logView, &LogViewWidget::setLineSpacing);
    connect(fontSizeSpin, &QSpinBox::valueChanged, logView, &LogViewWidget::setFontSize);

    applyLanguage(this);
    LanguageManager::instance().addListener(this, [this] {
        applyLanguage(this);
        // The walk restores the status text remembered at the first switch, which may
        // belong to an earlier connection state.
        if (statusShown)
            updateStatusLabel();
    });
}

QWidget* SignalRWidget::createControlPanel()
{
    auto* column = new QWidget;
    column->setFixedWidth(254);
    auto* layout = new QVBoxLayout(column);
    layout->setSpacing(8);
    layout->setContentsMargins(0, 0, 0, 0);

    // 模式选择
    auto* modeGroup = new QGroupBox(QStringLiteral("模式选择"), column);
    auto* modeLayout = new QVBoxLayout(modeGroup);
    clientRadio = new QRadioButton(QStringLiteral("SignalR 客户端"), modeGroup);
    serverRadio = new QRadioButton(QStringLiteral("SignalR 服务端(模拟)"), modeGroup);
    clientRadio->setChecked(true);
    auto* modeButtons = new QButtonGroup(modeGroup);
    modeButtons->addButton(clientRadio);
    modeButtons->addButton(serverRadio);
    modeLayout->addWidget(clientRadio);
    modeLayout->addWidget(serverRadio);
    layout->addWidget(modeGroup);

    // 连接设置
    auto* connGroup = new QGroupBox(QStringLiteral("连接设置"), column);
    auto* connLayout = new QVBoxLayout(connGroup);
    clientSettings = new QWidget(connGroup);
    clientSettings->setObjectName(QStringLiteral("clientSettings"));
    auto* clientLayout = new QVBoxLayout(clientSettings);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    clientLayout->addWidget(new QLabel(QStringLiteral("Hub 地址"), clientSettings));
    hubUrlEdit = new QLineEdit(QStringLiteral("ws://localhost:5000/debughub"), clientSettings);
    clientLayout->addWidget(hubUrlEdit);
    connLayout->addWidget(clientSettings);

    serverSettings = new QWidget(connGroup);
    serverSettings->setObjectName(QStringLiteral("serverSettings"));
    auto* serverLayout = new QVBoxLayout(serverSettings);
    serverLayout->setContentsMargins(0, 0, 0, 0);
    serverLayout->addWidget(new QLabel(QStringLiteral("监听端口"), serverSettings));
    portSpin = new QSpinBox(serverSettings);
    portSpin->setRange(1, 65535);
    portSpin->setValue(5000);
    serverLayout->addWidget(portSpin);
    serverLayout->addWidget(new QLabel(QStringLiteral("Hub 路径"), serverSettings));
    hubPathEdit = new QLineEdit(QStringLiteral("/debughub"), serverSettings);
    serverLayout->addWidget(hubPathEdit);
    serverSettings->hide();
    connLayout->addWidget(serverSettings);

    connLayout->addWidget(new QLabel(QStringLiteral("编码"), connGroup));
    encodingCombo = new QComboBox(connGroup);
    encodingCombo->addItems(CommunicationBase::supportedEncodings());
    connLayout->addWidget(encodingCombo);
    connectButton = new QPushButton(QStringLiteral("连接"), connGroup);
    connectButton->setFixedHeight(36);
    connectButton->setObjectName(QStringLiteral("accentButton"));
    connLayout->addWidget(connectButton);
    layout->addWidget(connGroup);

    // 方法订阅
    subscriptionGroup = new QGroupBox(QStringLiteral("方法订阅"), column);
    auto* subLayout = new QVBoxLayout(subscriptionGroup);
    auto* subRow = new QHBoxLayout;
    subscribeEdit = new QLineEdit(QStringLiteral("ReceiveMessage"), subscriptionGroup);
    subscribeButton = new QPushButton(QStringLiteral("订阅"), subscriptionGroup);
    subscribeButton->setFixedWidth(60);
    subRow->addWidget(subscribeEdit);
    subRow->addWidget(subscribeButton);
    subLayout->addLayout(subRow);
    subscriptionList = new QListWidget(subscriptionGroup);
    subscriptionList->setMinimumHeight(50);
    subscriptionList->setMaximumHeight(100);
    subLayout->addWidget(subscriptionList);
    unsubscribeButton = new QPushButton(QStringLiteral("取消订阅"), subscriptionGroup);
    unsubscribeButton->setObjectName(QStringLiteral("dangerButton"));
    subLayout->addWidget(unsubscribeButton);
    layout->addWidget(subscriptionGroup);

    // 已连接客户端
    clientsGroup = new QGroupBox(QStringLiteral("已连接客户端"), column);
    auto* clientsLayout = new QVBoxLayout(clientsGroup);
    clientList = new QListWidget(clientsGroup);
    clientList->setMinimumHeight(60);
    clientList->setMaximumHeight(120);
    clientsLayout->addWidget(clientList);
    disconnectClientButton = new QPushButton(QStringLiteral("断开选中客户端"), clientsGroup);
    disconnectClientButton->setObjectName(QStringLiteral("dangerButton"));
    clientsLayout->addWidget(disconnectClientButton);
    clientsGroup->hide();
    layout->addWidget(clientsGroup);

    // 显示设置
    auto* displayGroup = new QGroupBox(QStringLiteral("显示设置"), column);
    auto* displayLayout = new QVBoxLayout(displayGroup);
    hexDisplayCheck = new QCheckBox(QStringLiteral("十六进制显示"), displayGroup);
    timestampCheck = new QCheckBox(QStringLiteral("显示时间戳"), displayGroup);
    timestampCheck->setChecked(true);
    autoScrollCheck = new QCheckBox(QStringLiteral("自动滚动"), displayGroup);
    autoScrollCheck->setChecked(true);
    displayLayout->addWidget(hexDisplayCheck);
    displayLayout->addWidget(timestampCheck);
    displayLayout->addWidget(autoScrollCheck);
    auto* spacingRow = new QHBoxLayout;
    spacingRow->addWidget(new QLabel(QStringLiteral("行间距"), displayGroup));
    lineSpacingSpin = new QSpinBox(displayGroup);
    lineSpacingSpin->setRange(-10, 10);
    lineSpacingSpin->setValue(0);
    lineSpacingSpin->setSuffix(QStringLiteral(" px"));
    spacingRow->addWidget(lineSpacingSpin);
    displayLayout->addLayout(spacingRow);
    auto* fontRow = new QHBoxLayout;
    fontRow->addWidget(new QLabel(QStringLiteral("字号"), displayGroup));
    fontSizeSpin = new QSpinBox(displayGroup);
    fontSizeSpin->setRange(7, 16);
    fontSizeSpin->setValue(11);
    fontSizeSpin->setSuffix(QStringLiteral(" pt"));
    fontRow->addWidget(fontSizeSpin);
    displayLayout->addLayout(fontRow);
    layout->addWidget(displayGroup);

    layout->addWidget(createChartGroup());

    connect(clientRadio, &QRadioButton::toggled, this, &SignalRWidget::onModeToggled);
    connect(encodingCombo, &QComboBox::currentTextChanged, comm, &CommunicationBase::setEncoding);
    connect(connectButton, &QPushButton::clicked, this, &SignalRWidget::toggleConnection);
    connect(subscribeButton, &QPushButton::clicked, this, &SignalRWidget::addSubscription);
    connect(unsubscribeButton, &QPushButton::clicked, this, &SignalRWidget::removeSubscription);
    connect(disconnectClientButton, &QPushButton::clicked, this,
            &SignalRWidget::disconnectSelectedClient);
    connect(hexDisplayCheck, &QCheckBox::toggled, comm, &CommunicationBase::setHexDisplay);
    connect(timestampCheck, &QCheckBox::toggled, comm, &CommunicationBase::setShowTimestamp);
    connect(autoScrollCheck, &QCheckBox::toggled, comm, &CommunicationBase::setAutoScroll);

    column->resize(column->sizeHint());
    return column;
}

QGroupBox* SignalRWidget::createChartGroup()
{
    auto* group = new QGroupBox(QStringLiteral("数据可视化"));
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    chartEngine = new ChartEngine(group);
    layout->addWidget(chartEngine->panel);
    return group;
}

QWidget* SignalRWidget::createWorkArea()
{
    auto* area = new QWidget(this);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    tabWidget = new QTabWidget(area);
    logView = new LogViewWidget(comm, tabWidget);
    tabWidget->addTab(logView, QStringLiteral("通信日志"));
    if (chartEngine)
        tabWidget->addTab(chartEngine->chartView, QStringLiteral("数据图表"));
    layout->addWidget(tabWidget, 1);
    layout->addWidget(createSendArea(), 0);
    return area;
}

void SignalRWidget::onModeToggled(bool clientChecked)
{
    clientSettings->setVisible(clientChecked);
    serverSettings->setVisible(!clientChecked);
    subscriptionGroup->setVisible(clientChecked);
    clientsGroup->setVisible(!clientChecked);
    serverMode = !clientChecked;
    updateConnectButton();
    if (QWidget* column = controlScroll->widget())
        column->resize(column->sizeHint());
}

void SignalRWidget::updateConnectButton()
{
    if (running) {
        connectButton->setText(QStringLiteral("断开"));
        connectButton->setStyleSheet(QStringLiteral(
            "QPushButton { background-color: #EF4444; color: white; font-weight: 600; border: none; "
            "border-radius: 4px; padding: 4px 20px; }QPushButton:hover { background-color: #F87171; }"));
        connectButton->setFixedHeight(36);
    } else {
        connectButton->setText(serverMode ? QStringLiteral("启动") : QStringLiteral("连接"));
        connectButton->setObjectName(QStringLiteral("accentButton"));
        connectButton->setStyleSheet(QString());
    }
}

void SignalRWidget::updateStatusLabel()
{
    auto* label = findChild<QLabel*>(QStringLiteral("connStatus"));
    if (!label)
        return;
    statusShown = true;
    const bool english = LanguageManager::instance().isEnglish();
    if (running) {
        label->setText(english ? QStringLiteral("🟢 Connected") : QStringLiteral("🟢 已连接"));
        label->setStyleSheet(QStringLiteral("font-size: 13px; color: #10B981; background: transparent;"));
    } else {
        label->setText(english ? QStringLiteral("○ Disconnected") : QStringLiteral("⚫未连接"));
        label->setStyleSheet(QStringLiteral("font-size: 13px; color: #64748B; background: transparent;"));
    }
}

void SignalRWidget::toggleConnection()
{
    if (running)
        disconnectAll();
    else if (!serverMode)
        connectClient();
    else
        startServer();
}

void SignalRWidget::feedChartData(const QString& text)
{
    if (!chartEngine)
        return;
    feedChartText(*chartEngine, text);
}

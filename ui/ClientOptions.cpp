#include "ClientOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "HubClient.h"

ClientOptions::ClientOptions(HubClient* client, QObject* parent)
    : QObject(parent)
    , m_client(client)
{
}

QWidget* ClientOptions::createConnectionOptions(QWidget* parent)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("clientConnectionOptions"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    // The protocol after the handshake; the index is what the settings keep.
    auto* protocolRow = new QHBoxLayout;
    protocolRow->addWidget(new QLabel(QStringLiteral("协议"), box));
    auto* protocol = new QComboBox(box);
    protocol->setObjectName(QStringLiteral("protocolCombo"));
    protocol->addItems({QStringLiteral("JSON"), QStringLiteral("MessagePack")});
    protocolRow->addWidget(protocol, 1);
    layout->addLayout(protocolRow);
    connect(protocol, &QComboBox::currentIndexChanged, m_client,
            [this](int index) { m_client->setMessagePack(index == MessagePackIndex); });
    auto* reconnect = new QCheckBox(QStringLiteral("自动重连"), box);
    reconnect->setObjectName(QStringLiteral("autoReconnectCheck"));
    auto* pings = new QCheckBox(QStringLiteral("显示心跳"), box);
    pings->setObjectName(QStringLiteral("showPingsCheck"));
    layout->addWidget(reconnect);
    layout->addWidget(pings);
    connect(reconnect, &QCheckBox::toggled, m_client, &HubClient::setAutoReconnect);
    connect(pings, &QCheckBox::toggled, m_client, &HubClient::setShowPings);
    return box;
}

QWidget* ClientOptions::createSendOptions(QWidget* parent)
{
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("clientSendOptions"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_fireAndForgetCheck = new QCheckBox(QStringLiteral("单向发送"), row);
    m_fireAndForgetCheck->setObjectName(QStringLiteral("fireAndForgetCheck"));
    m_streamCheck = new QCheckBox(QStringLiteral("流式调用"), row);
    m_streamCheck->setObjectName(QStringLiteral("streamCheck"));
    auto* cancel = new QPushButton(QStringLiteral("取消流"), row);
    cancel->setObjectName(QStringLiteral("cancelStreamButton"));
    cancel->setEnabled(false);
    layout->addWidget(m_fireAndForgetCheck);
    layout->addWidget(m_streamCheck);
    layout->addWidget(cancel);
    layout->addStretch();

    // A call is one of the three kinds: the two boxes exclude each other.
    connect(m_streamCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_fireAndForgetCheck->setChecked(false);
    });
    connect(m_fireAndForgetCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_streamCheck->setChecked(false);
    });
    connect(cancel, &QPushButton::clicked, m_client, &HubClient::cancelStreams);
    connect(m_client, &HubClient::streamsActiveChanged, cancel, &QPushButton::setEnabled);
    return row;
}

bool ClientOptions::call(const QString& method, const QByteArray& payload)
{
    if (m_streamCheck && m_streamCheck->isChecked())
        return m_client->stream(method, payload);
    if (m_fireAndForgetCheck && m_fireAndForgetCheck->isChecked())
        return m_client->send(method, payload);
    return m_client->invoke(method, payload);
}

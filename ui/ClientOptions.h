#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class HubClient;
class QCheckBox;
class QPushButton;
class QWidget;

// The hub client's own switches. With the client settings: the protocol (JSON or
// MessagePack, from the next connection), auto-reconnect and pings in the log. In the send area: how a send calls the hub, as an invocation that waits for
// its result (the default), a fire-and-forget send, or a stream, with a button that
// cancels the running streams. It builds those widgets and wires them to the HubClient;
// the window only places them.
class ClientOptions : public QObject
{
    Q_OBJECT

public:
    explicit ClientOptions(HubClient* client, QObject* parent);

    QWidget* createConnectionOptions(QWidget* parent);
    QWidget* createSendOptions(QWidget* parent);

    // Calls `method` the way the check boxes say; false when not connected.
    bool call(const QString& method, const QByteArray& payload);

private:
    static constexpr int MessagePackIndex = 1;

    HubClient* m_client = nullptr;
    QCheckBox* m_streamCheck = nullptr;
    QCheckBox* m_fireAndForgetCheck = nullptr;
};

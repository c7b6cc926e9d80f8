#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

class QWebSocket;
class QWebSocketServer;

// A loopback WebSocket peer for the tests: records every text and binary frame it
// receives and sends whatever the test tells it to every connected client.
class RecordingHub : public QObject
{
    Q_OBJECT

public:
    explicit RecordingHub(QObject* parent = nullptr);
    ~RecordingHub() override;

    bool listen();
    quint16 port() const;
    QUrl url() const;
    void sendToAll(const QString& text);
    void sendFrameToAll(const QByteArray& frame);
    void closeAll();
    int clientCount() const { return int(m_clients.size()); }

    QStringList received;
    QList<QByteArray> receivedFrames;

private:
    QWebSocketServer* m_server = nullptr;
    QList<QWebSocket*> m_clients;
};

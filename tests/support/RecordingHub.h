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
    QUrl url(const QString& path = QStringLiteral("/hub")) const;

    void sendToAll(const QString& text);
    void sendFrameToAll(const QByteArray& frame);
    void closeAll();
    void abortAll();
    int clientCount() const { return int(m_clients.size()); }

    QStringList received;
    QList<QByteArray> receivedFrames;

signals:
    void textReceived(const QString& text);
    void clientConnected();
    void clientDisconnected();

private:
    QWebSocketServer* m_server = nullptr;
    QList<QWebSocket*> m_clients;
};

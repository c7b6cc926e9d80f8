#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "AdBanner.h"
#include "AdFeed.h"
#include "AdMarkup.h"

namespace {

constexpr int NetworkTimeoutMs = 10000;

struct Route
{
    int status = 200;
    QByteArray body;
    bool withLength = true; // without it the body ends where the connection closes
    bool held = false;      // answered only when the test releases it
};

// An HTTP server on 127.0.0.1 that answers each GET by its path, one request per
// connection, and keeps the request heads.
class FeedServer
{
public:
    FeedServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                auto received = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
                    *received += socket->readAll();
                    const qsizetype end = received->indexOf("\r\n\r\n");
                    if (end >= 0 && !socket->property("handled").toBool()) {
                        socket->setProperty("handled", true);
                        heads.append(received->left(end));
                        const Route route = routes.value(pathOf(heads.last()), Route{404, "not found"});
                        if (route.held)
                            held.insert(pathOf(heads.last()), socket);
                        else
                            answer(socket, route);
                    }
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    QString url(const QString& path = {}) const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()) + path;
    }
    void release(const QByteArray& path)
    {
        for (const QPointer<QTcpSocket>& socket : held.values(path)) {
            if (socket)
                answer(socket, routes.value(path));
        }
    }

    QMap<QByteArray, Route> routes;
    QList<QByteArray> heads;

private:
    static QByteArray pathOf(const QByteArray& head)
    {
        return head.left(head.indexOf("\r\n")).split(' ').value(1).split('?').value(0);
    }
    static void answer(QTcpSocket* socket, const Route& route)
    {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) + " Status\r\nConnection: close\r\n";
        if (route.withLength)
            response += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
        socket->write(response + "\r\n" + route.body);
        socket->disconnectFromHost();
    }

    QMultiMap<QByteArray, QPointer<QTcpSocket>> held;
    QTcpServer server; // last, so its sockets go before the maps their handlers use
};

// The banner as the window builds it, with its parts at hand.
struct Banner : AdBanner
{
    explicit Banner(const QString& base) : AdBanner(QStringLiteral("korvahub"), nullptr, base) {}
    QLabel* label = findChild<QLabel*>(QStringLiteral("adBanner"));
    QTimer* timer = findChild<QTimer*>();
    QSignalSpy replies{findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished};

    // Lets the rotation run fast for one step.
    bool rotate()
    {
        QSignalSpy rotations(timer, &QTimer::timeout);
        timer->start(20);
        const bool ok = rotations.wait(NetworkTimeoutMs);
        timer->stop();
        return ok;
    }
};

AdItem item(const QString& title, const QString& link = QStringLiteral("https://h.example/"),
            const QString& imageUrl = {})
{
    return AdItem{1, QStringLiteral("line"), imageUrl.isEmpty() ? QStringLiteral("text") : QStringLiteral("image"),
                  title, imageUrl, link, QStringLiteral("more")};
}

// Items are active unless a status is given for them.
QByteArray feed(const QList<AdItem>& items, const QList<int>& statuses = {})
{
    QJsonArray ads;
    for (const AdItem& i : items) {
        ads.append(QJsonObject{{"status", statuses.value(ads.size(), 1)}, {"id", i.id}, {"target_type", i.target_type},
                               {"ad_type", i.ad_type}, {"title", i.title}, {"image_url", i.image_url},
                               {"link_url", i.link_url}, {"description", i.description}});
    }
    return QJsonDocument(QJsonObject{{"success", true}, {"ads", ads}}).toJson(QJsonDocument::Compact);
}

QByteArray png(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

QString shown(const AdItem& item, const QByteArray& picture = {})
{
    QPixmap pixmap;
    pixmap.loadFromData(picture);
    return AdMarkup::render(item, pixmap);
}

} // namespace

Q_DECLARE_METATYPE(Route)

class TestAdBanner : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser and other URL handlers.
    void open(const QUrl& url) { openedUrls.append(url); }

private slots:
    void initTestCase()
    {
        // The local server must be reached directly, whatever the environment says.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        for (const QString& scheme : handledSchemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }

    void cleanupTestCase()
    {
        for (const QString& scheme : handledSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void showsFeedOrBuiltInItems_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("opens"); // whether a click opens the link of the item shown

        const QString page = QStringLiteral("https://h.example/?a=1&b=2");
        QTest::newRow("active item") << 200 << feed({item("A & B", page), item("hidden")}, {1, 0}) << true << true;
        QTest::newRow("local file link") << 200 << feed({item("A & B", "file:///etc/passwd")}) << true << false;
        QTest::newRow("no link") << 200 << feed({item("A & B", "")}) << true << false;
        QTest::newRow("server error") << 500 << feed({item("A & B", page)}) << false << true;
        QTest::newRow("invalid json") << 200 << QByteArray("{\"success\":") << false << true;
        QTest::newRow("no active item") << 200 << feed({item("A & B", page)}, {0}) << false << true;
    }

    void showsFeedOrBuiltInItems()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, usable);
        QFETCH(bool, opens);

        FeedServer server;
        server.routes.insert("/api/ads", Route{status, body});
        Banner banner(server.url());
        banner.show();
        QCOMPARE(banner.label->text(), AdMarkup::placeholder());
        QVERIFY(!banner.timer->isActive() && QTest::qWaitForWindowExposed(&banner));

        // One item is shown again at each rotation; the built-in ones take turns.
        const QList<AdItem> builtIn = AdFeed::builtInItems(QUrl(server.url()));
        const QList<AdItem> expected = usable ? QList<AdItem>(3, AdFeed::parse(body).value(0)) : builtIn + builtIn.mid(0, 1);
        QTRY_COMPARE_WITH_TIMEOUT(banner.label->text(), shown(expected[0]), NetworkTimeoutMs);
        QVERIFY(banner.timer->isActive());
        QCOMPARE(banner.timer->interval(), 5000);
        for (qsizetype i = 1; i < expected.size(); ++i) {
            QVERIFY(banner.rotate());
            QCOMPARE(banner.label->text(), shown(expected[i]));
        }
        // The feed is asked for once.
        QCOMPARE(server.heads.size(), 1);
        QVERIFY2(server.heads[0].startsWith("GET /api/ads?product=korvahub HTTP/1.1\r\n"), server.heads[0].constData());
        QVERIFY2(server.heads[0].toLower().contains("\r\ncontent-type: application/json"), server.heads[0].constData());

        // Any button opens a web link, once per press: the label must not follow it on release.
        openedUrls.clear();
        QTest::mouseClick(banner.label, Qt::LeftButton, {}, banner.label->rect().center());
        QTest::mouseClick(banner.label, Qt::RightButton, {}, banner.label->rect().center());
        const QUrl link(expected.last().link_url);
        QCOMPARE(openedUrls, opens ? QList<QUrl>({link, link}) : QList<QUrl>());
    }

    void realServiceUnreachableShowsBuiltInItems()
    {
        // Without a base address the banner asks the real service, which cannot be reached here.
        Banner banner({});
        QTRY_VERIFY_WITH_TIMEOUT(banner.label->text().contains(QStringLiteral("Tarnwick Pro")), 30000);
        QVERIFY(banner.label->text().contains(QStringLiteral("href='https://")));
    }

    void picturesReplaceTheLoadingForm()
    {
        FeedServer server;
        const QByteArray wide = png(QSize(200, 100));
        const QByteArray veryWide = png(QSize(2000, 10));
        const AdItem first = item(QStringLiteral("first"), {}, server.url("/first.png"));
        const AdItem text = item(QStringLiteral("text"));
        const AdItem last = item(QStringLiteral("last"), {}, server.url("/last.png"));
        server.routes.insert("/api/ads", Route{200, feed({first, text, last})});
        server.routes.insert("/first.png", Route{200, wide, true, true});
        server.routes.insert("/last.png", Route{200, veryWide, true, true});

        Banner banner(server.url());
        QTRY_COMPARE_WITH_TIMEOUT(banner.label->text(), shown(first), NetworkTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(server.heads.size(), 3, NetworkTimeoutMs);

        // The picture of the item on show replaces its loading form at once.
        server.release("/first.png");
        QTRY_COMPARE_WITH_TIMEOUT(banner.label->text(), shown(first, wide), NetworkTimeoutMs);

        // A picture arriving for another item changes nothing on show.
        QVERIFY(banner.rotate());
        QCOMPARE(banner.label->text(), shown(text));
        server.release("/last.png");
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), 3, NetworkTimeoutMs);
        QCOMPARE(banner.label->text(), shown(text));

        // Later rotations show both pictures from the cache, without asking again.
        QVERIFY(banner.rotate());
        QCOMPARE(banner.label->text(), shown(last, veryWide));
        QVERIFY(banner.rotate());
        QCOMPARE(banner.label->text(), shown(first, wide));
        QCOMPARE(server.heads.size(), 3);
    }

    void brokenPicturesKeepTheLoadingForm_data()
    {
        QTest::addColumn<bool>("local");
        QTest::addColumn<Route>("route");
        QTest::addColumn<bool>("accepted");

        // Picture decoders stop at the end of the image, so padding alone does not spoil it.
        const QByteArray picture = png(QSize(40, 20));
        const QByteArray padded = picture + QByteArray(1024 * 1024, '\0');
        const QByteArray huge = picture + QByteArray(5 * 1024 * 1024, '\0');
        QTest::newRow("padded picture within the bound") << false << Route{200, padded, false} << true;
        QTest::newRow("not found") << false << Route{404, picture} << false;
        QTest::newRow("not a picture") << false << Route{200, "GIF89a but not really"} << false;
        QTest::newRow("announced as too large") << false << Route{200, huge} << false;
        QTest::newRow("too large without announcement") << false << Route{200, huge, false} << false;
        QTest::newRow("local file") << true << Route{200, picture} << false;
    }

    void brokenPicturesKeepTheLoadingForm()
    {
        QFETCH(bool, local);
        QFETCH(Route, route);
        QFETCH(bool, accepted);

        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("pic.png")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(route.body) == route.body.size());
        file.close();
        FeedServer server;
        const AdItem pic = item(QStringLiteral("pic"), {},
                                local ? QUrl::fromLocalFile(file.fileName()).toString() : server.url("/pic.png"));
        // A good picture of another item: a local file would answer sooner than it.
        const AdItem other = item(QStringLiteral("other"), {}, server.url("/other.png"));
        server.routes.insert("/api/ads", Route{200, feed({pic, other})});
        server.routes.insert("/pic.png", route);
        server.routes.insert("/other.png", Route{200, png(QSize(8, 8))});
        Banner banner(server.url());
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), local ? 2 : 3, NetworkTimeoutMs);
        QCOMPARE(banner.label->text(), shown(pic, accepted ? route.body : QByteArray()));
    }

private:
    const QStringList handledSchemes = {"http", "https", "file"};
    QList<QUrl> openedUrls;
};

QTEST_MAIN(TestAdBanner)
#include "tst_adbanner.moc"

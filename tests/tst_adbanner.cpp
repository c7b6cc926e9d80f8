#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QPixmap>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

// A small HTTP server on 127.0.0.1 that answers each GET by its path, one request per
// connection, and keeps what it was asked.
class FeedServer
{
public:
    FeedServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] { acceptAll(); });
        server.listen(QHostAddress::LocalHost, 0);
    }

    bool isListening() const { return server.isListening(); }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
    QString url(const QString& path) const { return base() + path; }
    void setRoute(const QByteArray& path, const Route& route) { routes.insert(path, route); }
    int requestCount(const QByteArray& path) const { return int(paths.count(path)); }
    QList<QByteArray> heads; // request heads, in order of arrival

    void release(const QByteArray& path)
    {
        const QList<QPointer<QTcpSocket>> waiting = held.values(path);
        held.remove(path);
        for (const QPointer<QTcpSocket>& socket : waiting) {
            if (socket)
                answer(socket, routes.value(path));
        }
    }

private:
    struct PendingRequest
    {
        QByteArray received;
        bool handled = false;
    };

    void acceptAll()
    {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            auto request = std::make_shared<PendingRequest>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                const QByteArray data = socket->readAll();
                if (request->handled)
                    return;
                request->received += data;
                const qsizetype end = request->received.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                request->handled = true;
                handle(socket, request->received.left(end));
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void handle(QTcpSocket* socket, const QByteArray& head)
    {
        heads.append(head);
        const QByteArray target = head.left(head.indexOf("\r\n")).split(' ').value(1);
        const QByteArray path = target.split('?').value(0);
        paths.append(path);
        const auto route = routes.constFind(path);
        if (route == routes.cend()) {
            answer(socket, Route{404, "not found"});
        } else if (route->held) {
            held.insert(path, socket);
        } else {
            answer(socket, *route);
        }
    }

    static void answer(QTcpSocket* socket, const Route& route)
    {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) + " Status\r\n"
                              + "Connection: close\r\n";
        if (route.withLength)
            response += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
        response += "\r\n" + route.body;
        socket->write(response);
        socket->disconnectFromHost();
    }

    QMap<QByteArray, Route> routes;
    QList<QByteArray> paths;
    QMultiMap<QByteArray, QPointer<QTcpSocket>> held;
    QTcpServer server; // last, so its sockets go before the maps their handlers use
};

QByteArray feedBody(const QJsonArray& ads)
{
    return QJsonDocument(QJsonObject{{"success", true}, {"ads", ads}}).toJson(QJsonDocument::Compact);
}

QJsonObject jsonOf(const AdItem& item, int status = 1)
{
    return QJsonObject{{"status", status},           {"id", item.id},
                       {"target_type", item.target_type}, {"ad_type", item.ad_type},
                       {"title", item.title},         {"image_url", item.image_url},
                       {"link_url", item.link_url},   {"description", item.description}};
}

AdItem textItem(const QString& title, const QString& link = QStringLiteral("https://h.example/"))
{
    AdItem item;
    item.id = 1;
    item.target_type = QStringLiteral("product");
    item.ad_type = QStringLiteral("text");
    item.title = title;
    item.link_url = link;
    return item;
}

AdItem pictureItem(const QString& title, const QString& imageUrl)
{
    AdItem item = textItem(title);
    item.target_type = QStringLiteral("line");
    item.ad_type = QStringLiteral("image");
    item.image_url = imageUrl;
    return item;
}

QByteArray png(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QPixmap pixmapOf(const QByteArray& bytes)
{
    QPixmap pixmap;
    pixmap.loadFromData(bytes);
    return pixmap;
}

QLabel* labelOf(const AdBanner& banner)
{
    return banner.findChild<QLabel*>(QStringLiteral("adBanner"));
}

QTimer* timerOf(const AdBanner& banner)
{
    return banner.findChild<QTimer*>();
}

QNetworkAccessManager* networkOf(const AdBanner& banner)
{
    return banner.findChild<QNetworkAccessManager*>();
}

} // namespace

// Stands in for the desktop's browser and other URL handlers.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class TestAdBanner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void requestsFeedOnceAndShowsActiveItems();
    void unusableFeedShowsBuiltInItems_data();
    void unusableFeedShowsBuiltInItems();
    void realServiceUnreachableShowsBuiltInItems();
    void rotatesThroughItemsInOrder();
    void picturesReplaceTheLoadingForm();
    void brokenPicturesKeepTheLoadingForm_data();
    void brokenPicturesKeepTheLoadingForm();
    void localPicturesAreNotRead();
    void clickOpensOnlyWebLinks_data();
    void clickOpensOnlyWebLinks();

private:
    const QStringList handledSchemes = {"http", "https", "file", "steam"};
    UrlRecorder recorder;
};

void TestAdBanner::initTestCase()
{
    // The local server must be reached directly, whatever the environment says.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    for (const QString& scheme : handledSchemes)
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
}

void TestAdBanner::cleanupTestCase()
{
    for (const QString& scheme : handledSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestAdBanner::requestsFeedOnceAndShowsActiveItems()
{
    FeedServer server;
    QVERIFY(server.isListening());
    AdItem active = textItem(QStringLiteral("A & B"));
    active.description = QStringLiteral("more");
    const AdItem inactive = textItem(QStringLiteral("hidden"));
    server.setRoute("/api/ads", Route{200, feedBody({jsonOf(active), jsonOf(inactive, 0)})});

    AdBanner banner(QStringLiteral("korvahub"), nullptr, server.base());
    QLabel* label = labelOf(banner);
    QTimer* timer = timerOf(banner);
    QVERIFY(label && timer);
    QCOMPARE(label->text(), AdMarkup::placeholder());
    QVERIFY(!timer->isActive());

    QTRY_COMPARE_WITH_TIMEOUT(label->text(), AdMarkup::render(active), NetworkTimeoutMs);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);

    QCOMPARE(server.heads.size(), 1);
    const QByteArray head = server.heads.first();
    QVERIFY2(head.startsWith("GET /api/ads?product=korvahub HTTP/1.1\r\n"), head.constData());
    QVERIFY2(head.toLower().contains("\r\ncontent-type: application/json"), head.constData());

    // With one item a rotation shows it again; the feed is never asked again.
    QSignalSpy rotations(timer, &QTimer::timeout);
    timer->setInterval(20);
    QVERIFY(rotations.wait(NetworkTimeoutMs));
    QVERIFY(rotations.wait(NetworkTimeoutMs));
    QCOMPARE(label->text(), AdMarkup::render(active));
    QCOMPARE(server.requestCount("/api/ads"), 1);
}

void TestAdBanner::unusableFeedShowsBuiltInItems_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("refused");

    const QByteArray usable = feedBody({jsonOf(textItem("A"))});
    QTest::newRow("server error") << 500 << usable << false;
    QTest::newRow("invalid json") << 200 << QByteArray("{\"success\":") << false;
    QTest::newRow("connection refused") << 0 << QByteArray() << true;
}

void TestAdBanner::unusableFeedShowsBuiltInItems()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, refused);

    FeedServer server;
    QVERIFY(server.isListening());
    server.setRoute("/api/ads", Route{status, body});
    QString base = server.base();
    if (refused) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        base = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    }

    AdBanner banner(QStringLiteral("korvahub"), nullptr, base);
    const QList<AdItem> builtIn = AdFeed::builtInItems(QUrl(base));
    QTRY_COMPARE_WITH_TIMEOUT(labelOf(banner)->text(), AdMarkup::render(builtIn.first()),
                              NetworkTimeoutMs);
    QVERIFY(labelOf(banner)->text().contains(QStringLiteral("Tarnwick Pro")));
    QVERIFY(timerOf(banner)->isActive());
}

void TestAdBanner::realServiceUnreachableShowsBuiltInItems()
{
    // Without a base address the banner asks the real service, which cannot be reached here.
    AdBanner banner(QStringLiteral("korvahub"));
    QTRY_VERIFY_WITH_TIMEOUT(labelOf(banner)->text().contains(QStringLiteral("Tarnwick Pro")), 30000);
    QVERIFY(labelOf(banner)->text().contains(QStringLiteral("href='https://")));
    QVERIFY(timerOf(banner)->isActive());
}

void TestAdBanner::rotatesThroughItemsInOrder()
{
    FeedServer server;
    QVERIFY(server.isListening());
    AdBanner banner(QStringLiteral("korvahub"), nullptr, server.base());
    const QList<AdItem> items = AdFeed::builtInItems(QUrl(server.base()));
    QLabel* label = labelOf(banner);
    QTimer* timer = timerOf(banner);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), AdMarkup::render(items.at(0)), NetworkTimeoutMs);
    QCOMPARE(timer->interval(), 5000);

    // Each timeout shows the next item; the order wraps around.
    QSignalSpy rotations(timer, &QTimer::timeout);
    timer->setInterval(20);
    for (int expected : {1, 2, 0, 1}) {
        QVERIFY(rotations.wait(NetworkTimeoutMs));
        QCOMPARE(label->text(), AdMarkup::render(items.at(expected)));
    }
}

void TestAdBanner::picturesReplaceTheLoadingForm()
{
    FeedServer server;
    QVERIFY(server.isListening());
    const QByteArray wide = png(QSize(200, 100));
    const QByteArray veryWide = png(QSize(2000, 10));
    const AdItem first = pictureItem(QStringLiteral("first"), server.url("/first.png"));
    const AdItem text = textItem(QStringLiteral("text"));
    const AdItem last = pictureItem(QStringLiteral("last"), server.url("/last.png"));
    server.setRoute("/api/ads", Route{200, feedBody({jsonOf(first), jsonOf(text), jsonOf(last)})});
    server.setRoute("/first.png", Route{200, wide, true, true});
    server.setRoute("/last.png", Route{200, veryWide, true, true});

    AdBanner banner(QStringLiteral("korvahub"), nullptr, server.base());
    QLabel* label = labelOf(banner);
    QTimer* timer = timerOf(banner);
    QSignalSpy replies(networkOf(banner), &QNetworkAccessManager::finished);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), AdMarkup::render(first), NetworkTimeoutMs);
    QVERIFY(label->text().contains(QStringLiteral("— 图片加载中...")));
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/first.png"), 1, NetworkTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/last.png"), 1, NetworkTimeoutMs);

    // The picture of the item on show replaces its loading form at once.
    server.release("/first.png");
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), AdMarkup::render(first, pixmapOf(wide)),
                              NetworkTimeoutMs);
    QVERIFY(label->text().contains(QStringLiteral("data:image/png;base64,")));

    // A picture arriving for another item changes nothing on show.
    QSignalSpy rotations(timer, &QTimer::timeout);
    timer->setInterval(20);
    QVERIFY(rotations.wait(NetworkTimeoutMs));
    timer->stop();
    QCOMPARE(label->text(), AdMarkup::render(text));
    const int answered = int(replies.count());
    server.release("/last.png");
    QTRY_COMPARE_WITH_TIMEOUT(int(replies.count()), answered + 1, NetworkTimeoutMs);
    QCOMPARE(label->text(), AdMarkup::render(text));

    // Later rotations show both pictures from the cache, without asking again.
    timer->start();
    QVERIFY(rotations.wait(NetworkTimeoutMs));
    QCOMPARE(label->text(), AdMarkup::render(last, pixmapOf(veryWide)));
    QVERIFY(rotations.wait(NetworkTimeoutMs));
    QCOMPARE(label->text(), AdMarkup::render(first, pixmapOf(wide)));
    QCOMPARE(server.requestCount("/first.png"), 1);
    QCOMPARE(server.requestCount("/last.png"), 1);
}

void TestAdBanner::brokenPicturesKeepTheLoadingForm_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("withLength");
    QTest::addColumn<bool>("shown");

    const QByteArray picture = png(QSize(40, 20));
    // Picture decoders stop at the end of the image, so padding alone does not spoil it.
    const QByteArray padded = picture + QByteArray(1024 * 1024, '\0');
    const QByteArray huge = picture + QByteArray(5 * 1024 * 1024, '\0');

    QTest::newRow("picture") << 200 << picture << true << true;
    QTest::newRow("padded picture within the bound") << 200 << padded << false << true;
    QTest::newRow("not found") << 404 << picture << true << false;
    QTest::newRow("not a picture") << 200 << QByteArray("GIF89a but not really") << true << false;
    QTest::newRow("announced as too large") << 200 << huge << true << false;
    QTest::newRow("too large without announcement") << 200 << huge << false << false;
}

void TestAdBanner::brokenPicturesKeepTheLoadingForm()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, withLength);
    QFETCH(bool, shown);

    FeedServer server;
    QVERIFY(server.isListening());
    const AdItem item = pictureItem(QStringLiteral("pic"), server.url("/pic.png"));
    server.setRoute("/api/ads", Route{200, feedBody({jsonOf(item)})});
    server.setRoute("/pic.png", Route{status, body, withLength});

    AdBanner banner(QStringLiteral("korvahub"), nullptr, server.base());
    QSignalSpy replies(networkOf(banner), &QNetworkAccessManager::finished);
    QTRY_COMPARE_WITH_TIMEOUT(int(replies.count()), 2, NetworkTimeoutMs);
    QCOMPARE(labelOf(banner)->text(),
             shown ? AdMarkup::render(item, pixmapOf(body)) : AdMarkup::render(item));
}

void TestAdBanner::localPicturesAreNotRead()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("local.png"));
    QVERIFY(QImage(QSize(20, 20), QImage::Format_RGB32).save(path, "PNG"));

    FeedServer server;
    QVERIFY(server.isListening());
    const AdItem local = pictureItem(QStringLiteral("local"), QUrl::fromLocalFile(path).toString());
    const AdItem web = pictureItem(QStringLiteral("web"), server.url("/pic.png"));
    server.setRoute("/api/ads", Route{200, feedBody({jsonOf(local), jsonOf(web)})});
    server.setRoute("/pic.png", Route{200, png(QSize(20, 20))});

    AdBanner banner(QStringLiteral("korvahub"), nullptr, server.base());
    QSignalSpy replies(networkOf(banner), &QNetworkAccessManager::finished);
    // The feed and the web picture; a local file would answer sooner than either.
    QTRY_COMPARE_WITH_TIMEOUT(int(replies.count()), 2, NetworkTimeoutMs);
    QCOMPARE(labelOf(banner)->text(), AdMarkup::render(local));
}

void TestAdBanner::clickOpensOnlyWebLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("opened");

    QTest::newRow("https") << "https://h.example/page?a=1&b=2" << int(Qt::LeftButton) << true;
    QTest::newRow("http, right button") << "http://h.example/" << int(Qt::RightButton) << true;
    QTest::newRow("local file") << "file:///etc/passwd" << int(Qt::LeftButton) << false;
    QTest::newRow("other handler") << "steam://run/1" << int(Qt::LeftButton) << false;
    QTest::newRow("no link") << "" << int(Qt::LeftButton) << false;
}

void TestAdBanner::clickOpensOnlyWebLinks()
{
    QFETCH(QString, link);
    QFETCH(int, button);
    QFETCH(bool, opened);

    FeedServer server;
    QVERIFY(server.isListening());
    const AdItem item = textItem(QStringLiteral("click me"), link);
    server.setRoute("/api/ads", Route{200, feedBody({jsonOf(item)})});

    AdBanner banner(QStringLiteral("korvahub"), nullptr, server.base());
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    QLabel* label = labelOf(banner);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), AdMarkup::render(item), NetworkTimeoutMs);

    recorder.opened.clear();
    QTest::mouseClick(label, Qt::MouseButton(button), {}, label->rect().center());
    QCOMPARE(recorder.opened, opened ? QList<QUrl>{QUrl(link)} : QList<QUrl>{});
}

QTEST_MAIN(TestAdBanner)
#include "tst_adbanner.moc"

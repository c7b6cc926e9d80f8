// The promotion banner and its feed. Faults guarded:
// - the banner reaching the network when told to stay offline, or another address than
//   the one the command line or the environment named (PromoSource, default source);
// - feed answers that are not a success, or inactive items, shown as items; a usable
//   feed replaced by the built-in items or the other way round, or a feed that never
//   ends leaving the placeholder up;
// - feed text or links that break out of the label's markup (HTML injection), links that
//   the desktop would open although they are not web pages, and a page opened twice;
// - pictures: the wrong item's picture shown, pictures fetched again, oversized, broken
//   or local-file pictures accepted, a small file that decodes huge (a picture bomb)
//   decoded, pictures not fitted into the banner.
#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <tuple>

#include "AdBanner.h"
#include "AdFeed.h"
#include "AdMarkup.h"
#include "PromoSource.h"

namespace {

constexpr int Timeout = 10000;

struct Route
{
    int status = 200;
    QByteArray body;
    bool withLength = true; // without it the body ends where the connection closes
    bool held = false;      // answered only when the test releases it
};

void answer(QTcpSocket* socket, const Route& route)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) + " S\r\nConnection: close\r\n";
    if (route.withLength)
        response += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    socket->write(response + "\r\n" + route.body);
    socket->disconnectFromHost();
}

// An HTTP server on 127.0.0.1 that answers each GET by its path, one request per
// connection, and keeps the request heads.
struct FeedServer
{
    FeedServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->peek(1 << 16).contains("\r\n\r\n"))
                        return;
                    heads.append(socket->readAll());
                    const QByteArray path = heads.last().split(' ').value(1).split('?').value(0);
                    if (routes.value(path).held)
                        held.insert(path, socket);
                    else
                        answer(socket, routes.value(path, Route{404, "not found"}));
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
        for (const QPointer<QTcpSocket>& socket : held.values(path))
            if (socket)
                answer(socket, routes.value(path));
    }

    QMap<QByteArray, Route> routes;
    QList<QByteArray> heads;
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
        const bool ok = rotations.wait(Timeout);
        timer->stop();
        return ok;
    }
};

AdItem item(const QString& title, const QString& link = QStringLiteral("https://h.example/"),
            const QString& imageUrl = {})
{
    return AdItem{1, QStringLiteral("product"), imageUrl.isEmpty() ? QStringLiteral("text") : QStringLiteral("image"),
                  title, imageUrl, link, QStringLiteral("more")};
}

// Items are active unless a status is given for them.
QByteArray feed(const QList<AdItem>& items, const QList<int>& statuses = {})
{
    QJsonArray ads;
    for (const AdItem& i : items)
        ads.append(QJsonObject{{"status", statuses.value(ads.size(), 1)}, {"target_type", i.target_type},
                               {"ad_type", i.ad_type}, {"title", i.title}, {"image_url", i.image_url},
                               {"link_url", i.link_url}, {"description", i.description}});
    return QJsonDocument(QJsonObject{{"success", true}, {"ads", ads}}).toJson(QJsonDocument::Compact);
}

// Feed bodies are written with single quotes for readability.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
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

// What a QLabel makes of the markup: the anchor's href and text, then the plain text.
QStringList seenInLabel(const QString& markup)
{
    QTextDocument document;
    document.setHtml(markup);
    QStringList seen;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isAnchor())
                seen << it.fragment().charFormat().anchorHref() << it.fragment().text();
    // The badge's spacing is not what these cases are about.
    static const QRegularExpression badgeSpacing(QStringLiteral("^\\s*(\\S+)\\s+"));
    return seen << document.toPlainText().replace(badgeSpacing, QStringLiteral("\\1"));
}

// The size of the picture in the markup; 0 x 0 for none.
QSize pictureIn(const QString& markup)
{
    const QString base64 = markup.section(QStringLiteral("base64,"), 1).section('\'', 0, 0);
    return QImage::fromData(QByteArray::fromBase64(base64.toLatin1())).size();
}

} // namespace

class TestPromo : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser and other URL handlers.
    void open(const QUrl& url) { m_openedUrls.append(url); }

private slots:
    void initTestCase()
    {
        // The banners built here without an address of their own must not go online.
        qputenv("KORVAHUB_OFFLINE", "1");
        // The local server must be reached directly, whatever the environment says.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        for (const char* scheme : {"http", "https", "file", "steam"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }

    void cleanup() { AdBanner::setRequestTimeout(AdBanner::DefaultRequestTimeoutMs); }

    void cleanupTestCase()
    {
        for (const char* scheme : {"http", "https", "file", "steam"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void resolvesSource_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("source"); // empty: the promotion service

        const QString a = QStringLiteral("http://127.0.0.1:8080/p");
        const QString b = QStringLiteral("https://mirror.example");
        const QStringList none;
        QTest::newRow("nothing") << QStringList{"korvahub"} << none << "";
        QTest::newRow("address argument wins") << QStringList{"--promo-url=" + a} << QStringList{"KORVAHUB_OFFLINE=1"} << a;
        QTest::newRow("offline argument wins") << QStringList{"--offline"} << QStringList{"KORVAHUB_PROMO_URL=" + b}
                                               << "offline";
        QTest::newRow("offline wins on one level") << QStringList{"--promo-url=" + a, "--offline"} << none << "offline";
        QTest::newRow("address variable") << none << QStringList{"KORVAHUB_OFFLINE=0", "KORVAHUB_PROMO_URL=" + b} << b;
        QTest::newRow("offline variable") << none << QStringList{"KORVAHUB_OFFLINE=1", "KORVAHUB_PROMO_URL=" + b}
                                          << "offline";
        QTest::newRow("unknown arguments ignored") << QStringList{"--promo-url", "--offline=no"} << none << "";
        QTest::newRow("no scheme: offline") << QStringList{"--promo-url=127.0.0.1:8080"} << none << "offline";
    }

    void resolvesSource()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QString, source);

        const PromoSource resolved = PromoSource::resolve(arguments, [&environment](const QString& name) {
            return environment.filter(QRegularExpression('^' + name + '=')).value(0).section('=', 1);
        });
        QCOMPARE(resolved.enabled ? resolved.baseUrl : QStringLiteral("offline"), source);
    }

    void defaultSourceIsUsed()
    {
        // Until the program sets a source the environment's applies: offline here, with
        // the built-in items at once and no network manager at all.
        const QString builtIn = AdFeed::builtInItems(QUrl("https://korvahub.dev")).first().title;
        QCOMPARE(seenInLabel(AdBanner("korvahub").findChild<QLabel*>()->text()).value(1), builtIn);
        QVERIFY(!AdBanner("korvahub").findChild<QNetworkAccessManager*>());

        FeedServer server;
        server.routes.insert("/api/ads", Route{200, feed({item("served")})});
        AdBanner::setDefaultSource(PromoSource{true, server.url(), {}});
        Banner online({});
        AdBanner::setDefaultSource(PromoSource{false, {}, {}});
        QTRY_COMPARE_WITH_TIMEOUT(seenInLabel(online.label->text()).value(1), "served", Timeout);
    }

    void showsFeedOrBuiltInItems_data()
    {
        QTest::addColumn<int>("status"); // 0: no answer at all
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("titles"); // in turn; none: the built-in items
        QTest::addColumn<QString>("opens");      // by a click on the third; "home": the service's

        const QString page = QStringLiteral("https://h.example/?a=1&b=2");
        const QString quotes = QStringLiteral("https://h.example/\\'\"></a><a href='evil");
        const QStringList builtIn;
        // Only objects whose status is the number 1 count; the order stays.
        QTest::newRow("active items in order")
            << 200 << json("{'success':true,'ads':[{'status':1,'title':'C','link_url':'https://h.example/?a=1&b=2'},"
                           "{'status':0,'title':'X'},1,null,{'status':'1','title':'S'},{'title':'M'},"
                           "{'status':1.5,'title':'F'},{'status':1,'title':'A & B'}]}")
            << QStringList{"C", "A & B", "C"} << page;
        // Feed texts stay text, and links reach the label byte for byte, "&" included.
        QTest::newRow("markup in texts") << 200 << feed({item("<b>%1 & B</b>", quotes)}) << QStringList(3, "<b>%1 & B</b>")
                                         << quotes;
        QTest::newRow("file link") << 200 << feed({item("A", "file:///etc/passwd")}) << QStringList(3, "A") << "";
        QTest::newRow("other handler") << 200 << feed({item("A", "steam://run/1")}) << QStringList(3, "A") << "";
        QTest::newRow("server error") << 500 << feed({item("A", page)}) << builtIn << "home";
        QTest::newRow("never answered") << 0 << feed({item("A", page)}) << builtIn << "home";
        QTest::newRow("invalid json") << 200 << QByteArray("{\"success\":") << builtIn << "home";
        QTest::newRow("no active item") << 200 << feed({item("A", page)}, {0}) << builtIn << "home";
        QTest::newRow("success not true") << 200 << json("{'success':1,'ads':[{'status':1,'title':'A'}]}") << builtIn
                                          << "home";
        QTest::newRow("ads not an array") << 200 << json("{'success':true,'ads':{'status':1,'title':'A'}}")
                                          << builtIn << "home";
    }

    void showsFeedOrBuiltInItems()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, titles);
        QFETCH(QString, opens);

        FeedServer server;
        server.routes.insert("/promo/api/ads", Route{status, body, true, status == 0});
        if (status == 0)
            AdBanner::setRequestTimeout(300);
        Banner banner(server.url("/promo/"));
        banner.show();
        QCOMPARE(banner.label->text(), AdMarkup::placeholder());
        QVERIFY(QTest::qWaitForWindowExposed(&banner));
        for (const AdItem& fallback : titles.isEmpty() ? AdFeed::builtInItems(QUrl(server.url())) : QList<AdItem>())
            titles << fallback.title;

        // Items take turns at each rotation.
        QTRY_VERIFY_WITH_TIMEOUT(banner.label->text() != AdMarkup::placeholder(), Timeout);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(i == 0 || banner.rotate());
            QCOMPARE(seenInLabel(banner.label->text()).value(1), titles[i]);
        }
        // The feed is asked for once, below the service's own path.
        QCOMPARE(server.heads.size(), 1);
        QVERIFY2(server.heads[0].startsWith("GET /promo/api/ads?product=korvahub HTTP/1.1\r\n"), server.heads[0]);

        // Only web links open, once per press of any button: the label must not follow
        // them on release. The built-in items point at the service's host, not its path.
        m_openedUrls.clear();
        QTest::mouseClick(banner.label, Qt::LeftButton, {}, banner.label->rect().center());
        QTest::mouseClick(banner.label, Qt::RightButton, {}, banner.label->rect().center());
        const QUrl link(opens == "home" ? server.url() : opens);
        QCOMPARE(m_openedUrls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl>({link, link}));
    }

    void picturesReplaceTheLoadingForm()
    {
        FeedServer server;
        const QByteArray picture = png(QSize(40, 20));
        const QByteArray huge = picture + QByteArray(5 << 20, '\0');
        QTemporaryDir dir;
        QFile local(dir.filePath(QStringLiteral("pic.png")));
        QVERIFY(local.open(QIODevice::WriteOnly) && local.write(picture) == picture.size());
        local.close();
        // Held pictures arrive when released; pictures are fitted into 500 x 36.
        const QList<std::tuple<QString, Route, QSize>> pictures{
            {"/first.png", Route{200, png(QSize(200, 100)), true, true}, QSize(72, 36)},
            {"/missing.png", Route{404, picture}, QSize()},
            {"/broken.png", Route{200, "GIF89a but not really"}, QSize()},
            {"/huge.png", Route{200, huge}, QSize()},
            {"/unannounced.png", Route{200, huge, false}, QSize()},
            {"/bomb.png", Route{200, png(QSize(2049, 2049))}, QSize()}, // over 4 million pixels
            {"/last.png", Route{200, png(QSize(2000, 10)), true, true}, QSize(500, 2)},
            {QUrl::fromLocalFile(local.fileName()).toString(), Route{200, picture}, QSize()}};
        QList<AdItem> items;
        for (const auto& [path, route, size] : pictures) {
            items << item(path, {}, path.startsWith('/') ? server.url(path) : path);
            server.routes.insert(path.toLatin1(), route);
        }
        server.routes.insert("/api/ads", Route{200, feed(items)});
        Banner banner(server.url());
        // Every web picture is asked for; the local file is not read.
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), 6, Timeout);
        QCOMPARE(server.heads.size(), 8);
        QCOMPARE(seenInLabel(banner.label->text()).value(2), "品/first.png — 图片加载中...");

        // The picture of the item on show replaces its loading form at once; one arriving
        // for another item changes nothing on show.
        server.release("/first.png");
        QTRY_COMPARE_WITH_TIMEOUT(pictureIn(banner.label->text()), QSize(72, 36), Timeout);
        server.release("/last.png");
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), 8, Timeout);
        QCOMPARE(pictureIn(banner.label->text()), QSize(72, 36));

        // Rotations show the accepted pictures from the cache, without asking again.
        for (qsizetype i = 1; i <= items.size(); ++i) {
            QVERIFY(banner.rotate());
            QCOMPARE(pictureIn(banner.label->text()), std::get<QSize>(pictures[i % items.size()]).expandedTo({0, 0}));
        }
        QCOMPARE(server.heads.size(), 8);
    }

private:
    QList<QUrl> m_openedUrls;
};

QTEST_MAIN(TestPromo)
#include "tst_promo.moc"

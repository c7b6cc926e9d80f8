// The promotion banner and its feed. Faults guarded:
// - the banner reaching the network when told to stay offline, or another address than
//   the one the command line or the environment named (PromoSource, default source);
// - feed answers that are not a success, or inactive items, shown as items; a usable
//   feed replaced by the built-in items or the other way round;
// - feed text or links that break out of the label's markup (HTML injection), links that
//   the desktop would open although they are not web pages, and a page opened twice;
// - pictures: the wrong item's picture shown, pictures fetched again, oversized, broken
//   or local-file pictures accepted, pictures not fitted into the banner.
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

private:
    static void answer(QTcpSocket* socket, const Route& route)
    {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) + " S\r\nConnection: close\r\n";
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
        const bool ok = rotations.wait(Timeout);
        timer->stop();
        return ok;
    }
};

AdItem item(const QString& title, const QString& link = QStringLiteral("https://h.example/"),
            const QString& imageUrl = {}, const QString& description = QStringLiteral("more"))
{
    return AdItem{1, QStringLiteral("product"), imageUrl.isEmpty() ? QStringLiteral("text") : QStringLiteral("image"),
                  title, imageUrl, link, description};
}

// Items are active unless a status is given for them.
QByteArray feed(const QList<AdItem>& items, const QList<int>& statuses = {})
{
    QJsonArray ads;
    for (const AdItem& i : items)
        ads.append(QJsonObject{{"status", statuses.value(ads.size(), 1)}, {"id", i.id}, {"target_type", i.target_type},
                               {"ad_type", i.ad_type}, {"title", i.title}, {"image_url", i.image_url},
                               {"link_url", i.link_url}, {"description", i.description}});
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

// Feed bodies are written with single quotes for readability.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

// What a QLabel makes of the markup: anchor hrefs and texts, then the plain text.
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

} // namespace

Q_DECLARE_METATYPE(AdItem)

class TestPromo : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser and other URL handlers.
    void open(const QUrl& url) { openedUrls.append(url); }

private slots:
    void initTestCase()
    {
        // The banners built here without an address of their own must not go online.
        qputenv("KORVAHUB_OFFLINE", "1");
        // The local server must be reached directly, whatever the environment says.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }

    void cleanupTestCase()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void resolvesSource_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("offlineVariable");
        QTest::addColumn<QString>("urlVariable");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("baseUrl");

        const QString a = QStringLiteral("http://127.0.0.1:8080/p");
        const QString b = QStringLiteral("https://mirror.example");
        QTest::newRow("nothing: the service") << QStringList{"korvahub"} << "" << "" << true << "";
        QTest::newRow("argument address") << QStringList{"--promo-url=" + a} << "" << "" << true << a;
        QTest::newRow("argument offline wins") << QStringList{"--offline"} << "" << b << false << "";
        QTest::newRow("variable offline") << QStringList{} << "1" << b << false << "";
        QTest::newRow("variable 0 is not offline") << QStringList{} << "0" << b << true << b;
        QTest::newRow("command line wins") << QStringList{"--promo-url=" + a} << "1" << b << true << a;
        QTest::newRow("offline wins on one level") << QStringList{"--promo-url=" + a, "--offline"} << "" << "" << false
                                                   << "";
        QTest::newRow("unknown arguments ignored") << QStringList{"--promo-url", "-style=x", "--offline=no"} << ""
                                                   << b << true << b;
        QTest::newRow("no scheme: offline") << QStringList{"--promo-url=127.0.0.1:8080"} << "" << b << false << "";
    }

    void resolvesSource()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, offlineVariable);
        QFETCH(QString, urlVariable);
        QFETCH(bool, enabled);
        QFETCH(QString, baseUrl);

        const PromoSource source = PromoSource::resolve(arguments, [&](const QString& name) {
            return name == "KORVAHUB_OFFLINE" ? offlineVariable : name == "KORVAHUB_PROMO_URL" ? urlVariable : "?";
        });
        QCOMPARE(source.enabled, enabled);
        QCOMPARE(source.baseUrl, baseUrl);
    }

    void defaultSourceIsUsed()
    {
        // Until the program sets a source the environment's applies: offline here, with
        // the built-in items at once and no network manager at all.
        FeedServer server;
        server.routes.insert("/api/ads", Route{200, feed({item("served")})});
        {
            AdBanner offline(QStringLiteral("korvahub"));
            QVERIFY(!offline.findChild<QNetworkAccessManager*>());
            QCOMPARE(offline.findChild<QLabel*>()->text(),
                     shown(AdFeed::builtInItems(QUrl("https://korvahub.dev")).first()));
        }
        AdBanner::setDefaultSource(PromoSource{true, server.url(), {}});
        Banner online({});
        AdBanner::setDefaultSource(PromoSource{false, {}, {}});
        QTRY_COMPARE_WITH_TIMEOUT(online.label->text(), shown(item("served")), Timeout);
        QCOMPARE(server.heads.size(), 1);
    }

    void markup_data()
    {
        QTest::addColumn<AdItem>("shownItem");
        QTest::addColumn<QSize>("pictureSize"); // of a loaded picture, if any
        QTest::addColumn<QStringList>("seen");  // anchor href and text, then the plain text
        QTest::addColumn<QSize>("seenSize");    // of the picture in the label

        const QString page = QStringLiteral("https://h.example/?a=1&b=2");
        const QSize none(0, 0);
        // Links reach the label byte for byte, "&" included; texts stay text.
        QTest::newRow("markup in texts") << item("<b>A & B</b>", page, {}, "x < <img src=x>") << none
                                         << QStringList{page, "<b>A & B</b>", "品<b>A & B</b> — x < <img src=x>"} << none;
        QTest::newRow("quotes closing the anchor")
            << item("T", "https://h.example/\\'\"></a><a href='evil", {}, {}) << none
            << QStringList{"https://h.example/%5C%27%22%3E%3C/a%3E%3Ca href=%27evil", "T", "品T"} << none;
        QTest::newRow("percent sequences") << item("%1 %2", page, {}, "%1") << none
                                           << QStringList{page, "%1 %2", "品%1 %2 — %1"} << none;
        QTest::newRow("no link points nowhere") << item("T", "", {}, {}) << none << QStringList{"#", "T", "品T"} << none;
        AdItem noPicture = item("T", page);
        noPicture.ad_type = QStringLiteral("image");
        QTest::newRow("image without address is text") << noPicture << none << QStringList{page, "T", "品T — more"}
                                                       << none;
        // A picture item shows its title until the picture is loaded, then only the picture,
        // fitted into 500 x 36 and never enlarged.
        const AdItem pictured = item("T", "https://h.example/x'y", "https://h.example/p.png");
        const QString image(QChar::ObjectReplacementCharacter);
        const QStringList onlyPicture{"https://h.example/x%27y", image, image};
        QTest::newRow("picture loading") << pictured << none
                                         << QStringList{"https://h.example/x%27y", "T", "品T — 图片加载中..."} << none;
        QTest::newRow("very wide picture") << pictured << QSize(2000, 10) << onlyPicture << QSize(500, 2);
        QTest::newRow("small picture") << pictured << QSize(30, 20) << onlyPicture << QSize(30, 20);
    }

    void markup()
    {
        QFETCH(AdItem, shownItem);
        QFETCH(QSize, pictureSize);
        QFETCH(QStringList, seen);
        QFETCH(QSize, seenSize);

        QPixmap picture(pictureSize);
        picture.fill(Qt::red);
        const QString markup = AdMarkup::render(shownItem, picture);
        QCOMPARE(seenInLabel(markup), seen);
        const QString base64 = markup.section(QStringLiteral("base64,"), 1).section('\'', 0, 0);
        QCOMPARE(QImage::fromData(QByteArray::fromBase64(base64.toLatin1())).size(), seenSize);
    }

    void showsFeedOrBuiltInItems_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("titles"); // in turn; none: the built-in items
        QTest::addColumn<bool>("opens");         // whether a click opens the link on show

        const QString page = QStringLiteral("https://h.example/?a=1&b=2");
        const QStringList builtIn;
        // Only objects whose status is the number 1 count; the order stays.
        QTest::newRow("active items in order")
            << 200 << json("{'success':true,'ads':[{'status':1,'title':'C','link_url':'https://h.example/?a=1&b=2'},"
                           "{'status':0,'title':'X'},1,null,{'status':'1','title':'S'},{'title':'M'},"
                           "{'status':1.5,'title':'F'},{'status':1,'title':'A & B'}]}")
            << QStringList{"C", "A & B"} << true;
        QTest::newRow("file link") << 200 << feed({item("A", "file:///etc/passwd")}) << QStringList{"A"} << false;
        QTest::newRow("script link") << 200 << feed({item("A", "javascript:alert(1)")}) << QStringList{"A"} << false;
        QTest::newRow("no link") << 200 << feed({item("A", "")}) << QStringList{"A"} << false;
        QTest::newRow("server error") << 500 << feed({item("A", page)}) << builtIn << true;
        QTest::newRow("invalid json") << 200 << QByteArray("{\"success\":") << builtIn << true;
        QTest::newRow("no active item") << 200 << feed({item("A", page)}, {0}) << builtIn << true;
        QTest::newRow("success as number") << 200 << json("{'success':1,'ads':[{'status':1,'title':'A'}]}") << builtIn
                                           << true;
        QTest::newRow("success missing") << 200 << json("{'ads':[{'status':1,'title':'A'}]}") << builtIn << true;
        QTest::newRow("ads not an array") << 200 << json("{'success':true,'ads':{'status':1,'title':'A'}}")
                                          << builtIn << true;
        QTest::newRow("top-level array") << 200 << json("[{'success':true}]") << builtIn << true;
    }

    void showsFeedOrBuiltInItems()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, titles);
        QFETCH(bool, opens);

        FeedServer server;
        server.routes.insert("/promo/api/ads", Route{status, body});
        Banner banner(server.url("/promo/"));
        banner.show();
        QCOMPARE(banner.label->text(), AdMarkup::placeholder());
        QVERIFY(QTest::qWaitForWindowExposed(&banner));

        // Items take turns at each rotation.
        const QList<AdItem> builtIn = AdFeed::builtInItems(QUrl(server.url()));
        for (int i = 0; i < 3; ++i) {
            if (i == 0)
                QTRY_VERIFY_WITH_TIMEOUT(banner.label->text() != AdMarkup::placeholder(), Timeout);
            else
                QVERIFY(banner.rotate());
            if (titles.isEmpty())
                QCOMPARE(banner.label->text(), shown(builtIn[i % 3]));
            else
                QCOMPARE(seenInLabel(banner.label->text()).value(1), titles[i % titles.size()]);
        }
        // The feed is asked for once, below the service's own path.
        QCOMPARE(server.heads.size(), 1);
        QVERIFY2(server.heads[0].startsWith("GET /promo/api/ads?product=korvahub HTTP/1.1\r\n"), server.heads[0]);

        // Any button opens a web link, once per press: the label must not follow it on release.
        openedUrls.clear();
        QTest::mouseClick(banner.label, Qt::LeftButton, {}, banner.label->rect().center());
        QTest::mouseClick(banner.label, Qt::RightButton, {}, banner.label->rect().center());
        const QUrl link(seenInLabel(banner.label->text()).value(0));
        QCOMPARE(openedUrls, opens ? QList<QUrl>({link, link}) : QList<QUrl>());
        // The built-in items point at the service's host, not below its path.
        QVERIFY(!titles.isEmpty() || link == QUrl(server.url()));
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
        // Held pictures arrive when released. Picture decoders stop at the end of the
        // image, so padding alone does not spoil one.
        const QList<std::tuple<QString, Route, bool>> pictures{
            {"/first.png", Route{200, png(QSize(200, 100)), true, true}, true},
            {"/padded.png", Route{200, picture + QByteArray(1 << 20, '\0'), false}, true},
            {"/missing.png", Route{404, picture}, false},
            {"/broken.png", Route{200, "GIF89a but not really"}, false},
            {"/huge.png", Route{200, huge}, false},
            {"/unannounced.png", Route{200, huge, false}, false},
            {"/last.png", Route{200, png(QSize(2000, 10)), true, true}, true},
            {QUrl::fromLocalFile(local.fileName()).toString(), Route{200, picture}, false}};
        QList<AdItem> items;
        QList<QString> expected;
        for (const auto& [path, route, accepted] : pictures) {
            const bool web = path.startsWith('/');
            items << item(path, {}, web ? server.url(path) : path);
            server.routes.insert(path.toLatin1(), route);
            expected << shown(items.last(), accepted ? route.body : QByteArray());
        }
        server.routes.insert("/api/ads", Route{200, feed(items)});
        Banner banner(server.url());
        QTRY_COMPARE_WITH_TIMEOUT(banner.label->text(), shown(items[0]), Timeout);
        // Every web picture is asked for; the local file is not read.
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), 6, Timeout);
        QCOMPARE(server.heads.size(), 8);

        // The picture of the item on show replaces its loading form at once; one arriving
        // for another item changes nothing on show.
        server.release("/first.png");
        QTRY_COMPARE_WITH_TIMEOUT(banner.label->text(), expected[0], Timeout);
        server.release("/last.png");
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), 8, Timeout);
        QCOMPARE(banner.label->text(), expected[0]);

        // Rotations show the accepted pictures from the cache, without asking again.
        for (qsizetype i = 1; i <= items.size(); ++i) {
            QVERIFY(banner.rotate());
            QCOMPARE(banner.label->text(), expected[i % items.size()]);
        }
        QCOMPARE(server.heads.size(), 8);
    }

private:
    QList<QUrl> openedUrls;
};

QTEST_MAIN(TestPromo)
#include "tst_promo.moc"

// The promotion banner and its feed. Faults guarded:
// - the banner reaching the network when told to stay offline, or another address than
//   the one the command line or the environment named (PromoSource, default source);
// - feed answers that are not a success, or inactive items, shown as items; a usable
//   feed replaced by the built-in items or the other way round, or a feed that never
//   answers leaving the placeholder up;
// - feed text or links that break out of the label's markup (HTML injection), links that
//   the desktop would open although they are not web pages, and a page opened twice;
// - pictures: the wrong item's picture shown, pictures fetched again, oversized or broken
//   pictures accepted, a small file that decodes huge (a picture bomb) decoded, pictures
//   read from anything but the web (a resource here), pictures not fitted into the banner.
#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include "AdBanner.h"
#include "AdFeed.h"
#include "AdMarkup.h"
#include "PromoSource.h"

namespace {

constexpr int Timeout = 10000;

// An HTTP server on 127.0.0.1 that answers each GET by its path (status and body), one
// request per connection, and keeps the request heads.
// A route status for a server that takes the request and never answers it.
constexpr int NeverAnswers = 0;

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
                    const auto [status, body] = routes.value(heads.last().split(' ').value(1).split('?').value(0), {404, ""});
                    if (status == NeverAnswers)
                        return;
                    socket->write("HTTP/1.1 " + QByteArray::number(status) + " S\r\nConnection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    QString url(const QString& path = {}) const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()) + path; }

    QMap<QByteArray, QPair<int, QByteArray>> routes;
    QByteArrayList heads;
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

QByteArray feed(const QJsonArray& ads, const QJsonValue& success = true)
{
    return QJsonDocument(QJsonObject{{"success", success}, {"ads", ads}}).toJson();
}

QJsonObject item(const QString& title, const QJsonValue& status = 1, const QString& link = {}, const QString& picture = {})
{
    return {{"status", status}, {"title", title}, {"link_url", link}, {"target_type", "product"},
            {"ad_type", picture.isEmpty() ? "text" : "image"}, {"image_url", picture}};
}

QByteArray png(const QSize& size)
{
    QImage image(size, QImage::Format_Mono);
    image.fill(0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

// What a QLabel makes of the markup: the anchor's href (decoded) and text, then the plain
// text.
QStringList seenInLabel(const QString& markup)
{
    QTextDocument document;
    document.setHtml(markup);
    QStringList seen;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (const QTextCharFormat format = it.fragment().charFormat(); format.isAnchor())
                seen << QUrl::fromPercentEncoding(format.anchorHref().toUtf8()) << it.fragment().text();
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
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("source"); // empty: the promotion service
        const QString a = QStringLiteral("http://127.0.0.1:8080/p");
        const QString b = QStringLiteral("https://mirror.example");
        QTest::newRow("address argument wins") << QStringList{"--promo-url=" + a} << QStringList{"KORVAHUB_OFFLINE=1"} << a;
        QTest::newRow("offline argument wins") << QStringList{"--offline"} << QStringList{"KORVAHUB_PROMO_URL=" + b} << "offline";
        QTest::newRow("address variable") << QStringList() << QStringList{"KORVAHUB_OFFLINE=0", "KORVAHUB_PROMO_URL=" + b} << b;
        QTest::newRow("offline variable") << QStringList() << QStringList{"KORVAHUB_OFFLINE=1", "KORVAHUB_PROMO_URL=" + b} << "offline";
        QTest::newRow("unknown arguments ignored") << QStringList{"--promo-url", "--offline=no"} << QStringList() << "";
        QTest::newRow("no scheme: offline") << QStringList{"--promo-url=127.0.0.1:8080"} << QStringList() << "offline";
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

    void offlineByDefault()
    {
        // Until the program sets a source the environment's applies: offline here, with
        // the built-in items at once and no network manager at all.
        const QString builtIn = AdFeed::builtInItems(QUrl("https://korvahub.dev")).first().title;
        QCOMPARE(seenInLabel(AdBanner("korvahub").findChild<QLabel*>()->text()).value(1), builtIn);
        QVERIFY(!AdBanner("korvahub").findChild<QNetworkAccessManager*>());
    }

    void showsFeedOrBuiltInItems_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("titles"); // in turn; none: the built-in items
        QTest::addColumn<QString>("opens");      // by a click on the third; "home": the service's
        const QString page = QStringLiteral("https://h.example/?a=1&b=2");
        const QString quotes = QStringLiteral("https://h.example/\\'\"></a><a href='evil");
        // Only objects whose status is the number 1 count; the order stays.
        QTest::newRow("active items in order")
            << 200 << feed({item("C", 1, page), item("X", 0), 1, QJsonValue(), item("S", "1"), item("F", 1.5), item("A & B")})
            << QStringList{"C", "A & B", "C"} << page;
        // Feed texts stay text, and links reach the label byte for byte, "&" included.
        QTest::newRow("markup in texts") << 200 << feed({item("<b>%1 & B</b>", 1, quotes)}) << QStringList(3, "<b>%1 & B</b>") << quotes;
        QTest::newRow("file link") << 200 << feed({item("A", 1, "file:///etc/passwd")}) << QStringList(3, "A") << "";
        QTest::newRow("never answered") << NeverAnswers << feed({item("A", 1, page)}) << QStringList() << "home";
        QTest::newRow("server error") << 500 << feed({item("A", 1, page)}) << QStringList() << "home";
        QTest::newRow("success not true") << 200 << feed({item("A")}, 1) << QStringList() << "home";
    }

    void showsFeedOrBuiltInItems()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, titles);
        QFETCH(QString, opens);
        FeedServer server;
        server.routes.insert("/promo/api/ads", {status, body});
        AdBanner::setRequestTimeout(status == NeverAnswers ? 300 : AdBanner::DefaultRequestTimeoutMs);
        // The source the program sets (from its command line) is the one asked.
        AdBanner::setDefaultSource(PromoSource{true, server.url("/promo/"), {}});
        Banner banner({});
        AdBanner::setDefaultSource(PromoSource{false, {}, {}});
        banner.show();
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
        const QString link = opens == "home" ? server.url() : opens;
        QCOMPARE(m_openedUrls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl>({QUrl(link), QUrl(link)}));
        // The label's own link is that page too, whatever characters it holds.
        QVERIFY(opens.isEmpty() || seenInLabel(banner.label->text()).value(0) == link);
    }

    void picturesReplaceTheLoadingForm()
    {
        FeedServer server;
        const QByteArray picture = png(QSize(40, 20));
        // Pictures are fitted into 500 x 36; the rest are refused, and a resource is not read.
        const QList<std::tuple<QString, int, QByteArray, QSize>> pictures{
            {"/first.png", 200, png(QSize(200, 100)), QSize(72, 36)}, {"/missing.png", 404, picture, QSize()},
            {"/broken.png", 200, "GIF89a but not really", QSize()},   {"/huge.png", 200, picture + QByteArray(5 << 20, '\0'), QSize()},
            {"/last.png", 200, png(QSize(2000, 10)), QSize(500, 2)},  {"qrc:/icon/SignalR.ico", 200, {}, QSize()},
            {"/bomb.png", 200, png(QSize(2049, 2049)), QSize()}}; // over 4 million pixels
        QJsonArray items;
        for (const auto& [path, status, body, size] : pictures) {
            items.append(item(path, 1, {}, path.startsWith('/') ? server.url(path) : path));
            server.routes.insert(path.toLatin1(), {status, body});
        }
        server.routes.insert("/api/ads", {200, feed(items)});
        Banner banner(server.url());
        const AdItem loading{1, "product", "image", "/first.png", server.url("/first.png"), {}, {}};
        QCOMPARE(seenInLabel(AdMarkup::render(loading)).value(2), "品/first.png — 图片加载中...");
        // Every web picture is asked for. The picture of the item on show replaces its
        // loading form at once; one arriving for another item changes nothing on show.
        QTRY_COMPARE_WITH_TIMEOUT(banner.replies.count(), 7, Timeout);
        QCOMPARE(server.heads.size(), 7);
        QCOMPARE(pictureIn(banner.label->text()), QSize(72, 36));

        // Rotations show the accepted pictures from the cache, without asking again.
        for (qsizetype i = 1; i <= pictures.size(); ++i) {
            QVERIFY(banner.rotate());
            QCOMPARE(pictureIn(banner.label->text()), std::get<QSize>(pictures[i % pictures.size()]).expandedTo({0, 0}));
        }
        QCOMPARE(server.heads.size(), 7);
    }

private:
    QList<QUrl> m_openedUrls;
};

QTEST_MAIN(TestPromo)
#include "tst_promo.moc"

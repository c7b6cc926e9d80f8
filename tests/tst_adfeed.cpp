#include <QBuffer>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include "AdFeed.h"
#include "AdMarkup.h"

namespace {

// Feed bodies are written with single quotes for readability.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

QStringList titles(const QList<AdItem>& items)
{
    QStringList result;
    for (const AdItem& item : items)
        result << item.title;
    return result;
}

AdItem textItem(const QString& title, const QString& link, const QString& description = {})
{
    AdItem item;
    item.target_type = QStringLiteral("product");
    item.ad_type = QStringLiteral("text");
    item.title = title;
    item.link_url = link;
    item.description = description;
    return item;
}

struct Anchor
{
    QString href;
    QString text;
};

// What a QLabel makes of the markup: the anchors and their visible text.
QList<Anchor> anchorsOf(const QString& markup)
{
    QTextDocument document;
    document.setHtml(markup);
    QList<Anchor> anchors;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor())
                anchors.append({fragment.charFormat().anchorHref(), fragment.text()});
        }
    }
    return anchors;
}

QImage embeddedPicture(const QString& markup)
{
    static const QRegularExpression source(QStringLiteral("data:image/png;base64,([A-Za-z0-9+/=]*)"));
    const QRegularExpressionMatch match = source.match(markup);
    if (!match.hasMatch())
        return {};
    return QImage::fromData(QByteArray::fromBase64(match.captured(1).toLatin1()), "PNG");
}

} // namespace

class TestAdFeed : public QObject
{
    Q_OBJECT

private slots:
    void parseKeepsActiveItemsInOrder_data();
    void parseKeepsActiveItemsInOrder();
    void parseReadsFields();
    void feedUrl_data();
    void feedUrl();
    void builtInItemsPointAtServiceHost();
    void badge_data();
    void badge();
    void textMarkup();
    void markupEscapesFeedTexts_data();
    void markupEscapesFeedTexts();
    void pictureMarkup_data();
    void pictureMarkup();
    void openableLinks_data();
    void openableLinks();
};

void TestAdFeed::parseKeepsActiveItemsInOrder_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("titles");

    const QStringList none;
    QTest::newRow("active and inactive")
        << json("{'success':true,'ads':[{'status':1,'title':'A'},{'status':0,'title':'B'}]}")
        << QStringList{"A"};
    QTest::newRow("order kept")
        << json("{'success':true,'ads':[{'status':1,'title':'C'},{'status':1,'title':'A'},"
                "{'status':1,'title':'B'}]}")
        << QStringList{"C", "A", "B"};
    QTest::newRow("status as string") << json("{'success':true,'ads':[{'status':'1','title':'A'}]}")
                                      << none;
    QTest::newRow("status missing") << json("{'success':true,'ads':[{'title':'A'}]}") << none;
    QTest::newRow("status not whole") << json("{'success':true,'ads':[{'status':1.5,'title':'A'}]}")
                                      << none;
    QTest::newRow("non-objects skipped")
        << json("{'success':true,'ads':[1,'x',null,{'status':1,'title':'A'}]}") << QStringList{"A"};
    QTest::newRow("success as number") << json("{'success':1,'ads':[{'status':1,'title':'A'}]}")
                                       << none;
    QTest::newRow("success false") << json("{'success':false,'ads':[{'status':1,'title':'A'}]}")
                                   << none;
    QTest::newRow("success missing") << json("{'ads':[{'status':1,'title':'A'}]}") << none;
    QTest::newRow("ads missing") << json("{'success':true}") << none;
    QTest::newRow("ads not an array") << json("{'success':true,'ads':{'status':1,'title':'A'}}")
                                      << none;
    QTest::newRow("top-level array") << json("[{'success':true}]") << none;
    QTest::newRow("invalid json") << QByteArray("{\"success\":true,") << none;
}

void TestAdFeed::parseKeepsActiveItemsInOrder()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, titles);
    QCOMPARE(::titles(AdFeed::parse(body)), titles);
}

void TestAdFeed::parseReadsFields()
{
    const QList<AdItem> items = AdFeed::parse(json(
        "{'success':true,'extra':1,'ads':["
        "{'status':1,'id':7,'target_type':'line','ad_type':'image','title':'T','image_url':'http://h/p.png',"
        "'link_url':'https://h/','description':'D','weight':3},"
        "{'status':1,'title':42,'link_url':null,'ad_type':['image'],'id':'9'}]}"));
    QCOMPARE(items.size(), 2);

    const AdItem& full = items.at(0);
    QCOMPARE(full.id, 7);
    QCOMPARE(full.target_type, QStringLiteral("line"));
    QCOMPARE(full.ad_type, QStringLiteral("image"));
    QCOMPARE(full.title, QStringLiteral("T"));
    QCOMPARE(full.image_url, QStringLiteral("http://h/p.png"));
    QCOMPARE(full.link_url, QStringLiteral("https://h/"));
    QCOMPARE(full.description, QStringLiteral("D"));

    // Missing or mistyped values fall back to the empty string and 0.
    const AdItem& sparse = items.at(1);
    QCOMPARE(sparse.id, 0);
    QVERIFY(sparse.target_type.isEmpty());
    QVERIFY(sparse.ad_type.isEmpty());
    QVERIFY(sparse.title.isEmpty());
    QVERIFY(sparse.image_url.isEmpty());
    QVERIFY(sparse.link_url.isEmpty());
    QVERIFY(sparse.description.isEmpty());
}

void TestAdFeed::feedUrl_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("expected");

    QTest::newRow("host only") << "https://korvahub.dev" << "korvahub"
                               << "https://korvahub.dev/api/ads?product=korvahub";
    QTest::newRow("trailing slash") << "http://127.0.0.1:8080/" << "korvahub"
                                    << "http://127.0.0.1:8080/api/ads?product=korvahub";
    QTest::newRow("with path") << "https://h.example/promo" << "korvahub"
                               << "https://h.example/promo/api/ads?product=korvahub";
    QTest::newRow("product is encoded") << "https://h.example" << "a&b c"
                                        << "https://h.example/api/ads?product=a%26b%20c";
}

void TestAdFeed::feedUrl()
{
    QFETCH(QString, service);
    QFETCH(QString, product);
    QFETCH(QString, expected);
    QCOMPARE(AdFeed::feedUrl(QUrl(service), product).toString(QUrl::FullyEncoded), expected);
}

void TestAdFeed::builtInItemsPointAtServiceHost()
{
    const QList<AdItem> items = AdFeed::builtInItems(QUrl("http://127.0.0.1:5555/some/path?x=1"));
    QCOMPARE(titles(items), (QStringList{QStringLiteral("🚀 Tarnwick Pro — 专业调试工具套件"),
                                          QStringLiteral("📖 在线文档 — 查看完整使用指南"),
                                          QStringLiteral("⭐ 更多工具 — 探索 Orrisvale 全系产品")}));
    QCOMPARE(items.at(0).link_url, QStringLiteral("http://127.0.0.1:5555"));
    QCOMPARE(items.at(1).link_url, QStringLiteral("http://127.0.0.1:5555/docs/orrisvale"));
    QCOMPARE(items.at(2).link_url, QStringLiteral("http://127.0.0.1:5555"));
    for (const AdItem& item : items) {
        QCOMPARE(item.target_type, QStringLiteral("global"));
        QCOMPARE(item.ad_type, QStringLiteral("text"));
        QCOMPARE(item.id, 0);
        QVERIFY(item.image_url.isEmpty());
        QVERIFY(item.description.isEmpty());
    }
}

void TestAdFeed::badge_data()
{
    QTest::addColumn<QString>("targetType");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("text");

    QTest::newRow("product") << "product" << "#10B981" << QStringLiteral("品");
    QTest::newRow("line") << "line" << "#8B5CF6" << QStringLiteral("线");
    QTest::newRow("capitalised") << "Product" << "#64748B" << "AD";
    QTest::newRow("global") << "global" << "#64748B" << "AD";
    QTest::newRow("empty") << "" << "#64748B" << "AD";
}

void TestAdFeed::badge()
{
    QFETCH(QString, targetType);
    QFETCH(QString, colour);
    QFETCH(QString, text);
    const AdMarkup::Badge badge = AdMarkup::badgeFor(targetType);
    QCOMPARE(badge.colour, colour);
    QCOMPARE(badge.text, text);
}

void TestAdFeed::textMarkup()
{
    const QString prefix = QStringLiteral(
        "<span style='background:#10B981;color:#fff;padding:0 6px;border-radius:2px;font-size:10px;"
        "margin-right:6px;'>品</span><a href='https://h.example/x' style='color:#60A5FA;"
        "text-decoration:none;font-size:12px;'>Title</a>");

    QCOMPARE(AdMarkup::render(textItem("Title", "https://h.example/x")), prefix);
    QCOMPARE(AdMarkup::render(textItem("Title", "https://h.example/x", "More")),
             prefix + " <span style='color:#94A3B8;font-size:11px;'>— More</span>");

    // A picture item whose picture is not there yet shows its title and a note.
    AdItem picture = textItem("Title", "https://h.example/x", "More");
    picture.ad_type = QStringLiteral("image");
    picture.image_url = QStringLiteral("https://h.example/p.png");
    QCOMPARE(AdMarkup::render(picture),
             prefix + " <span style='color:#64748B;font-size:11px;'>— 图片加载中...</span>");

    // Without a link the anchor points nowhere.
    QVERIFY(AdMarkup::render(textItem("Title", QString())).contains("<a href='#' "));
}

void TestAdFeed::markupEscapesFeedTexts_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("href");

    QTest::newRow("ampersand") << "A & B" << "x < y" << "https://h.example/?a=1&b=2"
                               << "https://h.example/?a=1&b=2";
    QTest::newRow("markup in texts") << "<b>bold</b>" << "<img src=x>" << "https://h.example/"
                                     << "https://h.example/";
    QTest::newRow("quote in link") << "T" << "" << "https://h.example/a'onclick='x'b"
                                   << "https://h.example/a%27onclick=%27x%27b";
    QTest::newRow("escaped quote in link") << "T" << "" << "https://h.example/a\\'><b>x</b>"
                                           << "https://h.example/a%5C%27%3E%3Cb%3Ex%3C/b%3E";
    QTest::newRow("double quote in link") << "T" << "" << "https://h.example/\"x"
                                          << "https://h.example/%22x";
    QTest::newRow("closing anchor in link") << "T" << "" << "https://h.example/'></a><a href='evil"
                                            << "https://h.example/%27%3E%3C/a%3E%3Ca href=%27evil";
    QTest::newRow("percent sequences") << "%1 %2 %3" << "%1" << "https://h.example/%41%4"
                                       << "https://h.example/%41%4";
}

void TestAdFeed::markupEscapesFeedTexts()
{
    QFETCH(QString, title);
    QFETCH(QString, description);
    QFETCH(QString, link);
    QFETCH(QString, href);

    // Whatever the feed holds, the label sees one anchor to the same page with the title
    // as its text, and nothing else but the badge and the description.
    const QString markup = AdMarkup::render(textItem(title, link, description));
    const QList<Anchor> anchors = anchorsOf(markup);
    QCOMPARE(anchors.size(), 1);
    QCOMPARE(anchors.at(0).href, href);
    QCOMPARE(anchors.at(0).text, title);

    QTextDocument document;
    document.setHtml(markup);
    const QString expectedText = QStringLiteral("品") + title
                                 + (description.isEmpty() ? QString() : " — " + description);
    QCOMPARE(document.toPlainText(), expectedText);
}

void TestAdFeed::pictureMarkup_data()
{
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("shown");

    QTest::newRow("wide") << QSize(200, 100) << QSize(72, 36) << QSize(72, 36);
    QTest::newRow("very wide") << QSize(2000, 10) << QSize(500, 10) << QSize(500, 2);
    QTest::newRow("small is not enlarged") << QSize(30, 20) << QSize(30, 20) << QSize(30, 20);
    QTest::newRow("tall") << QSize(10, 100) << QSize(3, 36) << QSize(3, 36);
}

void TestAdFeed::pictureMarkup()
{
    QFETCH(QSize, pictureSize);
    QFETCH(QSize, box);
    QFETCH(QSize, shown);

    QCOMPARE(AdMarkup::pictureBox(pictureSize), box);

    QPixmap picture(pictureSize);
    picture.fill(Qt::red);
    AdItem item = textItem("Title", "https://h.example/x'y", "More");
    item.ad_type = QStringLiteral("image");
    item.image_url = QStringLiteral("https://h.example/p.png");
    const QString markup = AdMarkup::render(item, picture);

    // Only the picture is shown, linked to the item's page.
    QVERIFY(!markup.contains("Title"));
    QVERIFY(!markup.contains("More"));
    QVERIFY(markup.startsWith("<a href='https://h.example/x%27y' style='text-decoration:none;'>"
                              "<img src='data:image/png;base64,"));
    QVERIFY(markup.endsWith("' style='max-width:100%;vertical-align:middle;border-radius:3px;'/></a>"));
    QCOMPARE(embeddedPicture(markup).size(), shown);
}

void TestAdFeed::openableLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("openable");

    QTest::newRow("http") << "http://h.example/a" << true;
    QTest::newRow("https") << "https://h.example/a?b=c" << true;
    QTest::newRow("upper-case scheme") << "HTTPS://h.example/" << true;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("custom handler") << "steam://run/1" << false;
    QTest::newRow("no host") << "https:relative" << false;
    QTest::newRow("empty") << "" << false;
}

void TestAdFeed::openableLinks()
{
    QFETCH(QString, link);
    QFETCH(bool, openable);
    QCOMPARE(AdMarkup::isOpenableLink(link), openable);
}

QTEST_MAIN(TestAdFeed)
#include "tst_adfeed.moc"

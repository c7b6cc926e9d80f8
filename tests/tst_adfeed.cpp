#include <QtGui>
#include <QtTest>

#include "AdFeed.h"
#include "AdMarkup.h"

namespace {

// Feed bodies are written with single quotes for readability.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

QStringList fields(const AdItem& i)
{
    return {QString::number(i.id), i.target_type, i.ad_type, i.title, i.image_url, i.link_url, i.description};
}

AdItem item(const QString& title, const QString& link, const QString& description = {},
            const QString& imageUrl = {})
{
    return AdItem{0, QStringLiteral("product"), imageUrl.isEmpty() ? QStringLiteral("text") : QStringLiteral("image"),
                  title, imageUrl, link, description};
}

// What a QLabel makes of the markup: the hrefs and texts of its anchors.
QStringList anchorsOf(const QTextDocument& document)
{
    QStringList anchors;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                anchors << it.fragment().charFormat().anchorHref() << it.fragment().text();
        }
    }
    return anchors;
}

} // namespace

class TestAdFeed : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("titles");

        const QStringList none;
        // Only objects whose status is the number 1 count; the order stays.
        QTest::newRow("active in order")
            << json("{'success':true,'ads':[{'status':1,'title':'C'},{'status':0,'title':'X'},1,'x',null,"
                    "{'status':'1','title':'S'},{'title':'M'},{'status':1.5,'title':'F'},{'status':1,'title':'A'}]}")
            << QStringList{"C", "A"};
        QTest::newRow("success as number") << json("{'success':1,'ads':[{'status':1,'title':'A'}]}") << none;
        QTest::newRow("success false") << json("{'success':false,'ads':[{'status':1,'title':'A'}]}") << none;
        QTest::newRow("success missing") << json("{'ads':[{'status':1,'title':'A'}]}") << none;
        QTest::newRow("ads not an array") << json("{'success':true,'ads':{'status':1,'title':'A'}}") << none;
        QTest::newRow("top-level array") << json("[{'success':true}]") << none;
        QTest::newRow("invalid json") << QByteArray("{\"success\":true,") << none;
    }

    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, titles);
        QStringList parsed;
        for (const AdItem& item : AdFeed::parse(body))
            parsed << item.title;
        QCOMPARE(parsed, titles);
    }

    void feedUrlKeepsTheServicePath()
    {
        QCOMPARE(AdFeed::feedUrl(QUrl("https://h.example/promo//"), "a&b c").toString(QUrl::FullyEncoded),
                 "https://h.example/promo/api/ads?product=a%26b%20c");
    }

    void builtInItemsPointAtServiceHost()
    {
        const QList<AdItem> items = AdFeed::builtInItems(QUrl("http://user@127.0.0.1:5555/some/path?x=1#f"));
        const QString home = QStringLiteral("http://127.0.0.1:5555");
        const QStringList titles{QStringLiteral("🚀 Tarnwick Pro — 专业调试工具套件"),
                                 QStringLiteral("📖 在线文档 — 查看完整使用指南"),
                                 QStringLiteral("⭐ 更多工具 — 探索 Orrisvale 全系产品")};
        const QStringList links{home, home + "/docs/orrisvale", home};
        QCOMPARE(items.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(fields(items[i]), (QStringList{"0", "global", "text", titles[i], "", links[i], ""}));
    }

    void badge_data()
    {
        QTest::addColumn<QString>("targetType");
        QTest::addColumn<QString>("badge"); // colour and text

        QTest::newRow("product") << "product" << QStringLiteral("#10B981 品");
        QTest::newRow("line") << "line" << QStringLiteral("#8B5CF6 线");
        QTest::newRow("exact comparison") << "Product" << "#64748B AD";
        QTest::newRow("anything else") << "global" << "#64748B AD";
    }

    void badge()
    {
        QFETCH(QString, targetType);
        QFETCH(QString, badge);
        const AdMarkup::Badge actual = AdMarkup::badgeFor(targetType);
        QCOMPARE(actual.colour + ' ' + actual.text, badge);
    }

    void textMarkup()
    {
        const QString prefix = QStringLiteral(
            "<span style='background:#10B981;color:#fff;padding:0 6px;border-radius:2px;font-size:10px;"
            "margin-right:6px;'>品</span><a href='https://h.example/x' style='color:#60A5FA;"
            "text-decoration:none;font-size:12px;'>Title</a>");
        const QString link = QStringLiteral("https://h.example/x");

        QCOMPARE(AdMarkup::placeholder(), QStringLiteral("<span style='color:#64748B;'>▶ 广告加载中...</span>"));
        QCOMPARE(AdMarkup::render(item("Title", link)), prefix);
        QCOMPARE(AdMarkup::render(item("Title", link, "More")),
                 prefix + " <span style='color:#94A3B8;font-size:11px;'>— More</span>");
        // A picture item whose picture is not there yet shows its title and a note.
        QCOMPARE(AdMarkup::render(item("Title", link, "More", "https://h.example/p.png")),
                 prefix + " <span style='color:#64748B;font-size:11px;'>— 图片加载中...</span>");
        // An "image" item without a picture address is a text item.
        AdItem noPicture = item("Title", link, "More");
        noPicture.ad_type = QStringLiteral("image");
        QCOMPARE(AdMarkup::render(noPicture), AdMarkup::render(item("Title", link, "More")));
        // Without a link the anchor points nowhere.
        QVERIFY(AdMarkup::render(item("Title", QString())).contains("<a href='#' "));
    }

    void markupEscapesFeedTexts_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("href");

        // Ordinary links must reach the label byte for byte, "&" included.
        QTest::newRow("ampersand") << "A & B" << "x < y" << "https://h.example/?a=1&b=2" << "https://h.example/?a=1&b=2";
        QTest::newRow("markup in texts") << "<b>bold</b>" << "<img src=x>" << "https://h.example/" << "https://h.example/";
        QTest::newRow("quotes closing the anchor") << "T" << "" << "https://h.example/\\'\"></a><a href='evil"
                                                   << "https://h.example/%5C%27%22%3E%3C/a%3E%3Ca href=%27evil";
        QTest::newRow("percent sequences") << "%1 %2 %3" << "%1" << "https://h.example/%41%4" << "https://h.example/%41%4";
    }

    void markupEscapesFeedTexts()
    {
        QFETCH(QString, title);
        QFETCH(QString, description);
        QFETCH(QString, link);
        QFETCH(QString, href);

        // Whatever the feed holds, the label sees one anchor to the same page with the title
        // as its text, and nothing else but the badge and the description.
        QTextDocument document;
        document.setHtml(AdMarkup::render(item(title, link, description)));
        QCOMPARE(anchorsOf(document), (QStringList{href, title}));
        QCOMPARE(document.toPlainText(),
                 QStringLiteral("品") + title + (description.isEmpty() ? QString() : " — " + description));
    }

    void pictureMarkup_data()
    {
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("shown");

        QTest::newRow("wide") << QSize(200, 100) << QSize(72, 36) << QSize(72, 36);
        QTest::newRow("very wide") << QSize(2000, 10) << QSize(500, 10) << QSize(500, 2);
        QTest::newRow("small is not enlarged") << QSize(30, 20) << QSize(30, 20) << QSize(30, 20);
        QTest::newRow("tall") << QSize(10, 100) << QSize(3, 36) << QSize(3, 36);
    }

    void pictureMarkup()
    {
        QFETCH(QSize, pictureSize);
        QFETCH(QSize, box);
        QFETCH(QSize, shown);

        QCOMPARE(AdMarkup::pictureBox(pictureSize), box);
        QPixmap picture(pictureSize);
        picture.fill(Qt::red);
        const QString markup =
            AdMarkup::render(item("Title", "https://h.example/x'y", "More", "https://h.example/p.png"), picture);

        // Only the picture is shown, linked to the item's page.
        static const QRegularExpression form(QStringLiteral(
            "^<a href='https://h.example/x%27y' style='text-decoration:none;'><img src='data:image/png;base64,"
            "([A-Za-z0-9+/=]*)' style='max-width:100%;vertical-align:middle;border-radius:3px;'/></a>$"));
        const QRegularExpressionMatch match = form.match(markup);
        QVERIFY2(match.hasMatch(), qPrintable(markup));
        QCOMPARE(QImage::fromData(QByteArray::fromBase64(match.captured(1).toLatin1()), "PNG").size(), shown);
    }

    void openableLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("openable");

        QTest::newRow("http") << "http://h.example/a" << true;
        QTest::newRow("https") << "https://h.example/" << true;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("custom handler") << "steam://run/1" << false;
        QTest::newRow("no host") << "https:relative" << false;
    }

    void openableLinks()
    {
        QFETCH(QString, link);
        QFETCH(bool, openable);
        QCOMPARE(AdMarkup::isOpenableLink(link), openable);
    }
};

QTEST_MAIN(TestAdFeed)
#include "tst_adfeed.moc"

#include "AdFeed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrlQuery>

namespace {

QString stringField(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

AdItem itemFromJson(const QJsonObject& object)
{
    AdItem item;
    item.id = object.value(QStringLiteral("id")).toInt(0);
    item.target_type = stringField(object, QStringLiteral("target_type"));
    item.ad_type = stringField(object, QStringLiteral("ad_type"));
    item.title = stringField(object, QStringLiteral("title"));
    item.image_url = stringField(object, QStringLiteral("image_url"));
    item.link_url = stringField(object, QStringLiteral("link_url"));
    item.description = stringField(object, QStringLiteral("description"));
    return item;
}

AdItem builtInItem(const QString& title, const QString& link)
{
    AdItem item;
    item.target_type = QStringLiteral("global");
    item.ad_type = QStringLiteral("text");
    item.title = title;
    item.link_url = link;
    return item;
}

} // namespace

namespace AdFeed {

QUrl feedUrl(const QUrl& serviceUrl, const QString& product)
{
    QUrl url = serviceUrl;
    QString path = serviceUrl.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/api/ads"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("product"), product);
    url.setQuery(query);
    return url;
}

QList<AdItem> parse(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return {};
    const QJsonObject root = document.object();
    // Only the boolean true counts; 1 or "true" do not.
    if (root.value(QStringLiteral("success")) != QJsonValue(true))
        return {};

    QList<AdItem> items;
    const QJsonArray ads = root.value(QStringLiteral("ads")).toArray();
    for (const QJsonValue& value : ads) {
        const QJsonObject object = value.toObject();
        // The service marks inactive items with other status values; a status written
        // as the string "1" is not active either.
        if (object.value(QStringLiteral("status")).toInt(0) != 1)
            continue;
        items.append(itemFromJson(object));
    }
    return items;
}

QList<AdItem> builtInItems(const QUrl& serviceUrl)
{
    const QString home = serviceUrl
                             .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery
                                       | QUrl::RemoveFragment)
                             .toString();
    return {
        builtInItem(QStringLiteral("🚀 Tarnwick Pro — 专业调试工具套件"), home),
        builtInItem(QStringLiteral("📖 在线文档 — 查看完整使用指南"),
                    home + QStringLiteral("/docs/orrisvale")),
        builtInItem(QStringLiteral("⭐ 更多工具 — 探索 Orrisvale 全系产品"), home),
    };
}

} // namespace AdFeed

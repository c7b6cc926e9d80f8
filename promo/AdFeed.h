#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include "AdItem.h"

// The promotion service's side of the banner: where the feed is asked for, how its answer
// becomes items, and the items shown when it has nothing usable.
namespace AdFeed {

// GET address of the feed for one product: base + "/api/ads?product=<product>".
QUrl feedUrl(const QUrl& serviceUrl, const QString& product);

// The active items of a feed answer, in the order given. Empty when the answer is not a
// JSON object, its "success" is not true, or no object in "ads" has "status" 1; the
// banner then shows the built-in items instead.
QList<AdItem> parse(const QByteArray& body);

// The three built-in items. They point at the service's own host: its home page and
// its documentation page.
QList<AdItem> builtInItems(const QUrl& serviceUrl);

} // namespace AdFeed

#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

#include "AdItem.h"

// How the banner renders an item into its label's rich text, and which links it follows.
namespace AdMarkup {

// Shown while the feed request is under way.
QString placeholder();

struct Badge
{
    QString colour;
    QString text;
};

// Badge of an item by its exact target type: "product", "line", anything else.
Badge badgeFor(const QString& targetType);

// A picture item is shown as its picture once it is loaded.
bool isPictureItem(const AdItem& item);

// The box a loaded picture is fitted into: at most 36 high and 500 wide, never enlarged.
QSize pictureBox(const QSize& pictureSize);

// Rich text of one item. `picture` is the loaded picture of a picture item, or a null
// pixmap while it is loading (or failed to load).
QString render(const AdItem& item, const QPixmap& picture = QPixmap());

// Whether a link from the feed may be handed to the desktop: only web pages are.
bool isOpenableLink(const QString& link);

} // namespace AdMarkup

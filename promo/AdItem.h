#pragma once

#include <QString>

// One promotion item as the promotion service describes it; field names follow the
// feed's keys.
struct AdItem
{
    qint32 id = 0;
    QString target_type; // "product", "line" or anything else: picks the badge
    QString ad_type;     // "image" for a picture item, anything else is a text item
    QString title;
    QString image_url;
    QString link_url;
    QString description;
};

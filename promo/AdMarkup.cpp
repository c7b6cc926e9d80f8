#include "AdMarkup.h"

#include <QBuffer>
#include <QByteArray>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int MaxPictureHeight = 36;
constexpr int MaxPictureWidth = 500;

// Links arrive from the network and sit inside single-quoted attributes. Qt's rich-text
// parser reads such a value literally up to the next quote and decodes no entities there,
// so HTML-escaping would corrupt every "&" of a query and still not be needed for "<".
// Percent-encoding the characters that could close the attribute or open markup keeps
// the link equivalent and ordinary links byte for byte as they came.
QString attributeEscaped(const QString& link)
{
    QString escaped;
    escaped.reserve(link.size());
    for (const QChar c : link) {
        switch (c.unicode()) {
        case '\'':
            escaped += QStringLiteral("%27");
            break;
        case '"':
            escaped += QStringLiteral("%22");
            break;
        case '<':
            escaped += QStringLiteral("%3C");
            break;
        case '>':
            escaped += QStringLiteral("%3E");
            break;
        case '\\':
            escaped += QStringLiteral("%5C");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString pngBase64(const QPixmap& picture)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return QString::fromLatin1(png.toBase64());
}

QString textMarkup(const AdItem& item, const QString& link)
{
    const AdMarkup::Badge badge = AdMarkup::badgeFor(item.target_type);
    // One pass over all four arguments, so a title holding "%1" is not filled again.
    return QStringLiteral(
               // Rich text ignores padding and margins on spans: spaces keep the badge
               // off its neighbours.
               "<span style='background:%1;color:#fff;font-size:10px;'>&nbsp;%2&nbsp;</span>"
               "&nbsp;&nbsp;<a href='%3' "
               "style='color:#60A5FA;text-decoration:none;font-size:12px;'>%4</a>")
        .arg(badge.colour, badge.text, link, item.title.toHtmlEscaped());
}

} // namespace

namespace AdMarkup {

QString placeholder()
{
    return QStringLiteral("<span style='color:#64748B;'>▶ 广告加载中...</span>");
}

Badge badgeFor(const QString& targetType)
{
    if (targetType == QStringLiteral("product"))
        return {QStringLiteral("#10B981"), QStringLiteral("品")};
    if (targetType == QStringLiteral("line"))
        return {QStringLiteral("#8B5CF6"), QStringLiteral("线")};
    return {QStringLiteral("#64748B"), QStringLiteral("AD")};
}

bool isPictureItem(const AdItem& item)
{
    return item.ad_type == QStringLiteral("image") && !item.image_url.isEmpty();
}

QSize pictureBox(const QSize& pictureSize)
{
    const int height = std::min(pictureSize.height(), MaxPictureHeight);
    const qint64 divisor = pictureSize.height() > 0 ? pictureSize.height() : 1;
    const qint64 width = qint64(pictureSize.width()) * height / divisor;
    return QSize(int(std::min<qint64>(width, MaxPictureWidth)), height);
}

QString render(const AdItem& item, const QPixmap& picture)
{
    const QString link = item.link_url.isEmpty() ? QStringLiteral("#")
                                                 : attributeEscaped(item.link_url);

    if (isPictureItem(item)) {
        if (!picture.isNull()) {
            const QPixmap fitted = picture.scaled(pictureBox(picture.size()), Qt::KeepAspectRatio,
                                                  Qt::SmoothTransformation);
            return QStringLiteral(
                       "<a href='%1' style='text-decoration:none;'><img "
                       "src='data:image/png;base64,%2' "
                       "style='max-width:100%;vertical-align:middle;border-radius:3px;'/></a>")
                .arg(link, pngBase64(fitted));
        }
        return textMarkup(item, link)
               + QStringLiteral(" <span style='color:#64748B;font-size:11px;'>— 图片加载中...</span>");
    }

    QString markup = textMarkup(item, link);
    if (!item.description.isEmpty()) {
        markup += QStringLiteral(" <span style='color:#94A3B8;font-size:11px;'>— %1</span>")
                      .arg(item.description.toHtmlEscaped());
    }
    return markup;
}

bool isOpenableLink(const QString& link)
{
    const QUrl url(link);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    return scheme.compare(QStringLiteral("http"), Qt::CaseInsensitive) == 0
           || scheme.compare(QStringLiteral("https"), Qt::CaseInsensitive) == 0;
}

} // namespace AdMarkup

#include "AdBanner.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVariant>

#include <utility>

#include "AdFeed.h"
#include "AdMarkup.h"

namespace {

const char* const PromotionServiceUrl = "https://korvahub.dev";

constexpr int RotateIntervalMs = 5000;

// Pictures are banner-sized; anything larger is not one, and must not fill memory.
constexpr qint64 MaxPictureBytes = 4 * 1024 * 1024;
// A few bytes of PNG can stand for a huge picture: the pixels are counted from the
// header before anything is decoded. 4 million is far beyond any banner's picture and
// decodes in a few tens of milliseconds.
constexpr qint64 MaxPicturePixels = 4 * 1024 * 1024;
constexpr int MaxPictureAllocationMiB = int(MaxPicturePixels * 4 / (1024 * 1024));

// A feed is a handful of short items; a larger answer is not one.
constexpr qint64 MaxFeedBytes = 1024 * 1024;

const char* const IsImageRequestProperty = "isImageRequest";
const char* const ImageUrlProperty = "adImageUrl";

PromoSource& defaultSource()
{
    static PromoSource source = PromoSource::fromProcess({});
    return source;
}

int& requestTimeoutMs()
{
    static int timeout = AdBanner::DefaultRequestTimeoutMs;
    return timeout;
}

// Aborts a reply whose body is announced or grows past maxBytes, or that is still running
// after the time-out. The network layer stops reading once its buffer is full; the buffer
// is twice the cap because it stops a chunk short of full, and a body held at the cap
// itself would then wait there unnoticed until the time-out.
void limit(QNetworkReply* reply, qint64 maxBytes)
{
    reply->setReadBufferSize(2 * maxBytes);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64, qint64 total) {
        if (total > maxBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, maxBytes] {
        if (reply->bytesAvailable() > maxBytes)
            reply->abort();
    });
    QTimer::singleShot(requestTimeoutMs(), reply, &QNetworkReply::abort);
}

// The picture fitted into the banner, decoded at that size; null when it is not a
// picture or too large to decode.
QPixmap decodePicture(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(MaxPictureAllocationMiB);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MaxPicturePixels)
        return QPixmap();
    reader.setScaledSize(size.scaled(AdMarkup::pictureBox(size), Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

// Pictures are fetched from the web only: a feed must not make the banner read local
// files or resources through the network manager's other schemes.
bool isFetchablePicture(const QUrl& url)
{
    return url.isValid()
           && (url.scheme() == QStringLiteral("http") || url.scheme() == QStringLiteral("https"));
}

} // namespace

AdBanner::AdBanner(const QString& productKey, QWidget* parent, const QString& baseUrl)
    : QWidget(parent)
    , m_product(productKey)
{
    const PromoSource source = baseUrl.isEmpty() ? defaultSource() : PromoSource{true, baseUrl, {}};
    m_serviceUrl = QUrl(source.baseUrl.isEmpty() ? QString::fromLatin1(PromotionServiceUrl) : source.baseUrl);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("adBanner"));
    m_label->setTextFormat(Qt::RichText);
    m_label->setOpenExternalLinks(true);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_label->setMinimumWidth(300);
    m_label->setMaximumHeight(40);
    m_label->setScaledContents(false);
    m_label->setCursor(Qt::PointingHandCursor);
    m_label->installEventFilter(this);
    layout->addWidget(m_label);

    m_rotateTimer = new QTimer(this);
    m_rotateTimer->setInterval(RotateIntervalMs);
    connect(m_rotateTimer, &QTimer::timeout, this, &AdBanner::rotateAd);

    if (!source.enabled) {
        loadFallbackAds();
        return;
    }
    m_network = new QNetworkAccessManager(this);
    connect(m_network, &QNetworkAccessManager::finished, this, &AdBanner::onAdsLoaded);
    m_label->setText(AdMarkup::placeholder());
    // From the event loop: the first request of a process looks up the system's proxy
    // settings, which must not delay the window.
    QTimer::singleShot(0, this, &AdBanner::fetchAds);
}

AdBanner::~AdBanner() = default;

void AdBanner::setDefaultSource(const PromoSource& source)
{
    defaultSource() = source;
}

void AdBanner::setRequestTimeout(int ms)
{
    requestTimeoutMs() = ms;
}

void AdBanner::fetchAds()
{
    QNetworkRequest request(AdFeed::feedUrl(m_serviceUrl, m_product));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    limit(m_network->get(request), MaxFeedBytes);
}

void AdBanner::onAdsLoaded(QNetworkReply* reply)
{
    if (reply->property(IsImageRequestProperty).toBool()) {
        onImageLoaded(reply);
        return;
    }
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        loadFallbackAds();
        return;
    }
    const QByteArray body = reply->read(MaxFeedBytes + 1);
    const QList<AdItem> items = body.size() > MaxFeedBytes ? QList<AdItem>() : AdFeed::parse(body);
    if (items.isEmpty()) {
        loadFallbackAds();
        return;
    }

    m_ads = items;
    // Two items sharing a picture both ask for it: nothing is cached before the first
    // answer comes back.
    for (const AdItem& item : std::as_const(m_ads)) {
        if (AdMarkup::isPictureItem(item) && !m_imageCache.contains(item.image_url))
            loadImage(item);
    }
    startRotation();
}

void AdBanner::loadFallbackAds()
{
    m_ads = AdFeed::builtInItems(m_serviceUrl);
    startRotation();
}

void AdBanner::startRotation()
{
    m_currentIndex = 0;
    showAd(m_ads.first());
    m_rotateTimer->start();
}

void AdBanner::showAd(const AdItem& item)
{
    const QPixmap picture = AdMarkup::isPictureItem(item) ? m_imageCache.value(item.image_url)
                                                          : QPixmap();
    m_label->setText(AdMarkup::render(item, picture));
}

void AdBanner::loadImage(const AdItem& item)
{
    const QUrl url(item.image_url, QUrl::TolerantMode);
    if (!isFetchablePicture(url))
        return;
    QNetworkReply* reply = m_network->get(QNetworkRequest(url));
    reply->setProperty(ImageUrlProperty, item.image_url);
    reply->setProperty(IsImageRequestProperty, true);
    limit(reply, MaxPictureBytes);
}

void AdBanner::onImageLoaded(QNetworkReply* reply)
{
    reply->deleteLater();
    const QString url = reply->property(ImageUrlProperty).toString();
    if (reply->error() != QNetworkReply::NoError)
        return;

    const QByteArray data = reply->read(MaxPictureBytes + 1);
    if (data.size() > MaxPictureBytes)
        return;
    const QPixmap picture = decodePicture(data);
    if (picture.isNull())
        return;
    m_imageCache.insert(url, picture);

    // Replace the loading form at once rather than at the next rotation.
    if (hasCurrentAd() && m_ads.at(m_currentIndex).image_url == url)
        showAd(m_ads.at(m_currentIndex));
}

void AdBanner::rotateAd()
{
    if (m_ads.isEmpty())
        return;
    m_currentIndex = (m_currentIndex + 1) % m_ads.size();
    showAd(m_ads.at(m_currentIndex));
}

bool AdBanner::hasCurrentAd() const
{
    return m_currentIndex >= 0 && m_currentIndex < m_ads.size();
}

bool AdBanner::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if (watched == m_label && (press || release) && hasCurrentAd()) {
        const QString link = m_ads.at(m_currentIndex).link_url;
        if (!link.isEmpty()) {
            if (press && AdMarkup::isOpenableLink(link))
                QDesktopServices::openUrl(QUrl(link));
            // The label would follow the anchor itself on the release, opening the page a
            // second time, or opening a link that was refused here.
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

#pragma once

#include <QList>
#include <QMap>
#include <QPixmap>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "AdItem.h"
#include "PromoSource.h"

class QEvent;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The header's promotion banner: asks the promotion service once for this product's
// items, fetches their pictures in the background and shows the items in turn. A click
// opens the shown item's page. Without a usable answer it shows built-in items.
// Where the feed comes from is a process-wide setting (the command line's, see
// PromoSource); until the program sets it, the environment's applies, so that a test
// run with KORVAHUB_OFFLINE=1 never reaches the internet through a window it builds.
// An offline banner has no network manager: it shows the built-in items at once.
//
// Nothing the service sends can take much memory or time: bodies are capped as they
// arrive, every request ends after the feed time-out (the built-in items show if the feed
// is what ran out), and a picture's size is read before it is decoded, straight to the
// banner's size: only that small picture is kept.
class AdBanner : public QWidget
{
    Q_OBJECT

public:
    // A non-empty baseUrl replaces the default source (tests point it at a local server).
    explicit AdBanner(const QString& productKey, QWidget* parent = nullptr,
                      const QString& baseUrl = QString());
    ~AdBanner() override;

    // The source of banners built from now on without a baseUrl of their own.
    static void setDefaultSource(const PromoSource& source);
    // How long each request started from now on may take, start to end (tests shorten it).
    static void setRequestTimeout(int ms);

    static constexpr int DefaultRequestTimeoutMs = 15000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void onAdsLoaded(QNetworkReply* reply);
    void onImageLoaded(QNetworkReply* reply);
    void rotateAd();

private:
    void fetchAds();
    void loadFallbackAds();
    void startRotation();
    void showAd(const AdItem& item);
    void loadImage(const AdItem& item);
    bool hasCurrentAd() const;

    QLabel* m_label = nullptr;
    QTimer* m_rotateTimer = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    QString m_product;
    QList<AdItem> m_ads;
    qint32 m_currentIndex = 0;
    QMap<QString, QPixmap> m_imageCache;
    QUrl m_serviceUrl;
};

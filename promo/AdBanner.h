#pragma once

#include <QList>
#include <QMap>
#include <QPixmap>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "AdItem.h"

class QEvent;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The header's promotion banner: asks the promotion service once for this product's
// items, fetches their pictures in the background and shows the items in turn. A click
// opens the shown item's page. Without a usable answer it shows built-in items.
class AdBanner : public QWidget
{
    Q_OBJECT

public:
    // baseUrl replaces the promotion service's address (tests point it at a local server).
    explicit AdBanner(const QString& productKey, QWidget* parent = nullptr,
                      const QString& baseUrl = QString());
    ~AdBanner() override;

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

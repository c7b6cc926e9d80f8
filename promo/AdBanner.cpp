#include "AdBanner.h"

AdBanner::AdBanner(const QString& productKey, QWidget* parent, const QString& baseUrl)
    : QWidget(parent)
{
    Q_UNUSED(productKey);
    Q_UNUSED(baseUrl);
}

#pragma once

#include <QString>
#include <QWidget>

// Placeholder of the promotion banner in the header.
class AdBanner : public QWidget
{
    Q_OBJECT

public:
    explicit AdBanner(const QString& productKey, QWidget* parent = nullptr,
                      const QString& baseUrl = QString());
};

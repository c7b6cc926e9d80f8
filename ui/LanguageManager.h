#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QComboBox;
class QWidget;

// Placeholder of the run-time language switch.
class LanguageManager : public QObject
{
    Q_OBJECT

public:
    static LanguageManager& instance();

    bool isEnglish() const { return language == 1; }
    QString translate(const QString& text) const { return text; }
    void addListener(std::function<void()> listener) { Q_UNUSED(listener); }

public slots:
    void setLanguage(int index) { Q_UNUSED(index); }

private:
    LanguageManager() = default;
    int language = 0;
};

void applyLanguage(QWidget* root);
QComboBox* createLanguageSelector(QWidget* parent);

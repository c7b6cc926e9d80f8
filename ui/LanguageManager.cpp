#include "LanguageManager.h"

#include <QComboBox>

LanguageManager& LanguageManager::instance()
{
    static LanguageManager manager;
    return manager;
}

void applyLanguage(QWidget* root)
{
    Q_UNUSED(root);
}

QComboBox* createLanguageSelector(QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->addItem(QStringLiteral("中文"), 0);
    combo->addItem(QStringLiteral("English"), 1);
    combo->setFixedWidth(80);
    return combo;
}

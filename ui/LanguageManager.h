#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class QComboBox;
class QTranslator;
class QWidget;

// Process-wide interface language. Every text is written in Chinese where its widget is
// built; switching to English rewrites the texts of the registered window parts from a
// built-in table (see applyLanguage), and switching back restores what they showed.
class LanguageManager : public QObject
{
    Q_OBJECT

public:
    static LanguageManager& instance();

    bool isEnglish() const { return m_language == English; }
    // English for a text that is exactly a key of the table; anything else, and every
    // text in Chinese mode, comes back unchanged.
    QString translate(const QString& text) const;

    // Runs `listener` after every change of language, in registration order, for as long
    // as `context` lives: a window may register itself and still die first. A thin
    // wrapper over languageChanged.
    void addListener(QObject* context, std::function<void()> listener);

    // Loads Qt's own translations for the current language (at start and on every change).
    void applyQtTranslations();

public slots:
    // Selector index: 0 is Chinese, anything else English.
    void setLanguage(int index);

signals:
    void languageChanged();

private:
    enum Language { Chinese = 0, English = 1 };

    LanguageManager();

    int m_language = Chinese;
    QTranslator* m_qtTranslator = nullptr;
    QMap<QString, QString> m_table;
};

// Applies the current language to every widget below root and to root's window title.
// The Chinese texts are remembered in dynamic properties on the widgets the first time
// English is applied, and written back when Chinese is applied.
void applyLanguage(QWidget* root);

// The header's language combo box ("中文", "English"), wired to LanguageManager::setLanguage.
QComboBox* createLanguageSelector(QWidget* parent);

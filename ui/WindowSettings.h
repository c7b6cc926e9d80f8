#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

class QLineEdit;
class QSplitter;
class QStringListModel;
class QWidget;
class Settings;

// Keeps a window's set-up in Settings. Each bound widget is restored from the key named
// after its object name when it is bound and written back on every change; values of
// the wrong type or out of range are passed over, so a hand-edited file cannot break the
// window. Splitters and the window geometry are written when the window closes, and
// splitters also when moved.
class WindowSettings : public QObject
{
    Q_OBJECT

public:
    WindowSettings(Settings* settings, QWidget* window);

    // Line edits, check boxes and radio buttons, spin boxes, combo boxes (by index) and
    // splitters below the window with these object names.
    void bind(const QStringList& objectNames);
    // Offers the recent values of `key` as completions in `edit`.
    void addCompleter(QLineEdit* edit, const QString& key);
    void remember(const QString& key, const QString& value);
    Settings* settings() const { return m_settings; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bindWidget(QWidget* widget);
    void saveLayout();

    Settings* m_settings = nullptr;
    QWidget* m_window = nullptr;
    QList<QSplitter*> m_splitters;
    QHash<QString, QStringListModel*> m_recentModels;
};

#pragma once

#include <QList>
#include <QPair>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

// The program's settings file: INI text in the per-user configuration folder
// (~/.config/korvahub/korvahub.ini on Linux) unless another file is given, as tests do.
// A file that cannot be read or parsed is copied aside as "<file>.corrupt" and the program
// starts from the defaults; readFailed() says so, so that the window can log it once.
// Values of the wrong type are the reader's to refuse (see WindowSettings).
class Settings
{
public:
    explicit Settings(const QString& fileName = defaultFileName());
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    static QString defaultFileName();
    QString fileName() const { return m_store.fileName(); }
    bool readFailed() const { return m_readFailed; }

    QVariant value(const QString& key) const { return m_store.value(key); }
    void setValue(const QString& key, const QVariant& value) { m_store.setValue(key, value); }
    // Back to the defaults, file included (--reset-settings).
    void clear();
    void sync() { m_store.sync(); }

    // Most recent first, no repeats, at most MaxRecent.
    QStringList recent(const QString& key) const;
    void addRecent(const QString& key, const QString& value);

    // A hub's access token is written only when the user asked for it ("记住令牌");
    // otherwise a token kept earlier is removed, so unticking the box forgets it.
    void setAccessToken(const QString& token, bool remember);
    QString accessToken() const;

    // (name, text) pairs kept as an array section, e.g. chart rules.
    QList<QPair<QString, QString>> pairs(const QString& key);
    void setPairs(const QString& key, const QList<QPair<QString, QString>>& pairs);

    static constexpr int MaxRecent = 20;

private:
    QSettings m_store;
    bool m_readFailed = false;
};

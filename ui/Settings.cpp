#include "Settings.h"

#include <QFile>
#include <QStandardPaths>

namespace {

const QString AccessTokenKey = QStringLiteral("connection/accessToken");
const QString PairFirst = QStringLiteral("name");
const QString PairSecond = QStringLiteral("text");

} // namespace

Settings::Settings(const QString& fileName)
    : m_store(fileName, QSettings::IniFormat)
{
    // QSettings parses on first use: its status says nothing before.
    m_store.allKeys();
    if (m_store.status() == QSettings::NoError)
        return;
    m_readFailed = true;
    // Kept for the user to look at: the next write replaces the file.
    if (m_store.status() == QSettings::FormatError) {
        QFile::remove(fileName + QStringLiteral(".corrupt"));
        QFile::copy(fileName, fileName + QStringLiteral(".corrupt"));
    }
    // A partly parsed file must not count either.
    m_store.clear();
}

QString Settings::defaultFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/korvahub/korvahub.ini");
}

void Settings::clear()
{
    m_store.clear();
    m_store.sync();
}

QStringList Settings::recent(const QString& key) const
{
    QStringList values = m_store.value(key).toStringList();
    values.removeAll(QString());
    values.removeDuplicates();
    return values.mid(0, MaxRecent);
}

void Settings::addRecent(const QString& key, const QString& value)
{
    QStringList values = recent(key);
    if (value.isEmpty() || values.value(0) == value)
        return;
    values.removeAll(value);
    values.prepend(value);
    m_store.setValue(key, values.mid(0, MaxRecent));
}

void Settings::setAccessToken(const QString& token, bool remember)
{
    if (remember && !token.isEmpty())
        m_store.setValue(AccessTokenKey, token);
    else
        m_store.remove(AccessTokenKey);
}

QString Settings::accessToken() const
{
    return m_store.value(AccessTokenKey).toString();
}

QList<QPair<QString, QString>> Settings::pairs(const QString& key)
{
    QList<QPair<QString, QString>> result;
    const int size = m_store.beginReadArray(key);
    for (int i = 0; i < size; ++i) {
        m_store.setArrayIndex(i);
        result.append({m_store.value(PairFirst).toString(), m_store.value(PairSecond).toString()});
    }
    m_store.endArray();
    return result;
}

void Settings::setPairs(const QString& key, const QList<QPair<QString, QString>>& pairs)
{
    m_store.remove(key);
    m_store.beginWriteArray(key, int(pairs.size()));
    for (int i = 0; i < pairs.size(); ++i) {
        m_store.setArrayIndex(i);
        m_store.setValue(PairFirst, pairs.at(i).first);
        m_store.setValue(PairSecond, pairs.at(i).second);
    }
    m_store.endArray();
}

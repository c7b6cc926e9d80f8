#include "RunLog.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

RunLog::~RunLog()
{
    m_stream.flush();
    m_stream.setDevice(nullptr);
    m_file.close();
}

RunLog& RunLog::instance()
{
    static RunLog log;
    return log;
}

void RunLog::init(const QString& applicationName)
{
    if (m_file.isOpen()) {
        m_stream.flush();
        m_stream.setDevice(nullptr);
        m_file.close();
    }
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/logs");
    QDir().mkpath(folder);
    m_file.setFileName(folder + QLatin1Char('/') + applicationName + QStringLiteral(".log"));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    m_stream.setDevice(&m_file);
    m_stream << "\n=== " << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
           << ' ' << applicationName << " ===\n";
}

void RunLog::write(const QString& message)
{
    if (!m_file.isOpen())
        return;
    m_stream << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) << ' ' << message << '\n';
    m_stream.flush();
}

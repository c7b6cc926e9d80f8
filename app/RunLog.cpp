#include "RunLog.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

RunLog::~RunLog()
{
    stream.flush();
    stream.setDevice(nullptr);
    file.close();
}

RunLog& RunLog::instance()
{
    static RunLog log;
    return log;
}

void RunLog::init(const QString& applicationName)
{
    if (file.isOpen()) {
        stream.flush();
        stream.setDevice(nullptr);
        file.close();
    }
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/logs");
    QDir().mkpath(folder);
    file.setFileName(folder + QLatin1Char('/') + applicationName + QStringLiteral(".log"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    stream.setDevice(&file);
    stream << "\n=== " << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
           << ' ' << applicationName << " ===\n";
}

void RunLog::write(const QString& message)
{
    if (!file.isOpen())
        return;
    stream << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) << ' ' << message << '\n';
    stream.flush();
}

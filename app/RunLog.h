#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>

// Plain-text diary of start-up milestones under the per-user application-data folder.
// One process-wide instance is reached through instance(); tests may build their own.
// Failures are silent: a log that cannot be opened simply writes nothing.
class RunLog
{
public:
    RunLog() = default;
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    static RunLog& instance();

    // Opens <AppDataLocation>/logs/<applicationName>.log for appending and writes the
    // run header (not flushed yet; the next write() flushes it).
    void init(const QString& applicationName);
    void write(const QString& message);

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }

private:
    // Declared before the stream so that the stream goes first at destruction and
    // flushes into a still-open file.
    QFile m_file;
    QTextStream m_stream;
};

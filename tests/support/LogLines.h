#pragma once

#include <QStringList>

#include "CommunicationBase.h"

// Short readable forms of the log for comparisons: "SYS text", "RX text", "TX text".
inline QStringList logLines(const CommunicationBase* comm)
{
    QStringList lines;
    const QList<LogEntry> entries = comm->entries();
    for (const LogEntry& entry : entries) {
        const QString tag = entry.direction == LogEntry::SYS  ? QStringLiteral("SYS")
                            : entry.direction == LogEntry::RX ? QStringLiteral("RX")
                                                              : QStringLiteral("TX");
        lines.append(tag + QLatin1Char(' ') + entry.text());
    }
    return lines;
}

inline bool logContains(const CommunicationBase* comm, const QString& line)
{
    return logLines(comm).contains(line);
}

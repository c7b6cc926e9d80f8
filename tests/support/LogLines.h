#pragma once

#include <QStringList>

#include "CommunicationBase.h"

// Short readable forms of the log for comparisons: "SYS text", "RX text", "TX text".
inline QStringList logLines(const CommunicationBase* comm)
{
    static const char* const Tags[] = {"TX ", "RX ", "SYS "}; // by LogEntry::Direction
    QStringList lines;
    for (const LogEntry& entry : comm->entries())
        lines.append(QLatin1String(Tags[entry.direction]) + entry.text());
    return lines;
}

inline bool logContains(const CommunicationBase* comm, const QString& line)
{
    return logLines(comm).contains(line);
}

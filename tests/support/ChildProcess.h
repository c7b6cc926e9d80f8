#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

// The real peers of the interop tests run as programs: a child process whose standard
// output is read line by line (standard error goes to the test's own), killed however the
// test ends.
struct ChildProcess
{
    static constexpr int Timeout = 20000; // a runtime starting on a busy machine

    QProcess process;
    QStringList lines;

    ChildProcess(const QString& program, const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
        });
        process.start(program, arguments);
    }
    ~ChildProcess()
    {
        process.kill();
        process.waitForFinished(Timeout);
    }
    // The rest of each line that starts with `prefix`.
    QStringList after(const QString& prefix) const
    {
        QStringList found;
        for (const QString& line : lines)
            if (line.startsWith(prefix))
                found.append(line.mid(prefix.size()));
        return found;
    }
    QString transcript() const { return lines.join(QLatin1Char('\n')); }
};

// Builds an ASP.NET Core app of tests/interop under the build tree, again only when its
// sources are newer; the path of its DLL, or empty when the build failed.
inline QString builtDotnetApp(const QString& dotnet, const QString& csproj)
{
    constexpr int BuildTimeoutMs = 300000; // a first build on a busy two-core machine
    qputenv("DOTNET_CLI_TELEMETRY_OPTOUT", "1");
    qputenv("DOTNET_NOLOGO", "1");
    const QFileInfo project(csproj);
    const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/interop-") + project.baseName();
    const QFileInfo dll(out + QStringLiteral("/bin/") + project.baseName() + QStringLiteral(".dll"));
    const QDateTime newest =
        project.dir().entryInfoList({"*.cs", "*.csproj"}, QDir::Files, QDir::Time).first().lastModified();
    if (dll.exists() && dll.lastModified() >= newest)
        return dll.filePath();
    // --artifacts-path keeps obj/ out of the source tree; no build server may outlive the test.
    ChildProcess build(dotnet, {"build", project.filePath(), "-c", "Release", "-o", out + "/bin", "--artifacts-path",
                                out + "/artifacts", "--disable-build-servers", "-nologo", "-v:q"});
    const bool built = build.process.waitForFinished(BuildTimeoutMs) && build.process.exitCode() == 0;
    if (!built)
        qWarning("%s", qPrintable(build.transcript()));
    return built ? dll.filePath() : QString();
}

#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

// Shared moves of the interop tests: a real SignalR peer run as a child process, and the
// build of a .NET project under the build tree.
namespace InteropKit {

constexpr int ExitWaitMs = 20000;
constexpr int BuildTimeoutMs = 300000; // a first build may restore packages from NuGet

// A child process whose standard output is read line by line (standard error goes to the
// test's own); killed however the test ends.
struct Child
{
    QProcess process;
    QStringList lines;

    Child(const QString& program, const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
        });
        process.start(program, arguments);
    }
    ~Child()
    {
        process.kill();
        process.waitForFinished(ExitWaitMs);
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

// Builds a .NET project into interop-<name> beside the test, again only when its sources
// are newer; the assembly's path, or empty when the build failed.
inline QString builtDotnetProject(const QString& dotnet, const QString& csproj)
{
    qputenv("DOTNET_CLI_TELEMETRY_OPTOUT", "1");
    qputenv("DOTNET_NOLOGO", "1");
    const QFileInfo project(csproj);
    const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/interop-") + project.baseName();
    const QFileInfo dll(out + QStringLiteral("/bin/") + project.baseName() + QStringLiteral(".dll"));
    const QDateTime newest =
        project.dir().entryInfoList({"*.cs", "*.csproj"}, QDir::Files, QDir::Time).first().lastModified();
    if (dll.exists() && dll.lastModified() >= newest)
        return dll.filePath();
    Child build(dotnet, {"build", project.filePath(), "-c", "Release", "-o", out + "/bin", "--artifacts-path",
                         out + "/artifacts", "--disable-build-servers", "-nologo", "-v:q"});
    const bool built = build.process.waitForFinished(BuildTimeoutMs) && build.process.exitCode() == 0;
    if (!built)
        qWarning("%s", qPrintable(build.transcript()));
    return built ? dll.filePath() : QString();
}

} // namespace InteropKit

#include "Documentation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// A file URL of the guide at relativePath under folder, or an empty URL when there is
// no such file.
QUrl guideIn(const QString& folder, const char* relativePath)
{
    if (folder.isEmpty())
        return {};
    const QFileInfo guide(QDir(folder).filePath(QString::fromUtf8(relativePath)));
    if (!guide.isFile())
        return {};
    // Canonical, so that the browser shows /usr/share/... rather than /usr/bin/../share/...
    return QUrl::fromLocalFile(guide.canonicalFilePath());
}

} // namespace

QUrl documentationUrlFor(const QString& applicationDir, const QString& sourceDir)
{
    QUrl url = guideIn(applicationDir, InstalledGuidePath);
    if (url.isEmpty())
        url = guideIn(sourceDir, SourceGuidePath);
    if (url.isEmpty())
        url = QUrl(QString::fromUtf8(DocumentationWebAddress));
    return url;
}

QUrl documentationUrl()
{
#ifdef KORVAHUB_SOURCE_DIR
    // Set by the build for programs run from their build folder, which has no share/.
    const QString sourceDir = QString::fromUtf8(KORVAHUB_SOURCE_DIR);
#else
    const QString sourceDir;
#endif
    return documentationUrlFor(QCoreApplication::applicationDirPath(), sourceDir);
}

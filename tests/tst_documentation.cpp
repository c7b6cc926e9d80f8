#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

#include "Documentation.h"

namespace {

// Writes a small file at folder/relativePath, creating the folders on the way.
bool touch(const QString& folder, const QString& relativePath)
{
    const QString path = QDir(folder).filePath(relativePath);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0;
}

} // namespace

// The "📖 文档" button must land on a page that exists: the installed guide first, the
// source tree's guide for a build-folder program, the web page only as a last resort.
class TestDocumentation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void installedGuideWins();
    void sourceGuideWhenNotInstalled();
    void webAddressWhenNoGuide();
    void emptySourceDirIsSkipped();
    void directoryIsNotAGuide();
    void sourceTreeHoldsTheGuide();

private:
    std::unique_ptr<QTemporaryDir> root;
    QString prefix;  // an installed tree: bin/ and share/
    QString bin;
    QString source;
};

void TestDocumentation::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    prefix = root->filePath(QStringLiteral("usr"));
    bin = prefix + QStringLiteral("/bin");
    source = root->filePath(QStringLiteral("src"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(source));
}

void TestDocumentation::installedGuideWins()
{
    QVERIFY(touch(prefix, QStringLiteral("share/doc/korvahub/guide.html")));
    QVERIFY(touch(source, QStringLiteral("docs/guide.html")));
    const QUrl url = documentationUrlFor(bin, source);
    QVERIFY(url.isLocalFile());
    // Canonical: no "bin/.." in what the browser shows.
    QCOMPARE(url.toLocalFile(),
             QFileInfo(prefix + QStringLiteral("/share/doc/korvahub/guide.html")).canonicalFilePath());
}

void TestDocumentation::sourceGuideWhenNotInstalled()
{
    QVERIFY(touch(source, QStringLiteral("docs/guide.html")));
    const QUrl url = documentationUrlFor(bin, source);
    QVERIFY(url.isLocalFile());
    QCOMPARE(url.toLocalFile(), QFileInfo(source + QStringLiteral("/docs/guide.html")).canonicalFilePath());
}

void TestDocumentation::webAddressWhenNoGuide()
{
    const QUrl url = documentationUrlFor(bin, source);
    QCOMPARE(url, QUrl(QString::fromUtf8(DocumentationWebAddress)));
    QCOMPARE(url.scheme(), QStringLiteral("https"));
}

void TestDocumentation::emptySourceDirIsSkipped()
{
    // An empty source folder must not resolve against the working directory.
    QVERIFY(touch(root->path(), QStringLiteral("docs/guide.html")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root->path()));
    const QUrl url = documentationUrlFor(bin, QString());
    QDir::setCurrent(previous);
    QCOMPARE(url, QUrl(QString::fromUtf8(DocumentationWebAddress)));
}

void TestDocumentation::directoryIsNotAGuide()
{
    QVERIFY(QDir().mkpath(prefix + QStringLiteral("/share/doc/korvahub/guide.html")));
    QCOMPARE(documentationUrlFor(bin, source), QUrl(QString::fromUtf8(DocumentationWebAddress)));
}

void TestDocumentation::sourceTreeHoldsTheGuide()
{
    // A test program runs from the build folder: it finds the guide of its source tree.
    const QUrl url = documentationUrl();
    QVERIFY2(url.isLocalFile(), qPrintable(url.toString()));
    QVERIFY(url.toLocalFile().endsWith(QStringLiteral("/docs/guide.html")));
    QFile guide(url.toLocalFile());
    QVERIFY(guide.open(QIODevice::ReadOnly));
    QVERIFY(guide.readAll().contains("<title>"));
}

QTEST_MAIN(TestDocumentation)
#include "tst_documentation.moc"

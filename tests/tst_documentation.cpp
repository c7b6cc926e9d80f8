#include <QtTest>

#include "Documentation.h"

// The "📖 文档" button must land on a page that exists: the installed guide first, the
// source tree's guide for a build-folder program, the web page only as a last resort.
class TestDocumentation : public QObject
{
    Q_OBJECT

private slots:
    void firstExistingGuideWins_data()
    {
        QTest::addColumn<QString>("installed"); // what share/doc/korvahub/guide.html is
        QTest::addColumn<bool>("sourceGuide");
        QTest::addColumn<bool>("sourceGiven");
        QTest::addColumn<QString>("expected");

        QTest::newRow("installed guide") << "file" << true << true << "usr/share/doc/korvahub/guide.html";
        QTest::newRow("source guide") << "" << true << true << "src/docs/guide.html";
        QTest::newRow("no guide") << "" << false << true << "web";
        QTest::newRow("directory is not a guide") << "dir" << false << true << "web";
        // An empty source folder must not resolve against the working directory.
        QTest::newRow("empty source folder") << "" << true << false << "web";
    }

    void firstExistingGuideWins()
    {
        QFETCH(QString, installed);
        QFETCH(bool, sourceGuide);
        QFETCH(bool, sourceGiven);
        QFETCH(QString, expected);

        QTemporaryDir root;
        const QDir tree(root.path());
        const QString guide = tree.filePath(QStringLiteral("usr/share/doc/korvahub/guide.html"));
        QVERIFY(tree.mkpath(QStringLiteral("usr/bin")) && tree.mkpath(QStringLiteral("src/docs")));
        QVERIFY(tree.mkpath(installed == "dir" ? guide : QFileInfo(guide).path()));
        const QStringList guides{installed == "file" ? guide : QString(),
                                 sourceGuide ? tree.filePath(QStringLiteral("src/docs/guide.html")) : QString()};
        for (const QString& path : guides) {
            QFile file(path);
            QVERIFY(path.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0));
        }

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tree.filePath(QStringLiteral("src"))));
        const QUrl url = documentationUrlFor(tree.filePath(QStringLiteral("usr/bin")),
                                             sourceGiven ? tree.filePath(QStringLiteral("src")) : QString());
        QDir::setCurrent(previous);
        const QUrl web(QString::fromUtf8(DocumentationWebAddress));
        QCOMPARE(web.scheme(), QStringLiteral("https"));
        // Guides as canonical file paths: no "bin/.." in what the browser shows.
        QCOMPARE(url, expected == "web" ? web : QUrl::fromLocalFile(QFileInfo(tree.filePath(expected)).canonicalFilePath()));
    }

    void sourceTreeHoldsTheGuide()
    {
        // A test program runs from the build folder: it finds the guide of its source tree.
        const QUrl url = documentationUrl();
        QVERIFY2(url.isLocalFile() && url.toLocalFile().endsWith(QStringLiteral("/docs/guide.html")),
                 qPrintable(url.toString()));
        QFile guide(url.toLocalFile());
        QVERIFY(guide.open(QIODevice::ReadOnly) && guide.readAll().contains("<title>"));
    }
};

QTEST_MAIN(TestDocumentation)
#include "tst_documentation.moc"

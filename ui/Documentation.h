#pragma once

#include <QString>
#include <QUrl>

// Where the "📖 文档" button takes the user. The user guide travels with the program, so
// the button works offline and never lands on a page that does not exist; the web
// address is only the last resort.

// The web page opened when no guide file can be found.
inline constexpr char DocumentationWebAddress[] = "https://korvahub.dev/docs/signalr";

// The guide's path relative to the executable's folder in an installed tree (bin/ and
// share/ side by side, as under /usr or /usr/local).
inline constexpr char InstalledGuidePath[] = "../share/doc/korvahub/guide.html";

// The guide's path inside the source tree.
inline constexpr char SourceGuidePath[] = "docs/guide.html";

// The first of: the installed guide beside applicationDir, the guide in sourceDir (empty
// to skip), the web address. Guide files are returned as absolute file URLs.
QUrl documentationUrlFor(const QString& applicationDir, const QString& sourceDir);

// documentationUrlFor with the running program's folder and, for a program built from a
// source tree that asked for it, that tree.
QUrl documentationUrl();

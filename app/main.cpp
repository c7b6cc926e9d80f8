#include <QApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

#include "AdBanner.h"
#include "LanguageManager.h"
#include "PromoSource.h"
#include "RunLog.h"
#include "Settings.h"
#include "SignalRWidget.h"

namespace {

// Without a display Qt aborts inside the platform plug-in with a long message; say
// what is wrong and how to get around it instead.
bool displayMissing()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char* argv[])
{
#ifdef Q_OS_UNIX
    if (displayMissing()) {
        std::fprintf(stderr,
                     "korvahub: no display found (DISPLAY is not set); start it under a virtual "
                     "display with: xvfb-run -a ./run.sh\n");
        return 1;
    }
#endif
    QApplication app(argc, argv);

    RunLog::instance().init(QStringLiteral("Korvahub"));
    LanguageManager::instance().applyQtTranslations();
    QApplication::setApplicationName(QStringLiteral("Korvahub"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    // Ties the window to its desktop entry (icon and name in docks on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("korvahub"));

    // Unknown arguments are left alone, as Qt's own are.
    const PromoSource promo = PromoSource::fromProcess(QCoreApplication::arguments());
    if (!promo.rejected.isEmpty())
        std::fprintf(stderr, "korvahub: promotion address \"%s\" is not an http(s) URL; staying offline\n",
                     qPrintable(promo.rejected));
    AdBanner::setDefaultSource(promo);

    QString themePath = QStringLiteral(":/styles/DarkTheme.qss");
    if (!QFile::exists(themePath))
        themePath = QCoreApplication::applicationDirPath() + QStringLiteral("/DarkTheme.qss");
    QFile theme(themePath);
    if (theme.open(QIODevice::ReadOnly | QIODevice::Text)) {
        app.setStyleSheet(QTextStream(&theme).readAll());
        theme.close();
        RunLog::instance().write(QStringLiteral("DarkTheme QSS loaded"));
    }

    // The user's last set-up; --reset-settings starts from the defaults instead.
    Settings settings;
    if (QCoreApplication::arguments().contains(QStringLiteral("--reset-settings")))
        settings.clear();

    int code = 0;
    {
        SignalRWidget window;
        window.useSettings(&settings);
        window.setWindowTitle(QStringLiteral("SignalR调试助手"));
        window.show();
        RunLog::instance().write(QStringLiteral("Window shown"));
        code = app.exec();
    }
    return code;
}

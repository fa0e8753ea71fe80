// tarrowin: the desktop composer.
#include <QApplication>
#include <QIcon>
#include <cstdio>

#include "app/startup.h"
#include "playback/system_backends.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarrowin"));
    QApplication::setOrganizationName(QStringLiteral("Tarrowin"));
    QApplication::setApplicationVersion(QStringLiteral(TARROWIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.tarrowin.Tarrowin"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarrowin.svg")));

    const tarrowin::app::CommandLine line = tarrowin::app::parseCommandLine(QApplication::arguments());
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "tarrowin: %s\n", qPrintable(line.error));
        return 2;
    }
    return tarrowin::app::runTarrowin(app, tarrowin::systemBackends(), line);
}

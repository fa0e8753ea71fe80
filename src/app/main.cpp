// tarrowin: the desktop composer.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string_view>

#include "app/startup.h"
#include "playback/system_backends.h"

namespace {

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Tarrowin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARROWIN_VERSION));
}

// --help and --version only print, so they are answered before the window system starts:
// they work without a display (on a console, over ssh, in a package build).
bool onlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--") break;
        if (a == "-h" || a == "-?" || a == "--help" || a == "-v" || a == "--version") return true;
    }
    return false;
}

int refuse(const tarrowin::app::CommandLine& line) {
    std::fprintf(stderr, "tarrowin: %s\n", qPrintable(line.error));
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (onlyPrints(argc, argv)) {
        QCoreApplication console(argc, argv);
        nameApplication();
        // Prints the help or the version and exits, unless the rest of the line is wrong.
        const tarrowin::app::CommandLine line = tarrowin::app::parseCommandLine(QCoreApplication::arguments());
        if (!line.error.isEmpty()) return refuse(line);
    }
    QApplication app(argc, argv);
    nameApplication();
    QApplication::setDesktopFileName(QStringLiteral("org.tarrowin.Tarrowin"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarrowin.svg")));

    const tarrowin::app::CommandLine line = tarrowin::app::parseCommandLine(QApplication::arguments());
    if (!line.error.isEmpty()) return refuse(line);
    return tarrowin::app::runTarrowin(app, tarrowin::systemBackends(), line);
}

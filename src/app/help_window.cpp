#include "help_window.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace tarrowin::app {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Tarrowin Help"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new QTextBrowser(this);
    browser->setAccessibleName(QStringLiteral("User guide"));
    browser->setSource(QUrl(QStringLiteral("qrc:/help/guide.html")));
    browser->setOpenExternalLinks(false);
    layout->addWidget(browser);
    resize(640, 720);
}

}  // namespace tarrowin::app

#include "help_window.h"

#include <QAction>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tarrowin::app {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Tarrowin Help"));
    setObjectName(QStringLiteral("HelpWindow"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new QTextBrowser(this);
    browser->setAccessibleName(QStringLiteral("User guide"));
    browser->setSource(QUrl(QStringLiteral("qrc:/help/guide.html")));
    browser->setOpenExternalLinks(false);
    layout->addWidget(browser);
    resize(640, 720);
    auto* close = new QAction(this);
    close->setShortcut(Qt::Key_Escape);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

}  // namespace tarrowin::app

#include "ok_only_dialog.h"

#include <QCloseEvent>

namespace tarrowin::app {

OkOnlyDialog::OkOnlyDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

void OkOnlyDialog::closeEvent(QCloseEvent* event) {
    // Closing through OK has already hidden the dialog; any other close is refused.
    if (isVisible()) event->ignore();
}

}  // namespace tarrowin::app

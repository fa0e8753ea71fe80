#pragma once
// "About Tarrowin 2.5": the icon, the version, what Tarrowin is, and the versions of the
// libraries it plays through.

#include <QDialog>

namespace tarrowin::app {

class AboutDialog : public QDialog {
    Q_OBJECT
   public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tarrowin::app

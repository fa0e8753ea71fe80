#pragma once
// "&Help Topics": the user guide shipped with the program, in a window of its own.

#include <QWidget>

namespace tarrowin::app {

class HelpWindow : public QWidget {
    Q_OBJECT
   public:
    explicit HelpWindow(QWidget* parent = nullptr);
};

}  // namespace tarrowin::app

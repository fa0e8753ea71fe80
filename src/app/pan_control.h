#pragma once
// A voice's pan as the dialogs edit it: a scroll bar from -64 to 63 (arrows step by 1, the
// bar by 5), the value beside it and a small "0" button that centres it. For screen
// readers the bar is "Pan", the value "Pan value" and the button "Pan centre".

#include <QWidget>

class QLabel;
class QPushButton;
class QScrollBar;

namespace tarrowin::app {

class PanControl : public QWidget {
    Q_OBJECT
   public:
    explicit PanControl(QWidget* parent = nullptr);

    int value() const;
    // Shows a value without telling anyone (a dialog loading what it edits).
    void setValue(int value);
    QScrollBar* bar() const { return bar_; }

   Q_SIGNALS:
    // The user moved the bar or pressed "0".
    void valueChanged(int value);

   private:
    QScrollBar* bar_;
    QLabel* label_;
};

}  // namespace tarrowin::app

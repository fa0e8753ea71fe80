#pragma once
// A dialog that ends only through its OK button: it has no close box, and Escape or a close
// request of the window manager do nothing. Its subclasses decide in accept() whether OK
// may close it.

#include <QDialog>

namespace tarrowin::app {

class OkOnlyDialog : public QDialog {
    Q_OBJECT
   public:
    explicit OkOnlyDialog(QWidget* parent = nullptr);
    void reject() override {}

   protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace tarrowin::app

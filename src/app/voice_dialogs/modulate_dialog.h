#pragma once
// How a voice's transposition changes: "Every" n counter steps (1..50) or at "Random".
// Titled "Modulation - voice N" for a voice row and "Modulate" in the Multiple Voice
// Editor; the caller passes the values in and reads mode() and every() after OK.

#include <QDialog>
#include <cstdint>

class QLineEdit;
class QRadioButton;

namespace tarrowin::app {

class ModulateDialog : public QDialog {
    Q_OBJECT
   public:
    static constexpr int kEveryMode = 0;
    static constexpr int kRandomMode = 1;
    static constexpr int kMinEvery = 1;
    static constexpr int kMaxEvery = 50;

    explicit ModulateDialog(const QString& title, QWidget* parent = nullptr);
    ModulateDialog(const QString& title, int32_t mode, int32_t every, QWidget* parent = nullptr);

    // Shows the values as the dialog opens: the edit is usable only with "Every".
    void load(int32_t mode, int32_t every);
    int32_t mode() const { return mode_; }
    int32_t every() const { return every_; }

    // OK: refuses a period that is not an integer in 1..50 while "Every" is chosen.
    void accept() override;

   private:
    QRadioButton* everyButton_;
    QRadioButton* randomButton_;
    QLineEdit* edit_;
    int32_t mode_ = kEveryMode;
    int32_t every_ = 5;
};

}  // namespace tarrowin::app

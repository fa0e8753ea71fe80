#pragma once
// A note value of its own, in 32nd notes (1..960). OK is the only way out. Titled
// "Note Value - voice N" for a voice row and "Other value" in the Multiple Voice Editor;
// the caller passes the value in and reads value() after OK.

#include <cstdint>

#include "app/ok_only_dialog.h"

class QLineEdit;

namespace tarrowin::app {

class NoteValueDialog : public OkOnlyDialog {
    Q_OBJECT
   public:
    static constexpr int kMinTicks = 1;
    static constexpr int kMaxTicks = 960;

    explicit NoteValueDialog(const QString& title, QWidget* parent = nullptr);
    NoteValueDialog(const QString& title, int32_t ticks, QWidget* parent = nullptr);

    void load(int32_t ticks);
    int32_t value() const { return value_; }

    // OK: refuses text that is not an integer in 1..960.
    void accept() override;

   private:
    QLineEdit* edit_;
    int32_t value_ = 8;
};

}  // namespace tarrowin::app

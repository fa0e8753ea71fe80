#pragma once
// "Param1 Range", "Param2 Range" and "Note Value Range": a From/To pair of integers. OK
// refuses text that is not an integer, then the bounds of the range's mode; the dialog ends
// only through an accepted OK.

#include "app/ok_only_dialog.h"
#include "tools/prompter.h"
#include "tools/pickers.h"

class QLineEdit;

namespace tarrowin::app {

class RangeEditDialog : public OkOnlyDialog {
    Q_OBJECT
   public:
    RangeEditDialog(const RangePicker& range, Prompter& prompter, QWidget* parent);

    // The range as OK accepted it.
    const RangePicker& range() const { return range_; }
    QLineEdit* fromEdit() const { return from_; }
    QLineEdit* toEdit() const { return to_; }

    void accept() override;

   private:
    RangePicker range_;
    Prompter& prompter_;
    QLineEdit* from_;
    QLineEdit* to_;
};

// Shows the range dialog and returns the range it ended with.
RangePicker editRange(const RangePicker& range, Prompter& prompter, QWidget* parent);

}  // namespace tarrowin::app

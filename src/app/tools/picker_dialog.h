#pragma once
// The pickers with which the Randomizer restricts its draws ("Algorithms", "Note Values",
// "Scales", "Select Instruments", "Select Notes", "Select Octaves", "Select Dynamics"): one
// dialog shown as check boxes, a multiple-selection list or toggle buttons, over the
// picker's rules in src/tools. No Cancel, no close box, Escape ignored: it ends through an
// OK that has something chosen.

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "app/ok_only_dialog.h"
#include "tools/prompter.h"
#include "tools/pickers.h"

class QAbstractButton;
class QCheckBox;
class QListWidget;

namespace tarrowin::app {

// What a picker shows and how a choice reaches its rules.
struct PickerModel {
    enum class Kind { CheckBoxes, List, Toggles };
    QString title;
    Kind kind = Kind::CheckBoxes;
    std::vector<QString> labels;
    bool allNone = true;  // the "All" and "None" buttons
    std::function<bool(int)> isChecked;
    // An item was checked or unchecked; `dialog` parents a dialog the change opens.
    std::function<void(int, bool, QWidget* dialog)> setChecked;
    std::function<void()> all;
    std::function<void()> none;
    std::function<std::optional<Message>()> ok;
    // "Allow User-defined Scales": a check box under the list; empty label: none.
    QString extraLabel;
    std::function<bool()> extraChecked;
    std::function<void(bool)> setExtraChecked;
};

template <class Picker>
PickerModel flagPickerModel(Picker& picker, PickerModel::Kind kind) {
    picker.open();
    PickerModel m;
    m.title = QString::fromLatin1(Picker::kTitle);
    m.kind = kind;
    for (int i = 0; i < Picker::kItems; ++i) m.labels.push_back(QString::fromStdString(Picker::label(i)));
    m.allNone = kind != PickerModel::Kind::Toggles;
    m.isChecked = [&picker](int i) { return picker.isChecked(i); };
    m.setChecked = [&picker](int i, bool on, QWidget*) { picker.setChecked(i, on); };
    m.all = [&picker] { picker.all(); };
    m.none = [&picker] { picker.none(); };
    m.ok = [&picker] { return picker.ok(); };
    return m;
}

// The members of the family; each opens the picker on its current flags.
PickerModel algorithmsModel(AlgorithmsPicker& picker);
// Checking "Other" asks for its range in "Note Value Range".
PickerModel noteValuesModel(NoteValuesPicker& picker, Prompter& prompter);
PickerModel scalesModel(ScalesPicker& picker);
PickerModel instrumentsModel(InstrumentsPicker& picker);
PickerModel notesModel(NotesPicker& picker);
PickerModel octavesModel(OctavesPicker& picker);
PickerModel dynamicsModel(DynamicsPicker& picker);

class PickerDialog : public OkOnlyDialog {
    Q_OBJECT
   public:
    PickerDialog(PickerModel model, Prompter& prompter, QWidget* parent);

    void accept() override;
    // The controls, for tests: the item buttons (check boxes or toggles) or the list.
    const std::vector<QAbstractButton*>& itemButtons() const { return items_; }
    QListWidget* list() const { return list_; }
    QCheckBox* extraBox() const { return extra_; }

   private:
    // Shows the model's checked items without reporting a change.
    void showChecked();

    PickerModel model_;
    Prompter& prompter_;
    std::vector<QAbstractButton*> items_;
    QListWidget* list_ = nullptr;
    QCheckBox* extra_ = nullptr;
};

// Shows the picker until OK accepts a choice.
void runPicker(PickerModel model, Prompter& prompter, QWidget* parent);

}  // namespace tarrowin::app

#include "picker_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "range_edit_dialog.h"

namespace tarrowin::app {

using Kind = PickerModel::Kind;

PickerModel algorithmsModel(AlgorithmsPicker& picker) { return flagPickerModel(picker, Kind::CheckBoxes); }

PickerModel noteValuesModel(NoteValuesPicker& picker, Prompter& prompter) {
    PickerModel m = flagPickerModel(picker, Kind::CheckBoxes);
    m.setChecked = [&picker, &prompter](int i, bool on, QWidget* dialog) {
        if (picker.setChecked(i, on)) picker.setOtherRange(editRange(picker.otherRangePicker(), prompter, dialog));
    };
    return m;
}

PickerModel scalesModel(ScalesPicker& picker) {
    // The template calls ScalesPicker's own open, all, none and ok, which include the box.
    PickerModel m = flagPickerModel(picker, Kind::List);
    m.extraLabel = QStringLiteral("Allow User-defined Scales");
    m.extraChecked = [&picker] { return picker.allowUserDefinedChecked(); };
    m.setExtraChecked = [&picker](bool on) { picker.setAllowUserDefinedChecked(on); };
    return m;
}

PickerModel instrumentsModel(InstrumentsPicker& picker) { return flagPickerModel(picker, Kind::List); }
PickerModel notesModel(NotesPicker& picker) { return flagPickerModel(picker, Kind::List); }
PickerModel octavesModel(OctavesPicker& picker) { return flagPickerModel(picker, Kind::Toggles); }
PickerModel dynamicsModel(DynamicsPicker& picker) { return flagPickerModel(picker, Kind::Toggles); }

PickerDialog::PickerDialog(PickerModel model, Prompter& prompter, QWidget* parent)
    : OkOnlyDialog(parent), model_(std::move(model)), prompter_(prompter) {
    setWindowTitle(model_.title);
    auto* layout = new QVBoxLayout(this);
    const int n = static_cast<int>(model_.labels.size());
    if (model_.kind == Kind::List) {
        list_ = new QListWidget(this);
        list_->setSelectionMode(QAbstractItemView::MultiSelection);
        for (const QString& label : model_.labels) list_->addItem(label);
        nameControl(list_, model_.title);
        list_->setMinimumHeight(list_->sizeHintForRow(0) * 16 + 4);
        list_->setMinimumWidth(list_->sizeHintForColumn(0) + 40);
        layout->addWidget(list_);
        if (!model_.extraLabel.isEmpty()) {
            extra_ = new QCheckBox(model_.extraLabel, this);
            layout->addWidget(extra_);
            connect(extra_, &QCheckBox::toggled, this, [this](bool on) { model_.setExtraChecked(on); });
        }
    } else {
        auto* grid = new QGridLayout;
        const bool toggles = model_.kind == Kind::Toggles;
        // Check boxes in two columns, toggles side by side in one row.
        const int rows = toggles ? 1 : (n + 1) / 2;
        for (int i = 0; i < n; ++i) {
            QAbstractButton* b = nullptr;
            if (toggles) {
                auto* toggle = new QPushButton(model_.labels[static_cast<size_t>(i)], this);
                toggle->setCheckable(true);
                toggle->setAutoDefault(false);
                toggle->setMinimumWidth(toggle->fontMetrics().horizontalAdvance(QStringLiteral("FF")) + 24);
                b = toggle;
            } else {
                b = new QCheckBox(model_.labels[static_cast<size_t>(i)], this);
            }
            // toggled, not clicked: a screen reader's Toggle action toggles without a click.
            connect(b, &QAbstractButton::toggled, this, [this, i](bool on) { model_.setChecked(i, on, this); });
            grid->addWidget(b, toggles ? 0 : i % rows, toggles ? i : i / rows);
            items_.push_back(b);
        }
        layout->addLayout(grid);
    }

    auto* buttons = new QHBoxLayout;
    if (model_.allNone) {
        auto* all = new QPushButton(QStringLiteral("All"), this);
        auto* none = new QPushButton(QStringLiteral("None"), this);
        for (QPushButton* b : {all, none}) {
            b->setAutoDefault(false);
            buttons->addWidget(b);
        }
        connect(all, &QPushButton::clicked, this, [this] {
            model_.all();
            showChecked();
        });
        connect(none, &QPushButton::clicked, this, [this] {
            model_.none();
            showChecked();
        });
    }
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    buttons->addWidget(ok);
    connect(ok, &QPushButton::clicked, this, &PickerDialog::accept);
    layout->addLayout(buttons);
    showChecked();
}

void PickerDialog::showChecked() {
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        const QSignalBlocker block(items_[static_cast<size_t>(i)]);
        items_[static_cast<size_t>(i)]->setChecked(model_.isChecked(i));
    }
    if (list_) {
        for (int i = 0; i < list_->count(); ++i) list_->item(i)->setSelected(model_.isChecked(i));
    }
    if (extra_) {
        const QSignalBlocker block(extra_);
        extra_->setChecked(model_.extraChecked());
    }
}

void PickerDialog::accept() {
    // A list's selection is read when OK is pressed.
    if (list_) {
        for (int i = 0; i < list_->count(); ++i) model_.setChecked(i, list_->item(i)->isSelected(), this);
    }
    if (prompter_.refused(model_.ok())) return;
    OkOnlyDialog::accept();
}

void runPicker(PickerModel model, Prompter& prompter, QWidget* parent) {
    PickerDialog dialog(std::move(model), prompter, parent);
    dialog.exec();
}

}  // namespace tarrowin::app

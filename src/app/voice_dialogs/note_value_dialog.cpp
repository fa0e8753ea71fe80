#include "note_value_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "app/form_fields.h"

namespace tarrowin::app {

NoteValueDialog::NoteValueDialog(const QString& title, QWidget* parent) : OkOnlyDialog(parent) {
    setWindowTitle(title);
    auto* label = new QLabel(QStringLiteral("Enter note value  (1 = thirtysecond)"), this);
    edit_ = new QLineEdit(this);
    edit_->setMaxLength(11);
    nameControl(edit_, label, QStringLiteral("Enter note value  (1 = thirtysecond)"));
    fitField(edit_, kMinTicks, kMaxTicks);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &NoteValueDialog::accept);
}

NoteValueDialog::NoteValueDialog(const QString& title, int32_t ticks, QWidget* parent) : NoteValueDialog(title, parent) {
    load(ticks);
}

void NoteValueDialog::load(int32_t ticks) {
    value_ = ticks;
    edit_->setText(QString::number(ticks));
    edit_->setFocus();
    edit_->selectAll();
}

void NoteValueDialog::accept() {
    const auto ticks = readIntegerField(edit_, kMinTicks, kMaxTicks);
    if (!ticks) return;
    value_ = *ticks;
    QDialog::accept();
}

}  // namespace tarrowin::app

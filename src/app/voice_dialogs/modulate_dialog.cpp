#include "modulate_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QRadioButton>

#include "app/accessibility.h"
#include "app/form_fields.h"

namespace tarrowin::app {

ModulateDialog::ModulateDialog(const QString& title, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    everyButton_ = new QRadioButton(QStringLiteral("&Every"), this);
    edit_ = new QLineEdit(this);
    edit_->setMaxLength(11);
    fitField(edit_, kMinEvery, kMaxEvery, FieldWidth::Fixed);
    nameControl(edit_, QStringLiteral("Every"));
    randomButton_ = new QRadioButton(QStringLiteral("&Random"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(everyButton_, 0, 0);
    grid->addWidget(edit_, 0, 1, Qt::AlignLeft);
    grid->addWidget(randomButton_, 1, 0);
    grid->setColumnStretch(1, 1);
    grid->setRowMinimumHeight(2, 6);
    grid->addWidget(buttons, 3, 0, 1, 2);
    // Room for the whole caption in the title bar.
    setMinimumWidth(fontMetrics().horizontalAdvance(title) + 160);

    connect(everyButton_, &QRadioButton::toggled, edit_, &QLineEdit::setEnabled);
    connect(buttons, &QDialogButtonBox::accepted, this, &ModulateDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ModulateDialog::ModulateDialog(const QString& title, int32_t mode, int32_t every, QWidget* parent)
    : ModulateDialog(title, parent) {
    load(mode, every);
}

void ModulateDialog::load(int32_t mode, int32_t every) {
    mode_ = mode == kRandomMode ? kRandomMode : kEveryMode;
    every_ = every;
    (mode_ == kRandomMode ? randomButton_ : everyButton_)->setChecked(true);
    edit_->setEnabled(mode_ == kEveryMode);
    edit_->setText(QString::number(every));
    (mode_ == kEveryMode ? static_cast<QWidget*>(edit_) : randomButton_)->setFocus();
    edit_->selectAll();
}

void ModulateDialog::accept() {
    const bool random = randomButton_->isChecked();
    if (!random) {
        const auto every = readIntegerField(edit_, kMinEvery, kMaxEvery);
        if (!every) return;
        every_ = *every;
    } else if (!checkInteger(edit_->text(), kMinEvery, kMaxEvery)) {
        // The period is kept for a later "Every"; with "Random" chosen the disabled edit
        // cannot be corrected, so a bad text there keeps the period the dialog opened with.
        every_ = static_cast<int32_t>(*parseInteger(edit_->text()));
    }
    mode_ = random ? kRandomMode : kEveryMode;
    QDialog::accept();
}

}  // namespace tarrowin::app

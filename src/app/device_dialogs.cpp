#include "device_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "accessibility.h"

namespace tarrowin::app {

namespace {

QDialogButtonBox* okButton(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    return buttons;
}

// A window manager cuts a caption wider than its title bar ("Percus…annel"): the dialog is
// made wide enough for its caption in bold, half as wide again for a title font larger
// than ours, with room for the title bar's icon and buttons beside it.
void fitCaption(QDialog* dialog) {
    QFont font = dialog->font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    dialog->setMinimumWidth(metrics.horizontalAdvance(dialog->windowTitle()) * 3 / 2 + 6 * metrics.height());
}

}  // namespace

MidiOutSetupDialog::MidiOutSetupDialog(const std::vector<std::string>& rows, QWidget* parent) : OkOnlyDialog(parent) {
    setWindowTitle(QStringLiteral("MidiOut Setup"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Devices"), this);
    list_ = new QListWidget(this);
    for (const std::string& r : rows) list_->addItem(QString::fromStdString(r));
    list_->setCurrentRow(0);
    list_->setMinimumWidth(list_->sizeHintForColumn(0) + 40);
    nameControl(list_, label, QStringLiteral("Devices"));
    connect(list_, &QListWidget::itemDoubleClicked, this, &MidiOutSetupDialog::accept);
    layout->addWidget(label);
    layout->addWidget(list_);
    layout->addWidget(okButton(this));
}

void MidiOutSetupDialog::accept() {
    const int row = list_->currentRow();
    if (row < 0 || list_->selectedItems().isEmpty()) return;
    device_ = row - 1;
    QDialog::accept();
}

PercussionChannelDialog::PercussionChannelDialog(int channel, QWidget* parent) : OkOnlyDialog(parent) {
    setWindowTitle(QStringLiteral("Percussion Channel"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Channel"), this);
    channels_ = new QComboBox(this);
    for (int c = 0; c < 16; ++c) channels_->addItem(QString::number(c));
    channels_->setCurrentIndex(channel);
    nameControl(channels_, label, QStringLiteral("Channel"));
    layout->addWidget(label);
    layout->addWidget(channels_);
    layout->addWidget(okButton(this));
    fitCaption(this);
}

int PercussionChannelDialog::channel() const { return channels_->currentIndex(); }

}  // namespace tarrowin::app

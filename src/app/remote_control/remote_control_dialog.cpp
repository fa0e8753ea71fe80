#include "remote_control_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/accessibility.h"

namespace tarrowin::app {

RemoteControlDialog::RemoteControlDialog(const RemoteSettings& settings, const QString& status, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Remote Control (OSC)"));
    auto* layout = new QVBoxLayout(this);
    // The dialog grows with the warning rather than squeezing the fields.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    enabled_ = new QCheckBox(QStringLiteral("&Listen for OSC messages"), this);
    enabled_->setChecked(settings.enabled);
    enabled_->setWhatsThis(QStringLiteral("Lets OSC controllers play and edit the document (/tarrowin/...)."));
    layout->addWidget(enabled_);

    auto* form = new QFormLayout;
    auto* portLabel = new QLabel(QStringLiteral("UDP &port:"), this);
    port_ = new QSpinBox(this);
    port_->setRange(1024, 65535);
    port_->setValue(settings.port);
    nameControl(port_, portLabel, QStringLiteral("UDP port"));
    form->addRow(portLabel, port_);
    auto* answerLabel = new QLabel(QStringLiteral("&Answers to port:"), this);
    answerPort_ = new QSpinBox(this);
    answerPort_->setRange(0, 65535);
    answerPort_->setSpecialValueText(QStringLiteral("the sender's"));
    answerPort_->setValue(settings.answerPort);
    answerPort_->setWhatsThis(QStringLiteral("Where /tarrowin/state and /tarrowin/error go: the port each message came "
                                             "from, or a port the controller listens on."));
    nameControl(answerPort_, answerLabel, QStringLiteral("Answers to port"));
    form->addRow(answerLabel, answerPort_);
    layout->addLayout(form);

    thisComputer_ = new QRadioButton(QStringLiteral("Only from &this computer (127.0.0.1)"), this);
    allNetworks_ = new QRadioButton(QStringLiteral("From &every network"), this);
    (settings.allNetworks ? allNetworks_ : thisComputer_)->setChecked(true);
    warning_ = new QLabel(
        QStringLiteral("Anyone on these networks can then play and change the document."), this);
    warning_->setWordWrap(true);
    warning_->setMinimumWidth(warning_->fontMetrics().horizontalAdvance(QStringLiteral("Anyone on these networks can then")));
    warning_->setStyleSheet(QStringLiteral("color: #a40000; font-weight: bold;"));
    layout->addWidget(thisComputer_);
    layout->addWidget(allNetworks_);
    layout->addWidget(warning_);

    status_ = new QLabel(status, this);
    describeControl(status_, QStringLiteral("Remote control status"));
    layout->addWidget(status_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(enabled_, &QCheckBox::toggled, this, &RemoteControlDialog::stabilize);
    connect(allNetworks_, &QRadioButton::toggled, this, &RemoteControlDialog::stabilize);
    stabilize();
}

void RemoteControlDialog::stabilize() {
    const bool on = enabled_->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(port_), static_cast<QWidget*>(answerPort_),
                       static_cast<QWidget*>(thisComputer_), static_cast<QWidget*>(allNetworks_)})
        w->setEnabled(on);
    warning_->setVisible(on && allNetworks_->isChecked());
}

RemoteSettings RemoteControlDialog::settings() const {
    return {enabled_->isChecked(), port_->value(), allNetworks_->isChecked(), answerPort_->value()};
}

void RemoteControlDialog::setStatus(const QString& status) { status_->setText(status); }

}  // namespace tarrowin::app

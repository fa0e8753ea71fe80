#include "voice_midi_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "app/accessibility.h"
#include "app/pan_control.h"
#include "engine/tables.h"

namespace tarrowin::app {

namespace {

QString text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QComboBox* makeList(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setMaxVisibleItems(16);
    return box;
}

}  // namespace

VoiceMidiValues VoiceMidiValues::of(const VoiceSettings& v) {
    return {v.instrument, v.tied, v.channel, v.percussionKey, v.inverted != 0, v.matchScale != 0, v.dynamicIndex, v.pan};
}

void VoiceMidiValues::applyTo(VoiceSettings& v) const {
    v.instrument = instrument;
    v.tied = tied;
    v.channel = channel;
    v.percussionKey = percussionKey;
    v.pan = pan;
    v.setDynamic(dynamicIndex);
    v.setInversion(inverted, matchScale);
}

VoiceMidiDialog::VoiceMidiDialog(int voice, QWidget* parent) : QDialog(parent), voice_(voice) {
    setWindowTitle(QStringLiteral("Extra - voice %1").arg(voice + 1));
    auto* grid = new QGridLayout(this);

    // Made in the order Tab visits them.
    auto* instrumentCaption = new QLabel(QStringLiteral("&Instrument"), this);
    instrument_ = makeList(this);
    for (int p = 0; p < kInstruments; ++p) instrument_->addItem(QString::fromStdString(instrumentLabel(p)));
    nameControl(instrument_, instrumentCaption, QStringLiteral("Instrument"));

    auto* modeLabel = new QLabel(QStringLiteral("M&ode"), this);
    mode_ = makeList(this);
    for (auto label : kModeLabels) mode_->addItem(text(label));
    nameControl(mode_, modeLabel, QStringLiteral("Mode"));

    auto* channelLabel = new QLabel(QStringLiteral("&Channel"), this);
    channel_ = makeList(this);
    for (int c = 0; c < 16; ++c) channel_->addItem(QString::number(c));
    nameControl(channel_, channelLabel, QStringLiteral("Channel"));

    percussionBox_ = new QCheckBox(QStringLiteral("&Percussion"), this);
    percussionKey_ = makeList(this);
    for (auto label : kPercussionLabels) percussionKey_->addItem(text(label));
    nameControl(percussionKey_, QStringLiteral("Percussion"));

    auto* panLabel = new QLabel(QStringLiteral("Pa&n"), this);
    pan_ = new PanControl(this);
    nameControl(pan_->bar(), panLabel, QStringLiteral("Pan"));

    auto* dynamicBox = new QGroupBox(QStringLiteral("&Dynamic"), this);
    auto* dynamicLayout = new QHBoxLayout(dynamicBox);
    dynamic_ = new QButtonGroup(this);
    for (int d = 0; d < kDynamics; ++d) {
        auto* radio = new QRadioButton(text(kDynamicLabels[static_cast<size_t>(d)]), dynamicBox);
        dynamic_->addButton(radio, d);
        dynamicLayout->addWidget(radio);
    }

    auto* inversionBox = new QGroupBox(QStringLiteral("Inversion"), this);
    auto* inversionLayout = new QHBoxLayout(inversionBox);
    inverted_ = new QCheckBox(QStringLiteral("In&verted"), inversionBox);
    matchScale_ = new QCheckBox(QStringLiteral("Match &Scale"), inversionBox);
    inversionLayout->addWidget(inverted_);
    inversionLayout->addWidget(matchScale_);

    tuned_ = new QCheckBox(QStringLiteral("&Tuned"), this);
    tuned_->setToolTip(QStringLiteral("Plays in the document's tuning (Options > Tuning...); unticked, in equal temperament"));

    fixedNote_ = new QLabel(this);
    fixedNote_->setWordWrap(true);
    fixedNote_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    grid->addWidget(instrumentCaption, 0, 0);
    grid->addWidget(instrument_, 0, 1, 1, 3);
    grid->addWidget(modeLabel, 1, 0);
    grid->addWidget(mode_, 1, 1);
    grid->addWidget(channelLabel, 1, 2, Qt::AlignRight);
    grid->addWidget(channel_, 1, 3);
    grid->addWidget(percussionBox_, 2, 0);
    grid->addWidget(percussionKey_, 2, 1, 1, 3);
    grid->addWidget(panLabel, 3, 0);
    grid->addWidget(pan_, 3, 1, 1, 3);
    grid->addWidget(dynamicBox, 4, 0, 1, 4);
    grid->addWidget(inversionBox, 5, 0, 1, 4);
    grid->addWidget(tuned_, 6, 0, 1, 4);
    grid->addWidget(fixedNote_, 7, 0, 1, 4);
    grid->addWidget(buttons, 8, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    connect(channel_, &QComboBox::activated, this, &VoiceMidiDialog::channelChosen);
    // toggled, not clicked: a screen reader's Toggle action toggles without a click.
    connect(percussionBox_, &QCheckBox::toggled, this, &VoiceMidiDialog::percussionToggled);
    connect(inverted_, &QCheckBox::toggled, matchScale_, &QCheckBox::setEnabled);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void VoiceMidiDialog::load(const VoiceMidiValues& values, int percussionChannel, bool tuned, bool tuningFixed,
                           bool channelFixed) {
    tuned_->setChecked(tuned);
    tuningFixed_ = tuningFixed;
    channel_->setEnabled(!channelFixed);
    percussionBox_->setEnabled(!channelFixed);
    // Controls greyed out only while a play runs say why, in the dialog itself.
    fixedNote_->setText(channelFixed ? QStringLiteral("Tuned, Channel and Percussion can change once the play ends: "
                                                      "a play keeps the tuning it began with, on its channels.")
                                     : QStringLiteral("Tuned can change once the play ends: "
                                                      "a play keeps the tuning it began with."));
    fixedNote_->setVisible(tuningFixed || channelFixed);
    percussionChannel_ = percussionChannel;
    instrument_->setCurrentIndex(values.instrument);
    mode_->setCurrentIndex(values.tied);
    channel_->setCurrentIndex(values.channel);
    percussionKey_->setCurrentIndex(values.percussionKey);
    pan_->setValue(values.pan);
    if (QAbstractButton* b = dynamic_->button(values.dynamicIndex)) b->setChecked(true);
    inverted_->setChecked(values.inverted);
    matchScale_->setChecked(values.matchScale);
    matchScale_->setEnabled(values.inverted);
    showPercussion(values.channel == percussionChannel_);
    instrument_->setFocus();
}

VoiceMidiValues VoiceMidiDialog::values() const {
    VoiceMidiValues v;
    v.instrument = instrument_->currentIndex();
    v.tied = mode_->currentIndex();
    v.channel = channel_->currentIndex();
    v.percussionKey = percussionKey_->currentIndex();
    v.inverted = inverted_->isChecked();
    v.matchScale = matchScale_->isChecked();
    v.dynamicIndex = dynamic_->checkedId();
    v.pan = pan_->value();
    return v;
}

bool VoiceMidiDialog::percussion() const { return percussionBox_->isChecked(); }

bool VoiceMidiDialog::tuned() const { return tuned_->isChecked(); }

void VoiceMidiDialog::channelChosen(int channel) { showPercussion(channel == percussionChannel_); }

void VoiceMidiDialog::percussionToggled(bool on) {
    // Ticked: the voice plays on the percussion channel. Unticked: back on its own channel,
    // which may itself be the percussion channel (voice 10 by default).
    const int channel = on ? percussionChannel_ : voice_;
    channel_->setCurrentIndex(channel);
    showPercussion(channel == percussionChannel_);
}

void VoiceMidiDialog::showPercussion(bool on) {
    {
        const QSignalBlocker block(percussionBox_);
        percussionBox_->setChecked(on);
    }
    instrument_->setEnabled(!on);
    percussionKey_->setEnabled(on);
    tuned_->setEnabled(!on && !tuningFixed_);
}

}  // namespace tarrowin::app

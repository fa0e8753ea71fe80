#include "voice_row.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/accessibility.h"
#include "app/form_fields.h"
#include "engine/tables.h"

namespace tarrowin::app {

const std::array<const char*, VoiceRow::ColumnCount> VoiceRow::kHeaders = {
    "Voices", "Param1", "Param2", "Offset", "Modulate", "Octaves", "Note", "Scale", "Note value", "Extra"};

namespace {

// What Shift+F1 tells about each column; an edit's help ends with its range.
const char* const kColumnHelp[VoiceRow::ColumnCount] = {
    "Switches the voice on or off; also while the current settings play.",
    "Morse-Thue: the base in which the step's digits are added up",
    "Morse-Thue: the step is multiplied by this before its digits are added up",
    "Shifts the steps the voice plays, not its notes in time",
    "Transposes the voice every N steps or after runs of random length; ticking it opens its settings.",
    "How many octaves the voice's notes spread over.",
    "The lowest note of the voice.",
    "The scale the generator's values are folded into; \"User defined\" opens your own.",
    "How long each note is; \"Other\" asks for a length in 32nd notes.",
    "Instrument, channel, pan, dynamic, play mode and inversion of the voice.",
};

QString describe(VoiceRow::Column c, int voice) {
    return QStringLiteral("%1 voice %2").arg(QLatin1String(VoiceRow::kHeaders[c])).arg(voice + 1);
}

QString columnHelp(VoiceRow::Column c) {
    QString help = QString::fromLatin1(kColumnHelp[c]);
    if (c == VoiceRow::Param1 || c == VoiceRow::Param2 || c == VoiceRow::Offset)
        help += QStringLiteral(" (%1..%2).").arg(VoiceRow::range(c).min).arg(VoiceRow::range(c).max);
    return help;
}

QLineEdit* makeEdit(VoiceRow::Column c, int voice, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setMaxLength(11);
    // Each column as wide as its longest value, so every value shows whole.
    fitField(e, VoiceRow::range(c).min, VoiceRow::range(c).max, FieldWidth::Fixed);
    nameControl(e, describe(c, voice));
    return e;
}

}  // namespace

VoiceRow::VoiceRow(int voice, QGridLayout* grid, int gridRow, QWidget* parent) : QObject(parent), voice_(voice) {
    voiceButton_ = new QPushButton(QString::number(voice + 1), parent);
    voiceButton_->setCheckable(true);
    voiceButton_->setFixedWidth(voiceButton_->fontMetrics().horizontalAdvance(QStringLiteral("16")) + 22);
    describeControl(voiceButton_, describe(Voice, voice));
    param1_ = makeEdit(Param1, voice, parent);
    param2_ = makeEdit(Param2, voice, parent);
    offset_ = makeEdit(Offset, voice, parent);
    modulate_ = new QCheckBox(QStringLiteral("Yes"), parent);
    describeControl(modulate_, describe(Modulate, voice));
    octaves_ = makeList(Octaves, parent);
    for (auto label : kOctaveLabels) octaves_->addItem(QString::fromUtf8(label.data(), qsizetype(label.size())));
    note_ = makeList(Note, parent);
    for (int n = 0; n < kStartNotes; ++n) note_->addItem(QString::fromStdString(noteName(n)));
    scale_ = makeList(Scale, parent);
    for (auto label : kScaleLabels) scale_->addItem(QString::fromUtf8(label.data(), qsizetype(label.size())));
    noteValue_ = makeList(NoteValue, parent);
    for (int r = 0; r < kNoteValueRows; ++r) noteValue_->addItem(QString::fromStdString(noteValueLabel(r, 8.0f)));
    set_ = new QPushButton(QStringLiteral("Set"), parent);
    set_->setFixedWidth(set_->fontMetrics().horizontalAdvance(QStringLiteral("Set")) + 22);
    describeControl(set_, describe(Extra, voice));

    QWidget* controls[ColumnCount] = {voiceButton_, param1_,   param2_, offset_,    modulate_,
                                      octaves_,     note_,     scale_,  noteValue_, set_};
    for (int c = 0; c < ColumnCount; ++c) {
        controls[c]->setWhatsThis(columnHelp(static_cast<Column>(c)));
        grid->addWidget(controls[c], gridRow, c);
    }

    // toggled, not clicked: a screen reader's Toggle action toggles without a click.
    connect(voiceButton_, &QPushButton::toggled, this, [this](bool on) { Q_EMIT voiceToggled(voice_, on); });
    for (QLineEdit* e : {param1_, param2_, offset_}) e->installEventFilter(this);
    connect(modulate_, &QCheckBox::toggled, this, [this](bool on) { Q_EMIT modulateClicked(voice_, on); });
    connect(set_, &QPushButton::clicked, this, [this] { Q_EMIT setClicked(voice_); });
}

QComboBox* VoiceRow::makeList(Column c, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setMaxVisibleItems(16);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    nameControl(box, describe(c, voice_));
    connect(box, &QComboBox::activated, this, [this, c](int row) { Q_EMIT listChosen(voice_, c, row); });
    return box;
}

bool VoiceRow::eventFilter(QObject* watched, QEvent* event) {
    if (passesUndoKeyToDocument(watched, event)) return true;
    if (leavesField(event)) Q_EMIT editLeft(voice_, watched == param1_ ? Param1 : watched == param2_ ? Param2 : Offset);
    return false;
}

void VoiceRow::show(const VoiceSettings& v) {
    const QSignalBlocker b0(voiceButton_), b1(modulate_), b2(octaves_), b3(note_), b4(scale_), b5(noteValue_);
    voiceButton_->setChecked(v.enabled != 0);
    showNumber(param1_, v.param1);
    showNumber(param2_, v.param2);
    showNumber(offset_, v.offset);
    modulate_->setChecked(v.modulate != 0);
    octaves_->setCurrentIndex(v.octavesIndex);
    note_->setCurrentIndex(v.startNote);
    scale_->setCurrentIndex(v.scaleIndex);
    noteValue_->setItemText(kOtherNoteValue, QString::fromStdString(noteValueLabel(kOtherNoteValue, v.noteValue)));
    noteValue_->setCurrentIndex(v.noteValueIndex);
}

QLineEdit* VoiceRow::edit(Column c) const {
    switch (c) {
        case Param1: return param1_;
        case Param2: return param2_;
        case Offset: return offset_;
        default: return nullptr;
    }
}

IntRange VoiceRow::range(Column c) {
    switch (c) {
        case Param1: return kParam1Range;
        case Param2: return kParam2Range;
        default: return kOffsetRange;
    }
}

QWidget* VoiceRow::control(Column c) const {
    QWidget* controls[ColumnCount] = {voiceButton_, param1_, param2_, offset_,    modulate_,
                                      octaves_,     note_,   scale_,  noteValue_, set_};
    return controls[c];
}

void VoiceRow::setSettingsEnabled(bool on) {
    for (int c = Param1; c < ColumnCount; ++c) control(static_cast<Column>(c))->setEnabled(on);
}

void VoiceRow::setVoiceButtonEnabled(bool on) { voiceButton_->setEnabled(on); }

}  // namespace tarrowin::app

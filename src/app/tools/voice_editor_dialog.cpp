#include "voice_editor_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "app/form_fields.h"
#include "app/pan_control.h"
#include "app/voice_dialogs/coefficient_dialog.h"
#include "app/voice_dialogs/modulate_dialog.h"
#include "app/voice_dialogs/note_value_dialog.h"
#include "app/voice_dialogs/user_scale_dialog.h"
#include "app/workspace.h"
#include "engine/tables.h"
#include "voice_toggles.h"

namespace tarrowin::app {

namespace {

using Scope = DocumentController::Scope;

size_t at(ChangeFlag f) { return static_cast<size_t>(f); }

QString text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

template <class Labels>
QStringList linesOf(const Labels& labels) {
    QStringList lines;
    for (const auto& label : labels) lines << text(label);
    return lines;
}

QStringList linesOf(int count, std::string (*label)(int)) {
    QStringList lines;
    for (int i = 0; i < count; ++i) lines << QString::fromStdString(label(i));
    return lines;
}

// The note values as the editor lists them: "Whole" .. "Dotted 16th", then "Other".
QStringList noteValueLines() {
    QStringList lines = linesOf(kNoteValueLabels);
    lines[kOtherNoteValue] = QStringLiteral("Other");
    return lines;
}

}  // namespace

VoiceEditorDialog::VoiceEditorDialog(Workspace& workspace, MultipleVoiceEditor& members, QWidget* parent)
    : QDialog(parent), ws_(workspace), m_(members) {
    setWindowTitle(QStringLiteral("Multiple Voice Editor"));
    m_.open(ws_.document.doc());

    voices_ = new VoiceToggles(this);
    connect(voices_, &VoiceToggles::toggled, this, [this](int v, bool on) { m_.voices[static_cast<size_t>(v)] = on; });

    auto* actions = new QGroupBox(QStringLiteral("Actions"), this);
    auto* actionsLayout = new QVBoxLayout(actions);
    changeSettings_ = makeButton(QStringLiteral("Change Settings"));
    changeEvents_ = makeButton(QStringLiteral("Change Selected Events"));
    actionsLayout->addWidget(changeSettings_);
    actionsLayout->addWidget(changeEvents_);
    connect(changeSettings_, &QPushButton::clicked, this, &VoiceEditorDialog::changeSettings);
    connect(changeEvents_, &QPushButton::clicked, this, &VoiceEditorDialog::changeSelectedEvents);
    close_ = makeButton(QStringLiteral("Close"));
    connect(close_, &QPushButton::clicked, this, &VoiceEditorDialog::reject);

    auto* right = new QVBoxLayout;
    right->addWidget(voices_);
    right->addWidget(makeEvents(), 1);
    right->addWidget(actions);
    right->addWidget(close_, 0, Qt::AlignRight);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(makeChanges());
    layout->addLayout(right, 1);
    orderTabs();
    showMembers();
}

void VoiceEditorDialog::orderTabs() {
    // The focus chain follows creation order, in which the value controls come before
    // their flags and the voices before everything.
    QList<QWidget*> order;
    for (int i = 0; i < kChangeFlags; ++i) {
        order << flags_[static_cast<size_t>(i)];
        QWidget* value = values_[static_cast<size_t>(i)];
        if (value->focusPolicy() != Qt::NoFocus) {
            order << value;
            continue;
        }
        // The pan and dynamic rows: the controls inside, left to right.
        for (QWidget* w : value->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->focusPolicy() != Qt::NoFocus) order << w;
    }
    order << allFlags_ << noFlags_;
    for (int v = 0; v < kVoices; ++v) order << voices_->toggle(v);
    order << events_ << allEvents_ << noEvents_ << changeSettings_ << changeEvents_ << close_;
    for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QPushButton* VoiceEditorDialog::voiceToggle(int v) const { return voices_->toggle(v); }

QPushButton* VoiceEditorDialog::makeButton(const QString& caption, const QString& description) {
    auto* b = new QPushButton(caption, this);
    // Enter does nothing in this dialog: no button is a default one.
    b->setAutoDefault(false);
    if (!description.isEmpty()) describeControl(b, description);
    return b;
}

QComboBox* VoiceEditorDialog::makeCombo(ChangeFlag f, const QStringList& lines) {
    auto* combo = new QComboBox(this);
    combo->addItems(lines);
    combo->setMaxVisibleItems(16);
    nameControl(combo, text(changeFlagLabel(f)));
    return combo;
}

QWidget* VoiceEditorDialog::makeChanges() {
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);

    algorithm_ = makeCombo(ChangeFlag::Algorithm, linesOf(kEditorAlgorithmLabels));
    param1_ = new QLineEdit(this);
    param2_ = new QLineEdit(this);
    nameControl(param1_, QStringLiteral("Param1"));
    nameControl(param2_, QStringLiteral("Param2"));
    for (QLineEdit* e : {param1_, param2_}) {
        e->setMaxLength(11);
        e->installEventFilter(this);
    }
    fitField(param1_, kParam1Range.min, kParam1Range.max);
    fitField(param2_, kParam2Range.min, kParam2Range.max);
    modulate_ = new QCheckBox(QStringLiteral("Yes"), this);
    describeControl(modulate_, QStringLiteral("Modulate value"));
    octaves_ = makeCombo(ChangeFlag::Octaves, linesOf(kOctaveLabels));
    note_ = makeCombo(ChangeFlag::Note, linesOf(kStartNotes, noteName));
    scale_ = makeCombo(ChangeFlag::Scale, linesOf(kScaleLabels));
    noteValue_ = makeCombo(ChangeFlag::NoteValue, noteValueLines());
    instrument_ = makeCombo(ChangeFlag::Instrument, linesOf(kInstruments, instrumentLabel));
    mode_ = makeCombo(ChangeFlag::Mode, linesOf(kModeLabels));

    pan_ = new PanControl(this);
    connect(pan_, &PanControl::valueChanged, this, [this](int value) { m_.newPan = value; });

    dynamicBox_ = new QWidget(this);
    auto* dynamicLayout = new QHBoxLayout(dynamicBox_);
    dynamicLayout->setContentsMargins(0, 0, 0, 0);
    dynamic_ = new QButtonGroup(this);
    for (int i = 0; i < kDynamics; ++i) {
        auto* radio = new QRadioButton(text(kDynamicLabels[static_cast<size_t>(i)]), dynamicBox_);
        dynamic_->addButton(radio, i);
        dynamicLayout->addWidget(radio);
    }
    inverted_ = new QCheckBox(QStringLiteral("Inverted"), this);
    describeControl(inverted_, QStringLiteral("Inverted value"));
    matchScale_ = new QCheckBox(QStringLiteral("Match Scale"), this);
    describeControl(matchScale_, QStringLiteral("Match Scale value"));
    setCoefficient_ = makeButton(QStringLiteral("Set Coefficient"));

    values_ = {algorithm_, param1_,      param2_, modulate_,    octaves_,    note_,       scale_,          noteValue_,
               instrument_, mode_,       pan_, dynamicBox_, inverted_,   matchScale_, setCoefficient_};
    for (int i = 0; i < kChangeFlags; ++i) {
        const auto f = static_cast<ChangeFlag>(i);
        auto* flag = new QCheckBox(text(changeFlagLabel(f)), this);
        flags_[at(f)] = flag;
        grid->addWidget(flag, i, 0);
        grid->addWidget(values_[at(f)], i, 1);
        // toggled, not clicked: a screen reader's Toggle action toggles without a click.
        connect(flag, &QCheckBox::toggled, this, [this, f](bool on) {
            m_.setFlag(f, on);
            showMembers();
        });
    }
    allFlags_ = makeButton(QStringLiteral("All"), QStringLiteral("All change flags"));
    noFlags_ = makeButton(QStringLiteral("None"), QStringLiteral("No change flags"));
    auto* flagButtons = new QHBoxLayout;
    flagButtons->addWidget(allFlags_);
    flagButtons->addWidget(noFlags_);
    flagButtons->addStretch(1);
    grid->addLayout(flagButtons, kChangeFlags, 0, 1, 2);
    grid->setRowStretch(kChangeFlags + 1, 1);
    connect(allFlags_, &QPushButton::clicked, this, [this] {
        m_.allFlags();
        showMembers();
    });
    connect(noFlags_, &QPushButton::clicked, this, [this] {
        m_.noFlags();
        showMembers();
    });

    const auto chosen = [this](QComboBox* combo, int32_t MultipleVoiceEditor::*member) {
        connect(combo, &QComboBox::activated, this, [this, member](int row) { m_.*member = row; });
    };
    chosen(algorithm_, &MultipleVoiceEditor::algorithmChoice);
    chosen(octaves_, &MultipleVoiceEditor::octavesChoice);
    chosen(note_, &MultipleVoiceEditor::noteChoice);
    chosen(instrument_, &MultipleVoiceEditor::instrumentChoice);
    chosen(mode_, &MultipleVoiceEditor::modeChoice);
    connect(scale_, &QComboBox::activated, this, &VoiceEditorDialog::scaleChosen);
    connect(noteValue_, &QComboBox::activated, this, &VoiceEditorDialog::noteValueChosen);
    connect(modulate_, &QCheckBox::toggled, this, &VoiceEditorDialog::modulateToggled);
    connect(dynamic_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) m_.newDynamic = id;
    });
    connect(inverted_, &QCheckBox::toggled, this, [this](bool on) {
        m_.newInverted = on;
        showMembers();
    });
    connect(matchScale_, &QCheckBox::toggled, this, [this](bool on) { m_.newMatchScale = on; });
    connect(setCoefficient_, &QPushButton::clicked, this, &VoiceEditorDialog::setCoefficient);
    return box;
}

QWidget* VoiceEditorDialog::makeEvents() {
    auto* group = new QGroupBox(QStringLiteral("Events"), this);
    auto* layout = new QGridLayout(group);
    events_ = new QListWidget(group);
    events_->setSelectionMode(QAbstractItemView::MultiSelection);
    nameControl(events_, QStringLiteral("Events"));
    for (int i = 0; i < ws_.document.doc().composition().count(); ++i) events_->addItem(QString::number(i));
    allEvents_ = makeButton(QStringLiteral("All"), QStringLiteral("All events"));
    noEvents_ = makeButton(QStringLiteral("None"), QStringLiteral("No events"));
    layout->addWidget(events_, 0, 0, 3, 1);
    layout->addWidget(allEvents_, 0, 1);
    layout->addWidget(noEvents_, 1, 1);
    connect(allEvents_, &QPushButton::clicked, events_, &QListWidget::selectAll);
    connect(noEvents_, &QPushButton::clicked, events_, &QListWidget::clearSelection);
    return group;
}

void VoiceEditorDialog::showMembers() {
    voices_->showChoice(m_.voices);
    for (int i = 0; i < kChangeFlags; ++i) {
        const QSignalBlocker block(flags_[static_cast<size_t>(i)]);
        flags_[static_cast<size_t>(i)]->setChecked(m_.change[static_cast<size_t>(i)]);
    }
    const std::pair<QComboBox*, int32_t> combos[] = {
        {algorithm_, m_.algorithmChoice}, {octaves_, m_.octavesChoice},   {note_, m_.noteChoice},
        {scale_, m_.scaleChoice},         {noteValue_, m_.noteValueChoice}, {instrument_, m_.instrumentChoice},
        {mode_, m_.modeChoice},
    };
    for (const auto& [combo, row] : combos) combo->setCurrentIndex(row < combo->count() ? row : -1);
    param1_->setText(QString::number(m_.newParam1));
    param2_->setText(QString::number(m_.newParam2));
    const std::pair<QCheckBox*, bool> checks[] = {
        {modulate_, m_.newModulate}, {inverted_, m_.newInverted}, {matchScale_, m_.newMatchScale}};
    for (const auto& [check, on] : checks) {
        const QSignalBlocker block(check);
        check->setChecked(on);
    }
    pan_->setValue(m_.newPan);
    // No dynamic chosen: every radio button off, which an exclusive group does not allow.
    dynamic_->setExclusive(false);
    for (QAbstractButton* b : dynamic_->buttons()) {
        const QSignalBlocker block(b);
        b->setChecked(dynamic_->id(b) == m_.newDynamic);
    }
    dynamic_->setExclusive(true);

    const VoiceEditorEnabling e = m_.enabling(ws_.document.doc());
    for (int i = 0; i < kChangeFlags; ++i) values_[static_cast<size_t>(i)]->setEnabled(e.valueControl[static_cast<size_t>(i)]);
    for (QWidget* w : {static_cast<QWidget*>(events_), static_cast<QWidget*>(allEvents_),
                       static_cast<QWidget*>(noEvents_), static_cast<QWidget*>(changeEvents_)})
        w->setEnabled(e.eventControls);
}

void VoiceEditorDialog::modulateToggled(bool on) {
    m_.newModulate = on;
    if (!on) return;
    ModulateDialog dialog(QStringLiteral("Modulate"), m_.newModulateMode, m_.newModulateEvery, this);
    if (dialog.exec() == QDialog::Accepted) {
        m_.newModulateMode = dialog.mode();
        m_.newModulateEvery = dialog.every();
        return;
    }
    m_.newModulate = false;
    const QSignalBlocker block(modulate_);
    modulate_->setChecked(false);
}

void VoiceEditorDialog::scaleChosen(int row) {
    m_.scaleChoice = row;
    if (row != kUserDefinedScale) return;
    UserScaleDialog editor(QStringLiteral("User Scale"), this);
    editor.setMarks(m_.userScaleEditorMarks());
    editor.exec();  // ends only through OK, with at least three notes
    m_.userScaleEditorClosed(editor.marks());
}

void VoiceEditorDialog::noteValueChosen(int row) {
    m_.noteValueChoice = row;
    if (row != kOtherNoteValue) return;
    NoteValueDialog dialog(QStringLiteral("Other value"), m_.otherNoteValue, this);
    dialog.exec();  // ends only through OK, with a value in range
    m_.otherNoteValue = dialog.value();
}

void VoiceEditorDialog::setCoefficient() {
    if (!takeFields()) return;
    const auto title = m_.coefficientDialogTitle();
    if (!title) return;
    const auto a = static_cast<Algorithm>(m_.algorithmChoice);
    VoiceSettings held;
    m_.coefficients.storeInto(held);
    const auto dialog = makeCoefficientDialog(a, text(*title), held, this);
    if (!dialog || dialog->exec() != QDialog::Accepted) return;
    const auto rules = coefficientRules(a);
    for (size_t i = 0; i < rules.size(); ++i) held.*rules[i].member = dialog->value(static_cast<int>(i));
    m_.coefficients = Coefficients::of(held);
}

bool VoiceEditorDialog::eventFilter(QObject* watched, QEvent* event) {
    if (leavesField(event)) takeField(static_cast<QLineEdit*>(watched));
    return QDialog::eventFilter(watched, event);
}

bool VoiceEditorDialog::takeField(QLineEdit* edit) {
    const bool first = edit == param1_;
    const IntRange range = first ? kParam1Range : kParam2Range;
    const auto value = readIntegerField(edit, range.min, range.max);
    if (!value) return false;
    (first ? m_.newParam1 : m_.newParam2) = *value;
    return true;
}

bool VoiceEditorDialog::takeFields() { return takeField(param1_) && takeField(param2_); }

void VoiceEditorDialog::changeSettings() {
    if (!takeFields()) return;
    ws_.document.change(QStringLiteral("Change Settings"), Scope::Current,
                        [this](CTarrowinDoc& d) { return m_.changeSettings(d, ws_.prompter).done; });
}

void VoiceEditorDialog::changeSelectedEvents() {
    if (!takeFields()) return;
    for (int i = 0; i < events_->count() && i < static_cast<int>(m_.eventSelection.size()); ++i)
        m_.eventSelection[static_cast<size_t>(i)] = events_->item(i)->isSelected();
    ws_.document.change(QStringLiteral("Change Selected Events"), Scope::Composition,
                        [this](CTarrowinDoc& d) { return m_.changeSelectedEvents(d, ws_.prompter).done; });
}

}  // namespace tarrowin::app

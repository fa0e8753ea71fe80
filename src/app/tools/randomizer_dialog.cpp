#include "randomizer_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <limits>

#include "app/accessibility.h"
#include "app/form_fields.h"
#include "app/wait_cursor.h"
#include "app/workspace.h"
#include "picker_dialog.h"
#include "range_edit_dialog.h"
#include "voice_toggles.h"

namespace tarrowin::app {

namespace {

using Scope = DocumentController::Scope;

constexpr int64_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();

// The boxes in the dialog's four columns, read across.
constexpr std::array<RandomBox, kRandomBoxes> kBoxOrder = {
    RandomBox::Algorithm, RandomBox::Param1,   RandomBox::Param2,     RandomBox::Coefficient,
    RandomBox::Modulate,  RandomBox::Octaves,  RandomBox::Note,       RandomBox::Scale,
    RandomBox::NoteVal,   RandomBox::Instrument, RandomBox::Mode,     RandomBox::Dynamic,
    RandomBox::Inverted,  RandomBox::MatchScl, RandomBox::Pan,        RandomBox::Tempo,
};

// The wait cursor of "Create" gives way to the normal one while a message box shows.
class CursorRestoringPrompter final : public Prompter {
   public:
    explicit CursorRestoringPrompter(Prompter& inner) : inner_(inner) {}
    void message(const std::string& text, const std::string& caption, MessageIcon icon) override {
        QApplication::restoreOverrideCursor();
        inner_.message(text, caption, icon);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    bool ask(const std::string& text, const std::string& caption) override {
        QApplication::restoreOverrideCursor();
        const bool yes = inner_.ask(text, caption);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        return yes;
    }

   private:
    Prompter& inner_;
};

}  // namespace

RandomizerDialog::RandomizerDialog(Workspace& workspace, CompositionRandomizer& members,
                                   std::function<void()> showMaker, QWidget* parent)
    : QDialog(parent), ws_(workspace), m_(members), showMaker_(std::move(showMaker)) {
    setWindowTitle(QStringLiteral("Composition Randomizer"));
    m_.open(ws_.document.doc());

    auto* top = new QHBoxLayout;
    top->addWidget(makeBoxes(), 1);
    voices_ = new VoiceToggles(this);
    connect(voices_, &VoiceToggles::toggled, this, [this](int v, bool on) { m_.voiceChoice[static_cast<size_t>(v)] = on; });
    top->addWidget(voices_);

    auto* actions = new QHBoxLayout;
    auto* all = makeButton(QStringLiteral("All"));
    auto* none = makeButton(QStringLiteral("None"));
    auto* randomize = makeButton(QStringLiteral("Randomize !"));
    auto* close = makeButton(QStringLiteral("Close"));
    auto* seed = new QLabel(QStringLiteral("Seed: %1").arg(ws_.seedInUse()), this);
    seed->setTextInteractionFlags(Qt::TextSelectableByMouse);
    seed->setToolTip(QStringLiteral("Start Tarrowin with --seed %1 to draw the same values again").arg(ws_.seedInUse()));
    for (QPushButton* b : {all, none, randomize}) actions->addWidget(b);
    actions->addStretch(1);
    actions->addWidget(seed);
    actions->addSpacing(12);
    actions->addWidget(close);
    connect(all, &QPushButton::clicked, this, [this] {
        m_.allBoxes();
        showMembers();
    });
    connect(none, &QPushButton::clicked, this, [this] {
        m_.noBoxes();
        showMembers();
    });
    connect(randomize, &QPushButton::clicked, this, &RandomizerDialog::randomize);
    connect(close, &QPushButton::clicked, this, &RandomizerDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(actions);
    layout->addWidget(makeComposition());
    showMembers();
}

QPushButton* RandomizerDialog::voiceToggle(int v) const { return voices_->toggle(v); }

QPushButton* RandomizerDialog::makeButton(const QString& text) {
    auto* b = new QPushButton(text, this);
    // Enter does nothing in this dialog: no button is a default one.
    b->setAutoDefault(false);
    return b;
}

QWidget* RandomizerDialog::makeBoxes() {
    auto* group = new QGroupBox(QStringLiteral("Voices Randomizer"), this);
    auto* grid = new QGridLayout(group);
    for (int i = 0; i < kRandomBoxes; ++i) {
        const RandomBox b = kBoxOrder[static_cast<size_t>(i)];
        const auto label = randomBoxLabel(b);
        auto* box = new QCheckBox(QString::fromUtf8(label.data(), qsizetype(label.size())), group);
        boxes_[static_cast<size_t>(b)] = box;
        grid->addWidget(box, i / 4, i % 4);
        // toggled, not clicked: a screen reader's Toggle action toggles without a click.
        connect(box, &QCheckBox::toggled, this, [this, b](bool on) { boxToggled(b, on); });
    }
    return group;
}

QLineEdit* RandomizerDialog::makeField(const QString& name, QLabel* label) {
    auto* edit = new QLineEdit(this);
    edit->setMaxLength(11);
    fitField(edit, kIntMin, kIntMax, FieldWidth::Fixed);
    nameControl(edit, label, name);
    edit->installEventFilter(this);
    return edit;
}

QWidget* RandomizerDialog::makeComposition() {
    auto* group = new QGroupBox(QStringLiteral("Random Composition"), this);
    auto* grid = new QGridLayout(group);

    const auto labelled = [&](const QString& text, int row, int column) {
        auto* label = new QLabel(text, group);
        QLineEdit* edit = makeField(plainText(text), label);
        grid->addWidget(label, row, column);
        grid->addWidget(edit, row, column + 1);
        return edit;
    };
    numberOfEvents_ = labelled(QStringLiteral("Number of events"), 0, 0);
    minCounter_ = labelled(QStringLiteral("Minimum counter value"), 1, 0);
    maxCounter_ = labelled(QStringLiteral("Maximum counter value"), 2, 0);

    voicesOnOff_ = new QCheckBox(QStringLiteral("Voices On/Off"), group);
    allowSilence_ = new QCheckBox(QStringLiteral("Allow Complete Silence"), group);
    minVoicesOnLabel_ = new QLabel(QStringLiteral("Minimum voices On:"), group);
    minVoicesOn_ = makeField(QStringLiteral("Minimum voices On"), minVoicesOnLabel_);
    createUserScales_ = new QCheckBox(QStringLiteral("Create User Scales"), group);
    createOnlyUserScales_ = new QCheckBox(QStringLiteral("Create Only User Scales"), group);
    grid->addWidget(voicesOnOff_, 0, 2, 1, 2);
    grid->addWidget(allowSilence_, 1, 2, 1, 2);
    grid->addWidget(minVoicesOnLabel_, 2, 2);
    grid->addWidget(minVoicesOn_, 2, 3);
    grid->addWidget(createUserScales_, 0, 4);
    grid->addWidget(createOnlyUserScales_, 1, 4);
    connect(voicesOnOff_, &QCheckBox::toggled, this, [this](bool on) {
        m_.voicesOnOff = on;
        showMembers();
    });
    connect(allowSilence_, &QCheckBox::toggled, this, [this](bool on) {
        m_.allowSilence = on;
        showMembers();
    });
    connect(createUserScales_, &QCheckBox::toggled, this, [this](bool on) {
        m_.setCreateUserScales(on);
        showMembers();
    });
    connect(createOnlyUserScales_, &QCheckBox::toggled, this, [this](bool on) { m_.createOnlyUserScales = on; });

    auto* start = new QGroupBox(QStringLiteral("Start Counter"), group);
    auto* startLayout = new QHBoxLayout(start);
    auto* modes = new QButtonGroup(this);
    const QString modeTexts[] = {QStringLiteral("From Last Event"), QStringLiteral("Start from Zero"),
                                 QStringLiteral("Randomize; Min:")};
    for (int i = 0; i < 3; ++i) {
        startModes_[static_cast<size_t>(i)] = new QRadioButton(modeTexts[i], start);
        modes->addButton(startModes_[static_cast<size_t>(i)], i);
        startLayout->addWidget(startModes_[static_cast<size_t>(i)]);
    }
    randomStartMin_ = makeField(QStringLiteral("Min"), nullptr);
    auto* maxLabel = new QLabel(QStringLiteral("Max:"), start);
    randomStartMax_ = makeField(QStringLiteral("Max"), maxLabel);
    sequential_ = new QCheckBox(QStringLiteral("Sequential"), start);
    startLayout->addWidget(randomStartMin_);
    startLayout->addWidget(maxLabel);
    startLayout->addWidget(randomStartMax_);
    startLayout->addWidget(sequential_);
    startLayout->addStretch(1);
    connect(modes, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) m_.startCounterMode = id;
    });
    connect(sequential_, &QCheckBox::toggled, this, [this](bool on) { m_.sequential = on; });

    auto* create = makeButton(QStringLiteral("Create"));
    connect(create, &QPushButton::clicked, this, &RandomizerDialog::create);
    grid->addWidget(start, 3, 0, 1, 5);
    grid->addWidget(create, 4, 0, 1, 5, Qt::AlignRight);
    grid->setColumnStretch(4, 1);
    return group;
}

void RandomizerDialog::showMembers() {
    for (int i = 0; i < kRandomBoxes; ++i) {
        const QSignalBlocker block(boxes_[static_cast<size_t>(i)]);
        boxes_[static_cast<size_t>(i)]->setChecked(m_.boxes[static_cast<size_t>(i)]);
    }
    voices_->showChoice(m_.voiceChoice);
    const std::pair<QLineEdit*, int64_t> numbers[] = {
        {numberOfEvents_, m_.numberOfEvents}, {minCounter_, m_.minCounter},         {maxCounter_, m_.maxCounter},
        {minVoicesOn_, m_.minVoicesOn},       {randomStartMin_, m_.randomStartMin}, {randomStartMax_, m_.randomStartMax},
    };
    for (const auto& [edit, value] : numbers) edit->setText(QString::number(value));
    const std::pair<QCheckBox*, bool> checks[] = {
        {voicesOnOff_, m_.voicesOnOff},
        {allowSilence_, m_.allowSilence},
        {createUserScales_, m_.createUserScales},
        {createOnlyUserScales_, m_.createOnlyUserScales},
        {sequential_, m_.sequential},
    };
    for (const auto& [check, on] : checks) {
        const QSignalBlocker block(check);
        check->setChecked(on);
    }
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker block(startModes_[static_cast<size_t>(i)]);
        startModes_[static_cast<size_t>(i)]->setChecked(m_.startCounterMode == i);
    }
    const RandomizerEnabling e = m_.enabling();
    allowSilence_->setEnabled(e.allowSilence);
    minVoicesOnLabel_->setEnabled(e.minVoicesOn);
    minVoicesOn_->setEnabled(e.minVoicesOn);
    createUserScales_->setEnabled(e.createUserScales);
    createOnlyUserScales_->setEnabled(e.createOnlyUserScales);
    box(RandomBox::MatchScl)->setEnabled(e.matchScl);
}

void RandomizerDialog::boxToggled(RandomBox b, bool on) {
    const PickerRequest request = m_.setBox(b, on);
    showMembers();
    openPicker(request);
    showMembers();
}

void RandomizerDialog::openPicker(PickerRequest request) {
    Prompter& p = ws_.prompter;
    switch (request) {
        case PickerRequest::None: break;
        case PickerRequest::Algorithms: runPicker(algorithmsModel(m_.algorithms), p, this); break;
        case PickerRequest::NoteValues: runPicker(noteValuesModel(m_.noteValues, p), p, this); break;
        case PickerRequest::Octaves: runPicker(octavesModel(m_.octaves), p, this); break;
        case PickerRequest::Dynamics: runPicker(dynamicsModel(m_.dynamics), p, this); break;
        case PickerRequest::Scales:
            runPicker(scalesModel(m_.scales), p, this);
            m_.scalesPickerClosed();
            break;
        case PickerRequest::Instruments: {
            InstrumentsPicker picker = m_.instrumentsPicker();
            runPicker(instrumentsModel(picker), p, this);
            m_.instrumentsPickerClosed(picker);
            break;
        }
        case PickerRequest::Notes: {
            NotesPicker picker = m_.notesPicker();
            runPicker(notesModel(picker), p, this);
            m_.notesPickerClosed(picker);
            break;
        }
        case PickerRequest::Param1Range: m_.param1RangeClosed(editRange(m_.param1RangePicker(), p, this)); break;
        case PickerRequest::Param2Range: m_.param2RangeClosed(editRange(m_.param2RangePicker(), p, this)); break;
    }
}

bool RandomizerDialog::eventFilter(QObject* watched, QEvent* event) {
    if (leavesField(event)) takeField(static_cast<QLineEdit*>(watched));
    return QDialog::eventFilter(watched, event);
}

bool RandomizerDialog::takeField(QLineEdit* edit) {
    // The three counts are unsigned; the others may be negative and are checked by "Create".
    const bool isUnsigned = edit == numberOfEvents_ || edit == minCounter_ || edit == maxCounter_;
    const auto value = readIntegerField(edit, isUnsigned ? 0 : kIntMin, kIntMax);
    if (!value) return false;
    if (edit == numberOfEvents_) m_.numberOfEvents = static_cast<uint32_t>(*value);
    if (edit == minCounter_) m_.minCounter = static_cast<uint32_t>(*value);
    if (edit == maxCounter_) m_.maxCounter = static_cast<uint32_t>(*value);
    if (edit == minVoicesOn_) m_.minVoicesOn = *value;
    if (edit == randomStartMin_) m_.randomStartMin = *value;
    if (edit == randomStartMax_) m_.randomStartMax = *value;
    return true;
}

bool RandomizerDialog::takeFields() {
    for (QLineEdit* edit : {numberOfEvents_, minCounter_, maxCounter_, minVoicesOn_, randomStartMin_, randomStartMax_}) {
        if (!takeField(edit)) return false;
    }
    return true;
}

void RandomizerDialog::randomize() {
    if (!takeFields()) return;
    ws_.document.change(QStringLiteral("Randomize"), Scope::Current, [this](CTarrowinDoc& d) {
        return m_.randomize(d, ws_.random, ws_.prompter).done;
    });
    showMembers();
}

void RandomizerDialog::create() {
    if (!takeFields() || ws_.prompter.refused(m_.checkCreate(ws_.document.doc()))) return;
    {
        const WaitCursor wait;
        showMaker_();
        CursorRestoringPrompter prompter(ws_.prompter);
        CreateOutcome out;
        ws_.document.change(QStringLiteral("Create"), Scope::Composition, [&](CTarrowinDoc& d) {
            out = m_.create(d, ws_.random, prompter);
            return out.started;
        });
        if (out.loadedFirstEvent) {
            ws_.playback.setPlayFromEvent(0);
            ws_.playback.setPlayMode(PlayMode::Composition);
        }
    }
    showMembers();
}

void RandomizerDialog::reject() {
    if (takeFields()) QDialog::reject();
}

}  // namespace tarrowin::app

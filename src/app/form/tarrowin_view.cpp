#include "tarrowin_view.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "app/form_fields.h"
#include "app/voice_dialogs/voice_dialogs.h"
#include "app/workspace.h"
#include "document/counters.h"
#include "engine/tables.h"
#include "round_counter_dialog.h"
#include "tools/event_commands.h"

namespace tarrowin::app {

namespace {

constexpr int64_t kCounterMin = 0, kCounterMax = kMaxCounter;
constexpr int16_t kDenominators[] = {1, 2, 4, 8, 16, 32};

using Scope = DocumentController::Scope;

QString voiceStep(const char* what, int v) { return QStringLiteral("%1 voice %2").arg(QLatin1String(what)).arg(v + 1); }

int32_t fieldOf(const VoiceSettings& v, VoiceRow::Column c) {
    return c == VoiceRow::Param1 ? v.param1 : c == VoiceRow::Param2 ? v.param2 : v.offset;
}

// An unlocked play of the current settings: its End counter runs on with the play and is
// stored when it stops; until then the End edit shows where it started.
bool countsOnPastEnd(const UiState& s) { return s.playing && !s.auditioning && !s.compositionRunning && !s.locked; }

}  // namespace

TarrowinView::TarrowinView(Workspace& workspace, VoiceDialogs& dialogs, QWidget* parent)
    : QWidget(parent), ws_(workspace), dialogs_(dialogs) {
    auto* rowsBox = new QWidget(this);
    auto* grid = new QGridLayout(rowsBox);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    for (int c = 0; c < VoiceRow::ColumnCount; ++c) {
        auto* header = new QLabel(QLatin1String(VoiceRow::kHeaders[static_cast<size_t>(c)]), rowsBox);
        header->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        grid->addWidget(header, 0, c);
    }
    for (int v = 0; v < kVoices; ++v) {
        auto* row = new VoiceRow(v, grid, v + 1, rowsBox);
        rows_[static_cast<size_t>(v)] = row;
        connect(row, &VoiceRow::voiceToggled, this, &TarrowinView::voiceToggled);
        connect(row, &VoiceRow::editLeft, this, &TarrowinView::editLeft);
        connect(row, &VoiceRow::modulateClicked, this, &TarrowinView::modulateClicked);
        connect(row, &VoiceRow::listChosen, this, &TarrowinView::listChosen);
        connect(row, &VoiceRow::setClicked, &dialogs_, &VoiceDialogs::editMidiSettings);
    }

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(rowsBox, 0, Qt::AlignTop);
    layout->addSpacing(6);
    layout->addWidget(makeSidePanel(), 0, Qt::AlignTop);

    connect(&ws_.document, &DocumentController::changed, this, &TarrowinView::refresh);
    connect(&ws_.playback, &PlaybackController::playFromEventChanged, this, &TarrowinView::showPlayFromEvent);
    ws_.document.setTypedInputGate([this](DocumentController::Typed how) {
        return how == DocumentController::Typed::Commit ? takeForm() : validateForm();
    });
}

TarrowinView::~TarrowinView() { ws_.document.setTypedInputGate({}); }

QWidget* TarrowinView::makeSidePanel() {
    auto* panel = new QWidget(this);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);

    auto* tempo = new QGroupBox(QStringLiteral("Tempo"), panel);
    auto* tempoLayout = new QVBoxLayout(tempo);
    tempoLabel_ = new QLabel(tempo);
    tempoLabel_->setAlignment(Qt::AlignCenter);
    describeControl(tempoLabel_, QStringLiteral("Tempo value"));
    tempoBar_ = new QScrollBar(Qt::Horizontal, tempo);
    tempoBar_->setRange(kTempoRange.min, kTempoRange.max);
    tempoBar_->setSingleStep(1);
    tempoBar_->setPageStep(5);
    nameControl(tempoBar_, QStringLiteral("Tempo"));
    tempoBar_->setFocusPolicy(Qt::StrongFocus);  // a scroll bar takes no Tab focus of its own
    globalTempo_ = new QPushButton(QStringLiteral("Global Tempo"), tempo);
    tempoLayout->addWidget(tempoLabel_);
    tempoLayout->addWidget(tempoBar_);
    tempoLayout->addWidget(globalTempo_);
    tempoBar_->setWhatsThis(QStringLiteral("Quarter notes per minute, %1 to %2; the arrows step by 1, the bar by 5.")
                                .arg(kTempoRange.min)
                                .arg(kTempoRange.max));
    globalTempo_->setWhatsThis(QStringLiteral("Gives every event of the composition the tempo shown here."));
    connect(tempoBar_, &QScrollBar::actionTriggered, this, [this](int action) {
        // Home and End on the bar keep the tempo where it is.
        if (action == QAbstractSlider::SliderToMinimum || action == QAbstractSlider::SliderToMaximum)
            tempoBar_->setSliderPosition(ws_.document.doc().global().tempo);
    });
    connect(tempoBar_, &QScrollBar::valueChanged, this, &TarrowinView::tempoMoved);
    connect(globalTempo_, &QPushButton::clicked, this, &TarrowinView::globalTempo);

    auto* counters = new QGroupBox(QStringLiteral("Counters"), panel);
    auto* counterLayout = new QGridLayout(counters);
    auto* startLabel = new QLabel(QStringLiteral("Start"), counters);
    start_ = new QLineEdit(counters);
    nameControl(start_, startLabel, QStringLiteral("Start"));
    auto* endLabel = new QLabel(QStringLiteral("End"), counters);
    end_ = new QLineEdit(counters);
    nameControl(end_, endLabel, QStringLiteral("End"));
    for (QLineEdit* e : {start_, end_}) {
        e->setMaxLength(11);
        fitField(e, kCounterMin, kCounterMax);
        e->installEventFilter(this);
    }
    reset_ = new QPushButton(QStringLiteral("Reset"), counters);
    round_ = new QPushButton(QStringLiteral("Round"), counters);
    lock_ = new QPushButton(QStringLiteral("Lock"), counters);
    counterLayout->addWidget(startLabel, 0, 0, 1, 2);
    counterLayout->addWidget(start_, 1, 0, 1, 2);
    counterLayout->addWidget(endLabel, 2, 0, 1, 2);
    counterLayout->addWidget(end_, 3, 0, 1, 2);
    counterLayout->addWidget(reset_, 4, 0, 1, 2, Qt::AlignHCenter);
    counterLayout->addWidget(round_, 5, 0);
    counterLayout->addWidget(lock_, 5, 1);
    start_->setWhatsThis(
        QStringLiteral("The counter, in 32nd notes, from which the current settings play (0..%1).").arg(kMaxCounter));
    end_->setWhatsThis(QStringLiteral("The counter at which a locked play stops; unlocked, it shows where a play stopped."));
    reset_->setWhatsThis(QStringLiteral("Sets Start, and End unless locked, to 0."));
    round_->setWhatsThis(QStringLiteral("Rounds Start and End to a multiple of a voice's note value."));
    lock_->setWhatsThis(QStringLiteral("Locked, a play stops at End and the counters do not run."));
    connect(reset_, &QPushButton::clicked, this, &TarrowinView::reset);
    connect(round_, &QPushButton::clicked, this, &TarrowinView::round);
    connect(lock_, &QPushButton::clicked, this, &TarrowinView::toggleLock);

    auto* events = new QGroupBox(QStringLiteral("Play from Event"), panel);
    auto* eventsLayout = new QVBoxLayout(events);
    playFromEvent_ = new QComboBox(events);
    nameControl(playFromEvent_, QStringLiteral("Play from Event"));
    update_ = new QPushButton(QStringLiteral("Update"), events);
    eventsLayout->addWidget(playFromEvent_);
    eventsLayout->addWidget(update_);
    connect(playFromEvent_, &QComboBox::activated, this,
            [this](int row) { ws_.playback.setPlayFromEvent(row >= 0 ? std::optional<int>(row) : std::nullopt); });
    playFromEvent_->setWhatsThis(QStringLiteral("The event a composition plays from, and the one Update loads."));
    update_->setWhatsThis(QStringLiteral("Loads the chosen event into the main window."));
    connect(update_, &QPushButton::clicked, this, &TarrowinView::updateFromEvent);

    auto* signature = new QGroupBox(QStringLiteral("Time signature"), panel);
    auto* signatureLayout = new QVBoxLayout(signature);
    numerator_ = new QComboBox(signature);
    for (int n = 1; n <= 32; ++n) numerator_->addItem(QString::number(n));
    nameControl(numerator_, QStringLiteral("Numerator"));
    denominator_ = new QComboBox(signature);
    for (int16_t d : kDenominators) denominator_->addItem(QString::number(d));
    nameControl(denominator_, QStringLiteral("Denominator"));
    signatureLayout->addWidget(numerator_);
    signatureLayout->addWidget(denominator_);
    connect(numerator_, &QComboBox::activated, this, [this](int row) { timeSignatureChosen(true, row); });
    connect(denominator_, &QComboBox::activated, this, [this](int row) { timeSignatureChosen(false, row); });

    for (QWidget* group : {static_cast<QWidget*>(tempo), static_cast<QWidget*>(counters),
                           static_cast<QWidget*>(events), static_cast<QWidget*>(signature)}) {
        group->setMinimumWidth(118);
        column->addWidget(group);
    }
    column->addStretch(1);
    return panel;
}

bool TarrowinView::eventFilter(QObject* watched, QEvent* event) {
    if (passesUndoKeyToDocument(watched, event)) return true;
    if ((watched == start_ || watched == end_) && leavesField(event)) counterLeft(static_cast<QLineEdit*>(watched));
    return QWidget::eventFilter(watched, event);
}

void TarrowinView::initialUpdate() {
    // A new document shows its own values everywhere: typing not yet taken is dropped, never
    // carried into the new document.
    for (const auto& row : rows_) {
        for (const VoiceRow::Column col : {VoiceRow::Param1, VoiceRow::Param2, VoiceRow::Offset})
            row->edit(col)->setModified(false);
    }
    start_->setModified(false);
    end_->setModified(false);
    refresh();
    ws_.seedRandomizer();
}

void TarrowinView::refresh() {
    const CTarrowinDoc& doc = ws_.document.doc();
    for (int v = 0; v < kVoices; ++v) rows_[static_cast<size_t>(v)]->show(doc.voice(v));
    const GlobalSettings& g = doc.global();
    {
        const QSignalBlocker block(tempoBar_);
        tempoBar_->setValue(g.tempo);
    }
    tempoLabel_->setText(QString::number(g.tempo));
    showNumber(start_, g.startCounter);
    showEndCounter();
    if (g.timeSigNumerator >= 1 && g.timeSigNumerator <= numerator_->count())
        numerator_->setCurrentIndex(g.timeSigNumerator - 1);
    for (int r = 0; r < denominator_->count(); ++r) {
        if (kDenominators[r] == g.timeSigDenominator) denominator_->setCurrentIndex(r);
    }
    // "Play from Event" lists every event; "Composition" needs at least one.
    const int events = doc.composition().count();
    if (playFromEvent_->count() != events) {
        const QSignalBlocker block(playFromEvent_);
        while (playFromEvent_->count() > events) playFromEvent_->removeItem(playFromEvent_->count() - 1);
        while (playFromEvent_->count() < events) playFromEvent_->addItem(QString::number(playFromEvent_->count()));
    }
    showPlayFromEvent();
    stabilize(state_);
}

void TarrowinView::showPlayFromEvent() {
    const auto chosen = ws_.playback.playFromEvent();
    const QSignalBlocker block(playFromEvent_);
    playFromEvent_->setCurrentIndex(chosen && *chosen < playFromEvent_->count() ? *chosen : -1);
}

void TarrowinView::stabilize(const UiState& state) {
    const bool counted = countsOnPastEnd(state_);
    state_ = state;
    if (countsOnPastEnd(state) != counted) showEndCounter();
    const CTarrowinDoc& doc = ws_.document.doc();
    // An audition plays a copy of one event: the form stays usable but for Global Tempo.
    // With Edit While Playing the voices and the tempo stay open during a live play too.
    const remote::PlayState play = playStateOf(state);
    const bool running = !remote::countersEditable(play);
    const bool editable = remote::settingsEditable(play);
    for (int v = 0; v < kVoices; ++v) {
        VoiceRow& r = *rows_[static_cast<size_t>(v)];
        r.setVoiceButtonEnabled(!(running && state.compositionRunning));
        r.setSettingsEnabled(editable && doc.voice(v).enabled != 0);
    }
    tempoBar_->setEnabled(editable);
    globalTempo_->setEnabled(!state.playing);
    const bool events = !state.playing && state.compositionMode && state.eventsExist;
    playFromEvent_->setEnabled(events);
    update_->setEnabled(events);
    numerator_->setEnabled(!running);
    denominator_->setEnabled(!running);
    start_->setEnabled(!running);
    reset_->setEnabled(!running);
    lock_->setEnabled(!running);
    end_->setEnabled(!running && !state.locked);
    round_->setEnabled(!running && !state.locked);
    lock_->setText(state.locked ? QStringLiteral("Unlock") : QStringLiteral("Lock"));
}

void TarrowinView::showEndCounter() {
    const GlobalSettings& g = ws_.document.doc().global();
    if (countsOnPastEnd(state_))
        end_->setText(QString::number(g.startCounter));
    else
        showNumber(end_, g.endCounter);
}

bool TarrowinView::validateForm() {
    if (validating_) return false;
    validating_ = true;
    bool ok = true;
    for (int v = 0; v < kVoices && ok; ++v) {
        for (auto c : {VoiceRow::Param1, VoiceRow::Param2, VoiceRow::Offset}) {
            const IntRange r = VoiceRow::range(c);
            if (!readIntegerField(rows_[static_cast<size_t>(v)]->edit(c), r.min, r.max)) {
                ok = false;
                break;
            }
        }
    }
    ok = ok && readIntegerField(start_, kCounterMin, kCounterMax) && readIntegerField(end_, kCounterMin, kCounterMax);
    validating_ = false;
    return ok;
}

bool TarrowinView::takeForm() {
    if (!validateForm()) return false;
    // Every typed value is read before any is committed: a commit refreshes the form.
    struct Typed {
        int v;
        VoiceRow::Column c;
        int32_t value;
    };
    std::vector<Typed> typed;
    for (int v = 0; v < kVoices; ++v) {
        for (auto c : {VoiceRow::Param1, VoiceRow::Param2, VoiceRow::Offset})
            typed.push_back({v, c, static_cast<int32_t>(*parseInteger(rows_[static_cast<size_t>(v)]->edit(c)->text()))});
    }
    const auto end = static_cast<int32_t>(*parseInteger(end_->text()));
    const auto start = static_cast<int32_t>(*parseInteger(start_->text()));
    for (const Typed& t : typed) commitField(t.v, t.c, t.value);
    commitCounter(false, end);
    commitCounter(true, start);
    return true;
}

void TarrowinView::voiceToggled(int v, bool on) {
    if (!validateForm()) {
        refresh();
        return;
    }
    ws_.document.edit(QStringLiteral("Switch %1 voice %2").arg(on ? QLatin1String("on") : QLatin1String("off")).arg(v + 1),
                      Scope::Current, [v, on](CTarrowinDoc& d) { d.setEnabled(v, on); });
    if (state_.playing && !state_.auditioning) ws_.playback.setVoiceOn(v, on);
}

void TarrowinView::editLeft(int v, VoiceRow::Column c) {
    if (validating_ || !validateForm()) return;
    commitField(v, c, static_cast<int32_t>(*parseInteger(rows_[static_cast<size_t>(v)]->edit(c)->text())));
}

void TarrowinView::commitField(int v, VoiceRow::Column c, int32_t value) {
    rows_[static_cast<size_t>(v)]->edit(c)->setModified(false);
    if (value == fieldOf(ws_.document.doc().voice(v), c)) return;
    ws_.document.edit(voiceStep(VoiceRow::kHeaders[c], v), Scope::Current, [v, c, value](CTarrowinDoc& d) {
        if (c == VoiceRow::Param1)
            d.setParam1(v, value);
        else if (c == VoiceRow::Param2)
            d.setParam2(v, value);
        else
            d.setOffset(v, value);
    });
}

void TarrowinView::modulateClicked(int v, bool on) {
    if (!validateForm()) {
        refresh();
        return;
    }
    if (on) {
        dialogs_.editModulation(v);
        return;
    }
    ws_.document.edit(voiceStep("Modulate", v), Scope::Current, [v](CTarrowinDoc& d) { d.setModulate(v, false); });
}

void TarrowinView::listChosen(int v, VoiceRow::Column c, int row) {
    if (!validateForm()) {
        refresh();
        return;
    }
    const VoiceSettings& voice = ws_.document.doc().voice(v);
    const QString name = voiceStep(VoiceRow::kHeaders[c], v);
    switch (c) {
        case VoiceRow::Octaves:
            if (row != voice.octavesIndex)
                ws_.document.edit(name, Scope::Current, [v, row](CTarrowinDoc& d) { d.setOctaves(v, row); });
            break;
        case VoiceRow::Note:
            if (row != voice.startNote)
                ws_.document.edit(name, Scope::Current, [v, row](CTarrowinDoc& d) { d.setStartNote(v, row); });
            break;
        case VoiceRow::Scale:
            if (row == kUserDefinedScale)
                dialogs_.editUserScale(v);
            else if (row != voice.scaleIndex)
                ws_.document.edit(name, Scope::Current, [v, row](CTarrowinDoc& d) { d.setScaleIndex(v, row); });
            break;
        case VoiceRow::NoteValue:
            if (row == kOtherNoteValue)
                dialogs_.editNoteValue(v);
            else if (row != voice.noteValueIndex)
                ws_.document.edit(name, Scope::Current, [v, row](CTarrowinDoc& d) {
                    d.setNoteValue(v, row, static_cast<float>(noteValueTicks(row)));
                });
            break;
        default: break;
    }
    refresh();  // a list left on a row that changed nothing shows the document's row again
}

void TarrowinView::counterLeft(QLineEdit* edit) {
    if (validating_ || !validateForm()) return;
    commitCounter(edit == start_, static_cast<int32_t>(*parseInteger(edit->text())));
}

void TarrowinView::commitCounter(bool start, int32_t value) {
    (start ? start_ : end_)->setModified(false);
    const GlobalSettings& g = ws_.document.doc().global();
    if (value == (start ? g.startCounter : g.endCounter)) return;
    ws_.document.edit(start ? QStringLiteral("Start counter") : QStringLiteral("End counter"), Scope::Current,
                      [start, value](CTarrowinDoc& d) {
                          if (start)
                              d.setStartCounter(value);
                          else
                              d.setEndCounter(value);
                      });
}

void TarrowinView::tempoMoved(int value) {
    tempoLabel_->setText(QString::number(value));
    if (value == ws_.document.doc().global().tempo) return;
    ws_.document.edit(QStringLiteral("Tempo"), Scope::Current, [value](CTarrowinDoc& d) { d.setTempo(value); },
                      DocumentController::TempoMerge);
}

void TarrowinView::reset() {
    const GlobalSettings& g = ws_.document.doc().global();
    const Counters c = resetCounters({g.startCounter, g.endCounter}, ws_.playback.locked());
    ws_.document.edit(QStringLiteral("Reset"), Scope::Current, [c](CTarrowinDoc& d) {
        d.setEndCounter(c.end);
        d.setStartCounter(c.start);
    });
}

void TarrowinView::toggleLock() { ws_.playback.setLocked(!ws_.playback.locked()); }

void TarrowinView::round() {
    if (!takeForm()) return;
    const CTarrowinDoc& doc = ws_.document.doc();
    std::array<bool, kVoices> on{};
    for (int v = 0; v < kVoices; ++v) on[static_cast<size_t>(v)] = doc.voice(v).enabled != 0;
    RoundCounterDialog dialog(on, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const Counters c = roundCounters({doc.global().startCounter, doc.global().endCounter},
                                     noteTicks(doc.voice(dialog.voice()).noteValue), dialog.up());
    ws_.document.edit(QStringLiteral("Round"), Scope::Current, [c](CTarrowinDoc& d) {
        d.setEndCounter(c.end);
        d.setStartCounter(c.start);
    });
}

void TarrowinView::updateFromEvent() {
    const auto chosen = ws_.playback.playFromEvent();
    if (!chosen) return;
    ws_.document.change(QStringLiteral("Update from Event %1").arg(*chosen), Scope::Current,
                        [chosen](CTarrowinDoc& d) { return tarrowin::updateFromEvent(d, chosen).done(); });
}

void TarrowinView::globalTempo() {
    ws_.document.change(QStringLiteral("Global Tempo"), Scope::Composition,
                        [this](CTarrowinDoc& d) { return tarrowin::globalTempo(d, ws_.prompter).done(); });
}

void TarrowinView::timeSignatureChosen(bool numerator, int row) {
    const GlobalSettings& g = ws_.document.doc().global();
    if (numerator && row + 1 != g.timeSigNumerator) {
        ws_.document.edit(QStringLiteral("Time signature"), Scope::Current,
                          [row](CTarrowinDoc& d) { d.setTimeSigNumerator(static_cast<int16_t>(row + 1)); });
    } else if (!numerator && kDenominators[row] != g.timeSigDenominator) {
        ws_.document.edit(QStringLiteral("Time signature"), Scope::Current,
                          [row](CTarrowinDoc& d) { d.setTimeSigDenominator(kDenominators[row]); });
    }
}

}  // namespace tarrowin::app

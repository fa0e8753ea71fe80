// The composition tool windows wired into the main window: the Composition Maker's edits,
// selection, audition and play states, Replace Event on its list, the pickers' memory and
// the range dialog, the Randomizer's enabling rules and its two actions as single undo steps
// with the workspace's seed, the Multiple Voice Editor's rules, actions and Tab order, and
// what the OK of each dialog these tools open keeps (and the Randomizer then draws from).
// Each picker's refusal and the bytes against the command line are checked end to end.
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/tools/composition_maker_window.h"
#include "app/tools/picker_dialog.h"
#include "app/tools/randomizer_dialog.h"
#include "app/tools/range_edit_dialog.h"
#include "app/tools/tool_windows.h"
#include "app/tools/voice_editor_dialog.h"
#include "app_test_support.h"
#include "document/document_file.h"
#include "engine/tables.h"
#include "tools/composition_randomizer.h"
#include "tools/recording_prompter.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

Q_DECLARE_METATYPE(tarrowin::app::UiState)

namespace {

QPushButton* button(QWidget* root, const QString& text) {
    QPushButton* b = named<QPushButton>(root, QString(text).remove(QLatin1Char('&')));
    if (!b) qFatal("no button %s", qPrintable(text));
    return b;
}

QCheckBox* checkBox(QWidget* root, const QString& text) {
    QCheckBox* b = named<QCheckBox>(root, text);
    if (!b) qFatal("no check box %s", qPrintable(text));
    return b;
}

QStringList lines(QListWidget* list) {
    QStringList l;
    for (int i = 0; i < list->count(); ++i) l << list->item(i)->text();
    return l;
}

QPushButton* described(QWidget* root, const QString& description) {
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->accessibleDescription() == description) return b;
    qFatal("no button described %s", qPrintable(description));
}

void typeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// The two modal tool dialogs over the members the window keeps.
struct ToolDialogs {
    ToolDialogs(Workspace& ws, ToolWindows& tools, QWidget* parent)
        : m(tools.voiceEditor()),
          r(tools.randomizer()),
          editor(ws, m, parent),
          randomizer(ws, r, [] {}, parent) {}
    MultipleVoiceEditor& m;
    CompositionRandomizer& r;
    VoiceEditorDialog editor;
    RandomizerDialog randomizer;
};
using ToolAct = std::function<void(ToolDialogs&)>;
using DialogFill = std::function<void(QDialog*)>;
using StoredRead = std::function<QString(ToolDialogs&)>;
using DrawnCheck = std::function<bool(const VoiceSettings&)>;

template <class Values>
QString joined(const Values& values) {
    QStringList l;
    for (const auto& v : values) l << QString::number(v);
    return l.join(QLatin1Char(' '));
}

template <size_t N>
QString onItems(const std::array<bool, N>& flags) {
    std::vector<int> on;
    for (size_t i = 0; i < N; ++i)
        if (flags[i]) on.push_back(static_cast<int>(i));
    return joined(on);
}

// Types into the dialog's fields in order, then presses OK.
DialogFill typed(const QStringList& texts) {
    return [texts](QDialog* d) {
        const QList<QLineEdit*> edits = d->findChildren<QLineEdit*>();
        for (qsizetype i = 0; i < texts.size(); ++i) edits[i]->setText(texts[i]);
        button(d, QStringLiteral("OK"))->click();
    };
}

// Ticks exactly the named boxes, then presses OK.
DialogFill ticked(const QStringList& names) {
    return [names](QDialog* d) {
        for (QCheckBox* b : d->findChildren<QCheckBox*>()) b->setChecked(names.contains(b->text()));
        button(d, QStringLiteral("OK"))->click();
    };
}

// Selects exactly one line of a picker's list, then presses OK.
DialogFill selected(int row) {
    return [row](QDialog* d) {
        auto* list = d->findChild<QListWidget*>();
        list->clearSelection();
        list->item(row)->setSelected(true);
        button(d, QStringLiteral("OK"))->click();
    };
}

ToolAct editorList(ChangeFlag f, int row) {
    return [f, row](ToolDialogs& t) { choose(static_cast<QComboBox*>(t.editor.valueControl(f)), row); };
}

ToolAct coefficientOf(int algorithm) {
    return [algorithm](ToolDialogs& t) {
        choose(static_cast<QComboBox*>(t.editor.valueControl(ChangeFlag::Algorithm)), algorithm);
        t.editor.flagBox(ChangeFlag::Coefficient)->setChecked(true);
        button(&t.editor, QStringLiteral("Set Coefficient"))->click();
    };
}

// The Randomizer's box alone, ticked: it opens its picker.
ToolAct onlyBox(RandomBox b) {
    return [b](ToolDialogs& t) {
        button(&t.randomizer, QStringLiteral("None"))->click();
        t.randomizer.box(b)->setChecked(true);
    };
}

}  // namespace

Q_DECLARE_METATYPE(ToolAct)
Q_DECLARE_METATYPE(DialogFill)
Q_DECLARE_METATYPE(StoredRead)
Q_DECLARE_METATYPE(DrawnCheck)

class ToolWindowsTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() { w_ = std::make_unique<WindowUnderTest>(); }
    void cleanup() { w_.reset(); }

    void makerEditsAreOneStepEach();
    void makerButtonsFollowThePlayState_data();
    void makerButtonsFollowThePlayState();
    void makerSelectionChoosesTheEventAndDoubleClickLoadsIt();
    void makerClosesOnlyThroughClose();
    void auditionLeavesOnlyStop();
    void replaceShowsTheNewLineInTheMaker();
    void pickerFlagsLastBetweenOpenings();
    void otherNoteValueAsksForItsRange();
    void randomizerEnablingFollowsTheBoxes();
    void randomizeDrawsFromTheWorkspaceSeed();
    void createAddsThroughTheMakerAndLoadsEventZero();
    void voiceEditorEnablingFollowsTheFlags();
    void voiceEditorChangesVoicesThenEvents();
    void voiceEditorModulateCancelUnticksYes();
    void dialogsKeepWhatOkAccepted_data();
    void dialogsKeepWhatOkAccepted();
    void voiceEditorTabsFromEachFlagToItsValue();

   private:
    Workspace& ws() { return w_->ws(); }
    ToolWindows& tools() { return w_->window->tools(); }
    CompositionMakerWindow& openMaker() {
        w_->window->action(Command::CompositionMaker)->trigger();
        return *tools().maker();
    }
    // Events with the counters [10 k, 10 k + 5 + k], k = 0..n-1, made through the core.
    void makeEvents(int n) {
        ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [n](CTarrowinDoc& d) {
            for (int k = 0; k < n; ++k) {
                d.setStartCounter(10 * k);
                d.setEndCounter(10 * k + 5 + k);
                d.addCurrentSettingsAsEvent();
            }
        });
    }
    std::unique_ptr<WindowUnderTest> w_;
};

void ToolWindowsTest::makerEditsAreOneStepEach() {
    MessageBoxes boxes;
    CompositionMakerWindow& maker = openMaker();
    QVERIFY(!w_->window->action(Command::CompositionMaker)->isEnabled());
    QComboBox* combo = w_->window->view().playFromEventList();

    // Start equal to End is refused; nothing is recorded.
    button(&maker, QStringLiteral("&Add"))->click();
    QCOMPARE(boxes.lastText(), QStringLiteral("Minimum difference between Start and End counters  is 1"));
    QCOMPARE(boxes.seen().back().caption, QStringLiteral("Error"));
    QVERIFY(!ws().document.canUndo());

    // What is typed in the form counts.
    typeInto(w_->window->view().endEdit(), QStringLiteral("200"));
    button(&maker, QStringLiteral("&Add"))->click();
    QCOMPARE(lines(maker.list()), QStringList{QStringLiteral("[0 -> 200]")});
    QCOMPARE(combo->count(), 1);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Add Event"));

    makeEvents(4);
    maker.list()->setCurrentRow(2);
    ws().document.edit(QStringLiteral("counters"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        d.setStartCounter(7);
        d.setEndCounter(9);
    });
    button(&maker, QStringLiteral("&Insert"))->click();
    QCOMPARE(lines(maker.list()).mid(1, 4),
             (QStringList{QStringLiteral("[0 -> 5]"), QStringLiteral("[7 -> 9]"), QStringLiteral("[10 -> 16]"),
                          QStringLiteral("[20 -> 27]")}));
    QCOMPARE(combo->count(), 6);
    QCOMPARE(combo->itemText(5), QStringLiteral("5"));
    QCOMPARE(maker.selectedRow(), std::optional<int>(2));  // the selection stays on its line, the new event
    QCOMPARE(ws().playback.playFromEvent(), std::optional<int>(2));
    QCOMPARE(ws().document.undoName(), QStringLiteral("Insert Event 2"));
    ws().document.undo();
    QCOMPARE(maker.list()->count(), 5);
    QCOMPARE(combo->count(), 5);

    boxes.answer(QMessageBox::No);
    maker.selectRow(4);
    button(&maker, QStringLiteral("&Remove"))->click();
    QCOMPARE(boxes.seen().back().caption, QStringLiteral("Delete"));
    QCOMPARE(maker.list()->count(), 5);
    button(&maker, QStringLiteral("&Remove"))->click();
    QCOMPARE(maker.list()->count(), 4);
    QCOMPARE(maker.selectedRow(), std::nullopt);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Remove Event 4"));

    // Removing the only event, and Clear, return to the current settings.
    w_->window->action(Command::Composition)->trigger();
    button(&maker, QStringLiteral("C&lear"))->click();
    QCOMPARE(boxes.seen().back().caption, QStringLiteral("Delete All"));
    QCOMPARE(maker.list()->count(), 0);
    QCOMPARE(combo->count(), 0);
    QCOMPARE(ws().playback.playMode(), PlayMode::CurrentSettings);
    QVERIFY(!combo->isEnabled());
    QCOMPARE(ws().document.undoName(), QStringLiteral("Clear Events"));
    ws().document.undo();
    QCOMPARE(maker.list()->count(), 4);
}

void ToolWindowsTest::makerButtonsFollowThePlayState_data() {
    QTest::addColumn<UiState>("state");
    QTest::addColumn<QString>("enabled");  // the buttons (and "list") usable in that state
    UiState idle, audition, playing, cooling;
    audition.playing = audition.auditioning = true;
    playing.playing = playing.compositionRunning = true;
    cooling.coolingDown = true;
    QTest::newRow("idle") << idle << "list &Add &Insert &Remove C&lear &Play &Stop &Close";
    QTest::newRow("audition") << audition << "&Stop";
    QTest::newRow("main window plays") << playing << "&Close";
    QTest::newRow("cooldown") << cooling << "list &Add &Insert &Remove C&lear &Stop &Close";
}

void ToolWindowsTest::makerButtonsFollowThePlayState() {
    QFETCH(UiState, state);
    QFETCH(QString, enabled);
    CompositionMakerWindow& maker = openMaker();
    maker.stabilize(state);
    QStringList usable;
    if (maker.list()->isEnabled()) usable << QStringLiteral("list");
    for (QPushButton* b : maker.findChildren<QPushButton*>())
        if (b->isEnabled()) usable << b->text();
    QCOMPARE(usable.join(QLatin1Char(' ')), enabled);
}

void ToolWindowsTest::makerSelectionChoosesTheEventAndDoubleClickLoadsIt() {
    makeEvents(3);
    CompositionMakerWindow& maker = openMaker();
    QVERIFY(QTest::qWaitForWindowExposed(&maker));
    QCOMPARE(lines(maker.list()).size(), 3);
    QCOMPARE(maker.selectedRow(), std::nullopt);  // nothing is selected on opening

    QListWidget* list = maker.list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    QCOMPARE(ws().playback.playFromEvent(), std::optional<int>(1));
    QCOMPARE(w_->window->view().playFromEventList()->currentIndex(), 1);

    const QPoint first = list->visualItemRect(list->item(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);  // the first click of a double-click
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(ws().document.doc().global().startCounter, 0);
    QCOMPARE(ws().document.doc().global().endCounter, 5);
    QCOMPARE(ws().playback.playFromEvent(), std::optional<int>(0));
    QCOMPARE(ws().document.undoName(), QStringLiteral("Load Event 0"));
}

void ToolWindowsTest::makerClosesOnlyThroughClose() {
    CompositionMakerWindow& maker = openMaker();
    QSignalSpy changed(&tools(), &ToolWindows::windowsChanged);
    maker.close();
    QTest::keyClick(&maker, Qt::Key_Escape);
    QVERIFY(maker.isVisible());
    QVERIFY(tools().isMakerOpen());
    button(&maker, QStringLiteral("&Close"))->click();
    QVERIFY(!tools().isMakerOpen());
    QCOMPARE(changed.count(), 1);
    QVERIFY(w_->window->action(Command::CompositionMaker)->isEnabled());

    openMaker();
    ws().document.newDocument();  // New and Open close it
    QVERIFY(!tools().isMakerOpen());
}

void ToolWindowsTest::auditionLeavesOnlyStop() {
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) {
        d.setTempo(340);
        d.setEndCounter(4000);
        d.addCurrentSettingsAsEvent();
    });
    CompositionMakerWindow& maker = openMaker();
    button(&maker, QStringLiteral("&Play"))->click();  // nothing selected: nothing plays
    QVERIFY(!ws().playback.isPlaying());
    maker.selectRow(0);
    button(&maker, QStringLiteral("&Play"))->click();
    QVERIFY(ws().playback.isAuditioning());
    QVERIFY(button(&maker, QStringLiteral("&Stop"))->isEnabled());
    QVERIFY(!button(&maker, QStringLiteral("&Close"))->isEnabled());
    QVERIFY(!button(&w_->window->view(), QStringLiteral("Global Tempo"))->isEnabled());
    QVERIFY(!w_->window->action(Command::Randomizer)->isEnabled());
    QVERIFY(!w_->window->action(Command::ReplaceEvent)->isEnabled());
    button(&maker, QStringLiteral("&Stop"))->click();
    QTRY_VERIFY(button(&maker, QStringLiteral("&Play"))->isEnabled());
    QVERIFY(button(&w_->window->view(), QStringLiteral("Global Tempo"))->isEnabled());
    // The audition ends with a note off for every key of every channel.
    const auto sent = w_->recorded.recorder->messages();
    QVERIFY(sent.size() >= 2048);
    QCOMPARE(sent.back().status, uint8_t(0x8F));
    QCOMPARE(sent.back().data1, uint8_t(127));
}

void ToolWindowsTest::replaceShowsTheNewLineInTheMaker() {
    makeEvents(3);
    ws().playback.setPlayFromEvent(1);
    CompositionMakerWindow& maker = openMaker();
    maker.selectRow(2);
    typeInto(w_->window->view().startEdit(), QStringLiteral("100"));
    typeInto(w_->window->view().endEdit(), QStringLiteral("300"));
    MessageBoxes boxes;
    w_->window->action(Command::ReplaceEvent)->trigger();
    QCOMPARE(boxes.seen().back().text, QStringLiteral("Replace Event 1 with current settings?"));
    QCOMPARE(lines(maker.list()), (QStringList{QStringLiteral("[0 -> 5]"), QStringLiteral("[100 -> 300]"),
                                               QStringLiteral("[20 -> 27]")}));
    QCOMPARE(maker.selectedRow(), std::optional<int>(2));
}

void ToolWindowsTest::pickerFlagsLastBetweenOpenings() {
    CompositionRandomizer& m = tools().randomizer();
    {
        PickerDialog dialog(algorithmsModel(m.algorithms), ws().prompter, w_->window.get());
        checkBox(&dialog, QStringLiteral("Henon"))->setChecked(false);
        dialog.accept();
    }
    PickerDialog again(algorithmsModel(m.algorithms), ws().prompter, w_->window.get());
    QVERIFY(!checkBox(&again, QStringLiteral("Henon"))->isChecked());
    QVERIFY(checkBox(&again, QStringLiteral("Lorenz"))->isChecked());
    button(&again, QStringLiteral("All"))->click();
    again.accept();
    QVERIFY(m.algorithms.flag(3));

    // "Scales": no scale but user-defined ones allowed is a choice.
    PickerDialog scales(scalesModel(m.scales), ws().prompter, w_->window.get());
    scales.list()->clearSelection();
    QVERIFY(scales.extraBox()->isChecked());
    scales.show();
    scales.accept();
    QVERIFY(!scales.isVisible());
    QVERIFY(!m.scales.flag(0) && m.scales.allowUserDefined());
}

void ToolWindowsTest::otherNoteValueAsksForItsRange() {
    NoteValuesPicker picker;
    MessageBoxes boxes;
    int shown = 0;
    onDialog(QStringLiteral("Note Value Range"), [&](QDialog* d) {
        auto* range = static_cast<RangeEditDialog*>(d);
        range->fromEdit()->setText(QStringLiteral("48"));
        range->toEdit()->setText(QStringLiteral("48"));
        range->accept();
        ++shown;
        QCOMPARE(boxes.lastText(), QStringLiteral("Parameters must be between 1 and 960\nFrom must be less than To"));
        range->toEdit()->setText(QStringLiteral("x"));
        range->accept();
        QCOMPARE(boxes.lastText(), QStringLiteral("Please enter an integer."));
        QVERIFY(range->isVisible());
        range->toEdit()->setText(QStringLiteral("960"));
        range->accept();
    });
    PickerDialog dialog(noteValuesModel(picker, ws().prompter), ws().prompter, w_->window.get());
    checkBox(&dialog, QStringLiteral("Other"))->setChecked(true);
    QCOMPARE(shown, 1);
    QCOMPARE(picker.otherFrom, 48);
    QCOMPARE(picker.otherTo, 960);
    checkBox(&dialog, QStringLiteral("Other"))->setChecked(false);  // unchecking asks nothing
    QCOMPARE(shown, 1);
}

void ToolWindowsTest::randomizerEnablingFollowsTheBoxes() {
    RandomizerDialog dialog(ws(), tools().randomizer(), [] {}, w_->window.get());
    QCheckBox* silence = checkBox(&dialog, QStringLiteral("Allow Complete Silence"));
    QCheckBox* create = checkBox(&dialog, QStringLiteral("Create User Scales"));
    QCheckBox* only = checkBox(&dialog, QStringLiteral("Create Only User Scales"));
    QLineEdit* minVoices = nullptr;
    for (QLineEdit* e : dialog.findChildren<QLineEdit*>())
        if (e->accessibleName() == QLatin1String("Minimum voices On")) minVoices = e;
    QVERIFY(!silence->isEnabled() && !minVoices->isEnabled());
    checkBox(&dialog, QStringLiteral("Voices On/Off"))->setChecked(true);
    QVERIFY(silence->isEnabled() && minVoices->isEnabled());
    silence->setChecked(true);
    QVERIFY(!minVoices->isEnabled());

    QVERIFY(create->isEnabled() && only->isEnabled());
    only->setChecked(true);
    create->setChecked(false);
    QVERIFY(!only->isChecked() && !only->isEnabled());
    dialog.box(RandomBox::Inverted)->setChecked(false);
    QVERIFY(!dialog.box(RandomBox::MatchScl)->isEnabled());
    button(&dialog, QStringLiteral("None"))->click();
    QVERIFY(!dialog.box(RandomBox::Tempo)->isChecked() && !create->isEnabled());
    button(&dialog, QStringLiteral("All"))->click();  // opens no picker
    QVERIFY(dialog.box(RandomBox::Scale)->isChecked() && dialog.box(RandomBox::MatchScl)->isEnabled());
}

void ToolWindowsTest::randomizeDrawsFromTheWorkspaceSeed() {
    ws().fixedSeed = 4242;
    ws().document.newDocument();  // seeds the generator again
    CTarrowinDoc expected = ws().document.doc();
    CompositionRandomizer core;
    core.open(expected);
    core.voiceChoice[2] = true;
    UniformRandom random(4242);
    tarrowin::testing::RecordingPrompter silent;
    core.randomize(expected, random, silent);

    RandomizerDialog dialog(ws(), tools().randomizer(), [] {}, w_->window.get());
    bool seedShown = false;
    for (QLabel* l : dialog.findChildren<QLabel*>()) seedShown |= l->text() == QLatin1String("Seed: 4242");
    QVERIFY(seedShown);
    dialog.voiceToggle(2)->setChecked(true);
    button(&dialog, QStringLiteral("Randomize !"))->click();
    QCOMPARE(ws().document.doc().current(), expected.current());
    QCOMPARE(ws().document.history().count(), size_t(1));
    QCOMPARE(ws().document.undoName(), QStringLiteral("Randomize"));
    QVERIFY(w_->window->view().row(2).control(VoiceRow::Param1)->isEnabled());  // switched on
}

void ToolWindowsTest::createAddsThroughTheMakerAndLoadsEventZero() {
    RandomizerDialog dialog(ws(), tools().randomizer(), [this] { tools().raiseCompositionMaker(); }, w_->window.get());
    MessageBoxes boxes;
    QLineEdit* events = nullptr;
    for (QLineEdit* e : dialog.findChildren<QLineEdit*>())
        if (e->accessibleName() == QLatin1String("Number of events")) events = e;
    events->setText(QStringLiteral("0"));
    button(&dialog, QStringLiteral("Create"))->click();
    QVERIFY(boxes.lastText().startsWith(QStringLiteral("Maximum number of Events is 1000.\n")));
    QVERIFY(!tools().isMakerOpen());

    events->setText(QStringLiteral("12"));
    button(&dialog, QStringLiteral("Create"))->click();
    QVERIFY(tools().isMakerOpen());
    QCOMPARE(tools().maker()->list()->count(), 12);
    QCOMPARE(w_->window->view().playFromEventList()->count(), 12);
    QCOMPARE(ws().playback.playFromEvent(), std::optional<int>(0));
    QCOMPARE(ws().playback.playMode(), PlayMode::Composition);
    QCOMPARE(ws().document.doc().current(), ws().document.doc().composition().event(0));
    QCOMPARE(ws().document.history().count(), size_t(1));
    QCOMPARE(ws().document.undoName(), QStringLiteral("Create"));
    QVERIFY(dialog.box(RandomBox::Algorithm)->isChecked());  // the boxes come back as they were
    ws().document.undo();
    QCOMPARE(tools().maker()->list()->count(), 0);
}

void ToolWindowsTest::voiceEditorEnablingFollowsTheFlags() {
    VoiceEditorDialog dialog(ws(), tools().voiceEditor(), w_->window.get());
    QVERIFY(!dialog.events()->isEnabled());
    QVERIFY(!button(&dialog, QStringLiteral("Change Selected Events"))->isEnabled());
    QVERIFY(!dialog.valueControl(ChangeFlag::Octaves)->isEnabled());
    dialog.flagBox(ChangeFlag::Octaves)->setChecked(true);
    QVERIFY(dialog.valueControl(ChangeFlag::Octaves)->isEnabled());
    // The "Match Scale" value needs its flag, the "Inverted" flag and the "Inverted" value.
    dialog.flagBox(ChangeFlag::Inverted)->setChecked(true);
    dialog.flagBox(ChangeFlag::MatchScale)->setChecked(true);
    QVERIFY(!dialog.valueControl(ChangeFlag::MatchScale)->isEnabled());
    static_cast<QCheckBox*>(dialog.valueControl(ChangeFlag::Inverted))->setChecked(true);
    QVERIFY(dialog.valueControl(ChangeFlag::MatchScale)->isEnabled());
    described(&dialog, QStringLiteral("No change flags"))->click();
    QVERIFY(!dialog.valueControl(ChangeFlag::Octaves)->isEnabled());
    QVERIFY(!dialog.flagBox(ChangeFlag::Inverted)->isChecked());
    QVERIFY(static_cast<QCheckBox*>(dialog.valueControl(ChangeFlag::Inverted))->isChecked());  // values stay
    described(&dialog, QStringLiteral("All change flags"))->click();
    QVERIFY(dialog.valueControl(ChangeFlag::Coefficient)->isEnabled());
}

void ToolWindowsTest::voiceEditorChangesVoicesThenEvents() {
    makeEvents(3);
    const CTarrowinDoc before = ws().document.doc();
    MessageBoxes boxes;
    VoiceEditorDialog dialog(ws(), tools().voiceEditor(), w_->window.get());
    dialog.voiceToggle(0)->setChecked(true);
    dialog.voiceToggle(2)->setChecked(true);
    dialog.flagBox(ChangeFlag::Dynamic)->setChecked(true);
    for (QRadioButton* r : dialog.findChildren<QRadioButton*>())
        if (r->text() == QLatin1String("PP")) r->setChecked(true);
    dialog.flagBox(ChangeFlag::Octaves)->setChecked(true);  // nothing chosen
    button(&dialog, QStringLiteral("Change Settings"))->click();
    QCOMPARE(boxes.lastText(), QStringLiteral("No Octaves selected!"));
    QCOMPARE(ws().document.doc().current(), before.current());

    dialog.flagBox(ChangeFlag::Octaves)->setChecked(false);
    button(&dialog, QStringLiteral("Change Settings"))->click();
    QCOMPARE(ws().document.doc().voice(0).velocity, 22);
    QCOMPARE(ws().document.doc().voice(2).dynamicIndex, 0);
    QCOMPARE(ws().document.doc().voice(1).dynamicIndex, 3);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Change Settings"));

    button(&dialog, QStringLiteral("Change Selected Events"))->click();
    QCOMPARE(boxes.lastText(), QStringLiteral("No events selected!"));
    dialog.events()->item(0)->setSelected(true);
    dialog.events()->item(2)->setSelected(true);
    const Settings current = ws().document.doc().current();
    button(&dialog, QStringLiteral("Change Selected Events"))->click();
    const Composition& c = ws().document.doc().composition();
    QCOMPARE(c.event(0).voices[2].dynamicIndex, 0);
    QCOMPARE(c.event(2).voices[0].dynamicIndex, 0);
    QCOMPARE(c.event(1), before.composition().event(1));
    QCOMPARE(ws().document.doc().current(), current);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Change Selected Events"));
}

void ToolWindowsTest::voiceEditorModulateCancelUnticksYes() {
    MultipleVoiceEditor& m = tools().voiceEditor();
    VoiceEditorDialog dialog(ws(), m, w_->window.get());
    auto* yes = static_cast<QCheckBox*>(dialog.valueControl(ChangeFlag::Modulate));
    onDialog(QStringLiteral("Modulate"), [](QDialog* d) { d->reject(); });
    yes->setChecked(true);
    QVERIFY(!yes->isChecked() && !m.newModulate);
}

void ToolWindowsTest::dialogsKeepWhatOkAccepted_data() {
    QTest::addColumn<ToolAct>("open");
    QTest::addColumn<QString>("title");
    QTest::addColumn<DialogFill>("fill");
    QTest::addColumn<StoredRead>("stored");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<DrawnCheck>("drawn");  // what "Randomize !" then draws for every voice
    const auto row = [](const char* name, ToolAct open, const char* title, DialogFill fill, StoredRead stored,
                        const QString& expected, DrawnCheck drawn = {}) {
        QTest::newRow(name) << open << QString::fromLatin1(title) << fill << stored << expected << drawn;
    };
    using Values = std::vector<float>;
    row(
        "Modulate",
        [](ToolDialogs& t) { static_cast<QCheckBox*>(t.editor.valueControl(ChangeFlag::Modulate))->setChecked(true); },
        "Modulate", typed({"12"}),
        [](ToolDialogs& t) {
            return joined(Values{float(t.m.newModulate), float(t.m.newModulateMode), float(t.m.newModulateEvery)});
        },
        "1 0 12");
    row("Other value", editorList(ChangeFlag::NoteValue, kOtherNoteValue), "Other value", typed({"96"}),
        [](ToolDialogs& t) { return joined(Values{float(t.m.noteValueChoice), float(t.m.otherNoteValue)}); },
        QStringLiteral("%1 96").arg(kOtherNoteValue));
    row("User Scale", editorList(ChangeFlag::Scale, kUserDefinedScale), "User Scale", ticked({"C", "E", "G", "A", "B"}),
        [](ToolDialogs& t) { return onItems(t.m.userScaleEditorMarks()); }, "0 4 7 9 11");
    row("Henon a and b", coefficientOf(3), "Henon", typed({"1.25", "0.75"}),
        [](ToolDialogs& t) { return joined(Values{t.m.coefficients.henonA, t.m.coefficients.henonB}); }, "1.25 0.75");
    row("Gingerbread x and y", coefficientOf(6), "Ginger", typed({"2.5", "-3.5"}),
        [](ToolDialogs& t) { return joined(Values{t.m.coefficients.gingerX0, t.m.coefficients.gingerY0}); },
        "2.5 -3.5");
    row("Param1 Range", onlyBox(RandomBox::Param1), "Param1 Range", typed({"7", "8"}),
        [](ToolDialogs& t) { return joined(Values{float(t.r.param1From), float(t.r.param1To)}); }, "7 8",
        [](const VoiceSettings& v) { return v.param1 == 7 || v.param1 == 8; });
    row("Param2 Range", onlyBox(RandomBox::Param2), "Param2 Range", typed({"1000", "1001"}),
        [](ToolDialogs& t) { return joined(Values{float(t.r.param2From), float(t.r.param2To)}); }, "1000 1001",
        [](const VoiceSettings& v) { return v.param2 == 1000 || v.param2 == 1001; });
    row("Select Notes", onlyBox(RandomBox::Note), "Select Notes", selected(60),
        [](ToolDialogs& t) { return onItems(t.r.allowedNotes); }, "60",
        [](const VoiceSettings& v) { return v.startNote == 60; });
    row("Select Instruments", onlyBox(RandomBox::Instrument), "Select Instruments", selected(40),
        [](ToolDialogs& t) { return onItems(t.r.allowedInstruments); }, "40",
        [](const VoiceSettings& v) { return v.instrument == 40; });
}

void ToolWindowsTest::dialogsKeepWhatOkAccepted() {
    QFETCH(ToolAct, open);
    QFETCH(QString, title);
    QFETCH(DialogFill, fill);
    QFETCH(StoredRead, stored);
    QFETCH(QString, expected);
    QFETCH(DrawnCheck, drawn);
    MessageBoxes boxes;  // a refusal would otherwise wait for an answer
    ToolDialogs t(ws(), tools(), w_->window.get());
    bool shown = false;
    onDialog(title, [&](QDialog* d) {
        shown = true;
        fill(d);
    });
    open(t);
    QVERIFY(shown);
    QCOMPARE(stored(t), expected);
    if (!drawn) return;
    for (int v = 0; v < kVoices; ++v) t.randomizer.voiceToggle(v)->setChecked(true);
    button(&t.randomizer, QStringLiteral("Randomize !"))->click();
    QCOMPARE(boxes.seen().size(), size_t(0));
    for (int v = 0; v < kVoices; ++v) QVERIFY2(drawn(ws().document.doc().voice(v)), qPrintable(QString::number(v)));
}

void ToolWindowsTest::voiceEditorTabsFromEachFlagToItsValue() {
    makeEvents(2);
    VoiceEditorDialog dialog(ws(), tools().voiceEditor(), w_->window.get());
    described(&dialog, QStringLiteral("All change flags"))->click();
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    // Tab stops once in a radio group, on its first button; the arrows move within it.
    const auto tabbable = [&dialog](QWidget* w) {
        auto* radio = qobject_cast<QRadioButton*>(w);
        return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isEnabled() && w->isVisibleTo(&dialog) &&
               (!radio || !radio->group() || radio->group()->buttons().constFirst() == radio);
    };
    const auto inside = [&](QWidget* w) {  // the pan and dynamic rows hold several controls
        if (tabbable(w)) return QList<QWidget*>{w};
        QList<QWidget*> found;
        for (QWidget* c : w->findChildren<QWidget*>())
            if (tabbable(c)) found << c;
        return found;
    };

    // Each flag, then what it enables; the voices, the events and the actions after them.
    QList<QWidget*> expected;
    for (int i = 0; i < kChangeFlags; ++i) {
        const auto f = static_cast<ChangeFlag>(i);
        expected << dialog.flagBox(f) << inside(dialog.valueControl(f));
    }
    expected << described(&dialog, QStringLiteral("All change flags"))
             << described(&dialog, QStringLiteral("No change flags"));
    for (int v = 0; v < kVoices; ++v) expected << dialog.voiceToggle(v);
    expected << dialog.events() << described(&dialog, QStringLiteral("All events"))
             << described(&dialog, QStringLiteral("No events")) << button(&dialog, QStringLiteral("Change Settings"))
             << button(&dialog, QStringLiteral("Change Selected Events")) << button(&dialog, QStringLiteral("Close"));
    expected.removeIf([&](QWidget* w) { return !tabbable(w); });  // "Match Scale" needs "Inverted" ticked
    QList<QWidget*> all;
    for (QWidget* c : dialog.findChildren<QWidget*>())
        if (tabbable(c)) all << c;
    QCOMPARE(all.size(), expected.size());  // every control is in the reading order

    // Tab once round the dialog.
    QList<QWidget*> visited{expected.constFirst()};
    expected.constFirst()->setFocus();
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget();
    }
    QCOMPARE(visited, expected + QList<QWidget*>{expected.constFirst()});
}

TARROWIN_QTEST_MAIN(ToolWindowsTest)
#include "tool_windows_test.moc"

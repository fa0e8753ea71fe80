// The main window's own logic: what the update routine enables in each state, the form's
// refusal of a bad value, the lists that act only on a change, the tempo bar, Reset and
// Round, New and Open, the recent files, and what Play disables.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QTextBrowser>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

#include "app/command_state.h"
#include "app/command_table.h"
#include "app/file_commands.h"
#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/tools/composition_maker_window.h"
#include "app/tools/tool_windows.h"
#include "app_test_support.h"
#include "document/document_file.h"
#include "engine/tables.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

Q_DECLARE_METATYPE(tarrowin::app::UiState)

namespace {
// A composition of events with their own Param1, short and fast, to play to its end.
void composeShortEvents(Workspace& ws, int events) {
    ws.document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [events](CTarrowinDoc& d) {
        d.setTempo(340);
        d.setEndCounter(4);
        for (int e = 0; e < events; ++e) {
            d.setParam1(0, 10 + e);
            d.addCurrentSettingsAsEvent();
        }
        d.setParam1(0, 2);
    });
}
}  // namespace

namespace {

// Types into an edit and leaves it with Tab, as a user does.
void typeAndLeave(QLineEdit* edit, const QString& text) {
    QApplication::setActiveWindow(edit->window());  // a message box may have taken it
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Tab);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() { w_ = std::make_unique<WindowUnderTest>(); }
    void cleanup() { w_.reset(); }

    void commandStates_data();
    void commandStates();
    void refusedValueChangesNothing();
    void commandsPassTheTypedInputGate_data();
    void commandsPassTheTypedInputGate();
    void listsActOnlyOnAChange();
    void tempoBarStepsAndMerges();
    void resetAndRound();
    void openFillsPlayFromEventAndFailureKeepsTheDocument();
    void playDisablesTheFormForItsMode();
    void updateWhilePlayingLoadsEachEvent();
    void saveQuestionRecentFilesAndDrop();
    void commandsRefuseWithTheirMessages();
    void helpAboutAndTabOrder();
    void undoKeysInFieldsAndToolWindows();
    void newDropsTypingNotYetTaken();
    void recentFilesWaitWhilePlaying();
    void voiceSwitchedDuringAPlayIsAStepOfItsOwn();
    void editWhilePlayingAndRecordPerformance();
    void midiPlayerTakesItsOwnOptions();
    void everyMenuHasUniqueMnemonics();
    void exitEndsTheProgramWhateverIsOpen_data();
    void exitEndsTheProgramWhateverIsOpen();

   private:
    Workspace& ws() { return w_->ws(); }
    TarrowinView& view() { return w_->window->view(); }
    std::unique_ptr<WindowUnderTest> w_;
};

void MainWindowTest::commandStates_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<UiState>("state");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checked");
    UiState idle;
    UiState playing;
    playing.playing = true;
    UiState cooling;
    cooling.coolingDown = true;
    UiState events;
    events.eventsExist = true;
    UiState composing = events;
    composing.compositionMode = true;
    composing.updateWhilePlaying = true;
    UiState infoOpen = events;
    infoOpen.infoOpen = true;
    UiState playingWithEvents = events;
    playingWithEvents.playing = true;
    const auto row = [](const char* name, Command c, UiState s, bool enabled, bool checked = false) {
        QTest::newRow(name) << int(c) << s << enabled << checked;
    };
    row("play idle", Command::Play, idle, true);
    row("play while cooling down", Command::Play, cooling, false);
    row("play while playing", Command::Play, playing, false);
    row("stop always", Command::Stop, idle, true);
    row("exit while playing", Command::Exit, playing, false);
    row("composition needs events", Command::Composition, idle, false);
    row("composition checked in its mode", Command::Composition, composing, true, true);
    row("current settings checked", Command::CurrentSettings, idle, true, true);
    row("update needs composition mode", Command::UpdateWhilePlaying, events, false);
    row("update checked", Command::UpdateWhilePlaying, composing, true, true);
    row("info while playing", Command::CompositionInfo, playingWithEvents, true);
    row("info while open", Command::CompositionInfo, infoOpen, false);
    row("image while playing", Command::CreateImage, playingWithEvents, false);
    row("replace needs events", Command::ReplaceEvent, idle, false);
    row("undo while playing", Command::Undo, playing, false);
    row("calculator while playing", Command::Calculator, playing, true);
    row("tuning while playing", Command::Tuning, playing, false);
    UiState session;
    session.sessionManaged = true;
    row("open under a session manager", Command::Open, session, false);
    row("save as under a session manager", Command::SaveAs, session, false);
    row("save under a session manager", Command::Save, session, true);
    row("remote control while playing", Command::RemoteControl, playing, true);
}

void MainWindowTest::commandStates() {
    QFETCH(int, command);
    QFETCH(UiState, state);
    QFETCH(bool, enabled);
    QFETCH(bool, checked);
    QCOMPARE(commandState(static_cast<Command>(command), state), (CommandState{enabled, checked}));
}

void MainWindowTest::refusedValueChangesNothing() {
    MessageBoxes boxes;
    QLineEdit* param1 = view().row(0).edit(VoiceRow::Param1);
    typeAndLeave(param1, QStringLiteral("1"));
    QTRY_COMPARE(boxes.seen().size(), size_t(1));
    QCOMPARE(boxes.seen()[0].text, QStringLiteral("Please enter an integer between 2 and 1000000."));
    QCOMPARE(boxes.seen()[0].caption, QStringLiteral("Tarrowin"));
    QCOMPARE(boxes.seen()[0].icon, QMessageBox::Warning);
    QTRY_COMPARE(w_->window->focusWidget(), param1);  // the focus it gets back when the box closes
    QCOMPARE(ws().document.doc().voice(0).param1, 2);
    QVERIFY(!ws().document.isModified());

    // Another control's handler refuses too while the field holds the bad value.
    choose(static_cast<QComboBox*>(view().row(0).control(VoiceRow::Octaves)), 2);
    QTRY_COMPARE(boxes.seen().size(), size_t(2));
    QCOMPARE(ws().document.doc().voice(0).octaves, 1);

    typeAndLeave(param1, QStringLiteral("abc"));
    QTRY_COMPARE(boxes.lastText(), QStringLiteral("Please enter an integer."));
    typeAndLeave(param1, QStringLiteral("17"));
    QCOMPARE(ws().document.doc().voice(0).param1, 17);
    QVERIFY(ws().document.isModified());
    QCOMPARE(w_->window->action(Command::Undo)->text(), QStringLiteral("&Undo Param1 voice 1"));
}

void MainWindowTest::commandsPassTheTypedInputGate_data() {
    QTest::addColumn<int>("command");
    for (const Command c : {Command::Save, Command::SaveAs, Command::SaveMidi, Command::ExportAudio, Command::Play,
                            Command::GetCurrentNote, Command::ReplaceEvent, Command::Randomizer,
                            Command::MultiVoiceEditor, Command::CreateImage})
        QTest::newRow(commandInfo(c).caption) << static_cast<int>(c);
}

void MainWindowTest::commandsPassTheTypedInputGate() {
    // Each command that reads the document first takes what is typed in the form: a value
    // the field refuses stops it with the field's message, before any dialog or play.
    QFETCH(int, command);
    composeShortEvents(ws(), 2);
    ws().playback.setPlayFromEvent(0);
    const CTarrowinDoc before = ws().document.doc();
    QLineEdit* param1 = view().row(0).edit(VoiceRow::Param1);
    param1->setText(QStringLiteral("1"));
    param1->setModified(true);
    bool dialogShown = false;  // a dialog the gate should have stopped is closed again
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&dialogShown] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || qobject_cast<QMessageBox*>(dialog)) return;
        dialogShown = true;
        dialog->reject();
    });
    watch.start(5);
    MessageBoxes boxes;
    w_->window->action(static_cast<Command>(command))->trigger();
    QTRY_COMPARE(boxes.seen().size(), size_t(1));
    QCOMPARE(boxes.lastText(), QStringLiteral("Please enter an integer between 2 and 1000000."));
    QVERIFY(!dialogShown);
    QVERIFY(!ws().playback.isPlaying());
    QCOMPARE(ws().document.doc().current(), before.current());
    QCOMPARE(ws().document.doc().composition().count(), before.composition().count());
}

void MainWindowTest::listsActOnlyOnAChange() {
    auto* octaves = static_cast<QComboBox*>(view().row(0).control(VoiceRow::Octaves));
    choose(octaves, 0);  // the row already chosen
    QVERIFY(!ws().document.isModified());
    QVERIFY(!ws().document.canUndo());
    choose(octaves, 2);
    QCOMPARE(ws().document.doc().voice(0).octaves, 3);
    QVERIFY(ws().document.isModified());

    // The numerator alone leaves the document unmodified; the denominator marks it.
    ws().document.newDocument();
    choose(listDescribed(&view(), QStringLiteral("Numerator")), 2);
    QCOMPARE(ws().document.doc().global().timeSigNumerator, int16_t(3));
    QVERIFY(!ws().document.isModified());
    choose(listDescribed(&view(), QStringLiteral("Denominator")), 3);
    QCOMPARE(ws().document.doc().global().timeSigDenominator, int16_t(8));
    QVERIFY(ws().document.isModified());
}

void MainWindowTest::tempoBarStepsAndMerges() {
    QScrollBar* bar = view().tempoBar();
    bar->setValue(22);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(ws().document.doc().global().tempo, 20);
    bar->setValue(339);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(ws().document.doc().global().tempo, 340);
    QCOMPARE(ws().document.history().count(), size_t(1));  // one drag, one step
    ws().document.undo();
    QCOMPARE(ws().document.doc().global().tempo, 96);
    QCOMPARE(bar->value(), 96);
}

void MainWindowTest::resetAndRound() {
    typeAndLeave(view().startEdit(), QStringLiteral("5"));
    typeAndLeave(view().endEdit(), QStringLiteral("30"));
    whenDialogShows([](QWidget* w) {
        auto* d = qobject_cast<QDialog*>(w);
        if (!d || d->windowTitle() != QLatin1String("Round counter")) return false;
        for (QRadioButton* b : d->findChildren<QRadioButton*>()) {
            if (b->text() == QLatin1String("Voice 1")) b->setChecked(true);
            if (b->text() == QLatin1String("Voice 2") && b->isEnabled()) qFatal("voice 2 is off, yet can be chosen");
        }
        d->accept();
        return true;
    });
    QTest::mouseClick(named<QPushButton>(&view(), QStringLiteral("Round")), Qt::LeftButton);
    QCOMPARE(ws().document.doc().global().startCounter, 8);
    QCOMPARE(ws().document.doc().global().endCounter, 32);

    QTest::mouseClick(view().lockButton(), Qt::LeftButton);
    QCOMPARE(view().lockButton()->text(), QStringLiteral("Unlock"));
    QVERIFY(!view().endEdit()->isEnabled());
    QTest::mouseClick(named<QPushButton>(&view(), QStringLiteral("Reset")), Qt::LeftButton);
    QCOMPARE(ws().document.doc().global().startCounter, 0);
    QCOMPARE(ws().document.doc().global().endCounter, 32);  // locked: End stays
}

void MainWindowTest::openFillsPlayFromEventAndFailureKeepsTheDocument() {
    QTemporaryDir dir;
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setEndCounter(40);
    for (int i = 0; i < 3; ++i) QVERIFY(!doc.addCurrentSettingsAsEvent());
    const QString song = dir.filePath(QStringLiteral("song.trw"));
    QVERIFY(saveDocumentFile(song.toStdString(), doc).ok);
    QVERIFY(w_->window->files().openPath(song));
    QCOMPARE(view().playFromEventList()->count(), 3);
    QCOMPARE(view().playFromEventList()->currentIndex(), 0);
    QVERIFY(w_->window->action(Command::Composition)->isChecked());
    QVERIFY(view().playFromEventList()->isEnabled());
    QCOMPARE(ws().preferences.recentFiles().value(0), song);

    QFile bad(dir.filePath(QStringLiteral("bad.trw")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a document");
    bad.close();
    MessageBoxes boxes;
    QVERIFY(!w_->window->files().openPath(bad.fileName()));
    QCOMPARE(boxes.seen().size(), size_t(1));
    QVERIFY(boxes.lastText().contains(QStringLiteral("bad.trw")));
    QCOMPARE(ws().document.doc().composition().count(), 3);
    QCOMPARE(ws().document.path(), song);
}

void MainWindowTest::playDisablesTheFormForItsMode() {
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) {
        d.setEndCounter(100000 / 2);
        d.addCurrentSettingsAsEvent();
    });
    w_->window->play();
    QTRY_VERIFY(ws().playback.isPlaying());
    QVERIFY(!w_->window->action(Command::Play)->isEnabled());
    QVERIFY(!w_->window->action(Command::Exit)->isEnabled());
    QVERIFY(view().row(0).control(VoiceRow::Voice)->isEnabled());  // voices switch live
    QVERIFY(!view().row(0).control(VoiceRow::Param1)->isEnabled());
    QVERIFY(!view().tempoBar()->isEnabled());
    QVERIFY(!view().startEdit()->isEnabled());
    w_->window->close();
    QVERIFY(w_->window->isVisible());  // nothing closes the window while it plays
    w_->window->stop();
    QTRY_VERIFY(w_->window->action(Command::Play)->isEnabled());
    QVERIFY(view().row(0).control(VoiceRow::Param1)->isEnabled());
    QCOMPARE(view().endEdit()->text(), QString::number(ws().document.doc().global().endCounter));
}

void MainWindowTest::updateWhilePlayingLoadsEachEvent() {
    composeShortEvents(ws(), 3);
    ws().playback.setPlayMode(PlayMode::Composition);
    ws().playback.setUpdateWhilePlaying(true);
    w_->window->play();
    QVERIFY(ws().playback.isPlaying());
    QVERIFY(!view().row(0).control(VoiceRow::Voice)->isEnabled());  // voices are the events' now
    QTRY_VERIFY(!ws().playback.isPlaying() && ws().playback.canPlay());
    QTRY_COMPARE(ws().document.doc().voice(0).param1, 12);  // the last event is loaded
    QCOMPARE(ws().playback.playFromEvent(), std::optional<int>(2));
    QCOMPARE(view().row(0).edit(VoiceRow::Param1)->text(), QStringLiteral("12"));
    QCOMPARE(w_->window->action(Command::Undo)->text(), QStringLiteral("&Undo Play"));
    ws().document.undo();  // the whole play is one step
    QCOMPARE(ws().document.doc().voice(0).param1, 2);
}

void MainWindowTest::saveQuestionRecentFilesAndDrop() {
    ws().document.edit(QStringLiteral("x"), DocumentController::Scope::Current, [](CTarrowinDoc& d) { d.setParam1(0, 3); });
    MessageBoxes boxes;
    boxes.answer(QMessageBox::Cancel);
    w_->window->action(Command::New)->trigger();
    QCOMPARE(boxes.lastText(), QStringLiteral("Save changes to Untitled?"));
    QCOMPARE(ws().document.doc().voice(0).param1, 3);
    boxes.answer(QMessageBox::No);
    w_->window->action(Command::New)->trigger();
    QCOMPARE(ws().document.doc().voice(0).param1, 2);
    QVERIFY(!ws().document.isModified());

    // The recent files are regular files: gone files, pipes, devices and folders are left
    // out, whether they were saved to or listed by an older Tarrowin. A dropped .trw opens
    // like File Open.
    QTemporaryDir dir;
    QStringList paths;
    const QString pipe = dir.filePath(QStringLiteral("pipe.trw"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const char* name : {"a.trw", "b.trw", "c.trw"}) {
        paths << dir.filePath(QLatin1String(name));
        QVERIFY(ws().document.save(paths.back()).ok);
        ws().preferences.addRecentFile(paths.back());
    }
    QFile::remove(paths[1]);
    for (const QString& notAFile : {pipe, QStringLiteral("/dev/null"), dir.path()})
        ws().preferences.addRecentFile(notAFile);
    QCOMPARE(ws().preferences.recentFiles(), (QStringList{paths[2], paths[0]}));
    QSettings().setValue(QStringLiteral("recentFiles"), QStringList{pipe, QStringLiteral("/dev/null"), dir.path(), paths[0]});
    QCOMPARE(ws().preferences.recentFiles(), QStringList{paths[0]});
    ws().document.newDocument();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(paths[0])});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w_->window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w_->window.get(), &drop);
    QCOMPARE(ws().document.path(), paths[0]);
    QCOMPARE(w_->window->windowTitle(), QStringLiteral("Tarrowin 2.5 - a.trw[*]"));
}

void MainWindowTest::commandsRefuseWithTheirMessages() {
    QTemporaryDir dir;
    const QString mid = dir.filePath(QStringLiteral("x.mid"));
    QFile(mid).open(QIODevice::WriteOnly);
    QSettings().setValue(QStringLiteral("midiPlayer"), QStringLiteral("no-such-player"));
    // Voices 1 and 2 on channel 0 in a tuning of five equal steps, voice 2 tuned or not.
    const auto shareChannel0 = [this](TuningMethod method, bool secondTuned) {
        return [this, method, secondTuned] {
            ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current, [=](CTarrowinDoc& d) {
                TuningSettings t;
                t.tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
                t.method = method;
                t.tuned[1] = secondTuned;
                d.setTuning(t);
                d.setEndCounter(64);
                d.setEnabled(1, true);
                d.editVoice(1, [](VoiceSettings& v) { v.channel = 0; });
            });
        };
    };
    struct Case {
        const char* name;
        std::function<void()> setup;
        Command command;
        const char* text;
        QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {"device in use", [this] { w_->recorded.recorder->refuseOpens(OpenStatus::Allocated); }, Command::Play,
         "The device is already in use, free it and try again", QMessageBox::Critical},
        {"no memory", [this] { w_->recorded.recorder->refuseOpens(OpenStatus::NoMemory); }, Command::Play,
         "Could not allocate memory for the device", QMessageBox::Critical},
        {"export with End at Start", [] {}, Command::SaveMidi, "Start counter must be less then End Counter",
         QMessageBox::Warning},
        {"a tuned and an untuned voice share a channel", shareChannel0(TuningMethod::Mts, false), Command::Play,
         "Voice 1 is tuned and voice 2 is not, but both play on channel 0: a channel's keys are tuned for all its "
         "voices or for none. Switch Tuned alike for both, or give each its own channel.",
         QMessageBox::Critical},
        {"two voices bent on one channel", shareChannel0(TuningMethod::PitchBend, true), Command::SaveMidi,
         "Voices 1 and 2 are tuned by pitch bend and both play on channel 0: one bend cannot serve two pitches. Give "
         "each its own channel, or tune with the MIDI Tuning Standard.",
         QMessageBox::Warning},
        {"player not found",
         [mid] { answerFileDialog(mid); },
         Command::PlayMidi, "no-such-player was not found", QMessageBox::Warning},
    };
    for (const Case& c : cases) {
        MessageBoxes boxes;
        c.setup();
        w_->window->action(c.command)->trigger();
        QTRY_COMPARE(boxes.seen().size(), size_t(1));
        QCOMPARE(boxes.seen()[0].text, QLatin1String(c.text));
        QCOMPARE(boxes.seen()[0].icon, c.icon);
        QVERIFY2(!ws().playback.isPlaying(), c.name);
        w_->recorded.recorder->refuseOpens(OpenStatus::Ok);
    }
    QVERIFY(!w_->recorded.recorder->isOpen());  // after "Play Midi file..." the device is let go
    QSettings().remove(QStringLiteral("midiPlayer"));
}

void MainWindowTest::helpAboutAndTabOrder() {
    w_->window->action(Command::HelpTopics)->trigger();
    QWidget* help = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == QLatin1String("Tarrowin Help") && w->isVisible()) help = w;
    QVERIFY(help);
    QVERIFY(help->findChild<QTextBrowser*>()->toPlainText().contains(QStringLiteral("How a voice makes its notes")));
    help->close();

    whenDialogShows([](QWidget* w) {
        if (w->windowTitle() != QLatin1String("About Tarrowin 2.5")) return false;
        QString text;
        for (QLabel* l : w->findChildren<QLabel*>()) text += l->text();
        if (!text.contains(QStringLiteral("FluidSynth 2.")) || !text.contains(QStringLiteral("Qt 6.")) ||
            !text.contains(QStringLiteral("Version " TARROWIN_VERSION)) ||
            !text.contains(QStringLiteral("GPL-3.0-or-later")))
            qFatal("the About box lacks the version, the licence or the library versions: %s", qPrintable(text));
        static_cast<QDialog*>(w)->accept();
        return true;
    });
    w_->window->action(Command::About)->trigger();

    // Tab walks a row from left to right, then on to the next row.
    QWidget* param1 = view().row(0).edit(VoiceRow::Param1);
    QCOMPARE(param1->nextInFocusChain(), view().row(0).edit(VoiceRow::Param2));
    QWidget* w = view().row(0).control(VoiceRow::Extra);
    while (!(w = w->nextInFocusChain())->focusPolicy()) {
    }
    QCOMPARE(w, view().row(1).control(VoiceRow::Voice));
}

void MainWindowTest::everyMenuHasUniqueMnemonics() {
    // The letter after a single '&', lower case; none for a caption without one.
    const auto mnemonic = [](const QString& text) -> QChar {
        for (qsizetype i = text.indexOf(QLatin1Char('&')); i >= 0 && i + 1 < text.size();
             i = text.indexOf(QLatin1Char('&'), i + 2)) {
            if (text[i + 1] != QLatin1Char('&')) return text[i + 1].toLower();
        }
        return {};
    };
    // The menu bar and every menu under it (the recent files are numbered).
    QList<QWidget*> menus{w_->window->menuBar()};
    for (QMenu* m : w_->window->menuBar()->findChildren<QMenu*>()) menus << m;
    QVERIFY(menus.size() > 6 + kVoices);
    for (QWidget* menu : menus) {
        QMap<QChar, QString> taken;
        for (QAction* a : menu->actions()) {
            const QChar key = mnemonic(a->text());
            if (a->isSeparator() || key.isNull()) continue;
            const QString where = qobject_cast<QMenu*>(menu) ? qobject_cast<QMenu*>(menu)->title() : QStringLiteral("menu bar");
            QVERIFY2(!taken.contains(key), qPrintable(QStringLiteral("%1: \"%2\" and \"%3\" share %4")
                                                          .arg(where, taken.value(key), a->text(), key)));
            taken.insert(key, a->text());
        }
    }
}

void MainWindowTest::exitEndsTheProgramWhateverIsOpen_data() {
    QTest::addColumn<int>("answer");  // to "Save changes?"
    QTest::newRow("changes given up") << int(QMessageBox::No);
    QTest::newRow("Cancel") << int(QMessageBox::Cancel);
}

void MainWindowTest::exitEndsTheProgramWhateverIsOpen() {
    QFETCH(int, answer);
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) {
        d.setEndCounter(8);
        d.addCurrentSettingsAsEvent();
    });
    // Every window the program opens beside the main one.
    for (Command c : {Command::CompositionMaker, Command::Notes, Command::CompositionInfo, Command::CreateImage,
                      Command::HelpTopics})
        w_->window->action(c)->trigger();
    const auto shown = [] {
        QStringList titles;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) titles << w->windowTitle();
        return titles;
    };
    QCOMPARE(shown().size(), 6);
    MessageBoxes boxes;
    boxes.answer(QMessageBox::StandardButton(answer));
    if (answer == QMessageBox::Cancel) {
        w_->window->action(Command::Exit)->trigger();
        QCOMPARE(boxes.lastText(), QStringLiteral("Save changes to Untitled?"));
        QCOMPARE(shown().size(), 6);
        return;
    }
    // The program's event loop ends once Exit closed the last window; a window left open
    // keeps it running, and the guard ends it with 1.
    QTimer::singleShot(0, w_->window.get(), [this] { w_->window->action(Command::Exit)->trigger(); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    const int code = QApplication::exec();
    guard.stop();
    QVERIFY2(code == 0, qPrintable(QStringLiteral("still open: ") + shown().join(QStringLiteral(", "))));
    QVERIFY(shown().isEmpty());
}

TARROWIN_QTEST_MAIN(MainWindowTest)
void MainWindowTest::undoKeysInFieldsAndToolWindows() {
    QApplication::setActiveWindow(w_->window.get());
    QLineEdit* param1 = view().row(0).edit(VoiceRow::Param1);
    QLineEdit* param2 = view().row(0).edit(VoiceRow::Param2);
    typeAndLeave(param1, QStringLiteral("17"));
    QCOMPARE(ws().document.doc().voice(0).param1, 17);
    QCOMPARE(QApplication::focusWidget(), param2);

    // In a field that holds no typing, the keys undo and redo the document.
    QTest::keyClick(param2, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ws().document.doc().voice(0).param1, 2);
    QCOMPARE(param1->text(), QStringLiteral("2"));
    QTest::keyClick(param2, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(ws().document.doc().voice(0).param1, 17);

    // Typing not yet taken is undone in the field, the document stays.
    const QString shown = param2->text();
    QTest::keyClicks(param2, QStringLiteral("5"));
    QTest::keyClick(param2, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(param2->text(), shown);
    QCOMPARE(ws().document.doc().voice(0).param1, 17);

    // The Composition Maker's edits are undone from its own window.
    ws().document.edit(QStringLiteral("End"), DocumentController::Scope::Current,
                       [](CTarrowinDoc& d) { d.setEndCounter(64); });
    w_->window->action(Command::CompositionMaker)->trigger();
    CompositionMakerWindow* maker = w_->window->tools().maker();
    QVERIFY(maker);
    QApplication::setActiveWindow(maker);
    QTest::mouseClick(named<QPushButton>(maker, QStringLiteral("Add")), Qt::LeftButton);
    QCOMPARE(ws().document.doc().composition().count(), 1);
    QTest::keyClick(maker, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ws().document.doc().composition().count(), 0);
    QCOMPARE(maker->list()->count(), 0);
}

void MainWindowTest::newDropsTypingNotYetTaken() {
    QApplication::setActiveWindow(w_->window.get());
    QLineEdit* start = view().startEdit();
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("500"));
    w_->window->action(Command::New)->trigger();
    QCOMPARE(start->text(), QStringLiteral("0"));
    QTest::keyClick(start, Qt::Key_Tab);
    QCOMPARE(ws().document.doc().global().startCounter, 0);
    QVERIFY(!ws().document.isModified());
}

void MainWindowTest::recentFilesWaitWhilePlaying() {
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.trw"));
    QVERIFY(ws().document.save(song).ok);
    ws().preferences.addRecentFile(song);
    ws().document.newDocument();
    ws().document.edit(QStringLiteral("End"), DocumentController::Scope::Current,
                       [](CTarrowinDoc& d) { d.setEndCounter(50000); });
    w_->window->play();
    QTRY_VERIFY(ws().playback.isPlaying());
    QMenu* file = nullptr;
    for (QMenu* m : w_->window->findChildren<QMenu*>())
        if (m->title() == QStringLiteral("&File")) file = m;
    QVERIFY(file);
    Q_EMIT file->aboutToShow();
    QAction* recent = nullptr;
    for (QAction* a : file->actions())
        if (a->text() == QStringLiteral("&1 song.trw")) recent = a;
    QVERIFY(recent);
    QVERIFY(!recent->isEnabled());
    QVERIFY(!w_->window->files().openPath(song));
    QVERIFY(ws().document.path().isEmpty());
    w_->window->stop();
    QTRY_VERIFY(ws().playback.canPlay());
    Q_EMIT file->aboutToShow();
    for (QAction* a : file->actions())
        if (a->text() == QStringLiteral("&1 song.trw")) QVERIFY(a->isEnabled());
}

void MainWindowTest::voiceSwitchedDuringAPlayIsAStepOfItsOwn() {
    ws().document.edit(QStringLiteral("End"), DocumentController::Scope::Current,
                       [](CTarrowinDoc& d) { d.setEndCounter(50000); });
    const size_t before = ws().document.history().count();
    w_->window->play();
    QTRY_VERIFY(ws().playback.isPlaying());
    QTest::mouseClick(view().row(2).control(VoiceRow::Voice), Qt::LeftButton);
    QVERIFY(ws().document.doc().voice(2).enabled != 0);
    // The form shown again after the switch still has End where the unlocked play started.
    QCOMPARE(view().endEdit()->text(), QStringLiteral("0"));
    w_->window->stop();
    QTRY_VERIFY(ws().playback.canPlay());
    // The play's own write (the End counter where it stopped) and the switch are two steps.
    QCOMPARE(ws().document.history().count(), before + 2);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Play"));
    ws().document.undo();
    QCOMPARE(ws().document.doc().global().endCounter, 50000);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Switch on voice 3"));
    ws().document.undo();
    QVERIFY(ws().document.doc().voice(2).enabled == 0);
}

void MainWindowTest::editWhilePlayingAndRecordPerformance() {
    // A live play with Edit While Playing and Record Performance on: the voices' settings, the
    // tempo and the Algorithms menu stay open (what the play owns, the composition's and the
    // File commands do not), an edit is one undo step that the device hears, and the
    // recording's MIDI file goes where the save dialog says. (The window end to end on JACK
    // shows the rest: the edits as heard, the recording played back.)
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        d.setTempo(340);
        d.setEndCounter(50000);
        d.editVoice(0, [](VoiceSettings& v) { v.tied = 0; });
    });
    MainWindow& window = *w_->window;
    const auto open = [&] {
        return std::vector<bool>{view().row(0).control(VoiceRow::Note)->isEnabled(), view().tempoBar()->isEnabled(),
                                 window.algorithmAction(0, Algorithm::Henon)->isEnabled()};
    };
    QVERIFY(!ws().preferences.editWhilePlaying());  // off, as a new user finds it
    window.action(Command::EditWhilePlaying)->trigger();
    window.action(Command::RecordPerformance)->trigger();
    QVERIFY(ws().preferences.editWhilePlaying() && ws().playback.recording());
    window.play();
    QTRY_VERIFY(ws().playback.isPlaying());
    QCOMPARE(open(), std::vector<bool>(3, true));
    for (Command c : {Command::Save, Command::SaveMidi, Command::CompositionMaker, Command::Randomizer, Command::Undo})
        QVERIFY2(!window.action(c)->isEnabled(), commandInfo(c).caption);
    QVERIFY(!view().startEdit()->isEnabled() && !view().lockButton()->isEnabled());

    const auto keys = [&] {
        std::vector<int> out;
        for (const ShortMessage& m : w_->recorded.recorder->messages())
            if (m.status == 0x90 && m.data2 > 0) out.push_back(m.data1);
        return out;
    };
    QTRY_VERIFY(!keys().empty() && keys().back() < 84);
    choose(listDescribed(&view(), QStringLiteral("Note voice 1")), 84);  // C4 to C6
    QCOMPARE(ws().document.undoName(), QStringLiteral("Note voice 1"));
    QTRY_VERIFY(keys().back() >= 84);
    QTemporaryDir dir;
    QString title;
    answerFileDialog(dir.filePath(QStringLiteral("take.mid")), &title);
    window.stop();
    QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("take.mid"))));
    QCOMPARE(title, QStringLiteral("Save Recording"));

    // Without Edit While Playing a play closes them; Cancel keeps no recording.
    window.action(Command::EditWhilePlaying)->trigger();
    QTRY_VERIFY(ws().playback.canPlay());
    bool asked = false;
    whenDialogShows([&asked](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        if (d) QMetaObject::invokeMethod(d, "reject", Qt::QueuedConnection);
        return asked = d != nullptr;
    });
    window.play();
    QTRY_VERIFY(ws().playback.isPlaying());
    QCOMPARE(open(), std::vector<bool>(3, false));
    window.stop();
    QTRY_VERIFY(asked);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("take.mid")});
    window.action(Command::RecordPerformance)->trigger();
}

void MainWindowTest::midiPlayerTakesItsOwnOptions() {
    QTemporaryDir dir;
    const QString mid = dir.filePath(QStringLiteral("x.mid"));
    QFile(mid).open(QIODevice::WriteOnly);
    onDialog(QStringLiteral("Midi File Player"), [](QDialog* d) {
        auto* edit = named<QLineEdit>(d, QStringLiteral("Command that plays a MIDI file"));
        edit->setText(QStringLiteral("sh -c \"touch $0.played\""));
        d->accept();
    });
    w_->window->action(Command::MidiPlayer)->trigger();
    QCOMPARE(ws().preferences.midiPlayer(), QStringLiteral("sh -c \"touch $0.played\""));
    answerFileDialog(mid);
    w_->window->action(Command::PlayMidi)->trigger();
    QTRY_VERIFY(QFile::exists(mid + QStringLiteral(".played")));
    QSettings().remove(QStringLiteral("midiPlayer"));
}

#include "main_window_test.moc"

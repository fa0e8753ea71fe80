// The per-voice dialogs: the MIDI dialog's percussion, pan and inversion rules, what each
// dialog's OK refuses and accepts, and what the form's rows and the Algorithms menu store
// through them (one undo step each, Cancel keeping what the voice had).
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>
#include <cstring>

#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/voice_dialogs/coefficient_dialog.h"
#include "app/voice_dialogs/modulate_dialog.h"
#include "app/voice_dialogs/note_value_dialog.h"
#include "app/voice_dialogs/user_scale_dialog.h"
#include "app/voice_dialogs/voice_midi_dialog.h"
#include "app_test_support.h"
#include "engine/tables.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

// Types the texts into the dialog's edits in order and presses OK.
void typeAndAccept(QDialog* d, const QStringList& texts) {
    const auto edits = d->findChildren<QLineEdit*>();
    for (int i = 0; i < texts.size(); ++i) edits[i]->setText(texts[i]);
    d->accept();
}

std::unique_ptr<QDialog> makeDialog(const QString& kind) {
    if (kind == QLatin1String("logistic")) return std::make_unique<LogisticDialog>(QStringLiteral("LogMap"), 3.9f);
    if (kind == QLatin1String("noise")) return std::make_unique<NoiseDialog>(QStringLiteral("1/f Noise"), 0.5f);
    if (kind == QLatin1String("henon")) return std::make_unique<HenonDialog>(QStringLiteral("Henon"), 1.7f, 0.4f);
    if (kind == QLatin1String("angle")) return std::make_unique<AngleDialog>(QStringLiteral("Hopalong"), 3.1415927f);
    if (kind == QLatin1String("modulate")) return std::make_unique<ModulateDialog>(QStringLiteral("Modulate"), 0, 5);
    return std::make_unique<NoteValueDialog>(QStringLiteral("Other value"), 8);
}

QList<float> resultOf(QDialog* d) {
    if (auto* c = qobject_cast<CoefficientDialog*>(d)) {
        QList<float> out;
        for (int i = 0; i < c->count(); ++i) out << c->value(i);
        return out;
    }
    if (auto* m = qobject_cast<ModulateDialog*>(d)) return {float(m->every())};
    return {float(static_cast<NoteValueDialog*>(d)->value())};
}

}  // namespace

class VoiceDialogsTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() {
        recorded_ = std::make_unique<RecordedWorkspace>();
        window_ = std::make_unique<MainWindow>(*recorded_->ws);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        recorded_.reset();
        QLocale::setDefault(QLocale::c());
    }

    void midiPercussionFollowsTheChannel_data();
    void midiPercussionFollowsTheChannel();
    void midiTabOrderAndMnemonics();
    void midiPanSteps_data();
    void midiPanSteps();
    void midiOkStoresOneStepCancelNothing();
    void fieldsRefuseOrAccept_data();
    void fieldsRefuseOrAccept();
    void coefficientShownReadsBackTheSameFloat_data();
    void coefficientShownReadsBackTheSameFloat();
    void modulateOkKeepsTheBoxCancelUnticksIt();
    void userScaleNeedsThreeNotes();
    void otherNoteValueShowsOnTheRow();
    void algorithmsMenu_data();
    void algorithmsMenu();
    void algorithmItemsWaitWhilePlaying();

   private:
    Workspace& ws() { return *recorded_->ws; }
    const VoiceSettings& voice(int v) { return ws().document.doc().voice(v); }
    QWidget* rowControl(int v, VoiceRow::Column c) { return window_->view().row(v).control(c); }
    std::unique_ptr<RecordedWorkspace> recorded_;
    std::unique_ptr<MainWindow> window_;
};

void VoiceDialogsTest::midiPercussionFollowsTheChannel_data() {
    QTest::addColumn<int>("voice");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("percussionChannel");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expectedChannel");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("voice 10 opens on percussion") << 9 << 9 << 9 << "" << 9 << true;
    QTest::newRow("channel 2 unticks") << 9 << 9 << 9 << "channel 2" << 2 << false;
    QTest::newRow("ticking moves to the percussion channel") << 0 << 0 << 9 << "toggle" << 9 << true;
    QTest::newRow("unticking goes back to the voice's channel") << 0 << 9 << 9 << "toggle" << 0 << false;
    QTest::newRow("voice 10 unticked ticks again") << 9 << 9 << 9 << "toggle" << 9 << true;
    QTest::newRow("another percussion channel") << 3 << 3 << 3 << "" << 3 << true;
    QTest::newRow("channel 9 is no drum channel then") << 3 << 9 << 3 << "" << 9 << false;
}

void VoiceDialogsTest::midiPercussionFollowsTheChannel() {
    QFETCH(int, voice);
    QFETCH(int, channel);
    QFETCH(int, percussionChannel);
    QFETCH(QString, action);
    QFETCH(int, expectedChannel);
    QFETCH(bool, ticked);
    VoiceMidiDialog d(voice);
    QCOMPARE(d.windowTitle(), QStringLiteral("Extra - voice %1").arg(voice + 1));
    VoiceMidiValues values = VoiceMidiValues::of(VoiceSettings::defaults(voice));
    values.channel = channel;
    d.load(values, percussionChannel);
    if (action == QLatin1String("toggle")) named<QCheckBox>(&d, QStringLiteral("Percussion"))->click();
    if (action == QLatin1String("channel 2")) choose(listDescribed(&d, QStringLiteral("Channel")), 2);
    QCOMPARE(d.values().channel, expectedChannel);
    QCOMPARE(d.percussion(), ticked);
    QCOMPARE(named<QCheckBox>(&d, QStringLiteral("Percussion"))->isChecked(), ticked);
    QCOMPARE(listDescribed(&d, QStringLiteral("Instrument"))->isEnabled(), !ticked);
    QCOMPARE(listDescribed(&d, QStringLiteral("Percussion"))->isEnabled(), ticked);
}

void VoiceDialogsTest::midiTabOrderAndMnemonics() {
    VoiceMidiDialog d(0);
    VoiceMidiValues values;
    values.inverted = true;
    d.load(values, 9);
    d.show();
    QApplication::setActiveWindow(&d);
    QVERIFY(QTest::qWaitForWindowActive(&d));
    const auto nameOf = [](QWidget* w) {
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().remove(QLatin1Char('&'));
        return w->accessibleName();
    };
    // The percussion list is skipped while Percussion is unticked; Tab enters the dynamics
    // at their first button (arrows move within them).
    const QStringList expected = {"Instrument", "Mode",     "Channel",     "Percussion", "Pan",   "0",
                                  "PP",         "Inverted", "Match Scale", "Tuned",      "OK",    "Cancel"};
    QStringList seen{nameOf(QApplication::focusWidget())};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << nameOf(QApplication::focusWidget());
    }
    QCOMPARE(seen, expected);
    QTest::keyClick(&d, Qt::Key_C, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), listDescribed(&d, QStringLiteral("Channel")));
    QTest::keyClick(&d, Qt::Key_N, Qt::AltModifier);
    QCOMPARE(nameOf(QApplication::focusWidget()), QStringLiteral("Pan"));
}

void VoiceDialogsTest::midiPanSteps_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("action");  // a QAbstractSlider::SliderAction, or -1 for the "0" button
    QTest::addColumn<int>("expected");
    QTest::newRow("page right at 62") << 62 << int(QAbstractSlider::SliderPageStepAdd) << 63;
    QTest::newRow("page left at -60") << -60 << int(QAbstractSlider::SliderPageStepSub) << -64;
    QTest::newRow("page right at 0") << 0 << int(QAbstractSlider::SliderPageStepAdd) << 5;
    QTest::newRow("arrow left") << 10 << int(QAbstractSlider::SliderSingleStepSub) << 9;
    QTest::newRow("arrow right at 63") << 63 << int(QAbstractSlider::SliderSingleStepAdd) << 63;
    QTest::newRow("the 0 button") << -37 << -1 << 0;
}

void VoiceDialogsTest::midiPanSteps() {
    QFETCH(int, start);
    QFETCH(int, action);
    QFETCH(int, expected);
    VoiceMidiDialog d(0);
    VoiceMidiValues values;
    values.pan = start;
    d.load(values, 9);
    auto* bar = named<QScrollBar>(&d, QStringLiteral("Pan"));
    QCOMPARE(bar->value(), start);
    auto* centre = named<QPushButton>(&d, QStringLiteral("0"));
    QCOMPARE(centre->accessibleDescription(), QStringLiteral("Pan centre"));  // as in the Multiple Voice Editor
    if (action < 0)
        centre->click();
    else
        bar->triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
    QCOMPARE(d.values().pan, expected);
    QLabel* label = nullptr;
    for (QLabel* l : d.findChildren<QLabel*>())
        if (l->accessibleDescription() == QLatin1String("Pan value")) label = l;
    QVERIFY(label);
    QCOMPARE(label->text(), QString::number(expected));
}

void VoiceDialogsTest::midiOkStoresOneStepCancelNothing() {
    // A user scale C E G: the inversion rebuilds it from the stored list, mirrored.
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        d.setUserScale(0, ScaleList{0, 4, 7});
        d.setScaleIndex(0, kUserDefinedScale);
    });
    ws().document.save(QDir::temp().filePath(QStringLiteral("voice-dialogs-test.trw")));  // unmodified from here
    onDialog(QStringLiteral("Extra - voice 1"), [](QDialog* d) {
        auto* match = named<QCheckBox>(d, QStringLiteral("Match Scale"));
        QVERIFY(!match->isEnabled());
        named<QCheckBox>(d, QStringLiteral("Inverted"))->click();
        QVERIFY(match->isEnabled() && match->isChecked());
        choose(listDescribed(d, QStringLiteral("Instrument")), 40);
        choose(listDescribed(d, QStringLiteral("Mode")), 0);
        named<QRadioButton>(d, QStringLiteral("FF"))->click();
        named<QScrollBar>(d, QStringLiteral("Pan"))->setValue(-20);
        d->accept();
    });
    QTest::mouseClick(rowControl(0, VoiceRow::Extra), Qt::LeftButton);
    const VoiceSettings& v = voice(0);
    QCOMPARE(v.instrument, 40);
    QCOMPARE(v.tied, 0);
    QCOMPARE(v.dynamicIndex, 5);
    QCOMPARE(v.velocity, 127);
    QCOMPARE(v.pan, -20);
    QCOMPARE(v.channel, 0);
    QCOMPARE(v.inverted, 1);
    QCOMPARE(v.scale, (ScaleList{0, 5, 8}));
    QVERIFY(ws().document.isModified());
    QCOMPARE(ws().document.undoName(), QStringLiteral("Extra voice 1"));

    // Cancel: whatever was changed in the dialog, nothing is stored.
    const VoiceSettings before = voice(0);
    const size_t steps = ws().document.history().count();
    onDialog(QStringLiteral("Extra - voice 1"), [](QDialog* d) {
        QCOMPARE(listDescribed(d, QStringLiteral("Instrument"))->currentIndex(), 40);  // reloaded from the voice
        choose(listDescribed(d, QStringLiteral("Instrument")), 3);
        named<QCheckBox>(d, QStringLiteral("Percussion"))->click();
        d->reject();
    });
    QTest::mouseClick(rowControl(0, VoiceRow::Extra), Qt::LeftButton);
    QVERIFY(voice(0) == before);
    QCOMPARE(ws().document.history().count(), steps);

    ws().document.undo();
    QCOMPARE(voice(0).scale, (ScaleList{0, 4, 7}));
    QCOMPARE(voice(0).velocity, 88);
    QVERIFY(!ws().document.isModified());
}

void VoiceDialogsTest::fieldsRefuseOrAccept_data() {
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("refusal");  // empty: accepted
    QTest::addColumn<QList<float>>("result");
    const QString none;
    QTest::newRow("mu 4.5") << "logistic" << QStringList{"4.5"} << "C" << "Please enter a number between 2 and 4."
                            << QList<float>{3.9f};
    QTest::newRow("mu 4.0") << "logistic" << QStringList{"4.0"} << "C" << none << QList<float>{4.0f};
    QTest::newRow("mu text") << "logistic" << QStringList{"four"} << "C" << "Please enter a number." << QList<float>{3.9f};
    QTest::newRow("noise with a decimal comma") << "noise" << QStringList{" 0,25 "} << "de_DE" << none
                                                << QList<float>{0.25f};
    QTest::newRow("angle with three decimals in German") << "angle" << QStringList{"0,001"} << "de_DE" << none
                                                         << QList<float>{0.001f};
    QTest::newRow("a group separator in English") << "noise" << QStringList{"0,125"} << "en_US"
                                                  << "Please enter a number." << QList<float>{0.5f};
    QTest::newRow("noise with a point in German") << "noise" << QStringList{"0.75"} << "de_DE" << none
                                                  << QList<float>{0.75f};
    QTest::newRow("angle at the bound") << "angle" << QStringList{"-6.28319"} << "C" << none << QList<float>{-6.28319f};
    QTest::newRow("angle past the bound") << "angle" << QStringList{"6.2833"} << "C"
                                          << "Please enter a number between -6.28319 and 6.28319."
                                          << QList<float>{3.1415927f};
    QTest::newRow("henon b refused keeps a") << "henon" << QStringList{"1.5", "1.5"} << "C"
                                             << "Please enter a number between 0 and 1." << QList<float>{1.7f, 0.4f};
    QTest::newRow("every 0") << "modulate" << QStringList{"0"} << "C" << "Please enter an integer between 1 and 50."
                             << QList<float>{5};
    QTest::newRow("note value 961") << "note value" << QStringList{"961"} << "C"
                                    << "Please enter an integer between 1 and 960." << QList<float>{8};
    QTest::newRow("note value 2.5") << "note value" << QStringList{"2.5"} << "C" << "Please enter an integer."
                                    << QList<float>{8};
    QTest::newRow("note value 960") << "note value" << QStringList{"960"} << "C" << none << QList<float>{960};
}

void VoiceDialogsTest::fieldsRefuseOrAccept() {
    QFETCH(QString, dialog);
    QFETCH(QStringList, texts);
    QFETCH(QString, locale);
    QFETCH(QString, refusal);
    QFETCH(QList<float>, result);
    QLocale::setDefault(QLocale(locale));
    MessageBoxes boxes;
    auto d = makeDialog(dialog);
    d->show();
    typeAndAccept(d.get(), texts);
    if (refusal.isEmpty()) {
        QVERIFY(boxes.seen().empty());
        QCOMPARE(d->result(), int(QDialog::Accepted));
    } else {
        QCOMPARE(boxes.seen().size(), size_t(1));
        QCOMPARE(boxes.lastText(), refusal);
        QCOMPARE(boxes.seen()[0].caption, QStringLiteral("Tarrowin"));
        QVERIFY(d->isVisible());
    }
    QCOMPARE(resultOf(d.get()), result);
}

void VoiceDialogsTest::coefficientShownReadsBackTheSameFloat_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("pi") << 3.1415927f << "3.1415927";
    QTest::newRow("a third") << 1.0f / 3.0f << "0.33333334";
    QTest::newRow("tiny") << 1e-7f << "1e-07";
}

void VoiceDialogsTest::coefficientShownReadsBackTheSameFloat() {
    QFETCH(float, value);
    QFETCH(QString, shown);
    MessageBoxes boxes;
    AngleDialog d(QStringLiteral("Martin"), value);
    QCOMPARE(d.findChild<QLineEdit*>()->text(), shown);
    d.accept();
    QVERIFY(boxes.seen().empty());
    const float read = d.angle();
    QVERIFY(std::memcmp(&value, &read, sizeof value) == 0);
}

void VoiceDialogsTest::modulateOkKeepsTheBoxCancelUnticksIt() {
    auto* box = static_cast<QCheckBox*>(rowControl(0, VoiceRow::Modulate));
    onDialog(QStringLiteral("Modulation - voice 1"), [](QDialog* d) {
        auto* edit = d->findChild<QLineEdit*>();
        QCOMPARE(edit->text(), QStringLiteral("5"));
        QVERIFY(edit->isEnabled());
        named<QRadioButton>(d, QStringLiteral("Random"))->click();
        QVERIFY(!edit->isEnabled());
        d->accept();
    });
    box->click();
    QCOMPARE(voice(0).modulate, 1);
    QCOMPARE(voice(0).modulateMode, 1);
    QVERIFY(box->isChecked());
    QCOMPARE(ws().document.undoName(), QStringLiteral("Modulate voice 1"));

    box->click();  // unticking opens nothing
    QCOMPARE(voice(0).modulate, 0);

    ws().document.save(QDir::temp().filePath(QStringLiteral("voice-dialogs-test.trw")));
    const size_t steps = ws().document.history().count();
    onDialog(QStringLiteral("Modulation - voice 1"), [](QDialog* d) {
        QVERIFY(!d->findChild<QLineEdit*>()->isEnabled());  // reloaded: Random
        named<QRadioButton>(d, QStringLiteral("Every"))->click();
        d->findChild<QLineEdit*>()->setText(QStringLiteral("12"));
        d->reject();
    });
    box->click();
    QCOMPARE(voice(0).modulate, 0);
    QCOMPARE(voice(0).modulateMode, 1);
    QCOMPARE(voice(0).modulateEvery, 5);
    QVERIFY(!box->isChecked());
    QVERIFY(ws().document.isModified());
    QCOMPARE(ws().document.history().count(), steps);
}

void VoiceDialogsTest::userScaleNeedsThreeNotes() {
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current,
                       [](CTarrowinDoc& d) { d.setInversion(0, true, true); });
    MessageBoxes boxes;
    onDialog(QStringLiteral("User scale - voice 1"), [&boxes](QDialog* d) {
        auto* dialog = static_cast<UserScaleDialog*>(d);
        QCOMPARE(dialog->count(), 7);  // Major
        QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(d->isVisible());
        for (const char* note : {"D", "F", "A", "B", "G"}) named<QCheckBox>(d, QLatin1String(note))->click();
        QCOMPARE(dialog->count(), 2);  // C, E
        d->accept();
        QCOMPARE(boxes.seen().size(), size_t(1));
        QCOMPARE(boxes.lastText(), QStringLiteral("Please choose at least three notes."));
        QCOMPARE(boxes.seen()[0].caption, QStringLiteral("too few notes"));
        QCOMPARE(boxes.seen()[0].icon, QMessageBox::Information);
        QVERIFY(d->isVisible());
        named<QCheckBox>(d, QStringLiteral("G"))->click();
        d->accept();
    });
    choose(static_cast<QComboBox*>(rowControl(0, VoiceRow::Scale)), kUserDefinedScale);
    QCOMPARE(voice(0).scaleIndex, kUserDefinedScale);
    QCOMPARE(voice(0).userScale, (ScaleList{0, 4, 7}));
    QCOMPARE(voice(0).scale, (ScaleList{0, 5, 8}));  // inverted with Match Scale
    QCOMPARE(ws().document.undoName(), QStringLiteral("Scale voice 1"));

    // Chosen again, it opens again with the voice's own notes.
    onDialog(QStringLiteral("User scale - voice 1"), [](QDialog* d) {
        const auto marks = static_cast<UserScaleDialog*>(d)->marks();
        QCOMPARE(marks, userScaleMarks(ScaleList{0, 4, 7}));
        d->accept();
    });
    choose(static_cast<QComboBox*>(rowControl(0, VoiceRow::Scale)), kUserDefinedScale);
}

void VoiceDialogsTest::otherNoteValueShowsOnTheRow() {
    MessageBoxes boxes;
    onDialog(QStringLiteral("Note Value - voice 1"), [&boxes](QDialog* d) {
        QCOMPARE(d->findChild<QLineEdit*>()->text(), QStringLiteral("8"));
        QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(d->isVisible());
        typeAndAccept(d, {QStringLiteral("0")});
        QCOMPARE(boxes.lastText(), QStringLiteral("Please enter an integer between 1 and 960."));
        typeAndAccept(d, {QStringLiteral("20")});
    });
    auto* noteValue = static_cast<QComboBox*>(rowControl(0, VoiceRow::NoteValue));
    choose(noteValue, kOtherNoteValue);
    QCOMPARE(voice(0).noteValueIndex, kOtherNoteValue);
    QCOMPARE(voice(0).noteValue, 20.0f);
    QCOMPARE(noteValue->currentIndex(), kOtherNoteValue);
    QCOMPARE(noteValue->currentText(), QStringLiteral("Other (20)"));
}

void VoiceDialogsTest::algorithmsMenu_data() {
    QTest::addColumn<int>("voice");
    QTest::addColumn<int>("algorithm");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("texts");  // empty: Cancel
    QTest::addColumn<QList<float>>("stored");
    QTest::newRow("LogMap cancelled") << 2 << int(Algorithm::LogisticMap) << "LogMap Voice 3" << QStringList{}
                                      << QList<float>{3.9f};
    QTest::newRow("LogMap 2.5") << 2 << int(Algorithm::LogisticMap) << "LogMap Voice 3" << QStringList{"2.5"}
                                << QList<float>{2.5f};
    QTest::newRow("1/f") << 0 << int(Algorithm::OneOverFNoise) << "1/f Voice 1" << QStringList{"0.1"}
                         << QList<float>{0.1f};
    QTest::newRow("Henon") << 1 << int(Algorithm::Henon) << "Henon Voice 2" << QStringList{"1.2", "0.3"}
                           << QList<float>{1.2f, 0.3f};
    QTest::newRow("Hopalong") << 3 << int(Algorithm::Hopalong) << "Hopalong Voice 4" << QStringList{"1"}
                              << QList<float>{1.0f};
    QTest::newRow("Martin") << 15 << int(Algorithm::Martin) << "Martin Voice 16" << QStringList{"-1.5"}
                            << QList<float>{-1.5f};
    QTest::newRow("Ginger") << 4 << int(Algorithm::Gingerbreadman) << "Ginger Voice 5" << QStringList{"2", "-3"}
                            << QList<float>{2.0f, -3.0f};
    QTest::newRow("Lorenz cancelled") << 5 << int(Algorithm::Lorenz) << "Lorenz Voice 6" << QStringList{}
                                      << QList<float>{0.8f};
    QTest::newRow("Morse-Thue opens nothing") << 6 << int(Algorithm::MorseThue) << "" << QStringList{} << QList<float>{};
}

void VoiceDialogsTest::algorithmsMenu() {
    QFETCH(int, voice);
    QFETCH(int, algorithm);
    QFETCH(QString, title);
    QFETCH(QStringList, texts);
    QFETCH(QList<float>, stored);
    const auto a = static_cast<Algorithm>(algorithm);
    VoiceSettings expected = this->voice(voice);
    expected.algorithm = a;
    const auto rules = coefficientRules(a);
    for (qsizetype i = 0; i < stored.size(); ++i) expected.*rules[size_t(i)].member = stored[i];
    if (!title.isEmpty()) {
        onDialog(title, [texts](QDialog* d) {
            if (texts.isEmpty())
                d->reject();
            else
                typeAndAccept(d, texts);
        });
    }
    window_->algorithmAction(voice, a)->trigger();
    QVERIFY(this->voice(voice) == expected);
    QVERIFY(ws().document.isModified());
    QVERIFY(window_->algorithmAction(voice, a)->isChecked());
    if (a != Algorithm::MorseThue) {
        QCOMPARE(ws().document.undoName(), QStringLiteral("Algorithm voice %1").arg(voice + 1));
        ws().document.undo();  // the algorithm and its coefficients are one step
        QVERIFY(this->voice(voice) == VoiceSettings::defaults(voice));
    }
}

void VoiceDialogsTest::algorithmItemsWaitWhilePlaying() {
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current,
                       [](CTarrowinDoc& d) { d.setEndCounter(kMaxCounter); });
    window_->play();
    QTRY_VERIFY(ws().playback.isPlaying());
    QVERIFY(!window_->algorithmAction(0, Algorithm::Henon)->isEnabled());
    QVERIFY(window_->algorithmAction(0, Algorithm::MorseThue)->isChecked());
    window_->stop();
    QTRY_VERIFY(window_->algorithmAction(0, Algorithm::Henon)->isEnabled());
}

TARROWIN_QTEST_MAIN(VoiceDialogsTest)
#include "voice_dialogs_test.moc"

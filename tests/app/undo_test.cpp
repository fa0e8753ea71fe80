// Every change the main window, its form, its voice dialogs and its tool windows make is one
// step that Undo takes back to the very bytes of the document before it, with the form (and
// an open Composition Maker) showing the old values again, and that Redo makes again;
// undoing to the saved state leaves the document unmodified. New and Open start an empty
// history.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "app/file_commands.h"
#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/tools/composition_maker_window.h"
#include "app/tools/randomizer_dialog.h"
#include "app/tools/tool_windows.h"
#include "app/tools/voice_editor_dialog.h"
#include "app/voice_dialogs/user_scale_dialog.h"
#include "app_test_support.h"
#include "document/document_file.h"
#include "tools/event_commands.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

class UndoTest;
using Change = std::function<void(UndoTest&)>;
Q_DECLARE_METATYPE(Change)

namespace {

// The song every change starts from: counters 10..64, tempo 120, and two events that differ
// from the current settings and from each other.
CTarrowinDoc song() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setStartCounter(10);
    doc.setEndCounter(64);
    doc.addCurrentSettingsAsEvent();
    doc.setTempo(200);
    doc.setEnabled(4, true);
    doc.setParam1(0, 5);
    doc.addCurrentSettingsAsEvent();
    doc.setTempo(120);
    doc.setEnabled(4, false);
    doc.setParam1(0, 2);
    doc.setParam2(0, 9);
    return doc;
}

void press(QWidget* root, const QString& text) {
    QPushButton* b = testing::named<QPushButton>(root, text);
    QVERIFY2(b, qPrintable(QStringLiteral("no button ") + text));
    b->click();
}

// Acts in the modal dialog titled `title` once `open` has opened it.
template <class Dialog>
void inDialog(const QString& title, const std::function<void(Dialog&)>& act, const std::function<void()>& open) {
    bool shown = false;
    onDialog(title, [&](QDialog* d) {
        shown = true;
        act(*static_cast<Dialog*>(d));
    });
    open();
    QVERIFY2(shown, qPrintable(title));
}

// The Multiple Voice Editor with voice 1 chosen and its "Octaves" changed to four.
void editorOnFourOctaves(VoiceEditorDialog& e) {
    e.voiceToggle(0)->setChecked(true);
    e.flagBox(ChangeFlag::Octaves)->setChecked(true);
    testing::choose(static_cast<QComboBox*>(e.valueControl(ChangeFlag::Octaves)), 3);
}

}  // namespace

class UndoTest : public QObject {
    Q_OBJECT

   public:
    Workspace& ws() { return w_->ws(); }
    MainWindow& window() { return *w_->window; }
    TarrowinView& view() { return w_->window->view(); }

    void typeAndLeave(QLineEdit* edit, const QString& text) {
        QApplication::setActiveWindow(w_->window.get());
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Tab);
    }
    void click(const QString& text) {
        for (QPushButton* b : view().findChildren<QPushButton*>())
            if (b->text() == text) return QTest::mouseClick(b, Qt::LeftButton);
        QFAIL(qPrintable(QStringLiteral("no button ") + text));
    }
    static void choose(QComboBox* box, int row) {
        box->setCurrentIndex(row);
        Q_EMIT box->activated(row);
    }
    QComboBox* list(int voice, VoiceRow::Column c) { return static_cast<QComboBox*>(view().row(voice).control(c)); }
    QComboBox* named(const QString& name) {
        for (QComboBox* b : view().findChildren<QComboBox*>())
            if (b->accessibleName() == name) return b;
        return nullptr;
    }
    CompositionMakerWindow& maker() {
        window().action(Command::CompositionMaker)->trigger();
        return *window().tools().maker();
    }
    void inRandomizer(const std::function<void(RandomizerDialog&)>& act) {
        inDialog<RandomizerDialog>(QStringLiteral("Composition Randomizer"), act,
                                   [this] { window().action(Command::Randomizer)->trigger(); });
    }
    void inVoiceEditor(const std::function<void(VoiceEditorDialog&)>& act) {
        inDialog<VoiceEditorDialog>(QStringLiteral("Multiple Voice Editor"), act,
                                    [this] { window().action(Command::MultiVoiceEditor)->trigger(); });
    }

   private Q_SLOTS:
    void init();
    void cleanup();
    void changeUndoesAndRedoes_data();
    void changeUndoesAndRedoes();
    void newAndOpenClearTheHistory();

   private:
    std::vector<uint8_t> bytes() const { return serializeDocument(w_->recorded.ws->document.doc()); }
    QStringList form() const;
    // The lines of the Composition Maker when it is open, and those of the document's events.
    QStringList makerLines() const;
    QStringList eventLines() const;

    QTemporaryDir dir_;
    QString song_;
    std::unique_ptr<WindowUnderTest> w_;
};

void UndoTest::init() {
    song_ = dir_.filePath(QStringLiteral("song.trw"));
    CTarrowinDoc doc = song();
    QVERIFY(saveDocumentFile(song_.toStdString(), doc).ok);
    w_ = std::make_unique<WindowUnderTest>();
    QVERIFY(w_->window->files().openPath(song_));
}

void UndoTest::cleanup() { w_.reset(); }

// What every control of the form shows.
QStringList UndoTest::form() const {
    QStringList shown;
    for (QWidget* w : w_->window->view().findChildren<QWidget*>()) {
        if (auto* e = qobject_cast<QLineEdit*>(w))
            shown << e->text();
        else if (auto* c = qobject_cast<QComboBox*>(w); c && c == w_->window->view().playFromEventList())
            shown << QString::number(c->count());  // the event chosen is no part of the document
        else if (auto* c = qobject_cast<QComboBox*>(w))
            shown << QStringLiteral("%1 of %2: %3").arg(c->currentIndex()).arg(c->count()).arg(c->currentText());
        else if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable())
            shown << (b->isChecked() ? QStringLiteral("on") : QStringLiteral("off"));
        else if (auto* s = qobject_cast<QScrollBar*>(w))
            shown << QString::number(s->value());
        else if (auto* l = qobject_cast<QLabel*>(w))
            shown << l->text();
    }
    return shown;
}

QStringList UndoTest::makerLines() const {
    QStringList lines;
    if (CompositionMakerWindow* m = w_->window->tools().maker())
        for (int i = 0; i < m->list()->count(); ++i) lines << m->list()->item(i)->text();
    return lines;
}

QStringList UndoTest::eventLines() const {
    QStringList lines;
    for (const std::string& l : eventListLines(w_->recorded.ws->document.doc().composition()))
        lines << QString::fromStdString(l);
    return lines;
}

void UndoTest::changeUndoesAndRedoes_data() {
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("shown");  // the form shows the change (not only the events or the voice's MIDI)
    const auto add = [](const char* name, const char* step, bool shown, Change c) {
        QTest::newRow(name) << c << QString::fromLatin1(step) << shown;
    };
    const auto row = [&](const char* name, const char* step, Change c) { add(name, step, true, c); };
    const auto eventsRow = [&](const char* name, const char* step, Change c) { add(name, step, false, c); };
    row("field", "Param1 voice 1", [](UndoTest& t) { t.typeAndLeave(t.view().row(0).edit(VoiceRow::Param1), "17"); });
    row("voice toggle", "Switch on voice 2", [](UndoTest& t) {
        QTest::mouseClick(static_cast<QPushButton*>(t.view().row(1).control(VoiceRow::Voice)), Qt::LeftButton);
    });
    row("list choice", "Scale voice 1", [](UndoTest& t) { choose(t.list(0, VoiceRow::Scale), 6); });
    row("tempo drag", "Tempo", [](UndoTest& t) {
        for (int i = 0; i < 3; ++i) t.view().tempoBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    });
    row("Reset", "Reset", [](UndoTest& t) { t.click(QStringLiteral("Reset")); });
    row("Round", "Round", [](UndoTest& t) {
        whenDialogShows([](QWidget* w) {
            auto* d = qobject_cast<QDialog*>(w);
            if (!d) return false;
            for (QRadioButton* b : d->findChildren<QRadioButton*>())
                if (b->text() == QLatin1String("Voice 1")) b->setChecked(true);
            d->accept();
            return true;
        });
        t.click(QStringLiteral("Round"));
    });
    row("time signature", "Time signature", [](UndoTest& t) { choose(t.named(QStringLiteral("Denominator")), 3); });
    row("Update from an event", "Update from Event 1", [](UndoTest& t) {
        choose(t.view().playFromEventList(), 1);
        t.click(QStringLiteral("Update"));
    });
    eventsRow("Replace", "Replace Event 0", [](UndoTest& t) {
        MessageBoxes yes;
        t.window().action(Command::ReplaceEvent)->trigger();
        QCOMPARE(yes.seen().size(), size_t(1));
    });
    eventsRow("Global Tempo", "Global Tempo", [](UndoTest& t) {
        MessageBoxes yes;
        t.click(QStringLiteral("Global Tempo"));
        QCOMPARE(yes.seen().size(), size_t(1));
    });
    row("Randomize", "Randomize", [](UndoTest& t) {
        t.inRandomizer([](RandomizerDialog& r) {
            r.voiceToggle(0)->setChecked(true);
            press(&r, QStringLiteral("Randomize !"));
            press(&r, QStringLiteral("Close"));
        });
    });
    row("Create", "Create", [](UndoTest& t) {
        t.inRandomizer([](RandomizerDialog& r) {
            for (QLineEdit* e : r.findChildren<QLineEdit*>())
                if (e->accessibleName() == QLatin1String("Number of events")) e->setText(QStringLiteral("3"));
            press(&r, QStringLiteral("Create"));
            press(&r, QStringLiteral("Close"));
        });
        QCOMPARE(t.makerLines().size(), 5);
    });
    row("Change Settings", "Change Settings", [](UndoTest& t) {
        t.inVoiceEditor([](VoiceEditorDialog& e) {
            editorOnFourOctaves(e);
            press(&e, QStringLiteral("Change Settings"));
            press(&e, QStringLiteral("Close"));
        });
    });
    eventsRow("Change Selected Events", "Change Selected Events", [](UndoTest& t) {
        t.maker();
        t.inVoiceEditor([](VoiceEditorDialog& e) {
            editorOnFourOctaves(e);
            e.events()->item(1)->setSelected(true);
            press(&e, QStringLiteral("Change Selected Events"));
            press(&e, QStringLiteral("Close"));
        });
    });
    row("Add", "Add Event", [](UndoTest& t) { press(&t.maker(), QStringLiteral("Add")); });
    row("Insert", "Insert Event 1", [](UndoTest& t) {
        CompositionMakerWindow& m = t.maker();
        m.selectRow(1);
        press(&m, QStringLiteral("Insert"));
    });
    row("Remove", "Remove Event 0", [](UndoTest& t) {
        MessageBoxes yes;
        CompositionMakerWindow& m = t.maker();
        m.selectRow(0);
        press(&m, QStringLiteral("Remove"));
        QCOMPARE(yes.seen().size(), size_t(1));
    });
    row("Clear", "Clear Events", [](UndoTest& t) {
        MessageBoxes yes;
        press(&t.maker(), QStringLiteral("Clear"));
        QCOMPARE(yes.seen().size(), size_t(1));
    });
    row("Load Event (double-click)", "Load Event 1", [](UndoTest& t) {
        CompositionMakerWindow& m = t.maker();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        QListWidget* list = m.list();
        const QPoint second = list->visualItemRect(list->item(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);  // the first click of a double-click
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    });
    row("Modulate dialog", "Modulate voice 1", [](UndoTest& t) {
        inDialog<QDialog>(
            QStringLiteral("Modulation - voice 1"),
            [](QDialog& d) {
                d.findChild<QLineEdit*>()->setText(QStringLiteral("7"));
                press(&d, QStringLiteral("OK"));
            },
            [&t] { static_cast<QCheckBox*>(t.view().row(0).control(VoiceRow::Modulate))->click(); });
    });
    row("User Scale dialog", "Scale voice 1", [](UndoTest& t) {
        inDialog<UserScaleDialog>(
            QStringLiteral("User scale - voice 1"),
            [](UserScaleDialog& d) {
                const QStringList on{"C", "D", "E", "G", "A"};
                for (QCheckBox* b : d.findChildren<QCheckBox*>()) b->setChecked(on.contains(b->text()));
                press(&d, QStringLiteral("OK"));
            },
            [&t] { choose(t.list(0, VoiceRow::Scale), kUserDefinedScale); });
    });
    add("Extra dialog", "Extra voice 1", false, [](UndoTest& t) {
        inDialog<QDialog>(
            QStringLiteral("Extra - voice 1"),
            [](QDialog& d) {
                testing::choose(listDescribed(&d, QStringLiteral("Instrument")), 40);
                press(&d, QStringLiteral("OK"));
            },
            [&t] { static_cast<QPushButton*>(t.view().row(0).control(VoiceRow::Extra))->click(); });
    });
    row("End counter of an unlocked play", "Play", [](UndoTest& t) {
        t.window().action(Command::CurrentSettings)->trigger();
        t.window().play();
        QTRY_VERIFY(t.ws().playback.isPlaying());
        QTRY_VERIFY(t.ws().playback.position() > 12);
        t.window().stop();
        QTRY_VERIFY(!t.ws().playback.isPlaying() && !t.ws().document.inGroup());
    });
}

void UndoTest::changeUndoesAndRedoes() {
    QFETCH(Change, change);
    QFETCH(QString, step);
    QFETCH(bool, shown);
    const std::vector<uint8_t> before = bytes();
    const QStringList formBefore = form();

    change(*this);
    const std::vector<uint8_t> after = bytes();
    const QStringList formAfter = form();
    const QStringList makerAfter = makerLines();
    if (window().tools().isMakerOpen()) QCOMPARE(makerAfter, eventLines());
    QVERIFY(after != before);
    QCOMPARE(formAfter != formBefore, shown);
    QCOMPARE(ws().document.history().count(), size_t(1));
    QCOMPARE(window().action(Command::Undo)->text(), QStringLiteral("&Undo ") + step);

    window().action(Command::Undo)->trigger();
    QVERIFY(bytes() == before);
    QCOMPARE(form(), formBefore);
    if (window().tools().isMakerOpen()) QCOMPARE(makerLines(), eventLines());
    QVERIFY(!ws().document.isModified());
    QCOMPARE(window().action(Command::Redo)->text(), QStringLiteral("&Redo ") + step);

    window().action(Command::Redo)->trigger();
    QVERIFY(bytes() == after);
    QCOMPARE(form(), formAfter);
    QCOMPARE(makerLines(), makerAfter);
    QVERIFY(ws().document.isModified());  // even after a change that left it unmodified
}

void UndoTest::newAndOpenClearTheHistory() {
    MessageBoxes boxes;
    for (int i = 0; i < 2; ++i) {
        typeAndLeave(view().row(0).edit(VoiceRow::Param1), QStringLiteral("%1").arg(30 + i));
        QVERIFY(window().action(Command::Undo)->isEnabled());
        boxes.answer(QMessageBox::No);  // "Save changes to song.trw?"
        if (i == 0)
            window().action(Command::New)->trigger();
        else
            QVERIFY(window().files().openPath(song_));
        QCOMPARE(boxes.seen().size(), size_t(i + 1));
        QVERIFY(!ws().document.canUndo() && !ws().document.canRedo());
        QVERIFY(!window().action(Command::Undo)->isEnabled());
        QCOMPARE(window().action(Command::Undo)->text(), QStringLiteral("&Undo"));
    }
}

TARROWIN_QTEST_MAIN(UndoTest)
#include "undo_test.moc"
